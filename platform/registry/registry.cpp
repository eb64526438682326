// The Win32-shaped registry calls over the hive. Every call takes the hive's lock, passes its
// fault point "registry.<Call>" first (an injected code is returned as the call's result; 0
// stands for the call's usual failure, named beside each point), and runs in one transaction.
#include "platform/registry/registry.h"

#include <cstring>
#include <unordered_set>

#include "platform/fault/fault.h"
#include "platform/os/computer.h"
#include "platform/registry/hive.h"
#include "platform/text/casefold.h"

using vr::fault::InjectedWin32;

struct RegKeyHandle {
  vr::registry::KeyId id;
  REGSAM sam;
  uint64_t generation;  // store the handle was opened on; 0 for the predefined key
};

namespace {

using vr::registry::Hive;
using vr::registry::HiveTransaction;
using vr::registry::KeyId;
using vr::registry::StoredValue;

RegKeyHandle g_localMachine{vr::registry::kRootKeyId, KEY_ALL_ACCESS, 0};

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

std::unordered_set<const RegKeyHandle*>& LiveHandles() {
  static auto* live = new std::unordered_set<const RegKeyHandle*>;
  return *live;
}

// Checks a handle and, for opened keys, that it was opened with the access the call needs.
LONG Resolve(HKEY key, REGSAM needed, KeyId& id) {
  if (key == &g_localMachine) {
    id = g_localMachine.id;
    return ERROR_SUCCESS;
  }
  if (!key || !LiveHandles().count(key)) return ERROR_INVALID_HANDLE;
  if (key->generation != Hive::Instance().Generation()) return ERROR_INVALID_HANDLE;
  if ((key->sam & needed & 0xFFFF) != (needed & 0xFFFF)) return ERROR_ACCESS_DENIED;
  id = key->id;
  return ERROR_SUCCESS;
}

HKEY NewHandle(KeyId id, REGSAM sam) {
  auto* h = new RegKeyHandle{id, sam, Hive::Instance().Generation()};
  LiveHandles().insert(h);
  return h;
}

// Components of a subkey path separated by '\'; empty components are skipped.
bool SplitPath(const WChar* subKey, std::vector<WStringView>& parts) {
  parts.clear();
  if (!subKey) return true;
  WStringView path(subKey);
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(u'\\', i);
    if (j == WStringView::npos) j = path.size();
    if (j > i) {
      if (j - i > kMaxKeyNameChars) return false;
      parts.push_back(path.substr(i, j - i));
    }
    i = j + 1;
  }
  return true;
}

LONG CheckAlive(Hive& hive, KeyId id) {
  bool exists = false;
  if (long rc = hive.KeyExists(id, exists); rc != ERROR_SUCCESS) return rc;
  return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

// The steps every call on an open key repeats: a transaction on the hive, the handle checked
// for the access the call needs, and its key still there. The transaction is rolled back
// unless the call commits it.
class KeyCall {
 public:
  KeyCall(Hive& hive, bool write) : hive_(hive), txn_(hive, write) {}
  LONG Begin(HKEY key, REGSAM needed) {
    if (LONG rc = txn_.Begin(); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = Resolve(key, needed, id_); rc != ERROR_SUCCESS) return rc;
    return CheckAlive(hive_, id_);
  }
  KeyId id() const { return id_; }
  LONG Commit() { return txn_.Commit(); }

 private:
  Hive& hive_;
  HiveTransaction txn_;
  KeyId id_ = 0;
};

LONG Walk(Hive& hive, KeyId from, const std::vector<WStringView>& parts, KeyId& found) {
  KeyId at = from;
  for (WStringView part : parts) {
    KeyId next = 0;
    if (long rc = hive.FindChild(at, part, next); rc != ERROR_SUCCESS) return rc;
    at = next;
  }
  found = at;
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *cch characters (terminator included).
LONG CopyName(const WString& name, WChar* buffer, DWORD* cch) {
  if (!cch) return ERROR_INVALID_PARAMETER;
  if (!buffer || name.size() + 1 > *cch) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.data(), name.size() * sizeof(WChar));
  buffer[name.size()] = 0;
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// The data half of RegQueryValueExW and RegEnumValueW.
LONG CopyData(const StoredValue& v, DWORD* type, BYTE* data, DWORD* cbData) {
  if (type) *type = v.type;
  if (data && !cbData) return ERROR_INVALID_PARAMETER;
  if (!cbData) return ERROR_SUCCESS;
  const DWORD size = static_cast<DWORD>(v.data.size());
  if (data && *cbData < size) {
    *cbData = size;
    return ERROR_MORE_DATA;
  }
  if (data && size) std::memcpy(data, v.data.data(), size);
  *cbData = size;
  return ERROR_SUCCESS;
}

}  // namespace

const HKEY HKEY_LOCAL_MACHINE = &g_localMachine;

// Point "registry.ConnectRegistry" (usual failure ERROR_BAD_NETPATH). Only the local computer
// is reachable: no name, an empty name, or this computer's own name.
LONG RegConnectRegistryW(const WChar* machineName, HKEY key, HKEY* result) {
  std::lock_guard<std::recursive_mutex> lock(Hive::Instance().Mutex());
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (auto injected = InjectedWin32("registry.ConnectRegistry", ERROR_BAD_NETPATH)) return *injected;
  if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
  if (machineName && *machineName) {
    WStringView name(machineName);
    while (!name.empty() && name.front() == u'\\') name.remove_prefix(1);
    if (!vr::text::EqualsNoCase(name, vr::os::ComputerName()))
      return ERROR_BAD_NETPATH;
  }
  *result = HKEY_LOCAL_MACHINE;
  return ERROR_SUCCESS;
}

// Point "registry.OpenKey" (usual failure ERROR_FILE_NOT_FOUND).
LONG RegOpenKeyExW(HKEY key, const WChar* subKey, DWORD options, REGSAM sam, HKEY* result) {
  (void)options;
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (auto injected = InjectedWin32("registry.OpenKey", ERROR_FILE_NOT_FOUND)) return *injected;
  HiveTransaction txn(hive, false);
  if (LONG rc = txn.Begin(); rc != ERROR_SUCCESS) return rc;
  KeyId from;
  if (LONG rc = Resolve(key, 0, from); rc != ERROR_SUCCESS) return rc;
  std::vector<WStringView> parts;
  if (!SplitPath(subKey, parts)) return ERROR_FILE_NOT_FOUND;
  if (LONG rc = CheckAlive(hive, from); rc != ERROR_SUCCESS) return rc;
  KeyId found = 0;
  if (LONG rc = Walk(hive, from, parts, found); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = txn.Commit(); rc != ERROR_SUCCESS) return rc;
  *result = NewHandle(found, sam);
  return ERROR_SUCCESS;
}

// Point "registry.CreateKey" (usual failure ERROR_ACCESS_DENIED).
LONG RegCreateKeyExW(HKEY key, const WChar* subKey, DWORD reserved, WChar* keyClass, DWORD options,
                     REGSAM sam, void* security, HKEY* result, DWORD* disposition) {
  (void)keyClass;
  (void)options;
  (void)security;
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (auto injected = InjectedWin32("registry.CreateKey", ERROR_ACCESS_DENIED)) return *injected;
  if (reserved != 0 || !subKey) return ERROR_INVALID_PARAMETER;
  std::vector<WStringView> parts;
  if (!SplitPath(subKey, parts)) return ERROR_INVALID_PARAMETER;
  KeyCall call(hive, true);
  if (LONG rc = call.Begin(key, KEY_CREATE_SUB_KEY); rc != ERROR_SUCCESS) return rc;
  const KeyId from = call.id();
  KeyId at = from;
  bool created = false;
  for (WStringView part : parts) {
    KeyId next = 0;
    LONG rc = hive.FindChild(at, part, next);
    if (rc == ERROR_FILE_NOT_FOUND) {
      rc = hive.CreateChild(at, part, next);
      created = true;
    }
    if (rc != ERROR_SUCCESS) return rc;
    at = next;
  }
  if (LONG rc = call.Commit(); rc != ERROR_SUCCESS) return rc;
  *result = NewHandle(at, sam);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

// Point "registry.CloseKey" (usual failure ERROR_INVALID_HANDLE). The handle is released even
// when a fault is injected, so that no path leaks it.
LONG RegCloseKey(HKEY key) {
  std::lock_guard<std::recursive_mutex> lock(Hive::Instance().Mutex());
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  if (!key || !LiveHandles().erase(key)) return ERROR_INVALID_HANDLE;
  delete key;
  if (auto injected = InjectedWin32("registry.CloseKey", ERROR_INVALID_HANDLE)) return *injected;
  return ERROR_SUCCESS;
}

// Point "registry.QueryValue" (usual failure ERROR_FILE_NOT_FOUND).
LONG RegQueryValueExW(HKEY key, const WChar* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.QueryValue", ERROR_FILE_NOT_FOUND)) return *injected;
  if (reserved) return ERROR_INVALID_PARAMETER;
  KeyCall call(hive, false);
  if (LONG rc = call.Begin(key, KEY_QUERY_VALUE); rc != ERROR_SUCCESS) return rc;
  const KeyId id = call.id();
  StoredValue v;
  if (LONG rc = hive.GetValue(id, valueName ? WStringView(valueName) : WStringView(), v); rc != ERROR_SUCCESS)
    return rc;
  if (LONG rc = call.Commit(); rc != ERROR_SUCCESS) return rc;
  return CopyData(v, type, data, cbData);
}

// Point "registry.SetValue" (usual failure ERROR_ACCESS_DENIED).
LONG RegSetValueExW(HKEY key, const WChar* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.SetValue", ERROR_ACCESS_DENIED)) return *injected;
  if (reserved != 0 || (!data && cbData)) return ERROR_INVALID_PARAMETER;
  const WStringView name = valueName ? WStringView(valueName) : WStringView();
  if (name.size() > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  KeyCall call(hive, true);
  if (LONG rc = call.Begin(key, KEY_SET_VALUE); rc != ERROR_SUCCESS) return rc;
  const KeyId id = call.id();
  if (LONG rc = hive.SetValue(id, name, type, data, cbData); rc != ERROR_SUCCESS) return rc;
  return call.Commit();
}

// Point "registry.DeleteValue" (usual failure ERROR_ACCESS_DENIED).
LONG RegDeleteValueW(HKEY key, const WChar* valueName) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.DeleteValue", ERROR_ACCESS_DENIED)) return *injected;
  KeyCall call(hive, true);
  if (LONG rc = call.Begin(key, KEY_SET_VALUE); rc != ERROR_SUCCESS) return rc;
  const KeyId id = call.id();
  if (LONG rc = hive.DeleteValue(id, valueName ? WStringView(valueName) : WStringView()); rc != ERROR_SUCCESS)
    return rc;
  return call.Commit();
}

// Point "registry.DeleteKey" (usual failure ERROR_ACCESS_DENIED).
LONG RegDeleteKeyW(HKEY key, const WChar* subKey) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.DeleteKey", ERROR_ACCESS_DENIED)) return *injected;
  if (!subKey) return ERROR_INVALID_PARAMETER;
  std::vector<WStringView> parts;
  if (!SplitPath(subKey, parts)) return ERROR_FILE_NOT_FOUND;
  KeyCall call(hive, true);
  if (LONG rc = call.Begin(key, 0); rc != ERROR_SUCCESS) return rc;
  const KeyId from = call.id();
  KeyId target = 0;
  if (LONG rc = Walk(hive, from, parts, target); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = hive.DeleteKey(target); rc != ERROR_SUCCESS) return rc;
  return call.Commit();
}

// Point "registry.EnumKey" (usual failure ERROR_ACCESS_DENIED). Subkeys come in the order of
// their names without regard to case.
LONG RegEnumKeyExW(HKEY key, DWORD index, WChar* name, DWORD* cchName, DWORD* reserved,
                   WChar* keyClass, DWORD* cchClass, void* lastWriteTime) {
  (void)lastWriteTime;
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.EnumKey", ERROR_ACCESS_DENIED)) return *injected;
  if (reserved || !cchName) return ERROR_INVALID_PARAMETER;
  KeyCall call(hive, false);
  if (LONG rc = call.Begin(key, KEY_ENUMERATE_SUB_KEYS); rc != ERROR_SUCCESS) return rc;
  const KeyId id = call.id();
  WString child;
  if (LONG rc = hive.ChildAt(id, index, child); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = call.Commit(); rc != ERROR_SUCCESS) return rc;
  if (keyClass && cchClass && *cchClass) keyClass[0] = 0;
  if (cchClass) *cchClass = 0;
  return CopyName(child, name, cchName);
}

// Point "registry.EnumValue" (usual failure ERROR_ACCESS_DENIED). Values come in the order in
// which they were created.
LONG RegEnumValueW(HKEY key, DWORD index, WChar* valueName, DWORD* cchValueName, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* cbData) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.EnumValue", ERROR_ACCESS_DENIED)) return *injected;
  if (reserved || !cchValueName) return ERROR_INVALID_PARAMETER;
  KeyCall call(hive, false);
  if (LONG rc = call.Begin(key, KEY_QUERY_VALUE); rc != ERROR_SUCCESS) return rc;
  const KeyId id = call.id();
  StoredValue v;
  if (LONG rc = hive.ValueAt(id, index, v); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = call.Commit(); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = CopyName(v.name, valueName, cchValueName); rc != ERROR_SUCCESS) return rc;
  return CopyData(v, type, data, cbData);
}

// Point "registry.QueryInfoKey" (usual failure ERROR_ACCESS_DENIED). Lengths are in
// characters without the terminator, the longest data in bytes.
LONG RegQueryInfoKeyW(HKEY key, WChar* keyClass, DWORD* cchClass, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                      DWORD* maxValueLen, DWORD* securityDescriptor, void* lastWriteTime) {
  (void)lastWriteTime;
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.QueryInfoKey", ERROR_ACCESS_DENIED)) return *injected;
  if (reserved) return ERROR_INVALID_PARAMETER;
  KeyCall call(hive, false);
  if (LONG rc = call.Begin(key, KEY_QUERY_VALUE); rc != ERROR_SUCCESS) return rc;
  const KeyId id = call.id();
  std::vector<vr::registry::StoredKey> children;
  std::vector<StoredValue> vals;
  if (LONG rc = hive.Children(id, children); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = hive.Values(id, vals); rc != ERROR_SUCCESS) return rc;
  if (LONG rc = call.Commit(); rc != ERROR_SUCCESS) return rc;
  DWORD longestKey = 0, longestName = 0, longestData = 0;
  for (const auto& c : children) longestKey = std::max<DWORD>(longestKey, static_cast<DWORD>(c.name.size()));
  for (const auto& v : vals) {
    longestName = std::max<DWORD>(longestName, static_cast<DWORD>(v.name.size()));
    longestData = std::max<DWORD>(longestData, static_cast<DWORD>(v.data.size()));
  }
  if (keyClass && cchClass && *cchClass) keyClass[0] = 0;
  if (cchClass) *cchClass = 0;
  if (subKeys) *subKeys = static_cast<DWORD>(children.size());
  if (maxSubKeyLen) *maxSubKeyLen = longestKey;
  if (maxClassLen) *maxClassLen = 0;
  if (values) *values = static_cast<DWORD>(vals.size());
  if (maxValueNameLen) *maxValueNameLen = longestName;
  if (maxValueLen) *maxValueLen = longestData;
  if (securityDescriptor) *securityDescriptor = 0;
  return ERROR_SUCCESS;
}

namespace vr::registry {

WString StringFromData(const BYTE* data, size_t size) {
  WString text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    const WChar c = static_cast<WChar>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return text;
}

LONG ReadStringValue(const WChar* key, const WChar* name, WString& out, bool allowExpand) {
  out.clear();
  HKEY h = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD type = REG_NONE, size = 0;
  rc = RegQueryValueExW(h, name, nullptr, &type, nullptr, &size);
  if (rc == ERROR_SUCCESS && type != REG_SZ && !(allowExpand && type == REG_EXPAND_SZ)) rc = ERROR_INVALID_DATA;
  std::string data(size, '\0');
  if (rc == ERROR_SUCCESS) rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  RegCloseKey(h);
  if (rc == ERROR_SUCCESS) out = StringFromData(reinterpret_cast<const BYTE*>(data.data()), size);
  return rc;
}

}  // namespace vr::registry
