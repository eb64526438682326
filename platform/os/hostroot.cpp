#include "platform/os/hostroot.h"

#include <sys/stat.h>

#include <cstdlib>

namespace vr::os {

std::string HostRoot() {
  std::string root;
  if (const char* r = std::getenv("VR_HOST_ROOT"); r && *r) root = r;
  else if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) root = std::string(x) + "/vorant/host";
  else if (const char* h = std::getenv("HOME"); h && *h) root = std::string(h) + "/.local/share/vorant/host";
  else root = "/var/lib/vorant/host";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

std::string HostPath(const std::string& relative) { return HostRoot() + "/" + relative; }

bool HostExists() {
  struct stat st;
  return ::stat(HostPath(kHostMarkerFile).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace vr::os
