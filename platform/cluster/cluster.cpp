#include "platform/cluster/cluster.h"

#include <cstring>
#include <mutex>
#include <unordered_set>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/computer.h"
#include "platform/os/lasterror.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/registry/regtools.h"
#include "platform/text/casefold.h"

struct ClusterHandle {
  WString name;
};
struct ClusterGroupHandle {
  WString key;  // the group's key below HKEY_LOCAL_MACHINE
};

namespace {

// Handles given out and not yet closed; a handle not in the set is refused, never followed.
class LiveHandles {
 public:
  void Add(const void* h) {
    std::lock_guard<std::mutex> lock(mutex_);
    set_.insert(h);
  }
  bool Has(const void* h) {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_.count(h) != 0;
  }
  bool Remove(const void* h) {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_.erase(h) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<const void*> set_;
};

LiveHandles& Live() {
  static auto* live = new LiveHandles;
  return *live;
}

// An injected failure, reported as the cluster calls report theirs: through the last error.
bool Injected(const char* point, long usual) {
  const auto error = vr::fault::InjectedWin32(point, usual);
  if (error) SetLastError(static_cast<DWORD>(*error));
  return error.has_value();
}

// A string value; ERROR_FILE_NOT_FOUND when the key or the value is missing,
// ERROR_INVALID_DATA when the value is not a string.
long ReadString(const WChar* key, const WChar* name, WString& out) {
  return vr::registry::ReadStringValue(key, name, out, true);
}

long ReadDword(const WChar* key, const WChar* name, DWORD& out) {
  vr::registry::ScopedKey h;
  long rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, h.Receive());
  if (rc != ERROR_SUCCESS) return rc;
  DWORD type = 0, value = 0, size = sizeof value;
  rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value))) return ERROR_INVALID_DATA;
  if (rc == ERROR_SUCCESS) out = value;
  return rc;
}

long WriteValue(const WChar* key, const WChar* name, DWORD type, const void* data, size_t size) {
  vr::registry::ScopedKey h;
  long rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Receive(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
}

long WriteString(const WChar* key, const WChar* name, WStringView text) {
  WString z(text);
  return WriteValue(key, name, REG_SZ, z.c_str(), (z.size() + 1) * sizeof(WChar));
}

long DeleteIfPresent(const WChar* key) {
  const long rc = vr::registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, key);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

HCLUSTER OpenCluster(const WChar* clusterName) {
  if (Injected("cluster.OpenCluster", ERROR_CLUSTER_NOT_INSTALLED)) return nullptr;
  WString name;
  long rc = ReadString(vr::cluster::kClusterKey, u"ClusterName", name);
  if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_CLUSTER_NOT_INSTALLED;
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return nullptr;
  }
  if (clusterName && *clusterName && !vr::text::EqualsNoCase(clusterName, name)) {
    SetLastError(ERROR_BAD_NETPATH);
    return nullptr;
  }
  auto* h = new ClusterHandle{name};
  Live().Add(h);
  SetLastError(ERROR_SUCCESS);
  return h;
}

HGROUP OpenClusterGroup(HCLUSTER cluster, const WChar* groupName) {
  if (Injected("cluster.OpenClusterGroup", ERROR_CLUSTER_GROUP_NOT_FOUND)) return nullptr;
  if (!cluster || !Live().Has(cluster)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!groupName || !*groupName || WStringView(groupName).find(u'\\') != WStringView::npos) {
    SetLastError(ERROR_CLUSTER_GROUP_NOT_FOUND);
    return nullptr;
  }
  const WString key = WString(vr::cluster::kGroupsKey) + u"\\" + groupName;
  // Only whether the group's key opens matters: the temporary owner closes it at once.
  long rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, vr::registry::ScopedKey().Receive());
  if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_CLUSTER_GROUP_NOT_FOUND;
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return nullptr;
  }
  auto* g = new ClusterGroupHandle{key};
  Live().Add(g);
  SetLastError(ERROR_SUCCESS);
  return g;
}

CLUSTER_GROUP_STATE GetClusterGroupState(HGROUP group, WChar* nodeName, DWORD* cchNodeName) {
  if (Injected("cluster.GetClusterGroupState", ERROR_INVALID_HANDLE)) return ClusterGroupStateUnknown;
  if (!group || !Live().Has(group)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return ClusterGroupStateUnknown;
  }
  WString owner;
  DWORD state = ClusterGroupOnline;
  long rc = ReadString(group->key.c_str(), u"OwnerNode", owner);
  if (rc == ERROR_SUCCESS) {
    rc = ReadDword(group->key.c_str(), u"State", state);
    if (rc == ERROR_FILE_NOT_FOUND) {
      state = ClusterGroupOnline;
      rc = ERROR_SUCCESS;
    }
  }
  if (rc == ERROR_SUCCESS && state > ClusterGroupPending && state != 0xFFFFFFFFu) rc = ERROR_INVALID_DATA;
  if (rc == ERROR_SUCCESS && state == 0xFFFFFFFFu) rc = ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc == ERROR_FILE_NOT_FOUND ? ERROR_CLUSTER_GROUP_NOT_FOUND : rc));
    return ClusterGroupStateUnknown;
  }
  if (nodeName || cchNodeName) {
    if (!cchNodeName) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return ClusterGroupStateUnknown;
    }
    if (!nodeName || *cchNodeName < owner.size() + 1) {
      *cchNodeName = static_cast<DWORD>(owner.size());
      SetLastError(ERROR_MORE_DATA);
      return ClusterGroupStateUnknown;
    }
    std::memcpy(nodeName, owner.data(), owner.size() * sizeof(WChar));
    nodeName[owner.size()] = 0;
    *cchNodeName = static_cast<DWORD>(owner.size());
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<CLUSTER_GROUP_STATE>(state);
}

BOOL CloseClusterGroup(HGROUP group) {
  if (!group || !Live().Remove(group)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete group;
  if (Injected("cluster.CloseClusterGroup", ERROR_INVALID_HANDLE)) return FALSE;
  return TRUE;
}

BOOL CloseCluster(HCLUSTER cluster) {
  if (!cluster || !Live().Remove(cluster)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  delete cluster;
  if (Injected("cluster.CloseCluster", ERROR_INVALID_HANDLE)) return FALSE;
  return TRUE;
}

namespace vr::cluster {

long ReadInstallation(DWORD& status, WString& resourceGroup) {
  status = kStandalone;
  resourceGroup.clear();
  long rc = ReadDword(kInstallationKey, u"Status", status);
  if (rc == ERROR_FILE_NOT_FOUND) {
    status = kStandalone;
    rc = ERROR_SUCCESS;
  }
  if (rc != ERROR_SUCCESS) return rc;
  rc = ReadString(kInstallationKey, u"ResourceGroup", resourceGroup);
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

long WriteClusterState(WStringView clusterName, WStringView group, WStringView ownerNode) {
  if (group.empty() || group.find(u'\\') != WStringView::npos) return ERROR_INVALID_PARAMETER;
  return vr::registry::RunInTransaction([&]() -> long {
    if (long rc = DeleteIfPresent(kClusterKey); rc != ERROR_SUCCESS) return rc;
    if (long rc = DeleteIfPresent(kInstallationKey); rc != ERROR_SUCCESS) return rc;
    if (long rc = WriteString(kClusterKey, u"ClusterName", clusterName); rc != ERROR_SUCCESS) return rc;
    const WString groupKey = WString(kGroupsKey) + u"\\" + WString(group);
    if (long rc = WriteString(groupKey.c_str(), u"OwnerNode", ownerNode); rc != ERROR_SUCCESS) return rc;
    const DWORD online = ClusterGroupOnline;
    if (long rc = WriteValue(groupKey.c_str(), u"State", REG_DWORD, &online, sizeof online); rc != ERROR_SUCCESS) return rc;
    const DWORD installed = kInstalledOnCluster;
    if (long rc = WriteValue(kInstallationKey, u"Status", REG_DWORD, &installed, sizeof installed); rc != ERROR_SUCCESS)
      return rc;
    return WriteString(kInstallationKey, u"ResourceGroup", group);
  });
}

long ClearClusterState() {
  return vr::registry::RunInTransaction([&]() -> long {
    if (long rc = DeleteIfPresent(kClusterKey); rc != ERROR_SUCCESS) return rc;
    return DeleteIfPresent(kInstallationKey);
  });
}

}  // namespace vr::cluster
