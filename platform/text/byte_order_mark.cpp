#include "platform/text/byte_order_mark.h"

#include "platform/text/convert.h"

namespace vr::text {

ByteOrderMark SniffByteOrderMark(std::string_view bytes) {
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) return ByteOrderMark::Utf8;
  if (bytes.substr(0, kUtf16LeMark.size()) == kUtf16LeMark) return ByteOrderMark::Utf16Le;
  if (bytes.substr(0, kUtf16BeMark.size()) == kUtf16BeMark) return ByteOrderMark::Utf16Be;
  return ByteOrderMark::None;
}

size_t ByteOrderMarkLength(ByteOrderMark mark) {
  switch (mark) {
    case ByteOrderMark::Utf8: return kUtf8Mark.size();
    case ByteOrderMark::Utf16Le: return kUtf16LeMark.size();
    case ByteOrderMark::Utf16Be: return kUtf16BeMark.size();
    case ByteOrderMark::None: break;
  }
  return 0;
}

std::string_view SkipUtf8Mark(std::string_view bytes) {
  return SniffByteOrderMark(bytes) == ByteOrderMark::Utf8 ? bytes.substr(kUtf8Mark.size()) : bytes;
}

MarkedTextResult DecodeMarkedText(std::string_view bytes, WString& text) {
  text.clear();
  const ByteOrderMark mark = SniffByteOrderMark(bytes);
  if (mark == ByteOrderMark::Utf16Le || mark == ByteOrderMark::Utf16Be) {
    const std::string_view body = bytes.substr(ByteOrderMarkLength(mark));
    if (body.size() % 2) return MarkedTextResult::OddUtf16;
    const bool bigEndian = mark == ByteOrderMark::Utf16Be;
    text.reserve(body.size() / 2);
    for (size_t i = 0; i < body.size(); i += 2) {
      const unsigned a = static_cast<unsigned char>(body[i]);
      const unsigned b = static_cast<unsigned char>(body[i + 1]);
      text += static_cast<WChar>(bigEndian ? (a << 8 | b) : (b << 8 | a));
    }
    return MarkedTextResult::Ok;
  }
  if (!Utf8ToWideStrict(SkipUtf8Mark(bytes), text)) {
    text.clear();
    return MarkedTextResult::InvalidUtf8;
  }
  return MarkedTextResult::Ok;
}

}  // namespace vr::text
