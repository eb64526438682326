// MbcsFileT: text in the locale's multibyte encoding, converted by the C library's mbrtowc and
// wcrtomb of the current LC_CTYPE. Reading is in text mode: a carriage return before a line
// feed is dropped. A character outside the Basic Multilingual Plane is a surrogate pair.
#include <cerrno>
#include <climits>
#include <cstring>

#include "mordant/VrUnicodeFileImpl.h"
#include "platform/text/format.h"

using vr::text::FormatA;

MbcsFileT::MbcsFileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode)
    : Impl(std::move(fp), mode, name) {
  if (mode != VrUnicodeFileT::eREAD) return;
  // Reading starts again at the first byte, whatever encoding detection consumed.
  if (!m_fp->Close()) {
    const int err = m_fp->Errno();
    ThrowFileError(VrUnicodeFileT::eOpenFailed,
                   FormatA("MbcsFileT::MbcsFileT(pfp,\"%S\",%s) failed because fclose(*pfp) failed with errno = "
                           "%d:\"%s\".",
                           name, GetModeName(mode), err, std::strerror(err)));
  }
  m_fp = std::make_unique<ByteStreamT>();
  if (!m_fp->Open(name, "rb")) {
    const int err = m_fp->Errno();
    ThrowFileError(VrUnicodeFileT::eOpenFailed,
                   FormatA("MbcsFileT::MbcsFileT(pfp,\"%S\",%s) failed because _wfopen(\"%S\",\"%S\") failed with "
                           "errno = %d:\"%s\".",
                           name, GetModeName(mode), name, WString(u"rt"), err, std::strerror(err)));
  }
}

wint_t MbcsFileT::GetCh() {
  if (pendingLow_ != WEOF) {
    const wint_t low = pendingLow_;
    pendingLow_ = WEOF;
    return low;
  }
  size_t count = 0;
  while (true) {
    const int b = m_fp->Getc();
    if (b < 0) {
      // The file ends inside a character: a decoding error, not a clean end.
      if (count > 0 && !m_fp->Error()) m_fp->SetError(EILSEQ);
      return WEOF;
    }
    if (b == '\r' && count == 0) {
      const int next = m_fp->Getc();
      if (next == '\n') return L'\n';
      if (next >= 0) m_fp->Ungetc(static_cast<unsigned char>(next));
    }
    ++count;
    const char byte = static_cast<char>(b);
    wchar_t wc = 0;
    const size_t rc = std::mbrtowc(&wc, &byte, 1, &state_);
    if (rc == static_cast<size_t>(-2) && count < MB_LEN_MAX) continue;
    if (rc == static_cast<size_t>(-1) || rc == static_cast<size_t>(-2)) {
      state_ = std::mbstate_t{};
      m_fp->SetError(EILSEQ);
      return WEOF;
    }
    const auto cp = static_cast<uint32_t>(wc);
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      pendingLow_ = 0xDC00 + ((cp - 0x10000) & 0x3FF);
      return 0xD800 + ((cp - 0x10000) >> 10);
    }
    return cp > 0x10FFFF ? 0xFFFD : cp;
  }
}

namespace {

[[noreturn]] void PutFailed(const WString& name, wint_t c, int err) {
  ThrowFileError(VrUnicodeFileT::ePutChar,
                 FormatA("MbcsFileT::PutCh(L'%C') failed to file \"%S\" because putwc(L'%C', m_fp) failed with "
                         "errno = %d:\"%s\".",
                         static_cast<WChar>(c), name, static_cast<WChar>(c), err, std::strerror(err)));
}

}  // namespace

void MbcsFileT::PutCh(wint_t c) {
  uint32_t cp = c;
  if (pendingHigh_ != WEOF) {
    const wint_t high = pendingHigh_;
    pendingHigh_ = WEOF;
    if (c < 0xDC00 || c > 0xDFFF) PutFailed(m_fileName, high, EILSEQ);
    cp = 0x10000 + ((high - 0xD800) << 10) + (c - 0xDC00);
  } else if (c >= 0xD800 && c <= 0xDBFF) {
    pendingHigh_ = c;
    return;
  } else if (c >= 0xDC00 && c <= 0xDFFF) {
    PutFailed(m_fileName, c, EILSEQ);
  }
  char bytes[MB_LEN_MAX];
  std::mbstate_t state{};
  const size_t n = std::wcrtomb(bytes, static_cast<wchar_t>(cp), &state);
  if (n == static_cast<size_t>(-1)) PutFailed(m_fileName, c, EILSEQ);
  for (size_t i = 0; i < n; ++i) {
    if (!m_fp->Putc(static_cast<unsigned char>(bytes[i]))) PutFailed(m_fileName, c, m_fp->Errno());
  }
}

void MbcsFileT::Finish() {
  if (pendingHigh_ != WEOF) {
    const wint_t high = pendingHigh_;
    pendingHigh_ = WEOF;
    PutFailed(m_fileName, high, EILSEQ);
  }
}
