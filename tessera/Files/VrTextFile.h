// A whole text file held in memory as one UTF-16 string, with a tokenising line reader that
// can also go back, appending, and a save that keeps the previous version as "<name>.bak".
// Three encodings on disk: UTF-8, Unicode (UTF-16 LE) and ASCII (the locale's multibyte
// encoding), each with or without its byte-order header as the file had it. Methods report
// through HRESULTs and never throw.
//
// Folder tessera/Files, library tessera_files: tessera's file classes; uses tessera_common and
// platform/os, com and text.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/os/file.h"
#include "platform/text/wstring.h"
#include "tessera/Files/VrTextLine.h"

constexpr HRESULT E_VRFILE_OPEN = MakeHr(0x80044000);
constexpr HRESULT E_VRFILE_READ = MakeHr(0x80044001);
constexpr HRESULT E_VRFILE_CLOSE = MakeHr(0x80044002);
constexpr HRESULT E_VRFILE_CONTENT = MakeHr(0x80044103);

constexpr uint32_t TEXT_UTF8 = 1;
constexpr uint32_t TEXT_UNICODE = 2;
constexpr uint32_t TEXT_ASCII = 3;

constexpr uint32_t LINES_CRLF = 1;  // appended line ends are CR LF
constexpr uint32_t LINES_LF = 2;    // appended line ends are LF

// A file opened for reading.
using VrReadStream = std::unique_ptr<vr::os::File>;

// The file a store writes: the new version, which takes the file's name when the store is
// closed (VrTextFile::CloseStore). Until then the file keeps its previous content. Dropped
// without closing, the new version is thrown away.
class VrSaveStream {
 public:
  // Bytes written go behind what the store wrote. Returns a Win32 error.
  long Write(const void* data, size_t size, size_t& written);
  const WString& GetFullPath() const { return fullPath_; }

 private:
  friend class VrTextFile;
  std::unique_ptr<vr::os::AtomicFile> file_;
  WString fullPath_;
  WString backupPath_;  // empty when no backup is kept
};

class VrTextFile {
 public:
  VrTextFile(const WChar* path, uint32_t encoding, uint32_t lineEnds);
  VrTextFile(const VrTextFile&) = delete;
  VrTextFile& operator=(const VrTextFile&) = delete;
  virtual ~VrTextFile();

  // Reads the next line from the position. prefix (none when null or empty) must begin the
  // line's trimmed text, compared without regard to case; skipEmpty passes over empty, blank
  // and (with skipComments) comment lines. True when a line was read that matches; the
  // line's tokens are filled even when the prefix does not match.
  virtual bool ReadLine(VrTextLine& line, const WChar* prefix, bool skipEmpty, bool skipComments);
  // The line before the one last read.
  virtual bool ReadPrevLine(VrTextLine& line, const WChar* prefix, bool skipEmpty, bool skipComments);
  // Moves the position to the start of the line before start (the file's own position when
  // null); false at the start of the text, or when skipEmpty finds only empty lines.
  virtual bool GoBackOneLine(const VrTextPosition* start, bool skipEmpty, bool skipComments);
  // Adds text at the end, its line ends in the line-end mode; addLineEnd ends the line.
  virtual void Append(WStringView text, bool addLineEnd);
  // Drops the content (and with all also the path, encoding and line-end mode).
  virtual void Free(bool all);
  // Reads the whole opened file, closes it and converts it; the stream is gone afterwards.
  virtual HRESULT LoadFile(VrReadStream& stream);
  // OpenFile, then LoadFile with the stream.
  virtual HRESULT LoadFile();
  // StoreFile with close set.
  virtual HRESULT SaveFile();
  // True when the text (leading blanks already skipped) is a comment line.
  virtual bool IsCommentLine(WStringView text);
  // Opens the path for reading, denying other writers. stream must be empty on entry.
  virtual HRESULT OpenFile(VrReadStream& stream);
  // Replaces the content by the wide form of the bytes, which end at the first zero byte
  // (zero unit for Unicode) or at the end of the view.
  virtual HRESULT SetContentToUnicode(std::string_view bytes);

  // Writes the content in its encoding (with its header when the file had one) as the new
  // version of the file, keeping the previous one as "<name>.bak" when make-backup is set.
  // With close set, or without streamOut, the store ends here; otherwise the new version is
  // handed back in *streamOut to write more, and CloseStore ends it.
  HRESULT StoreFile(bool close, std::unique_ptr<VrSaveStream>* streamOut = nullptr);

  const WString& GetPath() const { return path_; }
  void SetPath(WStringView path) { path_ = WString(path); }
  bool HasContent() const { return hasContent_; }
  const WString& GetContent() const { return content_; }
  uint32_t GetEncoding() const { return encoding_; }
  uint32_t GetLineEndMode() const { return lineEnds_; }
  bool HasHeader() const { return hasHeader_; }
  void SetHasHeader(bool hasHeader) { hasHeader_ = hasHeader; }
  uint64_t GetFileLength() const { return fileLength_; }
  uint32_t GetLineCount() const { return lineCount_; }
  const VrTextPosition& GetPosition() const { return position_; }
  void SetPosition(const VrTextPosition& position) { position_ = position; }
  void ResetPosition() { position_.Reset(); }
  bool GetMakeBackup() const { return makeBackup_; }
  void SetMakeBackup(bool makeBackup) { makeBackup_ = makeBackup; }
  // CRC-32 of the bytes written by the last store.
  uint32_t GetCrc() const { return crc_; }

 protected:
  // Ends a store handed back by StoreFile: the new version takes the file's name, the
  // previous one kept as backup. Failures are traced under the caller's name (function, file)
  // with the message of the step that failed, and give E_FAIL; the file then keeps its
  // previous content. closeMessage is traced when the new version could not be finished.
  HRESULT CloseStore(std::unique_ptr<VrSaveStream>& stream, const char* function, const char* file,
                     const char* closeMessage);
  // Reads the whole stream into bytes and closes it: E_VRFILE_CONTENT for an empty file
  // (emptyMessage traced), E_OUTOFMEMORY when no buffer (noBufferMessage), E_VRFILE_READ,
  // E_VRFILE_CLOSE. Traced under the caller's name.
  HRESULT ReadStream(VrReadStream& stream, std::string& bytes, const char* function, const char* file,
                     const char* emptyMessage, const char* noBufferMessage);
  // Line count := 1 + number of LF characters in the content (0 without content).
  void CountLines();
  // The text as Append adds it in the line-end mode: CRs dropped, LF as CR LF for LINES_CRLF,
  // and a line end added when asked for.
  WString PrepareAppendPiece(WStringView text, bool addLineEnd) const;
  // UTF-16 units as little-endian bytes, behind the header FF FE when asked for.
  static std::string ToUtf16LeBytes(WStringView units, bool header);

  WString path_;
  WString content_;
  bool hasContent_ = false;
  uint32_t encoding_;
  uint32_t lineEnds_;
  bool hasHeader_ = false;
  uint64_t fileLength_ = 0;
  uint32_t lineCount_ = 0;
  VrTextPosition position_;
  bool makeBackup_ = true;
  uint32_t crc_ = 0;

 private:
  bool ReadLineImpl(VrTextLine& line, const WChar* prefix, bool skipEmpty, bool skipComments);
  bool GoBackOneLineImpl(const VrTextPosition* start, bool skipEmpty, bool skipComments);
  HRESULT StoreFileImpl(bool close, std::unique_ptr<VrSaveStream>* streamOut);
};
