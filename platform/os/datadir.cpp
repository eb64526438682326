#include "platform/os/datadir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/os/dir.h"
#include "platform/os/process.h"

namespace vr::os {
namespace {

}  // namespace

std::string DataDir() {
  if (const char* d = std::getenv("VR_DATA_DIR"); d && *d) return d;
  const std::string bin = RunningProgramFolder();
  if (!bin.empty()) {
    const std::string installed = bin + "/../share/vorant";
    if (IsNativeDirectory(installed)) return installed;
  }
  return VR_SOURCE_DATA_DIR;
}

}  // namespace vr::os
