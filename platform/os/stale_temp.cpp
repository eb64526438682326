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

long Sweep(const std::string& folder, long long olderThan, bool recursive, int& removed,
           bool (*matches)(std::string_view name, std::string_view prefix, std::string_view suffix),
           std::string_view prefix, std::string_view suffix) {
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return Win32FromErrno(errno);
  std::vector<std::string> subfolders;
  long first = ERROR_SUCCESS;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    // Only a name that could be ours, or a folder to descend into, needs a look at the file: a
    // temporary folder may hold thousands of entries of other programs, and every run sweeps it.
    const bool candidate = matches(name, prefix, suffix);
    if (!candidate && (!recursive || (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN))) continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      if (recursive) subfolders.push_back(path);
      continue;
    }
    if (!S_ISREG(st.st_mode) || !candidate || st.st_mtime >= olderThan) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
    else if (first == ERROR_SUCCESS) first = Win32FromErrno(errno);
  }
  ::closedir(dir);
  for (const auto& sub : subfolders) {
    const long rc = Sweep(sub, olderThan, true, removed, matches, prefix, suffix);
    if (first == ERROR_SUCCESS) first = rc;
  }
  return first;
}

bool HostTemp(std::string_view name, std::string_view, std::string_view) { return IsHostTempFileName(name); }

bool Named(std::string_view name, std::string_view prefix, std::string_view suffix) {
  return name.size() > prefix.size() + suffix.size() && name.substr(0, prefix.size()) == prefix &&
         name.substr(name.size() - suffix.size()) == suffix;
}

}  // namespace

long RemoveStaleTempFiles(const std::string& folder, long long olderThan, bool recursive, int& removed) {
  removed = 0;
  if (auto error = vr::fault::InjectedWin32("os.RemoveStaleTempFiles", ERROR_ACCESS_DENIED)) return *error;
  return Sweep(folder, olderThan, recursive, removed, HostTemp, {}, {});
}

long RemoveStaleNamedFiles(const std::string& folder, std::string_view prefix, std::string_view suffix,
                           long long olderThan, int& removed) {
  removed = 0;
  if (auto error = vr::fault::InjectedWin32("os.RemoveStaleTempFiles", ERROR_ACCESS_DENIED)) return *error;
  return Sweep(folder, olderThan, false, removed, Named, prefix, suffix);
}

}  // namespace vr::os
