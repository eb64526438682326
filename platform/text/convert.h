// Conversions between UTF-16 and the encodings at the edges: UTF-8 (console, arguments,
// environment, POSIX file names) and the locale's multibyte encoding (the "ANSI code page").
#pragma once
#include <string>
#include <string_view>
#include "platform/text/wstring.h"

namespace vr::text {

// Invalid or truncated sequences become U+FFFD; never fails.
WString Utf8ToWide(std::string_view utf8);
// Lone surrogates become U+FFFD; never fails.
std::string WideToUtf8(WStringView wide);
// Strict forms: false on any invalid sequence, out untouched.
bool Utf8ToWideStrict(std::string_view utf8, WString& out);
bool WideToUtf8Strict(WStringView wide, std::string& out);

// The locale's multibyte encoding (nl_langinfo(CODESET) of the current LC_CTYPE).
// False when a sequence cannot be converted.
bool MbcsToWide(std::string_view mbcs, WString& out);
bool WideToMbcs(WStringView wide, std::string& out);
// Name of the codeset used by the two calls above.
std::string MbcsCodeset();

// Code points of a UTF-16 string are appended one by one (surrogate pairs joined).
void AppendCodePoint(WString& out, char32_t cp);

}  // namespace vr::text
