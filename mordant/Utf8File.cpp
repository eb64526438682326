// Utf8FileT: UTF-8 text. Carriage returns are dropped on reading and written before every line
// feed. A four-byte sequence is a character outside the Basic Multilingual Plane: it is read as
// its surrogate pair, and a surrogate pair is written as one four-byte sequence.
#include <cerrno>
#include <cstring>

#include "mordant/VrUnicodeFileImpl.h"
#include "platform/text/byte_order_mark.h"
#include "platform/text/format.h"

using vr::text::FormatA;

Utf8FileT::Utf8FileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode, bool checkMark)
    : Impl(std::move(fp), mode, name) {
  const std::string_view kMark = vr::text::kUtf8Mark;
  if (mode == VrUnicodeFileT::eWRITE) {
    for (unsigned char b : kMark) {
      if (!m_fp->Putc(b)) {
        const int err = m_fp->Errno();
        ThrowFileError(VrUnicodeFileT::eOpenFailed,
                       FormatA("Utf8FileT::Utf8FileT(pfp,\"%S\",%s) failed because fputc('\\x%02X',m_fp) failed "
                               "with errno = %d:\"%s\".",
                               name, GetModeName(mode), static_cast<unsigned>(b), err, std::strerror(err)));
      }
    }
    return;
  }
  if (!checkMark) return;
  // A stream without the mark is read from its start: what was read is pushed back.
  unsigned char seen[3];
  size_t count = 0;
  for (unsigned char expected : kMark) {
    const int b = m_fp->Getc();
    if (b < 0) {
      if (m_fp->Error()) {
        const int err = m_fp->Errno();
        ThrowFileError(VrUnicodeFileT::eOpenFailed,
                       FormatA("Utf8FileT::Utf8FileT(pfp,\"%S\",%s) failed because getc(m_fp) failed with errno = "
                               "%d:\"%s\".",
                               name, GetModeName(mode), err, std::strerror(err)));
      }
      break;
    }
    seen[count++] = static_cast<unsigned char>(b);
    if (b != expected) break;
  }
  if (count == 3 && seen[2] == static_cast<unsigned char>(kMark[2])) return;
  while (count > 0) m_fp->Ungetc(seen[--count]);
}

wint_t Utf8FileT::GetCh() {
  if (pendingLow_ != WEOF) {
    const wint_t low = pendingLow_;
    pendingLow_ = WEOF;
    return low;
  }
  int lead;
  do {
    lead = m_fp->Getc();
  } while (lead == 0x0D);
  if (lead < 0) return WEOF;
  if (lead < 0x80) return static_cast<wint_t>(lead);
  int continuations;
  uint32_t cp;
  if ((lead & 0xE0) == 0xC0) {
    continuations = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    continuations = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    continuations = 3;
    cp = lead & 0x07;
  } else {
    return L'?';  // a stray continuation byte, or F8 to FF
  }
  for (int i = 0; i < continuations; ++i) {
    const int b = m_fp->Getc();
    if (b < 0 || (b & 0xC0) != 0x80) {
      if (m_fp->Error()) return WEOF;
      ThrowFileError(VrUnicodeFileT::eInvalidUtf8,
                     FormatA("Utf8FileT::GetCh() failed from file \"%S\" on line %u because getc(m_fp) sequence did "
                             "not conform to UTF-8 encodings.",
                             m_fileName, m_line));
    }
    cp = (cp << 6) | (static_cast<uint32_t>(b) & 0x3F);
  }
  if (continuations == 3) {
    if (cp < 0x10000 || cp > 0x10FFFF) return L'?';
    pendingLow_ = 0xDC00 + ((cp - 0x10000) & 0x3FF);
    return 0xD800 + ((cp - 0x10000) >> 10);
  }
  return cp;
}

void Utf8FileT::PutByte(unsigned char byte, wint_t forChar) {
  if (m_fp->Putc(byte)) return;
  const int err = m_fp->Errno();
  ThrowFileError(VrUnicodeFileT::ePutChar,
                 FormatA("Utf8FileT::PutCh(L'%C') failed to file \"%S\" because fputc('\\x%02X', m_fp) failed with "
                         "errno = %d:\"%s\".",
                         static_cast<WChar>(forChar), m_fileName, static_cast<unsigned>(byte), err, std::strerror(err)));
}

void Utf8FileT::PutCh(wint_t c) {
  if (pendingHigh_ != WEOF) {
    const wint_t high = pendingHigh_;
    pendingHigh_ = WEOF;
    if (c >= 0xDC00 && c <= 0xDFFF) {
      const uint32_t cp = 0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00);
      PutByte(static_cast<unsigned char>(0xF0 | (cp >> 18)), c);
      PutByte(static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)), c);
      PutByte(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)), c);
      PutByte(static_cast<unsigned char>(0x80 | (cp & 0x3F)), c);
      return;
    }
    PutCh(0xFFFD);  // a high surrogate without its low half
  }
  if (c >= 0xD800 && c <= 0xDBFF) {
    pendingHigh_ = c;
    return;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) c = 0xFFFD;  // a low surrogate on its own
  if (c == L'\n') {
    PutByte(0x0D, c);
    PutByte(0x0A, c);
  } else if (c < 0x80) {
    PutByte(static_cast<unsigned char>(c), c);
  } else if (c < 0x800) {
    PutByte(static_cast<unsigned char>(0xC0 | (c >> 6)), c);
    PutByte(static_cast<unsigned char>(0x80 | (c & 0x3F)), c);
  } else {
    PutByte(static_cast<unsigned char>(0xE0 | ((c >> 12) & 0x0F)), c);
    PutByte(static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F)), c);
    PutByte(static_cast<unsigned char>(0x80 | (c & 0x3F)), c);
  }
}

void Utf8FileT::Finish() {
  if (pendingHigh_ == WEOF) return;
  pendingHigh_ = WEOF;
  PutCh(0xFFFD);
}
