// VrUnicodeFileT: mordant's text files, read and written one UTF-16 unit at a time in one of
// four encodings (the locale's multibyte encoding, UTF-8, UTF-16 little- and big-endian). An
// input file's encoding is found from its byte-order mark. The reader can push characters back;
// line feeds are counted. Every failure is thrown as a VrUnicodeFileT::Exception.
#pragma once
#include <cstdint>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/text/wstring.h"

namespace vr::os {
class File;
}

class VrUnicodeFileT {
 public:
  enum Mode { eREAD = 0, eWRITE = 1 };
  enum Type { eANY = 0, eMBCS = 1, eUNICODE_LE = 2, eUNICODE_BE = 3, eUTF8 = 4 };
  enum ErrorKind {
    eExceptionFailure = 0xBAD1,
    eFileEmpty = 0xBAD2,
    eInvalidUtf8 = 0xBAD3,
    eOpenFailed = 0xBAD4,
    eOutOfMemory = 0xBAD5,
    ePutChar = 0xBAD6,
  };

  class Exception : public std::exception {
   public:
    // sourceUnit: the source file that raises it (a path is cut to its file name); it must
    // outlive the exception, as __FILE__ and std::source_location names do.
    Exception(const char* sourceUnit, unsigned sourceLine, int kind, std::string message) noexcept;
    Exception(const Exception& other) noexcept;
    Exception& operator=(const Exception& other) noexcept;
    ~Exception() override;
    // The message with " [ <unit> line <n>, code <kind> ]" after it, once: the unit and line
    // of the raise.
    const char* what() const noexcept override;
    int Kind() const noexcept;
    unsigned SourceLine() const noexcept;
    const char* SourceUnit() const noexcept;
    const char* Message() const noexcept;

   private:
    struct ImplT;
    std::unique_ptr<ImplT> m_pImpl;
  };

  // The implementation classes share this base: the open stream, the mode, the line number,
  // the file name and the push-back stack.
  class Impl;

  // Opens the file; throws Exception on every failure.
  static std::unique_ptr<VrUnicodeFileT> Create(const WChar* fileName, int mode, int type);
  ~VrUnicodeFileT();
  VrUnicodeFileT(const VrUnicodeFileT&) = delete;
  VrUnicodeFileT& operator=(const VrUnicodeFileT&) = delete;

  // The next UTF-16 unit or WEOF; a line feed advances the line number.
  wint_t GetCh();
  // The next GetCh returns c; a line feed lowers the line number, WEOF clears the stream's
  // end-of-file and error state.
  void UngetCh(wint_t c);
  // Writes one unit; a line feed advances the line number.
  void PutCh(wint_t c);
  void PutString(WStringView text);
  // True when nothing is pushed back and the stream is at its end.
  bool AtEnd() const;
  // 0 while the stream has no error, otherwise its errno (or -1).
  int StreamError() const;
  unsigned Line() const;
  const WString& FileName() const;
  // 1 MBCS, 2 UTF-16 LE, 3 UTF-16 BE, 4 UTF-8.
  int GetType() const;
  // Writes what is still buffered and closes the file; throws when that fails. The destructor
  // closes too, but swallows the failure.
  void Close();

 private:
  explicit VrUnicodeFileT(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_pImpl;
};

// The names that messages show; unknown values are formatted into static 64-byte buffers.
const char* GetModeName(int mode);
const char* GetTypeName(int type);
const char* GetErrorKindName(int kind);
