#include "mordant/VrUnicodeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "mordant/VrUnicodeFileImpl.h"
#include "platform/text/byte_order_mark.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"

using vr::text::FormatA;

const char* const kVrUnicodeFileUnit = "VrUnicodeFile.cpp";

namespace {

// Messages are cut to what the fixed message buffer of the file layer holds.
constexpr size_t kMaxMessage = 4095;

// The file name of a source path: reports name the unit, not where it was built.
const char* UnitName(const char* path) {
  if (!path) return kVrUnicodeFileUnit;
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

const char* Unknown(char* buffer, const char* format, int value) {
  std::snprintf(buffer, 64, format, static_cast<unsigned>(value));
  return buffer;
}

}  // namespace

const char* GetModeName(int mode) {
  static char buffer[64];
  switch (mode) {
    case VrUnicodeFileT::eREAD: return "eREAD";
    case VrUnicodeFileT::eWRITE: return "eWRITE";
    default: return Unknown(buffer, "INVALID(0x%02X)", mode);
  }
}

const char* GetTypeName(int type) {
  static char buffer[64];
  switch (type) {
    case VrUnicodeFileT::eANY: return "eANY";
    case VrUnicodeFileT::eMBCS: return "eMBCS";
    case VrUnicodeFileT::eUNICODE_LE: return "eUNICODE_LE";
    case VrUnicodeFileT::eUNICODE_BE: return "eUNICODE_BE";
    case VrUnicodeFileT::eUTF8: return "eUTF8";
    default: return Unknown(buffer, "INVALID(0x%02X)", type);
  }
}

const char* GetErrorKindName(int kind) {
  static char buffer[64];
  switch (kind) {
    case VrUnicodeFileT::eExceptionFailure: return "eExceptionFailure";
    case VrUnicodeFileT::eFileEmpty: return "eFileEmpty";
    case VrUnicodeFileT::eInvalidUtf8: return "eInvalidUtf8";
    case VrUnicodeFileT::eOpenFailed: return "eOpenFailed";
    case VrUnicodeFileT::eOutOfMemory: return "eOutOfMemory";
    case VrUnicodeFileT::ePutChar: return "ePutChar";
    default: return Unknown(buffer, "INVALID(0x%04X)", kind);
  }
}

// ---- the exception ------------------------------------------------------------------------

struct VrUnicodeFileT::Exception::ImplT {
  const char* unit;
  unsigned line;
  int kind;
  std::string message;
  std::string what;
};

VrUnicodeFileT::Exception::Exception(const char* sourceUnit, unsigned sourceLine, int kind,
                                     std::string message) noexcept {
  try {
    if (message.size() > kMaxMessage) message.resize(kMaxMessage);
    const char* unit = UnitName(sourceUnit);
    std::string what = message + " [ " + unit + " line " + std::to_string(sourceLine) + ", code " +
                       GetErrorKindName(kind) + " ]";
    m_pImpl.reset(new (std::nothrow) ImplT{unit, sourceLine, kind, std::move(message), std::move(what)});
  } catch (...) {
    m_pImpl.reset();
  }
}

VrUnicodeFileT::Exception::Exception(const Exception& other) noexcept {
  if (other.m_pImpl) {
    try {
      m_pImpl.reset(new (std::nothrow) ImplT(*other.m_pImpl));
    } catch (...) {
      m_pImpl.reset();
    }
  }
}

VrUnicodeFileT::Exception& VrUnicodeFileT::Exception::operator=(const Exception& other) noexcept {
  if (this != &other) {
    Exception copy(other);
    m_pImpl.swap(copy.m_pImpl);
  }
  return *this;
}

VrUnicodeFileT::Exception::~Exception() = default;

namespace {
const char* const kNoExceptionText = "ERROR WHILE CREATING VrUnicodeFileT::Exception::m_pImpl->m_what STRING";
}

const char* VrUnicodeFileT::Exception::what() const noexcept {
  return m_pImpl ? m_pImpl->what.c_str() : kNoExceptionText;
}
int VrUnicodeFileT::Exception::Kind() const noexcept { return m_pImpl ? m_pImpl->kind : eExceptionFailure; }
unsigned VrUnicodeFileT::Exception::SourceLine() const noexcept { return m_pImpl ? m_pImpl->line : 1843; }
const char* VrUnicodeFileT::Exception::SourceUnit() const noexcept {
  return m_pImpl ? m_pImpl->unit : kVrUnicodeFileUnit;
}
const char* VrUnicodeFileT::Exception::Message() const noexcept {
  return m_pImpl ? m_pImpl->message.c_str() : kNoExceptionText;
}

void ThrowFileErrorAt(SourcePlace where, int kind, std::string message) {
  throw VrUnicodeFileT::Exception(where.file, where.line, kind, std::move(message));
}

// ---- the common base ----------------------------------------------------------------------

VrUnicodeFileT::Impl::Impl(std::unique_ptr<ByteStreamT> fp, int mode, const WString& name)
    : m_fp(std::move(fp)), m_mode(mode), m_fileName(name) {
  m_pushBack.reserve(64);
}

VrUnicodeFileT::Impl::~Impl() = default;

// ---- Create -------------------------------------------------------------------------------

namespace {

[[noreturn]] void OpenErrorAt(SourcePlace where, const std::string& message) {
  ThrowFileErrorAt(where, VrUnicodeFileT::eOpenFailed, message);
}
#define OpenError(message) OpenErrorAt(VR_SOURCE_PLACE, message)

std::unique_ptr<ByteStreamT> OpenStream(const WString& name, int mode, int type, const char* openMode) {
  auto fp = std::make_unique<ByteStreamT>();
  if (!fp->Open(name, openMode)) {
    const int err = fp->Errno();
    OpenError(FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because _wfopen(\"%S\",\"%S\") failed with "
                      "errno = %d:\"%s\".",
                      name, GetModeName(mode), GetTypeName(type), name, vr::text::Utf8ToWide(openMode), err,
                      std::strerror(err)));
  }
  return fp;
}

}  // namespace

std::unique_ptr<VrUnicodeFileT> VrUnicodeFileT::Create(const WChar* fileName, int mode, int type) {
  if (!fileName) {
    OpenError(FormatA("VrUnicodeFileT::Impl::Create(filename,%s,%s) failed because filename is NULL.",
                                GetModeName(mode), GetTypeName(type)));
  }
  const WString name(fileName);
  if (mode != eREAD && mode != eWRITE) {
    OpenError(FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because \"mode\", the 2nd "
                                "argument, was invalid.",
                                name, GetModeName(mode), GetTypeName(type)));
  }
  const auto invalidType = [&](SourcePlace where) {
    OpenErrorAt(where, FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because \"type\", the 3rd argument, "
                      "was invalid.",
                      name, GetModeName(mode), GetTypeName(type)));
  };
  std::unique_ptr<Impl> impl;
  if (mode == eWRITE) {
    if (type < eANY || type > eUTF8) invalidType(VR_SOURCE_PLACE);
    auto fp = OpenStream(name, mode, type, type == eANY || type == eMBCS ? "wt" : "wb");
    switch (type) {
      case eUNICODE_LE: impl = std::make_unique<LE_UnicodeFileT>(std::move(fp), name, mode, false); break;
      case eUNICODE_BE: impl = std::make_unique<BE_UnicodeFileT>(std::move(fp), name, mode, false); break;
      case eUTF8: impl = std::make_unique<Utf8FileT>(std::move(fp), name, mode, false); break;
      default: impl = std::make_unique<MbcsFileT>(std::move(fp), name, mode); break;
    }
    return std::unique_ptr<VrUnicodeFileT>(new VrUnicodeFileT(std::move(impl)));
  }

  if (type < eANY || type > eUTF8) invalidType(VR_SOURCE_PLACE);
  auto fp = OpenStream(name, mode, type, "rb");
  switch (type) {
    case eMBCS: impl = std::make_unique<MbcsFileT>(std::move(fp), name, mode); break;
    case eUNICODE_LE: impl = std::make_unique<LE_UnicodeFileT>(std::move(fp), name, mode, true); break;
    case eUNICODE_BE: impl = std::make_unique<BE_UnicodeFileT>(std::move(fp), name, mode, true); break;
    case eUTF8: impl = std::make_unique<Utf8FileT>(std::move(fp), name, mode, true); break;
    default: {
      // Detect the encoding from the first bytes; a mark that is found is consumed.
      const int b0 = fp->Getc();
      if (b0 < 0) {
        if (fp->Error()) {
          OpenError(FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because wgetc(fp) returned "
                                      "WEOF as an error.",
                                      name, GetModeName(mode), GetTypeName(type)));
        }
        ThrowFileError(eFileEmpty,
                       FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because the file is empty.", name,
                               GetModeName(mode), GetTypeName(type)));
      }
      const int b1 = fp->Getc();
      if (b1 < 0 && fp->Error()) {
        OpenError(FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because wgetc(fp) returned "
                                    "WEOF as an error.",
                                    name, GetModeName(mode), GetTypeName(type)));
      }
      std::string head{static_cast<char>(b0)};
      if (b1 >= 0) head += static_cast<char>(b1);
      const vr::text::ByteOrderMark mark = vr::text::SniffByteOrderMark(head);
      if (mark == vr::text::ByteOrderMark::Utf16Le) {
        impl = std::make_unique<LE_UnicodeFileT>(std::move(fp), name, mode, false);
      } else if (mark == vr::text::ByteOrderMark::Utf16Be) {
        impl = std::make_unique<BE_UnicodeFileT>(std::move(fp), name, mode, false);
      } else if (head == vr::text::kUtf8Mark.substr(0, 2)) {
        const int b2 = fp->Getc();
        if (b2 >= 0) head += static_cast<char>(b2);
        if (vr::text::SniffByteOrderMark(head) == vr::text::ByteOrderMark::Utf8) {
          impl = std::make_unique<Utf8FileT>(std::move(fp), name, mode, false);
        } else if (b2 < 0 && fp->Error()) {
          OpenError(FormatA("VrUnicodeFileT::Impl::Create(\"%S\",%s,%s) failed because getc(fp) returned "
                                      "EOF as an error.",
                                      name, GetModeName(mode), GetTypeName(type)));
        } else {
          impl = std::make_unique<MbcsFileT>(std::move(fp), name, mode);
        }
      } else {
        // Multibyte text starts again at its first byte.
        impl = std::make_unique<MbcsFileT>(std::move(fp), name, mode);
      }
    }
  }
  return std::unique_ptr<VrUnicodeFileT>(new VrUnicodeFileT(std::move(impl)));
}

// ---- the file -----------------------------------------------------------------------------

VrUnicodeFileT::VrUnicodeFileT(std::unique_ptr<Impl> impl) : m_pImpl(std::move(impl)) {}

VrUnicodeFileT::~VrUnicodeFileT() {
  try {
    Close();
  } catch (...) {
    // A failure while closing is not reported from a destructor.
  }
}

wint_t VrUnicodeFileT::GetCh() {
  wint_t c;
  if (!m_pImpl->m_pushBack.empty()) {
    c = m_pImpl->m_pushBack.back();
    m_pImpl->m_pushBack.pop_back();
  } else if (m_pImpl->m_fp) {
    c = m_pImpl->GetCh();
  } else {
    c = WEOF;
  }
  if (c == L'\n') ++m_pImpl->m_line;
  return c;
}

void VrUnicodeFileT::UngetCh(wint_t c) {
  m_pImpl->m_pushBack.push_back(c);
  if (c == L'\n' && m_pImpl->m_line > 1) --m_pImpl->m_line;
  if (c == WEOF && m_pImpl->m_fp) m_pImpl->m_fp->ClearErr();
}

void VrUnicodeFileT::PutCh(wint_t c) {
  m_pImpl->PutCh(c);
  if (c == L'\n') ++m_pImpl->m_line;
}

void VrUnicodeFileT::PutString(WStringView text) {
  for (WChar c : text) PutCh(c);
}

bool VrUnicodeFileT::AtEnd() const {
  return m_pImpl->m_pushBack.empty() && (!m_pImpl->m_fp || m_pImpl->m_fp->Eof());
}

int VrUnicodeFileT::StreamError() const {
  if (!m_pImpl->m_fp || !m_pImpl->m_fp->Error()) return 0;
  return m_pImpl->m_fp->Errno() ? m_pImpl->m_fp->Errno() : -1;
}

unsigned VrUnicodeFileT::Line() const { return m_pImpl->m_line; }
const WString& VrUnicodeFileT::FileName() const { return m_pImpl->m_fileName; }
int VrUnicodeFileT::GetType() const { return m_pImpl->Type(); }

void VrUnicodeFileT::Close() {
  if (!m_pImpl || !m_pImpl->m_fp) return;
  std::unique_ptr<ByteStreamT> fp;
  try {
    if (m_pImpl->m_mode == eWRITE) m_pImpl->Finish();
  } catch (...) {
    m_pImpl->m_fp->Close();
    m_pImpl->m_fp.reset();
    throw;
  }
  fp = std::move(m_pImpl->m_fp);
  if (!fp->Close() && m_pImpl->m_mode == eWRITE) {
    const int err = fp->Errno();
    ThrowFileError(ePutChar,
                   FormatA("VrUnicodeFileT::Close() failed to file \"%S\" because fclose(m_fp) failed with errno = "
                           "%d:\"%s\".",
                           m_pImpl->m_fileName, err, std::strerror(err)));
  }
}
