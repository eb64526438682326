// Reversing the package section: the rollback of a failed registration, which puts back the
// state its record kept, and the unregistration of a patch from the "[[[PACKAGES]]]" sections
// of its undo file (PackageRemoval.cpp).
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageRestore.h"
#include "tessera/Packages/PackageSection.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::pkg;

namespace {

constexpr const char* kFile = "Packages\\PackageRollback";
constexpr unsigned kFlags = vr::trace::kRunFlags;
constexpr int kLocalClusterMode = 2;

// Whether the value exists, whatever its type (an installer may write "Installed" as a number).
bool ValueExists(const WString& key, const WString& name) {
  vr::registry::ScopedKey h;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, h.Receive()) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  return RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
}

}  // namespace

bool PackageSection::Rollback(VrLogFile& log, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegRollback", kFile, kFlags);
  try {
    const int clusterMode = run_.GetClusterMode();
    const WString patchesKey = PatchesKey(clusterMode);
    const WString patchKey = PatchKey(clusterMode, run_.GetPatch());
    if (!run_.IsRollback()) {
      VR_TRACE_INFO("Package deinstallation...");
      LogLine(u"Package deinstallation...");
      if (!CheckPatchInstalled(patchKey, message)) return false;
    } else {
      VR_TRACE_INFO("Package registration rollback...");
      LogLine(u"Package registration rollback...");
    }
    if (clusterMode == kLocalClusterMode) {
      LogLine(u"Local cluster mode detected - do nothing");
      return true;
    }
    if (run_.IsRollback() && updated_) return RestoreBeforeImage(message);
    return RemoveUndoLines(log, patchesKey, patchKey, message);
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    db_.RollbackTransaction();
    if (message.empty()) message = LoadMessage(MessageId::kDepotReadFailed);
    return false;
  }
}

// An unregistration takes back only a patch the installer marked installed.
bool PackageSection::CheckPatchInstalled(const WString& patchKey, WString& message) {
  if (ValueExists(patchKey, kInstalledValue)) return true;
  LogLine(WString(u"Registry key value '") + kInstalledValue + u"' not found");
  message = LoadMessage(MessageId::kPatchNotRegistered, run_.GetPatch());
  LogLine(message);
  run_.SetPatchNotRegistered();
  return false;
}

// The rollback of this process's own Update puts back the state its record kept: packages that
// cannot be uninstalled have no undo lines, and what was there before the run stays. An Update
// that failed before its record changed nothing.
bool PackageSection::RestoreBeforeImage(WString& message) {
  if (!recorded_) return true;
  WString why;
  if (!RestorePackageRecord(&db_, beforeImage_, why)) {
    message += why;
    LogLine(why);
    return false;
  }
  updated_ = false;
  return true;
}
