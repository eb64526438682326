// The management server's cluster-information tool, answering from the host's cluster state:
//   VrMsClusterInfo -getInstallationStatus   exit status 5 when the server is installed on a
//                                            cluster, 0 when it stands alone
//   VrMsClusterInfo -getResourceGroupName    the server's resource group name, bare, on
//                                            standard output (nothing when there is none)
// A state that cannot be read is reported on standard error with exit status 1.
//   VrMsClusterInfo --help | --version       the usage or the version on standard output
#include <cstdio>
#include <string>

#include "platform/cluster/cluster.h"
#include "platform/com/hresult.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "vr_version.h"

namespace {

constexpr int kFailure = 1;

constexpr const char* kUsage = "usage: VrMsClusterInfo -getInstallationStatus | -getResourceGroupName\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return kFailure;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Usage();
  const WString option = vr::text::Utf8ToWide(argv[1]);
  if (option == u"--help" || option == u"-h" || option == u"-?") {
    std::fputs(kUsage, stdout);
    return std::fflush(stdout) == 0 ? 0 : kFailure;
  }
  if (option == u"--version") {
    std::printf("VrMsClusterInfo %s\n", VR_PACKAGE_VERSION);
    return std::fflush(stdout) == 0 ? 0 : kFailure;
  }
  const bool status = vr::text::EqualsNoCase(option, u"-getInstallationStatus");
  const bool group = vr::text::EqualsNoCase(option, u"-getResourceGroupName");
  if (!status && !group) return Usage();

  DWORD installation = vr::cluster::kStandalone;
  WString resourceGroup;
  if (const long rc = vr::cluster::ReadInstallation(installation, resourceGroup); rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "VrMsClusterInfo: the cluster installation state cannot be read (error %ld)\n", rc);
    return kFailure;
  }
  if (status) return static_cast<int>(installation & 0xFF);
  const std::string name = vr::text::WideToUtf8(resourceGroup);
  std::fwrite(name.data(), 1, name.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : kFailure;
}
