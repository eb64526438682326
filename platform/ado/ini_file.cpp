#include "platform/ado/ini_file.h"

#include <fstream>
#include <iterator>

#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::ado {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

const IniSection* IniFile::Find(WStringView name) const {
  for (const auto& s : sections)
    if (vr::text::EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

void ParseIniText(std::string_view text, IniFile& out) {
  IniSection* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) continue;
      out.sections.push_back({vr::text::Utf8ToWide(Trim(line.substr(1, close - 1))), {}});
      current = &out.sections.back();
      continue;
    }
    const size_t eq = line.find('=');
    if (!current || eq == std::string_view::npos) continue;
    current->entries.emplace_back(vr::text::Utf8ToWide(Trim(line.substr(0, eq))),
                                  vr::text::Utf8ToWide(Trim(line.substr(eq + 1))));
  }
}

void ReadIniFile(const std::string& path, IniFile& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ParseIniText(text, out);
}

}  // namespace vr::ado
