#include "platform/text/casefold.h"

#include <locale.h>
#include <wctype.h>

namespace vr::text {
namespace {

// A UTF-8 C locale gives towupper/towlower the Unicode simple mappings without depending on
// the user's locale; without one, only ASCII is mapped.
locale_t CaseLocale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

}  // namespace

WChar ToUpperChar(WChar c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<WChar>(c - 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  locale_t loc = CaseLocale();
  if (loc == static_cast<locale_t>(0)) return c;
  wint_t r = towupper_l(static_cast<wint_t>(c), loc);
  return r <= 0xFFFF ? static_cast<WChar>(r) : c;
}

WChar ToLowerChar(WChar c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<WChar>(c + 32) : c;
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  locale_t loc = CaseLocale();
  if (loc == static_cast<locale_t>(0)) return c;
  wint_t r = towlower_l(static_cast<wint_t>(c), loc);
  return r <= 0xFFFF ? static_cast<WChar>(r) : c;
}

WString ToUpper(WStringView s) {
  WString out(s);
  for (auto& c : out) c = ToUpperChar(c);
  return out;
}

WString ToLower(WStringView s) {
  WString out(s);
  for (auto& c : out) c = ToLowerChar(c);
  return out;
}

int CompareNoCase(WStringView a, WStringView b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const WChar x = ToLowerChar(a[i]);
    const WChar y = ToLowerChar(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(WStringView a, WStringView b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

size_t FindNoCase(WStringView hay, WStringView needle, size_t from) {
  if (needle.empty()) return from <= hay.size() ? from : WStringView::npos;
  if (needle.size() > hay.size()) return WStringView::npos;
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    size_t k = 0;
    while (k < needle.size() && ToLowerChar(hay[i + k]) == ToLowerChar(needle[k])) ++k;
    if (k == needle.size()) return i;
  }
  return WStringView::npos;
}

}  // namespace vr::text
