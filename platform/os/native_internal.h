// Helpers of the POSIX implementation of this layer (not an interface of the host).
#pragma once
#include <cerrno>
#include <string>

#include "platform/com/hresult.h"
#include "platform/os/file.h"

namespace vr::os::internal {

// The POSIX file name a program's path stands for: '\' as '/', UTF-8.
inline std::string Native(WStringView path) { return NativePath(path); }

// The Win32 error of an errno value; missing tells what ENOENT means at the call site, and
// an existing name is "already exists" as the folder calls report it.
inline long ErrorFromErrno(int err, long missing = ERROR_FILE_NOT_FOUND) {
  if (err == ENOENT) return missing;
  if (err == EEXIST) return ERROR_ALREADY_EXISTS;
  if (err == EIO) return ERROR_GEN_FAILURE;
  return Win32FromErrno(err);
}

// Writes all of data, retrying short writes and EINTR; a write that makes no progress is
// ERROR_WRITE_FAULT (never a loop without end). written: the bytes that went out.
long WriteAllBytes(int fd, const void* data, size_t size, size_t& written);
// Copies the rest of in to out, then flushes out to disk.
long CopyAllBytes(int in, int out);

}  // namespace vr::os::internal
