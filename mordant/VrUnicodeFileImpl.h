// The inside of VrUnicodeFileT: a buffered byte stream over the host's files, the common base
// of the four encodings and the four implementation classes.
#pragma once
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "mordant/VrUnicodeFile.h"
#include "platform/text/wstring.h"

namespace vr::os {
class File;
}

// The unit name that file exceptions carry.
extern const char* const kVrUnicodeFileUnit;

// errno for a Win32 error of the host's file calls.
int ErrnoFromWin32(long error);

// A byte stream in the manner of a stdio FILE: buffered reads with push-back, buffered writes,
// end-of-file and error flags and the errno of the last failure. Reading a file of any size
// keeps one buffer in memory.
class ByteStreamT {
 public:
  ByteStreamT();
  ~ByteStreamT();
  // mode "rb" or "wb"; false with Errno() set when the file cannot be opened.
  bool Open(const WString& path, const char* mode);
  // The next byte, or -1 at end of file or on an error (Eof and Error tell which).
  int Getc();
  bool Ungetc(unsigned char byte);
  bool Putc(unsigned char byte);
  bool Flush();
  // Closes the file after writing what is buffered; false when that fails.
  bool Close();
  bool Eof() const { return eof_ && pushed_.empty(); }
  bool Error() const { return error_; }
  int Errno() const { return errno_; }
  void ClearErr() { eof_ = false; error_ = false; }
  // A decoding failure of the layer above, reported as a stream error.
  void SetError(int err);

 private:
  bool Fill();
  void Fail(long win32);

  std::unique_ptr<vr::os::File> file_;
  bool writing_ = false;
  std::vector<unsigned char> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
  std::vector<unsigned char> pushed_;
  bool eof_ = false;
  bool error_ = false;
  int errno_ = 0;
};

class VrUnicodeFileT::Impl {
 public:
  Impl(std::unique_ptr<ByteStreamT> fp, int mode, const WString& name);
  virtual ~Impl();
  // The next unit from the stream (the push-back stack is the caller's), or WEOF.
  virtual wint_t GetCh() = 0;
  virtual void PutCh(wint_t c) = 0;
  virtual int Type() const = 0;
  // Writes what an encoding still holds back; throws when that fails.
  virtual void Finish() {}

  std::unique_ptr<ByteStreamT> m_fp;
  int m_mode;
  unsigned m_line = 1;
  WString m_fileName;
  std::vector<wint_t> m_pushBack;
};

// Where a file error is raised: the source unit and line that a report names. (A macro rather
// than std::source_location, which the clang of the fuzz build does not have with this
// standard library.)
struct SourcePlace {
  const char* file;
  unsigned line;
};
#define VR_SOURCE_PLACE (SourcePlace{__FILE__, static_cast<unsigned>(__LINE__)})

// Throws a file exception that names the given source unit and line; ThrowFileError names the
// caller's.
[[noreturn]] void ThrowFileErrorAt(SourcePlace where, int kind, std::string message);
#define ThrowFileError(kind, ...) ThrowFileErrorAt(VR_SOURCE_PLACE, kind, __VA_ARGS__)

class MbcsFileT final : public VrUnicodeFileT::Impl {
 public:
  MbcsFileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode);
  wint_t GetCh() override;
  void PutCh(wint_t c) override;
  int Type() const override { return VrUnicodeFileT::eMBCS; }
  void Finish() override;

 private:
  std::mbstate_t state_{};
  wint_t pendingLow_ = WEOF;   // the second half of a character outside the BMP
  wint_t pendingHigh_ = WEOF;  // a high surrogate waiting for its low half
};

class Utf8FileT final : public VrUnicodeFileT::Impl {
 public:
  // checkMark: reading with type eUTF8, so a mark may still begin the stream.
  Utf8FileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode, bool checkMark);
  wint_t GetCh() override;
  void PutCh(wint_t c) override;
  int Type() const override { return VrUnicodeFileT::eUTF8; }
  void Finish() override;

 private:
  void PutByte(unsigned char byte, wint_t forChar);
  wint_t pendingLow_ = WEOF;
  wint_t pendingHigh_ = WEOF;
};

class LE_UnicodeFileT final : public VrUnicodeFileT::Impl {
 public:
  LE_UnicodeFileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode, bool checkMark);
  wint_t GetCh() override;
  void PutCh(wint_t c) override;
  int Type() const override { return VrUnicodeFileT::eUNICODE_LE; }
};

class BE_UnicodeFileT final : public VrUnicodeFileT::Impl {
 public:
  BE_UnicodeFileT(std::unique_ptr<ByteStreamT> fp, const WString& name, int mode, bool checkMark);
  wint_t GetCh() override;
  void PutCh(wint_t c) override;
  int Type() const override { return VrUnicodeFileT::eUNICODE_BE; }
};

// One 16-bit unit in the given byte order, or WEOF at the end; an odd byte at the end is a
// stream error (EILSEQ).
wint_t ReadUnit16(ByteStreamT& fp, bool bigEndian);
bool WriteUnit16(ByteStreamT& fp, unsigned unit, bool bigEndian);
