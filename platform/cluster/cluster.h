// The cluster service of the management server's computer, answered from cluster state kept
// in the host registry (HKEY_LOCAL_MACHINE):
//
//   Cluster                          "ClusterName" REG_SZ: the local cluster's name
//   Cluster\Groups\<group>           "OwnerNode" REG_SZ: the node that owns the group
//                                    "State" REG_DWORD: a CLUSTER_GROUP_STATE (0 online)
//   SOFTWARE\Tamberlin\VREnterprise\Management Server\ClusterInstallation
//                                    "Status" REG_DWORD: 5 when the server is installed on
//                                    a cluster; "ResourceGroup" REG_SZ: the server's group
//
// A computer without the Cluster key is no cluster node. The calls have the Win32 shapes of
// OpenCluster, OpenClusterGroup, GetClusterGroupState, CloseClusterGroup and CloseCluster;
// failures leave their code for GetLastError. Each call first asks the fault hook with its
// point "cluster.<Call>"; an injected 0 stands for the usual failure named beside it.
//
// Folder platform/cluster, library vr_cluster: host layer of the cluster calls; uses
// platform/registry, os, com, text and fault.
#pragma once
#include "platform/com/types.h"
#include "platform/registry/product_keys.h"
#include "platform/text/wstring.h"

struct ClusterHandle;
struct ClusterGroupHandle;
using HCLUSTER = ClusterHandle*;
using HGROUP = ClusterGroupHandle*;

enum CLUSTER_GROUP_STATE : int {
  ClusterGroupStateUnknown = -1,
  ClusterGroupOnline = 0,
  ClusterGroupOffline = 1,
  ClusterGroupFailed = 2,
  ClusterGroupPartialOnline = 3,
  ClusterGroupPending = 4,
};

// The local cluster for a null or empty name (or its own name); null with
// ERROR_CLUSTER_NOT_INSTALLED when this computer is in no cluster, ERROR_BAD_NETPATH for
// another cluster. Point "cluster.OpenCluster" (ERROR_CLUSTER_NOT_INSTALLED).
HCLUSTER OpenCluster(const WChar* clusterName);
// Null with ERROR_CLUSTER_GROUP_NOT_FOUND when the group does not exist.
// Point "cluster.OpenClusterGroup" (ERROR_CLUSTER_GROUP_NOT_FOUND).
HGROUP OpenClusterGroup(HCLUSTER cluster, const WChar* groupName);
// The group's state and, when nodeName is given, its owner node into nodeName (*cchNodeName
// characters with the terminator on entry, the name's length on return). ClusterGroupStateUnknown
// on failure: ERROR_MORE_DATA with the length needed when the buffer is too small.
// Point "cluster.GetClusterGroupState" (ERROR_INVALID_HANDLE).
CLUSTER_GROUP_STATE GetClusterGroupState(HGROUP group, WChar* nodeName, DWORD* cchNodeName);
// Point "cluster.CloseClusterGroup" (ERROR_INVALID_HANDLE); the handle is released anyway.
BOOL CloseClusterGroup(HGROUP group);
// Point "cluster.CloseCluster" (ERROR_INVALID_HANDLE); the handle is released anyway.
BOOL CloseCluster(HCLUSTER cluster);

namespace vr::cluster {

inline constexpr const WChar* kClusterKey = u"Cluster";
inline constexpr const WChar* kGroupsKey = u"Cluster\\Groups";
inline constexpr const WChar* kInstallationKey =
    vr::keys::kClusterInstallationKey;
constexpr DWORD kInstalledOnCluster = 5;
constexpr DWORD kStandalone = 0;

// What the cluster-information tool answers: the installation status (kStandalone when the
// key or value is missing) and the server's resource group (empty when missing). A registry
// failure other than a missing key or value gives its Win32 error.
long ReadInstallation(DWORD& status, WString& resourceGroup);

// Makes the registry describe a server installed on a cluster whose group is owned by
// ownerNode, in one transaction; replaces any earlier cluster state.
long WriteClusterState(WStringView clusterName, WStringView group, WStringView ownerNode);
// Removes all cluster state: a standalone server.
long ClearClusterState();

}  // namespace vr::cluster
