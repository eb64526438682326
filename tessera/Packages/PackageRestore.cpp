// Putting back what a package-section record describes: the Depot rows of every recorded
// package (a package that was not there goes with its modules; one that was there gets its row
// and exactly its recorded modules again), the logical ids, and the registry values and keys
// of the patch bookkeeping. Running it twice gives the same state: a kill during a recovery is
// recovered by the same restore.
#include <map>
#include <memory>

#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageRestore.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace vr::pkg {
namespace {

constexpr const char* kFile = "Packages\\PackageRestore";
constexpr unsigned kFlags = vr::trace::kRunFlags;

bool RestorePackage(CDepotData& db, const RecordedPackage& p) {
  if (!p.present) {
    std::vector<WString> ids;
    if (!db.ReadPackageIds(p.name, p.version, ids)) return false;
    for (const WString& id : ids)
      if (!db.DeletePackageAndModules(id)) return false;
    return true;
  }
  bool installed = false;
  if (!db.IsPackageInstalled(p.row.id, installed)) return false;
  if (!installed && !db.InsertPackageRow(p.row)) return false;
  std::vector<DepotModuleRow> current;
  if (!db.ReadModuleRows(&p.row.id, current)) return false;
  std::map<DepotModuleRow, std::pair<int, int>> counts;  // row -> (now, recorded)
  for (const auto& m : current) ++counts[m].first;
  for (const auto& m : p.modules) ++counts[m].second;
  for (const auto& [row, n] : counts) {
    if (n.first == n.second) continue;
    if (n.first > 0 && !db.DeleteModuleRow(row)) return false;
    for (int i = 0; i < n.second; ++i)
      if (!db.InsertModuleRow(row)) return false;
  }
  return true;
}

bool KeyIsEmpty(HKEY h) {
  DWORD subKeys = 0, values = 0;
  return RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS &&
         subKeys == 0 && values == 0;
}

bool RestoreValue(const RecordedValue& v) {
  vr::registry::ScopedKey h;
  if (!v.present) {
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, v.key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, h.Receive());
    if (rc == ERROR_FILE_NOT_FOUND) return true;
    if (rc != ERROR_SUCCESS) return false;
    rc = RegDeleteValueW(h, v.name.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
  }
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, v.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Receive(),
                      nullptr) != ERROR_SUCCESS)
    return false;
  const LONG rc = RegSetValueExW(h, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                                 static_cast<DWORD>(v.data.size()));
  return rc == ERROR_SUCCESS;
}

}  // namespace

void RecordPatchBookkeeping(const WString& patchKey, PackageRecord& record) {
  for (size_t pos = WString(kProductKey).size(); pos < patchKey.size();) {
    size_t next = patchKey.find(u'\\', pos + 1);
    if (next == WString::npos) next = patchKey.size();
    const WString key = patchKey.substr(0, next);
    vr::registry::ScopedKey h;
    const bool present = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, h.Receive()) == ERROR_SUCCESS;
    record.keys.push_back({key, present});
    pos = next;
  }
  for (const char16_t* name : {kWinPkgInfoValue, kUxAgtInfoValue}) {
    RecordedValue value{patchKey, name, false, 0, {}};
    vr::registry::ScopedKey h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, patchKey.c_str(), 0, KEY_READ, h.Receive()) == ERROR_SUCCESS) {
      DWORD type = 0, size = 0;
      if (RegQueryValueExW(h, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        std::string data(size, '\0');
        if (RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
          data.resize(size);
          value = {patchKey, name, true, type, data};
        }
      }
    }
    record.values.push_back(std::move(value));
  }
}

bool RecordNeedsDepot(const PackageRecord& record) {
  return record.complete && (!record.packages.empty() || !record.logicalIds.empty());
}

bool RestorePackageRecord(CDepotData* db, const PackageRecord& record, WString& message) {
  VR_TRACE_FUNCTION("RestorePackageRecord", kFile, kFlags);
  if (!record.complete) {
    VR_TRACE_INFO("The record was cut short before the section changed anything: nothing to put back");
    return true;
  }
  if (RecordNeedsDepot(record)) {
    if (!db || !db->BeginTransaction()) {
      message += LoadMessage(MessageId::kDepotReadFailed);
      return false;
    }
    bool ok = true;
    for (auto p = record.packages.rbegin(); ok && p != record.packages.rend(); ++p) ok = RestorePackage(*db, *p);
    for (auto l = record.logicalIds.rbegin(); ok && l != record.logicalIds.rend(); ++l)
      ok = db->SetLogicalId(l->id, l->logicalId);
    if (!ok) {
      db->RollbackTransaction();
      message += LoadMessage(MessageId::kDepotRemoveDependencyFailed);
      return false;
    }
    if (!db->CommitTransaction()) {
      message += LoadMessage(MessageId::kDepotRemoveDependencyFailed);
      return false;
    }
  }
  // Keys that were there are made again first (a value goes into its key), then the values,
  // then keys that were not there go again, innermost first, when nothing is left in them.
  for (const RecordedKey& k : record.keys) {
    if (!k.present) continue;
    vr::registry::ScopedKey h;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, k.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Receive(),
                        nullptr) != ERROR_SUCCESS) {
      message += LoadMessage(MessageId::kRegistryKeyCreateFailed);
      return false;
    }
  }
  for (const RecordedValue& v : record.values) {
    if (!RestoreValue(v)) {
      message += LoadMessage(v.present ? MessageId::kRegistryKeyCreateFailed : MessageId::kRegistryKeyRemoveFailed);
      return false;
    }
  }
  for (auto k = record.keys.rbegin(); k != record.keys.rend(); ++k) {
    if (k->present) continue;
    vr::registry::ScopedKey h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, k->key.c_str(), 0, KEY_READ, h.Receive()) != ERROR_SUCCESS) continue;
    const bool empty = KeyIsEmpty(h);
    h.Close();  // before the key may be deleted
    if (!empty) {
      VR_TRACE_INFO("Key '", k->key, "' holds what another program put there: it stays");
      continue;
    }
    if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, k->key.c_str()) != ERROR_SUCCESS) {
      message += LoadMessage(MessageId::kRegistryKeyRemoveFailed);
      return false;
    }
  }
  return true;
}

}  // namespace vr::pkg
