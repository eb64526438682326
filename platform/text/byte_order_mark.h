// Byte-order marks: the one place that tells which mark a file's bytes begin with, and the
// decoder of text that says its encoding by one (UTF-16 in either byte order behind its mark,
// UTF-8 with or without its mark).
#pragma once
#include <cstddef>
#include <string_view>

#include "platform/text/wstring.h"

namespace vr::text {

inline constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
inline constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
inline constexpr std::string_view kUtf16BeMark = "\xFE\xFF";

enum class ByteOrderMark { None, Utf8, Utf16Le, Utf16Be };

// The mark the bytes begin with; None when they begin with none (or with part of one).
ByteOrderMark SniffByteOrderMark(std::string_view bytes);
// How many bytes the mark takes: 3 for UTF-8, 2 for UTF-16, 0 for None.
size_t ByteOrderMarkLength(ByteOrderMark mark);
// The bytes behind a UTF-8 mark, or all of them when they begin with none.
std::string_view SkipUtf8Mark(std::string_view bytes);

enum class MarkedTextResult {
  Ok,
  OddUtf16,    // UTF-16 by its mark, with an odd number of bytes
  InvalidUtf8  // no UTF-16 mark, and not UTF-8 text
};

// UTF-16 behind its mark in the byte order the mark gives (every unit taken as it is), or
// UTF-8 (strictly: no invalid sequence, no lone surrogate) behind its mark or without one.
// text is empty unless the result is Ok.
MarkedTextResult DecodeMarkedText(std::string_view bytes, WString& text);

}  // namespace vr::text
