// vrhost cluster [none|active|passive]: shows or changes the cluster role of this computer.
#include <cstdio>

#include "platform/cluster/cluster.h"
#include "platform/com/hresult.h"
#include "platform/os/computer.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "tools/vrhost/HostLayout.h"
#include "tools/vrhost/InitSupport.h"
#include "tools/vrhost/RegistryWrite.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {

bool ApplyClusterRole(const std::string& role, std::string& error) {
  long rc = ERROR_SUCCESS;
  if (role == "none") {
    rc = vr::cluster::ClearClusterState();
  } else {
    const WString self = vr::os::ComputerName();
    if (self.empty()) {
      error = "the computer name cannot be read";
      return false;
    }
    // A passive node: the group belongs to another node of the cluster.
    WString owner = self;
    if (role == "passive") owner = vr::text::EqualsNoCase(self, u"VRMSNODE2") ? u"VRMSNODE1" : u"VRMSNODE2";
    rc = vr::cluster::WriteClusterState(kClusterName, kResourceGroup, owner);
  }
  if (rc != ERROR_SUCCESS) {
    error = "cannot write the cluster state: " + ErrorText(rc);
    return false;
  }
  return true;
}

namespace {

const Command kCluster{"cluster", "cluster [none|active|passive]",
                       "shows the cluster role of this computer, or makes it standalone, the active or a passive node",
                       nullptr};

int ShowCluster() {
  DWORD status = 0;
  WString group;
  if (long rc = vr::cluster::ReadInstallation(status, group); rc != ERROR_SUCCESS) {
    Error("cannot read the cluster state: " + ErrorText(rc));
    return kFailed;
  }
  std::printf("installation status: %u\n", static_cast<unsigned>(status));
  std::printf("computer: %s\n", vr::text::WideToUtf8(vr::os::ComputerName()).c_str());
  if (group.empty()) return kOk;
  std::printf("resource group: %s\n", vr::text::WideToUtf8(group).c_str());
  HCLUSTER cluster = OpenCluster(nullptr);
  HGROUP g = cluster ? OpenClusterGroup(cluster, group.c_str()) : nullptr;
  WChar owner[64];
  DWORD cch = 64;
  if (g && GetClusterGroupState(g, owner, &cch) != ClusterGroupStateUnknown)
    std::printf("owner node: %s\n", vr::text::WideToUtf8(WStringView(owner, cch)).c_str());
  if (g) CloseClusterGroup(g);
  if (cluster) CloseCluster(cluster);
  return kOk;
}

}  // namespace

int RunCluster(std::vector<std::string>& args) {
  if (args.empty()) return ShowCluster();
  if (args.size() != 1 || (args[0] != "none" && args[0] != "active" && args[0] != "passive"))
    return UsageError("the role is none, active or passive", kCluster);
  std::string error;
  if (!ApplyClusterRole(args[0], error)) {
    Error(error);
    return kFailed;
  }
  return kOk;
}

const Command kClusterCommand{kCluster.name, kCluster.synopsis, kCluster.summary, RunCluster};

}  // namespace vrhost
