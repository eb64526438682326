// vrhost init: the instrumentation source files that the demo registration files copy, put in
// the server's data folder ("DataDir"\instrumentation) from the installed data, so that
// registering examples/NewPlatformRiscV.xml copies them without warnings.
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/os/dir.h"
#include "platform/text/convert.h"
#include "tools/vrhost/HostLayout.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {
namespace {

// Source folders below the installed data folder, each with the files it holds.
struct SourceFolder {
  const char* folder;
  std::vector<const char*> files;
};

const SourceFolder kSources[] = {
    {"instrumentation/riscv64", {"vr_riscv_mon.sh", "vr_riscv_probe.cfg", "vr_riscv_legacy.sh"}},
};

}  // namespace

bool CopyInstrumentationSources(const InitContext& c, std::string& error) {
  for (const SourceFolder& source : kSources) {
    const std::string target = c.root + "/" + kDataFolder + "/" + source.folder;
    if (long rc = vr::os::CreateDirectoryTree(vr::text::Utf8ToWide(target)); rc != ERROR_SUCCESS) {
      error = "cannot create folder " + target + ": error " + std::to_string(rc);
      return false;
    }
    for (const char* file : source.files) {
      const std::string from = c.dataDir + "/" + source.folder + "/" + file;
      const std::string to = target + "/" + file;
      if (long rc = vr::os::CopyFile(vr::text::Utf8ToWide(from), vr::text::Utf8ToWide(to), false);
          rc != ERROR_SUCCESS) {
        error = "cannot copy " + from + " to " + to + ": error " + std::to_string(rc);
        return false;
      }
    }
  }
  return true;
}

}  // namespace vrhost
