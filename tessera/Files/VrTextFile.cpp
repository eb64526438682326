#include "tessera/Files/VrTextFile.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/os/path.h"
#include "platform/text/byte_order_mark.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "tessera/Files/VrCrc32.h"
#include "tessera/Files/VrFileTrace.h"

namespace {

constexpr const char* kTraceFile = "Files\\VrTextFile";
constexpr size_t kMaxContentUnits = 0xFFFFFFF0u;  // positions are 32-bit

const VrCrc32& Crc() {
  static const VrCrc32 crc;
  return crc;
}

// UTF-16 units as little-endian bytes, optionally behind a header unit.
std::string UnitsToBytes(WStringView units, bool header) {
  std::string bytes;
  bytes.resize((units.size() + (header ? 1 : 0)) * 2);
  char* out = bytes.data();
  if (header) {
    *out++ = '\xFF';
    *out++ = '\xFE';
  }
  if constexpr (std::endian::native == std::endian::little) {
    if (!units.empty()) std::memcpy(out, units.data(), units.size() * 2);
  } else {
    for (char16_t u : units) {
      *out++ = static_cast<char>(u & 0xFF);
      *out++ = static_cast<char>(u >> 8);
    }
  }
  return bytes;
}

}  // namespace

std::string VrTextFile::ToUtf16LeBytes(WStringView units, bool header) { return UnitsToBytes(units, header); }

long VrSaveStream::Write(const void* data, size_t size, size_t& written) {
  written = 0;
  if (!file_) return ERROR_INVALID_HANDLE;
  return file_->Write(data, size, written);
}

VrTextFile::VrTextFile(const WChar* path, uint32_t encoding, uint32_t lineEnds)
    : path_(path ? path : u""), encoding_(encoding), lineEnds_(lineEnds) {}

VrTextFile::~VrTextFile() { VrTextFile::Free(true); }

// ---- Opening and loading

HRESULT VrTextFile::OpenFile(VrReadStream& stream) {
  VR_TRACE_FUNCTION("VrTextFile::OpenFile", "Files\\VrTextFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    if (stream) {
      VR_TRACE_ERROR("Pointer to supposedly already opened file was given to OpenFile().");
      hr = E_VRFILE_OPEN;
    } else if (path_.empty()) {
      VR_TRACE_ERROR("Path of Configuration File wasn't set.");
      hr = E_VRFILE_OPEN;
    } else if (const long rc = vr::os::File::Open(path_, "rb", vr::os::Share::DenyWrite, stream)) {
      VR_TRACE_FAILURE("_wfsopen", rc);
      if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_PATH_NOT_FOUND)
        VR_TRACE_ERROR("Path or file not found for: ", path_);
      else if (rc == ERROR_SHARING_VIOLATION)
        VR_TRACE_ERROR("Sharing violation for: ", path_);
      else
        VR_TRACE_ERROR("Unknown error during file opening: ", path_);
      hr = E_VRFILE_OPEN;
    }
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_VRFILE_OPEN)
  VR_FILE_RETURN(hr);
}

HRESULT VrTextFile::ReadStream(VrReadStream& stream, std::string& bytes, const char* vrTraceFunction_,
                               const char* vrTraceFile_, const char* emptyMessage, const char* noBufferMessage) {
  bytes.clear();
  if (!stream) {
    VR_TRACE_ERROR("No opened file was given.");
    return E_VRFILE_READ;
  }
  HRESULT hr = S_OK;
  uint64_t length = 0;
  if (const long rc = stream->Size(length)) {
    VR_TRACE_FAILURE("_filelength", rc);
    hr = E_VRFILE_READ;
  } else if (length == 0) {
    VR_TRACE_ERROR(emptyMessage);
    hr = E_VRFILE_CONTENT;
  } else {
    bool haveBuffer = length < bytes.max_size() - 2;
    if (haveBuffer) {
      try {
        bytes.resize(static_cast<size_t>(length));
      } catch (const std::bad_alloc&) {
        haveBuffer = false;
      }
    }
    if (!haveBuffer) {
      VR_TRACE_ERROR(noBufferMessage);
      hr = E_OUTOFMEMORY;
    } else {
      size_t got = 0;
      if (const long rc = stream->Read(bytes.data(), bytes.size(), got)) {
        VR_TRACE_FAILURE("fread", rc);
        hr = E_VRFILE_READ;
      }
      bytes.resize(got);
    }
  }
  if (const long rc = stream->Close()) {
    VR_TRACE_FAILURE("fclose", rc);
    if (SUCCEEDED(hr)) hr = E_VRFILE_CLOSE;
  }
  stream.reset();
  if (FAILED(hr)) bytes = std::string();
  return hr;
}

HRESULT VrTextFile::LoadFile(VrReadStream& stream) {
  VR_TRACE_FUNCTION("VrTextFile::LoadFile", "Files\\VrTextFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    Free(false);
    position_.Reset();
    std::string bytes;
    hr = ReadStream(stream, bytes, vrTraceFunction_, vrTraceFile_, "File is empty.",
                    "Could not allocate buffer for reading the text file.");
    if (SUCCEEDED(hr)) {
      fileLength_ = bytes.size();
      hr = SetContentToUnicode(bytes);
      if (SUCCEEDED(hr)) position_.Reset();
      else Free(false);
    }
    if (hasContent_) CountLines();
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  if (FAILED(hr)) Free(false);  // a failed load leaves the object empty
  VR_FILE_RETURN(hr);
}

HRESULT VrTextFile::LoadFile() {
  VR_TRACE_FUNCTION("VrTextFile::LoadFile", "Files\\VrTextFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    VrReadStream stream;
    hr = OpenFile(stream);
    if (SUCCEEDED(hr)) hr = LoadFile(stream);
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  VR_FILE_RETURN(hr);
}

HRESULT VrTextFile::SetContentToUnicode(std::string_view bytes) {
  VR_TRACE_FUNCTION("VrTextFile::SetContentToUnicode", "Files\\VrTextFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    hasHeader_ = false;
    WString wide;
    if (encoding_ == TEXT_UNICODE) {
      if (vr::text::SniffByteOrderMark(bytes) == vr::text::ByteOrderMark::Utf16Le) {
        bytes.remove_prefix(vr::text::kUtf16LeMark.size());
        hasHeader_ = true;
      }
      // The text ends at the first zero unit. An odd last byte is a unit of its own (its high
      // byte zero, as the terminator behind the data gives it).
      const size_t units = (bytes.size() + 1) / 2;
      wide.resize(units);
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(wide.data(), bytes.data(), bytes.size());
        if (bytes.size() % 2) wide.back() = static_cast<unsigned char>(bytes.back());
      } else {
        for (size_t i = 0; i < units; ++i) {
          const unsigned lo = static_cast<unsigned char>(bytes[2 * i]);
          const unsigned hi = 2 * i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[2 * i + 1]) : 0;
          wide[i] = static_cast<char16_t>(lo | (hi << 8));
        }
      }
      const size_t zero = wide.find(u'\0');
      if (zero != WString::npos) wide.resize(zero);
    } else {
      const size_t zero = bytes.find('\0');
      if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
      if (encoding_ == TEXT_UTF8) {
        if (vr::text::SniffByteOrderMark(bytes) == vr::text::ByteOrderMark::Utf8) {
          bytes.remove_prefix(vr::text::kUtf8Mark.size());
          hasHeader_ = true;
        }
        // Invalid sequences become U+FFFD, as the system conversion does.
        wide = vr::text::Utf8ToWide(bytes);
      } else if (encoding_ == TEXT_ASCII) {
        if (!vr::text::MbcsToWide(bytes, wide)) {
          VR_TRACE_FAILURE("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION);
          hr = E_VRFILE_CONTENT;
        }
      } else {
        VR_TRACE_ERROR("Unknown text encoding ", static_cast<unsigned>(encoding_), ".");
        hr = E_VRFILE_CONTENT;
      }
    }
    if (SUCCEEDED(hr) && wide.size() > kMaxContentUnits) {
      VR_TRACE_ERROR("Text is too long for line positions.");
      hr = E_VRFILE_CONTENT;
    }
    if (SUCCEEDED(hr)) {
      content_ = std::move(wide);
      hasContent_ = true;
    }
  }
  catch (const std::bad_alloc&) {
    VR_TRACE_FAILURE("MultiByteToWideChar", ERROR_NOT_ENOUGH_MEMORY);
    hr = encoding_ == TEXT_UNICODE ? E_VRFILE_CONTENT : E_OUTOFMEMORY;
  }
  catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    hr = E_FAIL;
  }
  VR_FILE_RETURN(hr);
}

void VrTextFile::CountLines() {
  if (!hasContent_) {
    lineCount_ = 0;
    return;
  }
  lineCount_ = 1 + static_cast<uint32_t>(std::count(content_.begin(), content_.end(), u'\n'));
}

// ---- Reading

bool VrTextFile::IsCommentLine(WStringView) { return false; }

bool VrTextFile::ReadLine(VrTextLine& line, const WChar* prefix, bool skipEmpty, bool skipComments) {
  VR_TRACE_FUNCTION("VrTextFile::ReadLine", "Files\\VrTextFile", vr::files::kTraceFlags);
  bool result = false;
  try {
    result = ReadLineImpl(line, prefix, skipEmpty, skipComments);
  }
  VR_FILE_CATCH(result, false, false)
  VR_FILE_RETURN(result);
}

bool VrTextFile::ReadLineImpl(VrTextLine& line, const WChar* prefix, bool skipEmpty, bool skipComments) {
  const WStringView content(content_);
  const size_t n = content.size();
  for (;;) {
    line.Clear();
    line.position_ = position_;
    if (lineCount_ != 0 && position_.line > lineCount_) {
      line.atEnd_ = true;
      return false;
    }
    const size_t start = std::min<size_t>(position_.offset, n);
    const size_t lf = content.find(u'\n', start);
    size_t end;
    bool last = false;
    if (lf != WStringView::npos) {
      // The CRs right before the LF belong to the line end; a CR elsewhere is text.
      end = lf;
      while (end > start && content[end - 1] == u'\r') --end;
      position_.offset = static_cast<uint32_t>(lf + 1);
      ++position_.line;
    } else {
      end = n;
      last = true;
      line.atEnd_ = true;
      lineCount_ = position_.line;
      position_.offset = static_cast<uint32_t>(n);
      ++position_.line;
    }
    line.text_.assign(content.substr(start, end - start));

    const WChar* s = line.text_.data();
    size_t b = 0, e = line.text_.size();
    while (b < e && VrIsWhiteSpace(s[b])) ++b;
    bool empty;
    if (skipComments && b < e && IsCommentLine(WStringView(s + b, e - b))) {
      empty = true;
    } else {
      while (e > b && VrIsWhiteSpace(s[e - 1])) --e;
      empty = b == e;
    }
    if (empty) {
      if (!skipEmpty || last) return !prefix || !*prefix;
      continue;
    }
    line.Tokenise(b, e);
    if (!prefix || !*prefix) return true;
    const WStringView want(prefix);
    return e - b >= want.size() && vr::text::EqualsNoCase(WStringView(s + b, want.size()), want);
  }
}

bool VrTextFile::GoBackOneLine(const VrTextPosition* start, bool skipEmpty, bool skipComments) {
  VR_TRACE_FUNCTION("VrTextFile::GoBackOneLine", "Files\\VrTextFile", vr::files::kTraceFlags);
  bool result = false;
  try {
    result = GoBackOneLineImpl(start, skipEmpty, skipComments);
  }
  VR_FILE_CATCH(result, false, false)
  VR_FILE_RETURN(result);
}

bool VrTextFile::GoBackOneLineImpl(const VrTextPosition* start, bool skipEmpty, bool skipComments) {
  VrTextPosition p = start ? *start : position_;
  const WStringView content(content_);
  if (p.offset == 0 || p.offset > content.size()) return false;
  for (bool first = true;; first = false) {
    // Behind the last line, when it had no line end, the position is the end of that line;
    // otherwise the line before ends at the LF before the position, less its CRs. Only the
    // first step can be behind the last line, so every further step moves back.
    size_t end = p.offset;
    const bool behindLastLine =
        first && ((lineCount_ != 0 && p.line > lineCount_) || content[p.offset - 1] != u'\n');
    if (!behindLastLine) {
      end = p.offset - 1;
      while (end > 0 && content[end - 1] == u'\r') --end;
    }
    size_t s = end;
    while (s > 0 && content[s - 1] != u'\n') --s;
    size_t b = s;
    while (b < end && VrIsWhiteSpace(content[b])) ++b;
    bool empty;
    if (skipComments && b < end && IsCommentLine(content.substr(b, end - b))) {
      empty = true;
    } else {
      size_t e = end;
      while (e > b && VrIsWhiteSpace(content[e - 1])) --e;
      empty = b == e;
    }
    if (p.line > 1) --p.line;
    p.offset = static_cast<uint32_t>(s);
    if (!skipEmpty || !empty) {
      position_ = p;
      return true;
    }
    if (p.offset == 0) return false;
  }
}

bool VrTextFile::ReadPrevLine(VrTextLine& line, const WChar* prefix, bool skipEmpty, bool skipComments) {
  VR_TRACE_FUNCTION("VrTextFile::ReadPrevLine", "Files\\VrTextFile", vr::files::kTraceFlags);
  bool result = false;
  try {
    // Back over the line just read and over the one before it, then read that one. At the
    // first line there is no line before: nothing is read and the position stays.
    const VrTextPosition saved = position_;
    if (GoBackOneLine(nullptr, skipEmpty, skipComments) && GoBackOneLine(nullptr, skipEmpty, skipComments)) {
      result = ReadLine(line, prefix, skipEmpty, skipComments);
    } else {
      position_ = saved;
      line.Clear();
      line.position_ = position_;
    }
  }
  VR_FILE_CATCH(result, false, false)
  VR_FILE_RETURN(result);
}

// ---- Appending and freeing

WString VrTextFile::PrepareAppendPiece(WStringView text, bool addLineEnd) const {
  const bool crlf = lineEnds_ == LINES_CRLF;
  WString piece;
  piece.reserve(text.size() + 2);
  for (WChar c : text) {
    if (c == u'\r') continue;
    if (c == u'\n' && crlf) piece += u'\r';
    piece += c;
  }
  if (addLineEnd) piece += crlf ? u"\r\n" : u"\n";
  return piece;
}

void VrTextFile::Append(WStringView text, bool addLineEnd) {
  VR_TRACE_FUNCTION("VrTextFile::Append", "Files\\VrTextFile", vr::files::kTraceFlags);
  try {
    WString piece = PrepareAppendPiece(text, addLineEnd);
    if (content_.size() + piece.size() > kMaxContentUnits) {
      VR_TRACE_ERROR("Text is too long for line positions.");
      return;
    }
    uint32_t lines = 0;
    if (!hasContent_ && (!text.empty() || addLineEnd)) ++lines;  // the first line begins
    lines += static_cast<uint32_t>(std::count(text.begin(), text.end(), u'\n'));
    if (addLineEnd) ++lines;
    content_ += piece;
    if (!text.empty() || addLineEnd) hasContent_ = true;
    lineCount_ += lines;
  } catch (const std::bad_alloc&) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_, ": out of memory");
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
  }
}

void VrTextFile::Free(bool all) {
  content_ = WString();
  hasContent_ = false;
  fileLength_ = 0;
  lineCount_ = 0;
  hasHeader_ = false;
  if (all) {
    path_ = WString();
    encoding_ = 0;
    lineEnds_ = 0;
  }
}

// ---- Storing

HRESULT VrTextFile::SaveFile() {
  VR_TRACE_FUNCTION("VrTextFile::SaveFile", "Files\\VrTextFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    hr = StoreFile(true, nullptr);
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  VR_FILE_RETURN(hr);
}

HRESULT VrTextFile::StoreFile(bool close, std::unique_ptr<VrSaveStream>* streamOut) {
  VR_TRACE_FUNCTION("VrTextFile::StoreFile", "Files\\VrTextFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    hr = StoreFileImpl(close, streamOut);
  }
  VR_FILE_CATCH(hr, E_FAIL, E_FAIL)
  VR_FILE_RETURN(hr);
}

HRESULT VrTextFile::StoreFileImpl(bool close, std::unique_ptr<VrSaveStream>* streamOut) {
  static constexpr const char* vrTraceFunction_ = "\"VrTextFile::StoreFile\"";
  static constexpr const char* vrTraceFile_ = kTraceFile;
  if (streamOut) streamOut->reset();

  WString fullPath;
  if (path_.empty() || !vr::os::FullPath(path_, fullPath, vr::os::kMaxPath)) {
    VR_TRACE_ERROR("Invalid file path for: ", path_);
    return E_FAIL;
  }
  auto stream = std::make_unique<VrSaveStream>();
  stream->fullPath_ = fullPath;
  if (makeBackup_) stream->backupPath_ = fullPath + u".bak";

  // The bytes are made before anything on disk is touched.
  std::string bytes;
  uint32_t crc = 0;
  bool crcMade = false;
  if (encoding_ == TEXT_UTF8) {
    if (!vr::text::WideToUtf8Strict(content_, bytes)) {
      VR_TRACE_ERROR("Error during codeset conversion (Unicode to UTF8)!");
      return E_FAIL;
    }
    if (hasHeader_) {
      try {
        bytes.insert(0, vr::text::kUtf8Mark);
      } catch (const std::bad_alloc&) {
        VR_TRACE_ERROR("Out of memory during string allocation for UTF8 header!");
        return E_FAIL;
      }
    }
    crcMade = Crc().Update(bytes, crc);
  } else if (encoding_ == TEXT_UNICODE) {
    try {
      bytes = UnitsToBytes(content_, hasHeader_);
    } catch (const std::bad_alloc&) {
      VR_TRACE_ERROR("Out of memory during string allocation for UNICODE header!");
      return E_FAIL;
    }
    if (hasHeader_) {
      // The header unit FEFF enters the checksum through its low byte, as every unit does.
      WString units;
      units.reserve(content_.size() + 1);
      units += u'\xFEFF';
      units += content_;
      crcMade = Crc().Update(WStringView(units), crc);
    } else {
      crcMade = Crc().Update(WStringView(content_), crc);
    }
  } else if (encoding_ == TEXT_ASCII) {
    if (!vr::text::WideToMbcs(content_, bytes)) {
      VR_TRACE_ERROR("Error during codeset conversion (Unicode to ASCII)!");
      return E_FAIL;
    }
    crcMade = Crc().Update(bytes, crc);
  } else {
    VR_TRACE_ERROR("Unknown text encoding ", static_cast<unsigned>(encoding_), ".");
    return E_FAIL;
  }
  if (!crcMade) {
    VR_TRACE_ERROR("No CRC table for the checksum of the file.");
    return E_FAIL;
  }

  if (const long rc = vr::os::AtomicFile::Create(fullPath, stream->file_)) {
    VR_TRACE_FAILURE("_wfopen", rc);
    if (rc == ERROR_PATH_NOT_FOUND)
      VR_TRACE_ERROR("Path not found for: ", fullPath);
    else if (rc == ERROR_SHARING_VIOLATION)
      VR_TRACE_ERROR("Sharing violation for: ", fullPath);
    else
      VR_TRACE_ERROR("Unknown error during file opening: ", path_);
    return E_FAIL;
  }
  if (!bytes.empty()) {
    size_t written = 0;
    const long rc = stream->Write(bytes.data(), bytes.size(), written);
    if (rc != ERROR_SUCCESS || written != bytes.size()) {
      if (rc) VR_TRACE_FAILURE("fwrite", rc);
      VR_TRACE_ERROR("Error during writing buffer content to file!");
      return E_FAIL;  // the new version is dropped with the stream
    }
  }
  crc_ = crc;

  if (close || !streamOut) return CloseStore(stream, vrTraceFunction_, vrTraceFile_, "Failed to close the file!");
  *streamOut = std::move(stream);
  return S_OK;
}

HRESULT VrTextFile::CloseStore(std::unique_ptr<VrSaveStream>& stream, const char* vrTraceFunction_,
                               const char* vrTraceFile_, const char* closeMessage) {
  if (!stream || !stream->file_) {
    VR_TRACE_ERROR(closeMessage);
    return E_FAIL;
  }
  vr::os::AtomicFile::Step step = vr::os::AtomicFile::Step::None;
  const long rc = stream->file_->Commit(stream->backupPath_, step);
  const WString fullPath = stream->fullPath_, backupPath = stream->backupPath_;
  stream.reset();
  if (rc == ERROR_SUCCESS) return S_OK;
  using Step = vr::os::AtomicFile::Step;
  switch (step) {
    case Step::BackupAccess:
      VR_TRACE_ERROR("Cannot access existing backup file: ", backupPath);
      break;
    case Step::BackupDelete:
      VR_TRACE_FAILURE("DeleteFile", rc);
      VR_TRACE_ERROR("Cannot delete previous backup file: ", backupPath);
      break;
    case Step::TargetAccess:
      VR_TRACE_ERROR("Cannot access existing file: ", fullPath);
      break;
    case Step::BackupKeep:
      VR_TRACE_FAILURE("_wrename", rc);
      VR_TRACE_ERROR("Cannot rename existing backup file: ", backupPath);
      break;
    default:
      VR_TRACE_FAILURE("fclose", rc);
      VR_TRACE_ERROR(closeMessage);
      break;
  }
  return E_FAIL;
}
