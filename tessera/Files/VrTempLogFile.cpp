#include "tessera/Files/VrTempLogFile.h"

#include "platform/os/path.h"
#include "tessera/Files/VrFileTrace.h"

VrTempLogFile::VrTempLogFile(bool deleteOnDestruction, bool hasHeader)
    : VrLogFile(nullptr, hasHeader), deleteOnDestruction_(deleteOnDestruction) {
  VR_TRACE_FUNCTION("VrTempLogFile::VrTempLogFile", "Files\\VrTempLogFile", vr::files::kTraceFlags);
  makeBackup_ = false;
  try {
    WString folder;
    long rc = vr::os::GetTempPath(folder);
    if (rc == ERROR_SUCCESS && folder.size() >= vr::os::kMaxPath) rc = ERROR_INSUFFICIENT_BUFFER;
    if (rc != ERROR_SUCCESS) {
      VR_TRACE_FAILURE("GetTempPath", rc);
      return;
    }
    WString name;
    if ((rc = vr::os::GetTempFileName(folder, u"vrn", name)) != ERROR_SUCCESS) {
      VR_TRACE_FAILURE("GetTempFileName", rc);
      return;
    }
    path_ = name;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
  }
}

VrTempLogFile::VrTempLogFile(const WString& path, bool deleteOnDestruction, bool hasHeader)
    : VrLogFile(nullptr, hasHeader), deleteOnDestruction_(deleteOnDestruction) {
  VR_TRACE_FUNCTION("VrTempLogFile::VrTempLogFile", "Files\\VrTempLogFile", vr::files::kTraceFlags);
  makeBackup_ = false;
  durable_ = true;
  try {
    std::unique_ptr<vr::os::File> file;
    if (const long rc = vr::os::File::Open(path, "wb", vr::os::Share::DenyNone, file)) {
      VR_TRACE_FAILURE("CreateFile", rc);
      return;
    }
    if (const long rc = file->Close()) {
      VR_TRACE_FAILURE("CloseHandle", rc);
      return;
    }
    path_ = path;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
  }
}

VrTempLogFile::~VrTempLogFile() {
  VR_TRACE_FUNCTION("VrTempLogFile::~VrTempLogFile", "Files\\VrTempLogFile", vr::files::kTraceFlags);
  if (!deleteOnDestruction_) return;
  try {
    if (writeStream_) CloseWriteStream(vrTraceFunction_, vrTraceFile_);
    else Free(false);  // nothing is saved
    if (!path_.empty())
      if (const long rc = vr::os::DeleteFile(path_)) VR_TRACE_FAILURE("DeleteFile", rc);
    // Without path and content the log's own destruction writes nothing back.
    Free(true);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
  }
}
