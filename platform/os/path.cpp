#include "platform/os/path.h"

#include <unistd.h>

#include <vector>

#include "platform/fault/fault.h"
#include "platform/text/convert.h"

namespace vr::os {

WString ToNativeSeparators(WStringView path) {
  WString out(path);
  for (auto& c : out)
    if (c == u'\\') c = u'/';
  return out;
}

bool FullPath(WStringView path, WString& out, size_t maxChars) {
  if (vr::fault::Hit("os.FullPath")) return false;
  WString p = ToNativeSeparators(path);
  if (p.size() >= 2 && p[0] == u'/' && p[1] == u'/') return false;  // a share
  if (p.empty() || p[0] != u'/') {
    std::vector<char> buf(4096);
    if (!::getcwd(buf.data(), buf.size())) return false;
    WString cwd = vr::text::Utf8ToWide(buf.data());
    p = cwd + u"/" + p;
  }
  std::vector<WString> parts;
  size_t i = 0;
  while (i <= p.size()) {
    size_t j = p.find(u'/', i);
    if (j == WString::npos) j = p.size();
    WString part = p.substr(i, j - i);
    i = j + 1;
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }
  WString result;
  for (const auto& part : parts) result += u"/" + part;
  if (result.empty()) result.assign(1, u'/');
  // A trailing separator of the input is kept, as _wfullpath keeps it.
  if (result.size() > 1 && !path.empty() && (path.back() == u'/' || path.back() == u'\\')) result += u'/';
  if (result.size() + 1 > maxChars) return false;
  out = result;
  return true;
}

bool HasInvalidPathChar(WStringView path) {
  for (char16_t c : path)
    if (c == u'?' || c == u'*' || c == u'"' || c == u'<' || c == u'>' || c == u'|') return true;
  return false;
}

}  // namespace vr::os
