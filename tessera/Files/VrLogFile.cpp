#include "tessera/Files/VrLogFile.h"

#include "platform/text/byte_order_mark.h"
#include "platform/text/convert.h"
#include "tessera/Files/VrFileTrace.h"

VrLogFile::VrLogFile(const WChar* path, bool hasHeader)
    : VrTextFile(path && *path ? path : nullptr, TEXT_UNICODE, LINES_CRLF) {
  hasHeader_ = hasHeader;
}

VrLogFile::~VrLogFile() {
  VR_TRACE_FUNCTION("VrLogFile::~VrLogFile", "Files\\VrLogFile", vr::files::kTraceFlags);
  try {
    if (writeStream_)
      CloseWriteStream(vrTraceFunction_, vrTraceFile_);
    else if (!path_.empty() && !content_.empty() && !saved_)
      VrLogFile::SaveFile();
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
  }
}

bool VrLogFile::CloseWriteStream(const char* vrTraceFunction_, const char* vrTraceFile_) {
  const long rc = writeStream_->Close();
  writeStream_.reset();
  if (rc == ERROR_SUCCESS) return true;
  VR_TRACE_FAILURE("fclose", rc);
  return false;
}

void VrLogFile::Free(bool all) {
  const bool hasHeader = hasHeader_;
  VrTextFile::Free(all);
  hasHeader_ = hasHeader;
}

bool VrLogFile::IsCommentLine(WStringView text) { return !text.empty() && text[0] == u'#'; }

HRESULT VrLogFile::OpenForWriteAsNonBuffered(bool append) {
  VR_TRACE_FUNCTION("VrLogFile::OpenForWriteAsNonBuffered", "Files\\VrLogFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    if (writeStream_) {
      if (append) VR_FILE_RETURN(S_OK);
      hr = SaveFile();  // ends the present write-through
      if (FAILED(hr)) VR_FILE_RETURN(hr);
    }
    if (const long rc = vr::os::File::Open(path_, append ? "ab" : "wb", vr::os::Share::DenyNone, writeStream_)) {
      VR_TRACE_FAILURE("_wfopen", rc);
      writeStream_.reset();
      VR_FILE_RETURN(E_FAIL);
    }
    uint64_t size = 0;
    if (const long rc = writeStream_->Size(size)) VR_TRACE_FAILURE("_filelength", rc);
    if (append && size > 0) {
      AppendLine(u"", true);  // new output starts on a fresh line
    } else if (hasHeader_ && (encoding_ == TEXT_UNICODE || encoding_ == TEXT_UTF8)) {
      const std::string header(encoding_ == TEXT_UNICODE ? vr::text::kUtf16LeMark : vr::text::kUtf8Mark);
      size_t written = 0;
      if (writeStream_->Write(header.data(), header.size(), written) != ERROR_SUCCESS || written != header.size())
        VR_TRACE_ERROR("Error during writing to the file.");
    }
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  VR_FILE_RETURN(hr);
}

void VrLogFile::AppendLine(WStringView text, bool addLineEnd) {
  VR_TRACE_FUNCTION("VrLogFile::AppendLine", "Files\\VrLogFile", vr::files::kTraceFlags);
  try {
    if (!text.empty() || addLineEnd) saved_ = false;
    if (writeStream_) {
      const WString piece = PrepareAppendPiece(text, addLineEnd);
      std::string bytes;
      bool converted = true;
      if (encoding_ == TEXT_UNICODE)
        bytes = ToUtf16LeBytes(piece, false);
      else if (encoding_ == TEXT_UTF8)
        converted = vr::text::WideToUtf8Strict(piece, bytes);
      else if (encoding_ == TEXT_ASCII)
        converted = vr::text::WideToMbcs(piece, bytes);
      else
        converted = false;
      if (converted && !bytes.empty()) {
        size_t written = 0;
        const long rc = writeStream_->Write(bytes.data(), bytes.size(), written);
        if (rc != ERROR_SUCCESS || written != bytes.size()) VR_TRACE_ERROR("Error during writing to the file.");
        else if (durable_ && syncBatches_ > 0)
          syncPending_ = true;
        else if (durable_)
          if (const long sync = writeStream_->Sync()) VR_TRACE_FAILURE("FlushFileBuffers", sync);
      }
    }
  } catch (const std::bad_alloc&) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_, ": out of memory");
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
  }
  // The memory copy and the line count always hold everything appended.
  VrTextFile::Append(text, addLineEnd);
}

HRESULT VrLogFile::SaveFile() {
  VR_TRACE_FUNCTION("VrLogFile::SaveFile", "Files\\VrLogFile", vr::files::kTraceFlags);
  HRESULT hr = S_OK;
  try {
    if (writeStream_) {
      if (!CloseWriteStream(vrTraceFunction_, vrTraceFile_)) hr = E_FAIL;
    } else if (!path_.empty() && !content_.empty()) {
      hr = VrTextFile::SaveFile();
    }
    saved_ = true;
  }
  VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
  VR_FILE_RETURN(hr);
}

VrLogFile::SyncBatch::SyncBatch(VrLogFile* log) : log_(log) {
  if (log_) ++log_->syncBatches_;
}

VrLogFile::SyncBatch::~SyncBatch() {
  VR_TRACE_FUNCTION("VrLogFile::SyncBatch::~SyncBatch", "Files\\VrLogFile", vr::files::kTraceFlags);
  if (!log_ || --log_->syncBatches_ > 0 || !log_->syncPending_) return;
  log_->syncPending_ = false;
  if (log_->writeStream_)
    if (const long sync = log_->writeStream_->Sync()) VR_TRACE_FAILURE("FlushFileBuffers", sync);
}
