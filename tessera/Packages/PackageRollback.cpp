// Reversing the package section: the rollback of a failed registration, which takes back what
// this process's Update added, and the unregistration of a patch from the "[[[PACKAGES]]]"
// sections of its undo file (a checking pass that removes nothing, then the removal pass).
#include "platform/registry/registry.h"
#include "platform/text/format.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageSection.h"
#include "tessera/Packages/PackageUndoLines.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using namespace vr::pkg;

namespace {

// Warnings: something the caller asked for was not there to do.
#define PKG_TRACE_WARNING(...) VR_TRACE(_qkit_TraceTypeMap_t::eSevWarning, __VA_ARGS__)

constexpr const char* kFile = "Packages\\PackageRollback";
constexpr unsigned kFlags = vr::trace::kRunFlags;
constexpr int kLocalClusterMode = 2;

// Whether the value exists, whatever its type (an installer may write "Installed" as a number).
bool ValueExists(const WString& key, const WString& name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  const LONG rc = RegQueryValueExW(h, name.c_str(), nullptr, &type, nullptr, &size);
  RegCloseKey(h);
  return rc == ERROR_SUCCESS;
}

WString Token(const VrTextLine& line, size_t i) {
  const auto t = line.GetToken(i);
  return t ? WString(*t) : WString();
}

// The token as a line of the message: the line's text and a line end.
WString LineForMessage(const VrTextLine& line) { return line.GetText() + u"\n"; }

}  // namespace

bool CVrPlatformRegistration::PackageRegRollback(VrLogFile& log, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegRollback", kFile, kFlags);
  try {
    const WString patchesKey = PatchesKey(clusterMode_);
    const WString patchKey = PatchKey(clusterMode_, patch_);
    if (!rollback_) {
      VR_TRACE_INFO("Package deinstallation...");
      LogLine(u"Package deinstallation...");
      if (!ValueExists(patchKey, kInstalledValue)) {
        LogLine(WString(u"Registry key value '") + kInstalledValue + u"' not found");
        message = LoadMessage(1021, patch_);
        LogLine(message);
        patchNotRegistered_ = true;
        return false;
      }
    } else {
      VR_TRACE_INFO("Package registration rollback...");
      LogLine(u"Package registration rollback...");
    }
    if (clusterMode_ == kLocalClusterMode) {
      LogLine(u"Local cluster mode detected - do nothing");
      return true;
    }
    if (!packageState_) packageState_ = std::make_shared<PackageSectionState>();
    PackageSectionState& state = *packageState_;
    CDepotData& db = state.db;
    // The rollback of this process's own Update takes back its record: packages that cannot be
    // uninstalled have no undo lines, and what was there before the run has no place in it.
    const bool fromRecord = rollback_ && state.record.updated;

    auto fail = [&](const WString& text) {
      message += text;
      LogLine(text);
      return false;
    };

    // Checking pass: every line of every package section is known and complete, and no package
    // to be removed is still deployed on a Windows node. Nothing is removed yet.
    VrTextLine line;
    log.ResetPosition();
    bool inSection = false, sectionHasLines = false;
    while (log.ReadLine(line, nullptr, true, true)) {
      const WString first = Token(line, 0);
      if (!inSection) {
        if (first == vr::undo::kPackagesBegin) {
          inSection = true;
          sectionHasLines = false;
        }
      } else if (first == vr::undo::kPackagesEnd) {
        if (!sectionHasLines) LogLine(u"Nothing to rollback in package section!");
        inSection = false;
      } else {
        sectionHasLines = true;
        bool known = false;
        if (!HasValidTokenCount(line, known)) {
          if (known) return fail(LoadMessage(1020, LineForMessage(line)));
          error_ = true;
          return fail(LoadMessage(303, line.GetPosition().line, log.GetPath()));
        }
        if (!fromRecord && first == kPackageKeyword) {
          const WString id = Token(line, 2);
          bool onWindows = false;
          WString why;
          if (!IsPkgDeployedOnWinNode(db, [this](int os) { return IsWindowsOS(os); }, id, onWindows, why))
            return fail(why + LoadMessage(1023, id));
          if (onWindows) {
            packageDeployed_ = true;
            return fail(LoadMessage(1011, id));
          }
        }
      }
      if (line.IsAtEnd()) break;
    }
    if (inSection) {
      error_ = true;
      return fail(LoadMessage(302, log.GetPath(), vr::undo::kPackagesEnd));
    }

    if (fromRecord) {
      // Newest first: modules, then the packages they belonged to, in one transaction; then
      // the registry values.
      bool ok = true;
      PackageRunRecord& record = state.record;
      const bool transaction = db.BeginTransaction();
      for (auto m = record.modules.rbegin(); m != record.modules.rend(); ++m) {
        WString removed;
        if (!db.RemovePackageFromDEPOT(m->policyType, m->id, m->systemType, m->osType, WString(), removed))
          ok = fail(LoadMessage(1014));
        else
          LogLine(removed);
      }
      for (auto p = record.packages.rbegin(); p != record.packages.rend(); ++p) {
        WString removed;
        const bool done = p->id.empty() ? db.RemovePackageFromDEPOT(p->logicalId, p->name, p->version)
                                        : db.RemovePackageFromDEPOT(p->id, removed);
        if (!done) ok = fail(LoadMessage(1013, p->id));
        else if (!removed.empty()) LogLine(removed);
      }
      if (transaction && !db.CommitTransaction()) ok = fail(LoadMessage(1014));
      for (auto v = record.values.rbegin(); v != record.values.rend(); ++v)
        if (!HKLMRegistryKeyValueRemove(v->key, v->name, runLog_.get())) ok = fail(LoadMessage(1015));
      if (ok) record = PackageRunRecord();
      return ok;
    }

    // Removal pass over every package section from the start of the file. The Depot rows go in
    // one transaction, so that a failure leaves them all; the bookkeeping values of the patch
    // are removed once the rows are gone.
    std::vector<WString> values;
    struct OpenPackage {
      bool open = false;
      WString type, id;
    } current;
    auto finishPackage = [&]() {
      if (!current.open) return true;
      current.open = false;
      bool used = false;
      if (!db.HasPackageDependency(current.id, used)) return fail(LoadMessage(1007));
      if (!used) {
        WString removed;
        if (!db.RemovePackageFromDEPOT(current.id, removed)) return fail(LoadMessage(1013, current.id));
        LogLine(removed);
      } else {
        LogLine(u"Package cannot be removed because other functionality modules use this package or this package is "
                u"deployed on Non-Windows node");
      }
      if (PackageKindOf(current.type) != eOTHER_PACKAGE) values.push_back(kWinPkgInfoValue);
      return true;
    };
    auto removeUnixPackage = [&](const VrTextLine& unix) {
      const WString id = Token(unix, 1);
      WString info, version, platform;
      bool uninstallable = false;
      if (!HKLMGetRegistryKeyValue(patchKey, kUxAgtInfoValue, info)) return fail(LoadMessage(1016));
      if (!ParsePackageInfo(info, version, platform, uninstallable)) return fail(LoadMessage(1017));
      long n = 0, m = 0;
      if (!HKLMGetPatchCounts(patchesKey, version, platform, n, m)) return fail(LoadMessage(1016));
      if (n > 1) {
        PKG_TRACE_WARNING("Cannot unregister package - another patch is using this package");
        LogLine(u"Package won't be unregistered. There are other subagents of same version installed");
      } else {
        const WString osType = Token(unix, 8);
        std::vector<WString> systemTypes{Token(unix, 7)};
        for (size_t i = 9; i < unix.GetTokenCount(); ++i) systemTypes.push_back(Token(unix, i));
        for (const WString& systemType : systemTypes) {
          WString removed;
          if (!db.RemoveDependencyFromDEPOT(id, systemType, osType, removed)) return fail(LoadMessage(1014));
          LogLine(removed);
        }
        bool deployed = false, used = false;
        if (!db.IsPackageDeployed(id, deployed) || !db.HasPackageDependency(id, used)) return fail(LoadMessage(1007));
        if (!deployed && !used) {
          WString removed;
          if (!db.RemovePackageFromDEPOT(id, removed)) return fail(LoadMessage(1013, id));
          LogLine(removed);
        } else {
          LogLine(u"Package cannot be removed because other functionality modules use this package or this package "
                  u"is deployed on any node");
        }
      }
      values.push_back(kUxAgtInfoValue);
      return true;
    };

    auto removalPass = [&]() {
      log.ResetPosition();
      inSection = false;
      while (log.ReadLine(line, nullptr, true, true)) {
        const WString first = Token(line, 0);
        if (!inSection) {
          inSection = first == vr::undo::kPackagesBegin;
        } else if (first == vr::undo::kPackagesEnd) {
          if (!finishPackage()) return false;
          inSection = false;
        } else if (first == kPackageKeyword) {
          if (!finishPackage()) return false;
          current = {true, Token(line, 1), Token(line, 2)};
        } else if (first == kPlatPolicyKeyword) {
          const WString id = current.open ? current.id : Token(line, 1);
          WString removed;
          if (!db.RemovePackageFromDEPOT(Token(line, 5), id, Token(line, 3), Token(line, 4), WString(), removed))
            return fail(LoadMessage(1014));
          LogLine(removed);
        } else if (first == kPackageUnixKeyword) {
          if (!finishPackage() || !removeUnixPackage(line)) return false;
        } else {
          error_ = true;
          return fail(LoadMessage(303, line.GetPosition().line, log.GetPath()));
        }
        if (line.IsAtEnd()) break;
      }
      return finishPackage();
    };
    if (!db.BeginTransaction()) return fail(LoadMessage(1007));
    if (!removalPass()) {
      db.RollbackTransaction();
      return false;
    }
    if (!db.CommitTransaction()) return fail(LoadMessage(1014));
    for (const WString& name : values)
      if (!HKLMRegistryKeyValueRemove(patchKey, name, runLog_.get())) return fail(LoadMessage(1015));
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    if (packageState_) packageState_->db.RollbackTransaction();
    if (message.empty()) message = LoadMessage(1007);
    return false;
  }
}
