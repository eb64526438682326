// LE_UnicodeFileT and BE_UnicodeFileT: UTF-16 text in 16-bit units of either byte order.
// Carriage returns are dropped on reading and written before every line feed.
#include <cerrno>
#include <cstring>

#include "mordant/VrUnicodeFileImpl.h"
#include "platform/text/format.h"

using vr::text::FormatA;

wint_t ReadUnit16(ByteStreamT& fp, bool bigEndian) {
  const int a = fp.Getc();
  if (a < 0) return WEOF;
  const int b = fp.Getc();
  if (b < 0) {
    // Half a unit at the end is damaged text, not a clean end.
    if (!fp.Error()) fp.SetError(EILSEQ);
    return WEOF;
  }
  return bigEndian ? static_cast<wint_t>((a << 8) | b) : static_cast<wint_t>((b << 8) | a);
}

bool WriteUnit16(ByteStreamT& fp, unsigned unit, bool bigEndian) {
  const auto hi = static_cast<unsigned char>(unit >> 8), lo = static_cast<unsigned char>(unit & 0xFF);
  return bigEndian ? fp.Putc(hi) && fp.Putc(lo) : fp.Putc(lo) && fp.Putc(hi);
}

namespace {

// Reading with a named type: the mark is dropped, any other first unit is pushed back.
void SkipMark(ByteStreamT& fp, bool bigEndian, const WString& name, int mode) {
  const int a = fp.Getc();
  if (a < 0) {
    if (fp.Error()) {
      const int err = fp.Errno();
      ThrowFileError(VrUnicodeFileT::eOpenFailed,
                     FormatA(bigEndian ? "BE_UnicodeFileT::BE_UnicodeFileT(pfp,\"%S\",%s) failed because getwc(m_fp) "
                                         "failed with errno = %d:\"%s\"."
                                       : "LE_UnicodeFileT::LE_UnicodeFileT(pfp,\"%S\",%s) failed because getwc(m_fp) "
                                         "failed with errno = %d:\"%s\".",
                             name, GetModeName(mode), err, std::strerror(err)));
    }
    return;
  }
  const int b = fp.Getc();
  if (b >= 0) {
    const unsigned unit = bigEndian ? (a << 8) | b : (b << 8) | a;
    if (unit == 0xFEFF) return;
    fp.Ungetc(static_cast<unsigned char>(b));
  }
  fp.Ungetc(static_cast<unsigned char>(a));
}

wint_t NextUnit(ByteStreamT& fp, bool bigEndian) {
  wint_t c;
  do {
    c = ReadUnit16(fp, bigEndian);
  } while (c == 0x000D);
  return c;
}

}  // namespace

LE_UnicodeFileT::LE_UnicodeFileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode, bool checkMark)
    : Impl(std::move(fp), mode, name) {
  if (mode == VrUnicodeFileT::eWRITE) {
    if (!WriteUnit16(*m_fp, 0xFEFF, false)) {
      const int err = m_fp->Errno();
      ThrowFileError(VrUnicodeFileT::eOpenFailed,
                     FormatA("LE_UnicodeFileT::LE_UnicodeFileT(pfp,\"%S\",%s) failed because fputwc('\\xFEFF',m_fp) "
                             "failed with errno = %d:\"%s\".",
                             name, GetModeName(mode), err, std::strerror(err)));
    }
  } else if (checkMark) {
    SkipMark(*m_fp, false, name, mode);
  }
}

wint_t LE_UnicodeFileT::GetCh() { return NextUnit(*m_fp, false); }

void LE_UnicodeFileT::PutCh(wint_t c) {
  const bool ok = c == L'\n' ? WriteUnit16(*m_fp, 0x000D, false) && WriteUnit16(*m_fp, 0x000A, false)
                             : WriteUnit16(*m_fp, c & 0xFFFF, false);
  if (ok) return;
  const int err = m_fp->Errno();
  ThrowFileError(VrUnicodeFileT::ePutChar,
                 FormatA("LE_UnicodeFileT::PutCh(L'%C') failed to file \"%S\" because fputwc('\\x%04X', m_fp) failed "
                         "with errno = %d:\"%s\".",
                         static_cast<WChar>(c), m_fileName, static_cast<unsigned>(c), err, std::strerror(err)));
}

BE_UnicodeFileT::BE_UnicodeFileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode, bool checkMark)
    : Impl(std::move(fp), mode, name) {
  if (mode == VrUnicodeFileT::eWRITE) {
    if (!WriteUnit16(*m_fp, 0xFEFF, true)) {
      const int err = m_fp->Errno();
      ThrowFileError(VrUnicodeFileT::eOpenFailed,
                     FormatA("LE_UnicodeFileT::BE_UnicodeFileT(pfp,\"%S\",%s) failed because fputwc('\\xFFFE',m_fp) "
                             "failed with errno = %d:\"%s\".",
                             name, GetModeName(mode), err, std::strerror(err)));
    }
  } else if (checkMark) {
    SkipMark(*m_fp, true, name, mode);
  }
}

wint_t BE_UnicodeFileT::GetCh() { return NextUnit(*m_fp, true); }

void BE_UnicodeFileT::PutCh(wint_t c) {
  const bool ok = c == L'\n' ? WriteUnit16(*m_fp, 0x000D, true) && WriteUnit16(*m_fp, 0x000A, true)
                             : WriteUnit16(*m_fp, c & 0xFFFF, true);
  if (ok) return;
  const int err = m_fp->Errno();
  ThrowFileError(VrUnicodeFileT::ePutChar,
                 FormatA("BE_UnicodeFileT::PutCh(L'%C') failed to file \"%S\" because putwc('\\x%04X', m_fp) failed "
                         "with errno = %d:\"%s\".",
                         static_cast<WChar>(c), m_fileName, static_cast<unsigned>(c), err, std::strerror(err)));
}
