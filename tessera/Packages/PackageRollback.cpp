// Reversing the package section: the rollback of a failed registration, which puts back the
// state its record kept, and the unregistration of a patch from the "[[[PACKAGES]]]" sections
// of its undo file (a checking pass that removes nothing, the record of every row and value
// it may remove, then the removal pass).
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageRestore.h"
#include "tessera/Packages/PackageSection.h"
#include "tessera/Packages/PackageUndoLines.h"
#include "tessera/RunLedger.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::pkg;

namespace {

// Warnings: something the caller asked for was not there to do.
#define PKG_TRACE_WARNING(...) VR_TRACE(_qkit_TraceTypeMap_t::eSevWarning, __VA_ARGS__)

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

// The DeplPackId each item names: its own, or for a "PLAT_POLICY" line the id of the
// "PACKAGE" line it follows in the same section.
std::vector<WString> ItemIds(const std::vector<PackageUndoItem>& items) {
  std::vector<WString> ids;
  bool open = false;
  size_t section = 0;
  WString current;
  for (const auto& item : items) {
    if (item.section != section) open = false;
    section = item.section;
    if (item.kind == PackageUndoItem::kPackage) {
      open = true;
      current = item.tokens[2];
      ids.push_back(current);
    } else if (item.kind == PackageUndoItem::kPackageUnix) {
      open = false;
      ids.push_back(item.tokens[1]);
    } else {
      ids.push_back(open ? current : item.tokens[1]);
    }
  }
  return ids;
}

// What the ledger says of one object of the registration being taken back.
enum class Verdict {
  kUnknown,  // the registration has no entry of it: the undo line decides
  kRemove,   // the registration added it and no later registration lists it
  kKeep      // it was there before, or a later registration lists it (and now owns the addition)
};

// Marks the registration's entries of the object reversed. A later live registration that
// lists the object inherits this one's state before, so that the last of them to go takes
// away what the first added, in whatever order they are unregistered.
Verdict Decide(const vr::ledger::Ledger::SectionIndex& ledger, vr::ledger::Registration* registration,
               const char* kind, const WString& key) {
  if (!registration) return Verdict::kUnknown;
  vr::ledger::Entry* mine = nullptr;
  vr::ledger::Entry* later = nullptr;
  for (const auto& ref : ledger.Chain(kind, key)) {
    if (ref.registration == registration) {
      if (!mine) mine = ref.entry;
      ref.entry->reversed = true;
    } else if (ref.registration->seq > registration->seq && !later) {
      later = ref.entry;
    }
  }
  if (!mine) return Verdict::kUnknown;
  if (later) {
    later->existedBefore = mine->existedBefore;
    later->before = mine->before;
    return Verdict::kKeep;
  }
  return mine->existedBefore ? Verdict::kKeep : Verdict::kRemove;
}

// The parts of a module's ledger key: DeplPackId|PolTypeId|system type|OS type.
bool SplitModuleKey(const WString& key, WString& id, WString& policyType, WString& systemType, WString& osType) {
  const size_t a = key.find(u'|'), d = key.rfind(u'|');
  if (a == WString::npos || d == a) return false;
  const size_t c = key.rfind(u'|', d - 1);
  if (c == a) return false;
  id = key.substr(0, a);
  policyType = key.substr(a + 1, c - a - 1);
  systemType = key.substr(c + 1, d - c - 1);
  osType = key.substr(d + 1);
  return true;
}

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
        message = LoadMessage(MessageId::kPatchNotRegistered, patch_);
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

    auto fail = [&](const WString& text) {
      message += text;
      LogLine(text);
      return false;
    };

    if (rollback_ && state.updated) {
      // The rollback of this process's own Update puts back the state its record kept:
      // packages that cannot be uninstalled have no undo lines, and what was there before the
      // run stays. An Update that failed before its record changed nothing.
      if (!state.recorded) return true;
      WString why;
      if (!RestorePackageRecord(&db, state.beforeImage, why)) return fail(why);
      state.updated = false;
      return true;
    }

    // Checking pass: every line of every package section is known and complete, and no package
    // to be removed is still deployed on a Windows node. Nothing is removed yet.
    std::vector<PackageUndoItem> items;
    PackageSectionError error;
    size_t sections = 0, emptySections = 0;
    // A rollback reads a section log, which a killed run leaves without its end marker.
    const bool read = ReadPackageSections(log, items, error, &sections, &emptySections, rollback_);
    for (size_t i = 0; i < emptySections; ++i) LogLine(u"Nothing to rollback in package section!");
    if (!read) {
      // A section that cannot be read is a syntax error of the undo file.
      error_ = true;
      if (error.kind == PackageSectionError::kTokenCount) return fail(LoadMessage(MessageId::kUndoLineTokenCount, error.text + u"\n"));
      if (error.kind == PackageSectionError::kUnexpectedLine) return fail(LoadMessage(MessageId::kUndoPackagesUnexpectedLine, error.line, log.GetPath()));
      return fail(LoadMessage(MessageId::kUndoPackagesUnterminated, log.GetPath(), vr::undo::kPackagesEnd));
    }
    // What is there now, in a few statements: the rows of the packages the lines name, their
    // modules, and which packages are deployed. The checks and removals below decide from it,
    // and the record keeps it.
    std::vector<DepotPackageRow> packageRows;
    std::vector<DepotModuleRow> moduleRows;
    std::vector<WString> deployedIds;
    const bool ledgerKnows = !rollback_ && LedgerRegistration();
    if ((!items.empty() || ledgerKnows) && (!db.ReadPackageRows(packageRows) || !db.ReadModuleRows(nullptr, moduleRows) ||
                           !db.ReadDeployedPackageIds(deployedIds)))
      return fail(LoadMessage(MessageId::kDepotReadFailed));
    const std::set<WString> deployed(deployedIds.begin(), deployedIds.end());

    if (!rollback_) {
      for (const auto& item : items) {
        if (item.kind != PackageUndoItem::kPackage) continue;
        const WString& id = item.tokens[2];
        if (!deployed.count(id)) continue;  // on no node at all
        bool onWindows = false;
        WString why;
        if (!IsPkgDeployedOnWinNode(db, [this](int os) { return IsWindowsOS(os); }, id, onWindows, why))
          return fail(why + LoadMessage(MessageId::kPackageDeployedUnknown, id));
        if (onWindows) {
          packageDeployed_ = true;
          return fail(LoadMessage(MessageId::kPackageStillDeployed, id));
        }
      }
    }
    // A plan of an unregistration stops after the checks: they are all it can fail before a
    // change.
    if (planOnly_) return true;
    if (items.empty() && !ledgerKnows) return true;

    // The ledger, when it knows the registration, says which of the objects the lines name it
    // added, and which packages it added that no line names (a package without platforms).
    // An undo file it does not know is taken back from its own lines.
    vr::ledger::Registration* registration = rollback_ ? nullptr : LedgerRegistration();
    const vr::ledger::Ledger::SectionIndex ledger(RunLedger(), vr::undo::kSectionPackages);
    std::vector<WString> ledgerPackages;
    if (registration)
      for (const auto& e : registration->entries)
        if (e.section == vr::undo::kSectionPackages && e.kind == "package" && !e.reversed && !e.existedBefore)
          ledgerPackages.push_back(e.key);

    // The ledger's module entries of the registration, by package id.
    std::map<WString, std::vector<WString>> heldModules;
    if (registration)
      for (const auto& e : registration->entries) {
        WString eid, policyType, systemType, os;
        if (e.section == vr::undo::kSectionPackages && e.kind == "module" && !e.reversed &&
            SplitModuleKey(e.key, eid, policyType, systemType, os))
          heldModules[eid].push_back(e.key);
      }

    // Record: every row of the packages the lines (and the ledger) name, and the patch's
    // bookkeeping, as they are before the first removal.
    std::vector<WString> itemIds = ItemIds(items);
    itemIds.insert(itemIds.end(), ledgerPackages.begin(), ledgerPackages.end());
    const std::set<WString> named(itemIds.begin(), itemIds.end());
    std::set<WString> installed;
    std::map<WString, std::vector<DepotModuleRow>> modules;  // of the named packages, by id
    for (const auto& m : moduleRows)
      if (named.count(m.id)) modules[m.id].push_back(m);
    {
      PackageRecord record;
      for (const auto& row : packageRows) {
        if (!named.count(row.id)) continue;
        installed.insert(row.id);
        RecordedPackage before;
        before.present = true;
        before.row = row;
        before.modules = modules[row.id];
        record.packages.push_back(std::move(before));
      }
      RecordPatchBookkeeping(patchKey, record);
      record.complete = true;
      WString why;
      if (!RecordPackageSection(SerializeRecord(record), why)) return fail(why);
    }

    // Removal pass. The Depot rows go in one transaction, so that a failure leaves them all;
    // the bookkeeping values of the patch are removed once the rows are gone.
    std::vector<WString> values;
    auto keepValue = [&](const WString& name) {
      for (const auto& v : values)
        if (v == name) return;
      values.push_back(name);
    };
    // Removes the modules of a package that match; false when a statement failed.
    auto removeModules = [&](const WString& id, const std::function<bool(const DepotModuleRow&)>& match,
                             size_t& removed) {
      removed = 0;
      auto& rows = modules[id];
      std::set<DepotModuleRow> gone;
      for (const auto& m : rows)
        if (match(m) && gone.insert(m).second && !db.DeleteModuleRow(m)) return false;
      for (auto it = rows.begin(); it != rows.end();)
        if (gone.count(*it)) {
          it = rows.erase(it);
          ++removed;
        } else {
          ++it;
        }
      return true;
    };
    // Removes one module a line or the ledger names (the rows with an empty OS version, as the
    // section adds them) and logs it; false when a statement failed.
    auto removeModule = [&](const WString& id, const WString& policyType, const WString& systemType,
                            const WString& osType) {
      const WString fields = u"[PolTypeId='" + policyType + u"', DeplPackId='" + id + u"', SystemType='" +
                             systemType + u"', OsType='" + osType + u"']";
      size_t removed = 0;
      if (!removeModules(id,
                         [&](const DepotModuleRow& r) {
                           return r.systemType == systemType && r.osType == osType && r.osVersion.empty() &&
                                  vr::text::EqualsNoCase(r.policyType, policyType);
                         },
                         removed))
        return fail(LoadMessage(MessageId::kDepotRemoveDependencyFailed));
      LogLine(removed ? u"Functionality module removed " + fields
                      : u"Functionality module not registered and cannot be removed " + fields);
      return true;
    };
    // The same for a module by its ledger key.
    auto removeModuleByKey = [&](const WString& key) {
      WString id, policyType, systemType, osType;
      SplitModuleKey(key, id, policyType, systemType, osType);
      return removeModule(id, policyType, systemType, osType);
    };
    auto removePackageRow = [&](const WString& id) {
      if (!installed.count(id)) {
        LogLine(u"Package not registered and cannot be removed [DeplPackId='" + id + u"']");
        return true;
      }
      if (!db.DeletePackageRow(id)) return false;
      installed.erase(id);
      LogLine(u"Package removed [DeplPackId='" + id + u"']");
      return true;
    };
    struct OpenPackage {
      bool open = false;
      WString type, id;
    } current;
    auto finishPackage = [&]() {
      if (!current.open) return true;
      current.open = false;
      // Modules the ledger says this registration holds that none of its lines names: a later
      // registration of what an earlier one added writes no line for it, but took the addition
      // over when the earlier one was unregistered. Those it now owns go here.
      if (registration) {
        // Decide passes over an entry a line has reversed meanwhile (it is no longer live).
        for (const WString& key : heldModules[current.id]) {
          if (Decide(ledger, registration, "module", key) == Verdict::kRemove && !removeModuleByKey(key)) return false;
        }
      }
      // A package still deployed (on nodes that are not Windows nodes) keeps its row: its id
      // must not pass to the next new package together with those deployments.
      const Verdict verdict = Decide(ledger, registration, "package", current.id);
      if (verdict != Verdict::kKeep && modules[current.id].empty() && !deployed.count(current.id)) {
        if (!removePackageRow(current.id)) return fail(LoadMessage(MessageId::kDepotRemovePackageFailed, current.id));
      } else {
        LogLine(u"Package cannot be removed because other functionality modules use this package or this package is "
                u"deployed on Non-Windows node");
      }
      if (PackageKindOf(current.type) != eOTHER_PACKAGE) keepValue(kWinPkgInfoValue);
      return true;
    };
    auto removeUnixPackage = [&](const PackageUndoItem& unix) {
      const WString& id = unix.tokens[1];
      WString info, version, platform;
      bool uninstallable = false;
      if (!HKLMGetRegistryKeyValue(patchKey, kUxAgtInfoValue, info)) return fail(LoadMessage(MessageId::kRegistryValueReadFailed));
      if (!ParsePackageInfo(info, version, platform, uninstallable)) return fail(LoadMessage(MessageId::kRegistryPackageInfoUnparsed));
      long n = 0, m = 0;
      if (!HKLMGetPatchCounts(patchesKey, version, platform, n, m)) return fail(LoadMessage(MessageId::kRegistryValueReadFailed));
      const WString& osType = unix.tokens[8];
      std::vector<WString> systemTypes{unix.tokens[7]};
      for (size_t i = 9; i < unix.tokens.size(); ++i) systemTypes.push_back(unix.tokens[i]);
      // The modules of the line that the ledger knows this registration listed: only those it
      // added go (a later registration that lists one takes the addition over).
      std::vector<vr::ledger::Entry> listed;
      if (registration)
        for (const auto& e : registration->entries) {
          WString eid, policyType, systemType, os;
          if (e.section != vr::undo::kSectionPackages || e.kind != "module" || e.reversed ||
              !SplitModuleKey(e.key, eid, policyType, systemType, os) || eid != id || os != osType ||
              std::find(systemTypes.begin(), systemTypes.end(), systemType) == systemTypes.end())
            continue;
          listed.push_back(e);
        }
      std::vector<WString> added;  // keys of the modules to remove
      for (const auto& e : listed)
        if (Decide(ledger, registration, "module", e.key) == Verdict::kRemove) added.push_back(e.key);
      const Verdict packageVerdict = Decide(ledger, registration, "package", id);
      if (n > 1) {
        PKG_TRACE_WARNING("Cannot unregister package - another patch is using this package");
        LogLine(u"Package won't be unregistered. There are other subagents of same version installed");
      } else if (registration) {
        for (const WString& key : added)
          if (!removeModuleByKey(key)) return false;
        if (packageVerdict != Verdict::kKeep && !deployed.count(id) && modules[id].empty()) {
          if (!removePackageRow(id)) return fail(LoadMessage(MessageId::kDepotRemovePackageFailed, id));
        } else {
          LogLine(u"Package cannot be removed because other functionality modules use this package or this package "
                  u"is deployed on any node");
        }
      } else {
        for (const WString& systemType : systemTypes) {
          const WString fields = u"[DeplPackId='" + id + u"', SystemType='" + systemType + u"', OsType='" + osType + u"']";
          size_t removed = 0;
          if (!removeModules(id, [&](const DepotModuleRow& r) { return r.systemType == systemType && r.osType == osType; },
                             removed))
            return fail(LoadMessage(MessageId::kDepotRemoveDependencyFailed));
          LogLine(removed ? u"Functionality modules removed " + fields
                          : u"Functionality modules not registered and cannot be removed " + fields);
        }
        if (!deployed.count(id) && modules[id].empty()) {
          if (!removePackageRow(id)) return fail(LoadMessage(MessageId::kDepotRemovePackageFailed, id));
        } else {
          LogLine(u"Package cannot be removed because other functionality modules use this package or this package "
                  u"is deployed on any node");
        }
      }
      keepValue(kUxAgtInfoValue);
      return true;
    };
    auto removalPass = [&]() {
      size_t section = 0;
      for (const auto& item : items) {
        if (item.section != section && !finishPackage()) return false;
        section = item.section;
        if (item.kind == PackageUndoItem::kPackage) {
          if (!finishPackage()) return false;
          current = {true, item.tokens[1], item.tokens[2]};
        } else if (item.kind == PackageUndoItem::kPlatPolicy) {
          const WString id = current.open ? current.id : item.tokens[1];
          const WString& policyType = item.tokens[5];
          const WString& systemType = item.tokens[3];
          const WString& osType = item.tokens[4];
          if (Decide(ledger, registration, "module", id + u"|" + policyType + u"|" + systemType + u"|" + osType) ==
              Verdict::kKeep) {
            LogLine(u"Functionality module kept: it was there before the registration or a later one uses it "
                    u"[PolTypeId='" + policyType + u"', DeplPackId='" + id + u"', SystemType='" + systemType +
                    u"', OsType='" + osType + u"']");
            continue;
          }
          if (!removeModule(id, policyType, systemType, osType)) return false;
        } else {
          if (!finishPackage() || !removeUnixPackage(item)) return false;
        }
      }
      if (!finishPackage()) return false;
      // Packages the registration added that no line names go too, when nothing uses them.
      for (const WString& id : ledgerPackages) {
        if (Decide(ledger, registration, "package", id) != Verdict::kRemove) continue;
        if (!modules[id].empty() || deployed.count(id)) continue;
        if (!removePackageRow(id)) return fail(LoadMessage(MessageId::kDepotRemovePackageFailed, id));
      }
      return true;
    };
    if (!db.BeginTransaction()) return fail(LoadMessage(MessageId::kDepotReadFailed));
    if (!removalPass()) {
      db.RollbackTransaction();
      return false;
    }
    if (!db.CommitTransaction()) return fail(LoadMessage(MessageId::kDepotRemoveDependencyFailed));
    for (const WString& name : values) {
      if (Decide(ledger, registration, "value", patchKey + u"\\" + name) == Verdict::kKeep) continue;
      if (!HKLMRegistryKeyValueRemove(patchKey, name, runLog_.get())) return fail(LoadMessage(MessageId::kRegistryKeyRemoveFailed));
    }
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    if (packageState_) packageState_->db.RollbackTransaction();
    if (message.empty()) message = LoadMessage(MessageId::kDepotReadFailed);
    return false;
  }
}
