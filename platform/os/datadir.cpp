#include "platform/os/datadir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace vr::os {
namespace {

bool IsDirectory(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ExecutableDir() {
  std::vector<char> buf(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  std::string exe(buf.data(), static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

}  // namespace

std::string DataDir() {
  if (const char* d = std::getenv("VR_DATA_DIR"); d && *d) return d;
  const std::string bin = ExecutableDir();
  if (!bin.empty()) {
    const std::string installed = bin + "/../share/vorant";
    if (IsDirectory(installed)) return installed;
  }
  return VR_SOURCE_DATA_DIR;
}

}  // namespace vr::os
