#include "platform/registry/regtools.h"

#include <algorithm>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/registry/hive.h"
#include "platform/registry/regtext.h"
#include "platform/text/casefold.h"

using vr::fault::InjectedWin32;

namespace vr::registry {
namespace {

std::vector<WStringView> Split(WStringView path) {
  std::vector<WStringView> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(u'\\', i);
    if (j == WStringView::npos) j = path.size();
    if (j > i) parts.push_back(path.substr(i, j - i));
    i = j + 1;
  }
  return parts;
}

long Find(Hive& hive, WStringView relative, KeyId& id, WString& spelled) {
  id = kRootKeyId;
  spelled.clear();
  for (WStringView part : Split(relative)) {
    KeyId next;
    if (long rc = hive.FindChild(id, part, next); rc != ERROR_SUCCESS) return rc;
    WString name;
    if (long rc = hive.KeyName(next, name); rc != ERROR_SUCCESS) return rc;
    if (!spelled.empty()) spelled += u'\\';
    spelled += name;
    id = next;
  }
  return ERROR_SUCCESS;
}

// The registry's own limits on names, which an import keeps as the programs' calls do.
constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

long Ensure(Hive& hive, WStringView relative, KeyId& id) {
  id = kRootKeyId;
  for (WStringView part : Split(relative)) {
    if (part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
    KeyId next;
    long rc = hive.FindChild(id, part, next);
    if (rc == ERROR_FILE_NOT_FOUND) rc = hive.CreateChild(id, part, next);
    if (rc != ERROR_SUCCESS) return rc;
    id = next;
  }
  return ERROR_SUCCESS;
}

bool FoldLess(const WString& a, const WString& b) {
  const int c = vr::text::CompareNoCase(a, b);
  return c != 0 ? c < 0 : a < b;
}

long WriteTree(Hive& hive, KeyId id, const WString& path, bool canonical, std::string& out) {
  std::vector<StoredValue> values;
  if (long rc = hive.Values(id, values); rc != ERROR_SUCCESS) return rc;
  if (canonical)
    std::sort(values.begin(), values.end(), [](const StoredValue& a, const StoredValue& b) { return FoldLess(a.name, b.name); });
  out += RegKeyLine(path);
  for (const auto& v : values) out += RegValueLine(v.name, v.type, v.data);
  out += "\n";
  std::vector<StoredKey> children;
  if (long rc = hive.Children(id, children); rc != ERROR_SUCCESS) return rc;
  if (canonical)
    std::sort(children.begin(), children.end(), [](const StoredKey& a, const StoredKey& b) { return FoldLess(a.name, b.name); });
  for (const auto& c : children) {
    const WString childPath = path.empty() ? c.name : path + u"\\" + c.name;
    if (long rc = WriteTree(hive, c.id, childPath, canonical, out); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

}  // namespace

long RunInTransaction(const std::function<long()>& body) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.Transaction", ERROR_ACCESS_DENIED)) return *injected;
  HiveTransaction txn(hive, true);
  if (long rc = txn.Begin(); rc != ERROR_SUCCESS) return rc;
  if (long rc = body(); rc != ERROR_SUCCESS) return rc;
  return txn.Commit();
}

long DeleteKeyTree(HKEY key, const WChar* subKey) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.DeleteTree", ERROR_ACCESS_DENIED)) return *injected;
  if (key != HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;  // tools work from the hive's root
  if (!subKey || Split(subKey).empty()) return ERROR_ACCESS_DENIED;
  HiveTransaction txn(hive, true);
  if (long rc = txn.Begin(); rc != ERROR_SUCCESS) return rc;
  KeyId id;
  WString spelled;
  if (long rc = Find(hive, subKey, id, spelled); rc != ERROR_SUCCESS) return rc;
  if (long rc = hive.DeleteTree(id); rc != ERROR_SUCCESS) return rc;
  return txn.Commit();
}

long ExportRegText(WStringView key, std::string& text) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.Export", ERROR_ACCESS_DENIED)) return *injected;
  WString relative;
  if (!HivePath(key, relative)) return ERROR_FILE_NOT_FOUND;
  HiveTransaction txn(hive, false);
  if (long rc = txn.Begin(); rc != ERROR_SUCCESS) return rc;
  KeyId id;
  WString spelled;
  if (long rc = Find(hive, relative, id, spelled); rc != ERROR_SUCCESS) return rc;
  std::string out = RegHeader();
  if (long rc = WriteTree(hive, id, spelled, false, out); rc != ERROR_SUCCESS) return rc;
  if (long rc = txn.Commit(); rc != ERROR_SUCCESS) return rc;
  text = std::move(out);
  return ERROR_SUCCESS;
}

long SnapshotRegText(std::string& text) {
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.Snapshot", ERROR_ACCESS_DENIED)) return *injected;
  HiveTransaction txn(hive, false);
  if (long rc = txn.Begin(); rc != ERROR_SUCCESS) return rc;
  std::string out;
  if (long rc = WriteTree(hive, kRootKeyId, WString(), true, out); rc != ERROR_SUCCESS) return rc;
  if (long rc = txn.Commit(); rc != ERROR_SUCCESS) return rc;
  text = std::move(out);
  return ERROR_SUCCESS;
}

long ImportRegText(std::string_view bytes, std::string& error, std::vector<std::string>* warnings) {
  error.clear();
  Hive& hive = Hive::Instance();
  std::lock_guard<std::recursive_mutex> lock(hive.Mutex());
  if (auto injected = InjectedWin32("registry.Import", ERROR_ACCESS_DENIED)) {
    error = "the import was refused";
    return *injected;
  }
  std::vector<RegOperation> ops;
  if (!ParseRegText(bytes, ops, error, warnings)) return ERROR_INVALID_DATA;
  HiveTransaction txn(hive, true);
  if (long rc = txn.Begin(); rc != ERROR_SUCCESS) return rc;
  KeyId current = kRootKeyId;
  for (const RegOperation& op : ops) {
    long rc = ERROR_SUCCESS;
    switch (op.kind) {
      case RegOperation::Kind::CreateKey:
        rc = Ensure(hive, op.key, current);
        break;
      case RegOperation::Kind::DeleteTree: {
        KeyId id;
        WString spelled;
        rc = Find(hive, op.key, id, spelled);
        if (rc == ERROR_SUCCESS) rc = hive.DeleteTree(id);
        else if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;  // nothing to delete
        break;
      }
      case RegOperation::Kind::SetValue:
        rc = op.name.size() > kMaxValueNameChars
                 ? ERROR_INVALID_PARAMETER
                 : hive.SetValue(current, op.name, op.type, op.data.data(), op.data.size());
        break;
      case RegOperation::Kind::DeleteValue:
        rc = hive.DeleteValue(current, op.name);
        if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;
        break;
    }
    if (rc != ERROR_SUCCESS) {
      error = "line " + std::to_string(op.line) + ": the change failed with error " + std::to_string(rc);
      return rc;
    }
  }
  return txn.Commit();
}

void CloseHive() { Hive::Instance().Close(); }

}  // namespace vr::registry
