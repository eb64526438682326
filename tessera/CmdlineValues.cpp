#include "tessera/CmdlineValues.h"

#include "platform/text/format.h"

namespace vr::cmdline {
namespace {

bool IsControl(WChar c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029; }
bool IsSeparator(WChar c) { return c == u'\\' || c == u'/'; }
bool IsAsciiLetter(WChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

}  // namespace

size_t FindControlCharacter(WStringView text) {
  for (size_t i = 0; i < text.size(); ++i)
    if (IsControl(text[i])) return i;
  return WStringView::npos;
}

bool HasControlCharacter(WStringView text) { return FindControlCharacter(text) != WStringView::npos; }

WString ShowControlCharacters(WStringView text) {
  WString shown;
  for (WChar c : text) {
    if (!IsControl(c)) shown += c;
    else if (c <= 0xFF) shown += vr::text::Format(u"\\x%02X", static_cast<unsigned>(c));
    else shown += vr::text::Format(u"\\x%04X", static_cast<unsigned>(c));
  }
  return shown;
}

WString DriveOrShareOf(WStringView path) {
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == u':') {
    WString drive(path.substr(0, 2));
    return drive + u"\\";
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // "\\server\share": the server and the share component, as far as they are given.
    size_t end = 2;
    for (int component = 0; component < 2; ++component) {
      while (end < path.size() && IsSeparator(path[end])) ++end;
      while (end < path.size() && !IsSeparator(path[end])) ++end;
    }
    return WString(path.substr(0, end));
  }
  return WString();
}

bool ShareNameMissing(WStringView path) {
  const WString root = DriveOrShareOf(path);
  if (root.size() < 2 || !IsSeparator(root[0])) return false;
  size_t i = 2;
  while (i < root.size() && !IsSeparator(root[i])) ++i;
  while (i < root.size() && IsSeparator(root[i])) ++i;
  return i >= root.size();
}

}  // namespace vr::cmdline
