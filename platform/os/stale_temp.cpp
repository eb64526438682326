#include "platform/os/stale_temp.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/file.h"

namespace vr::os {

bool IsHostTempFileName(std::string_view name) {
  if (name.size() > 8 && name.substr(0, 8) == ".vrcopy-") return true;
  return name.size() > 5 && name[0] == '.' && name.substr(name.size() - 4) == ".tmp";
}

namespace {

long Sweep(const std::string& folder, long long olderThan, bool recursive, int& removed) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return Win32FromErrno(errno);
  std::vector<std::string> subfolders;
  long first = ERROR_SUCCESS;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (recursive) subfolders.push_back(path);
      continue;
    }
    if (!S_ISREG(st.st_mode) || !IsHostTempFileName(name) || st.st_mtime >= olderThan) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
    else if (first == ERROR_SUCCESS) first = Win32FromErrno(errno);
  }
  ::closedir(dir);
  for (const auto& sub : subfolders) {
    const long rc = Sweep(sub, olderThan, true, removed);
    if (first == ERROR_SUCCESS) first = rc;
  }
  return first;
}

}  // namespace

long RemoveStaleTempFiles(const std::string& folder, long long olderThan, bool recursive, int& removed) {
  removed = 0;
  if (auto code = vr::fault::Hit("os.RemoveStaleTempFiles")) return *code ? static_cast<long>(*code) : ERROR_ACCESS_DENIED;
  return Sweep(folder, olderThan, recursive, removed);
}

}  // namespace vr::os
