// Helpers of the POSIX implementation of this layer (not an interface of the host).
#pragma once
#include <cerrno>
#include <string>

#include "platform/com/hresult.h"
#include "platform/os/path.h"
#include "platform/text/convert.h"

namespace vr::os::internal {

// The POSIX file name a program's path stands for: '\' as '/', UTF-8.
inline std::string Native(WStringView path) { return vr::text::WideToUtf8(ToNativeSeparators(path)); }

// The Win32 error of an errno value; missing tells what ENOENT means at the call site.
inline long ErrorFromErrno(int err, long missing = ERROR_FILE_NOT_FOUND) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return missing;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBUSY: return ERROR_BUSY;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EIO: return ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace vr::os::internal
