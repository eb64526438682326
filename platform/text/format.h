// The printf-style formatter of the system's formats. %S takes UTF-16 text, %s narrow UTF-8
// text, %C a UTF-16 unit, %c a char; %d %i %u %x %X %o %ld %lu %f and %% as printf, with flags,
// width and precision (%-20S, %.40S, %08X, %-2.2S). Arguments are type-checked at run time: a
// missing argument prints nothing, a mismatched one is converted as sensibly as possible.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/text/wstring.h"

namespace vr::text {

class FormatArg {
 public:
  enum class Kind { kSigned, kUnsigned, kDouble, kWide, kNarrow, kWChar, kChar };

  FormatArg(int v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(long v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(long long v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(short v) : kind_(Kind::kSigned), i_(v) {}
  FormatArg(unsigned v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(unsigned long v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(unsigned long long v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(unsigned short v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(unsigned char v) : kind_(Kind::kUnsigned), u_(v) {}
  FormatArg(bool v) : kind_(Kind::kSigned), i_(v ? 1 : 0) {}
  FormatArg(double v) : kind_(Kind::kDouble), d_(v) {}
  FormatArg(char16_t v) : kind_(Kind::kWChar), u_(v) {}
  FormatArg(char v) : kind_(Kind::kChar), u_(static_cast<unsigned char>(v)) {}
  FormatArg(const char16_t* v) : kind_(Kind::kWide), w_(v ? WStringView(v) : WStringView(u"(null)")) {}
  FormatArg(const WString& v) : kind_(Kind::kWide), w_(v) {}
  FormatArg(WStringView v) : kind_(Kind::kWide), w_(v) {}
  FormatArg(const char* v) : kind_(Kind::kNarrow), n_(v ? std::string_view(v) : std::string_view("(null)")) {}
  FormatArg(const std::string& v) : kind_(Kind::kNarrow), n_(v) {}
  FormatArg(std::string_view v) : kind_(Kind::kNarrow), n_(v) {}
  template <class T, class = std::enable_if_t<std::is_enum_v<T>>>
  FormatArg(T v) : FormatArg(static_cast<std::underlying_type_t<T>>(v)) {}

  Kind kind() const { return kind_; }
  long long AsSigned() const;
  unsigned long long AsUnsigned() const;
  double AsDouble() const;
  WString AsWide() const;

 private:
  Kind kind_;
  long long i_ = 0;
  unsigned long long u_ = 0;
  double d_ = 0;
  WStringView w_;
  std::string_view n_;
};

WString FormatList(WStringView format, std::initializer_list<FormatArg> args);

template <class... A>
WString Format(WStringView format, const A&... args) {
  return FormatList(format, {FormatArg(args)...});
}

// Narrow form: the format and the result are UTF-8.
std::string FormatListA(std::string_view format, std::initializer_list<FormatArg> args);
template <class... A>
std::string FormatA(std::string_view format, const A&... args) {
  return FormatListA(format, {FormatArg(args)...});
}

}  // namespace vr::text
