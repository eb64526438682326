// The unregistration of a patch's packages from the "[[[PACKAGES]]]" sections of its undo file
// (or the lines of a killed run's section log): a checking pass that removes nothing, the
// record of every row and value it may remove, then the removal pass in one transaction, and
// last the patch's bookkeeping values. The ledger, when it knows the registration, decides
// which of the objects the lines name it added and may take away.
#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "platform/text/casefold.h"
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

constexpr const char* kFile = "Packages\\PackageRemoval";
constexpr unsigned kFlags = vr::trace::kRunFlags;

constexpr const char16_t* kPackageInUse =
    u"Package cannot be removed because other functionality modules use this package or this package is deployed on "
    u"any node";

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

// A live module entry of the package section: its parts, or false for any other entry.
bool LiveModuleEntry(const vr::ledger::Entry& e, WString& id, WString& policyType, WString& systemType,
                     WString& osType) {
  return e.section == vr::undo::kSectionPackages && e.kind == "module" && !e.reversed &&
         SplitModuleKey(e.key, id, policyType, systemType, osType);
}

}  // namespace

// One unregistration (or rollback from lines): the items of the lines, what the Depot holds,
// the ledger's view of the registration, and what the removals have taken so far.
class PackageSection::RemovalPass {
 public:
  RemovalPass(PackageSection& section, VrLogFile& log, WString& message, const WString& patchesKey,
              const WString& patchKey)
      : section_(section),
        run_(section.run_),
        db_(section.db_),
        log_(log),
        message_(message),
        patchesKey_(patchesKey),
        patchKey_(patchKey) {}

  bool Run();

 private:
  // The failure's message appended, also in the run log.
  bool Fail(const WString& text);
  bool ReadUndoLines();
  bool ReadDepotState();
  bool CheckNotDeployedOnWindows();
  void ReadLedger();
  bool RecordBeforeImage();
  bool RemoveAll();
  bool RemovePlatPolicy(const PackageUndoItem& item);
  bool FinishPackage();
  bool RemoveUnixPackage(const PackageUndoItem& unix);
  std::vector<WString> UnixModulesAdded(const WString& id, const WString& osType,
                                        const std::vector<WString>& systemTypes);
  bool RemoveUnixModulesOfLine(const WString& id, const WString& osType, const std::vector<WString>& systemTypes);
  bool RemoveUnlistedPackages();
  bool RemoveBookkeepingValues();
  // Removes the modules of a package that match; false when a statement failed.
  bool RemoveModules(const WString& id, const std::function<bool(const DepotModuleRow&)>& match, size_t& removed);
  bool RemoveModule(const WString& id, const WString& policyType, const WString& systemType, const WString& osType);
  bool RemoveModuleByKey(const WString& key);
  // Removes the package row when the package is there; false when the statement failed.
  bool RemovePackageRow(const WString& id);
  // The package row goes when the verdict allows it and nothing uses the package any more.
  bool RemovePackageIfUnused(const WString& id, Verdict verdict, const WChar* keptLine);
  void KeepValue(const WString& name);

  PackageSection& section_;
  CVrPlatformRegistration& run_;
  CDepotData& db_;
  VrLogFile& log_;
  WString& message_;
  const WString patchesKey_;
  const WString patchKey_;

  std::vector<PackageUndoItem> items_;
  // ---- What the Depot holds before the removals.
  std::vector<DepotPackageRow> packageRows_;
  std::vector<DepotModuleRow> moduleRows_;
  std::set<WString> deployed_;
  bool ledgerKnows_ = false;  // an unregistration whose registration the ledger knows
  // ---- The ledger's view of the registration (null: the lines decide alone).
  vr::ledger::Registration* registration_ = nullptr;
  std::optional<vr::ledger::Ledger::SectionIndex> ledger_;
  std::vector<WString> ledgerPackages_;                     // packages it added, live
  std::map<WString, std::vector<WString>> heldModules_;     // its live module keys, by package id
  // ---- The removals' state.
  std::set<WString> installed_;                             // named packages with a row now
  std::map<WString, std::vector<DepotModuleRow>> modules_;  // of the named packages, by id
  std::vector<WString> values_;                             // bookkeeping values to remove
  struct OpenPackage {
    bool open = false;
    WString type, id;
  } current_;  // the "PACKAGE" line whose "PLAT_POLICY" lines are being taken back
};

bool PackageSection::RemoveUndoLines(VrLogFile& log, const WString& patchesKey, const WString& patchKey,
                                     WString& message) {
  return RemovalPass(*this, log, message, patchesKey, patchKey).Run();
}

bool PackageSection::RemovalPass::Run() {
  if (!ReadUndoLines() || !ReadDepotState() || !CheckNotDeployedOnWindows()) return false;
  // A plan of an unregistration stops after the checks: they are all it can fail before a
  // change.
  if (run_.IsPlanOnly()) return true;
  if (items_.empty() && !ledgerKnows_) return true;
  ReadLedger();
  if (!RecordBeforeImage()) return false;
  // The Depot rows go in one transaction, so that a failure leaves them all; the bookkeeping
  // values of the patch are removed once the rows are gone.
  if (!db_.BeginTransaction()) return Fail(LoadMessage(MessageId::kDepotReadFailed));
  if (!RemoveAll()) {
    db_.RollbackTransaction();
    return false;
  }
  if (!db_.CommitTransaction()) return Fail(LoadMessage(MessageId::kDepotRemoveDependencyFailed));
  return RemoveBookkeepingValues();
}

bool PackageSection::RemovalPass::Fail(const WString& text) {
  message_ += text;
  section_.LogLine(text);
  return false;
}

// Checking pass, first part: every line of every package section is known and complete.
bool PackageSection::RemovalPass::ReadUndoLines() {
  PackageSectionError error;
  size_t sections = 0, emptySections = 0;
  // A rollback reads a section log, which a killed run leaves without its end marker.
  const bool read = ReadPackageSections(log_, items_, error, &sections, &emptySections, run_.IsRollback());
  for (size_t i = 0; i < emptySections; ++i) section_.LogLine(u"Nothing to rollback in package section!");
  if (read) return true;
  // A section that cannot be read is a syntax error of the undo file.
  run_.SetError();
  if (error.kind == PackageSectionError::kTokenCount)
    return Fail(LoadMessage(MessageId::kUndoLineTokenCount, error.text + u"\n"));
  if (error.kind == PackageSectionError::kUnexpectedLine)
    return Fail(LoadMessage(MessageId::kUndoPackagesUnexpectedLine, error.line, log_.GetPath()));
  return Fail(LoadMessage(MessageId::kUndoPackagesUnterminated, log_.GetPath(), vr::undo::kPackagesEnd));
}

// What is there now, in a few statements: the rows of the packages, their modules, and which
// packages are deployed. The checks and removals decide from it, and the record keeps it.
bool PackageSection::RemovalPass::ReadDepotState() {
  ledgerKnows_ = !run_.IsRollback() && run_.LedgerRegistration();
  std::vector<WString> deployedIds;
  if ((!items_.empty() || ledgerKnows_) &&
      (!db_.ReadPackageRows(packageRows_) || !db_.ReadModuleRows(nullptr, moduleRows_) ||
       !db_.ReadDeployedPackageIds(deployedIds)))
    return Fail(LoadMessage(MessageId::kDepotReadFailed));
  deployed_.insert(deployedIds.begin(), deployedIds.end());
  return true;
}

// Checking pass, second part: no package to be removed is still deployed on a Windows node
// (a rollback takes back its own run's additions whatever the deployments).
bool PackageSection::RemovalPass::CheckNotDeployedOnWindows() {
  if (run_.IsRollback()) return true;
  for (const auto& item : items_) {
    if (item.kind != PackageUndoItem::kPackage) continue;
    const WString& id = item.tokens[2];
    if (!deployed_.count(id)) continue;  // on no node at all
    bool onWindows = false;
    WString why;
    if (!IsPkgDeployedOnWinNode(db_, [this](int os) { return run_.IsWindowsOS(os); }, id, onWindows, why))
      return Fail(why + LoadMessage(MessageId::kPackageDeployedUnknown, id));
    if (onWindows) {
      run_.SetPackageDeployed();
      return Fail(LoadMessage(MessageId::kPackageStillDeployed, id));
    }
  }
  return true;
}

// The ledger, when it knows the registration, says which of the objects the lines name it
// added, and which packages it added that no line names (a package without platforms). An
// undo file it does not know is taken back from its own lines.
void PackageSection::RemovalPass::ReadLedger() {
  registration_ = run_.IsRollback() ? nullptr : run_.LedgerRegistration();
  ledger_.emplace(run_.RunLedger(), vr::undo::kSectionPackages);
  if (!registration_) return;
  for (const auto& e : registration_->entries) {
    if (e.section == vr::undo::kSectionPackages && e.kind == "package" && !e.reversed && !e.existedBefore)
      ledgerPackages_.push_back(e.key);
  }
  for (const auto& e : registration_->entries) {
    WString eid, policyType, systemType, os;
    if (LiveModuleEntry(e, eid, policyType, systemType, os)) heldModules_[eid].push_back(e.key);
  }
}

// Record: every row of the packages the lines (and the ledger) name, and the patch's
// bookkeeping, as they are before the first removal, durable in the run journal.
bool PackageSection::RemovalPass::RecordBeforeImage() {
  std::vector<WString> itemIds = ItemIds(items_);
  itemIds.insert(itemIds.end(), ledgerPackages_.begin(), ledgerPackages_.end());
  const std::set<WString> named(itemIds.begin(), itemIds.end());
  for (const auto& m : moduleRows_)
    if (named.count(m.id)) modules_[m.id].push_back(m);
  PackageRecord record;
  for (const auto& row : packageRows_) {
    if (!named.count(row.id)) continue;
    installed_.insert(row.id);
    RecordedPackage before;
    before.present = true;
    before.row = row;
    before.modules = modules_[row.id];
    record.packages.push_back(std::move(before));
  }
  RecordPatchBookkeeping(patchKey_, record);
  record.complete = true;
  WString why;
  if (!RecordPackageSection(SerializeRecord(record), why)) return Fail(why);
  return true;
}

// Removal pass: the items in the order of the lines. A package is finished (its row may go)
// when the next package, a Unix package or another section begins, and at the end.
bool PackageSection::RemovalPass::RemoveAll() {
  size_t section = 0;
  for (const auto& item : items_) {
    if (item.section != section && !FinishPackage()) return false;
    section = item.section;
    if (item.kind == PackageUndoItem::kPackage) {
      if (!FinishPackage()) return false;
      current_ = {true, item.tokens[1], item.tokens[2]};
    } else if (item.kind == PackageUndoItem::kPlatPolicy) {
      if (!RemovePlatPolicy(item)) return false;
    } else {
      if (!FinishPackage() || !RemoveUnixPackage(item)) return false;
    }
  }
  return FinishPackage() && RemoveUnlistedPackages();
}

// The module of a "PLAT_POLICY" line, unless the ledger keeps it.
bool PackageSection::RemovalPass::RemovePlatPolicy(const PackageUndoItem& item) {
  const WString id = current_.open ? current_.id : item.tokens[1];
  const WString& policyType = item.tokens[5];
  const WString& systemType = item.tokens[3];
  const WString& osType = item.tokens[4];
  if (Decide(*ledger_, registration_, "module", id + u"|" + policyType + u"|" + systemType + u"|" + osType) ==
      Verdict::kKeep) {
    section_.LogLine(u"Functionality module kept: it was there before the registration or a later one uses it "
                     u"[PolTypeId='" + policyType + u"', DeplPackId='" + id + u"', SystemType='" + systemType +
                     u"', OsType='" + osType + u"']");
    return true;
  }
  return RemoveModule(id, policyType, systemType, osType);
}

// The end of a "PACKAGE" line's lines: the modules the ledger holds for it, then its row.
bool PackageSection::RemovalPass::FinishPackage() {
  if (!current_.open) return true;
  current_.open = false;
  // Modules the ledger says this registration holds that none of its lines names: a later
  // registration of what an earlier one added writes no line for it, but took the addition
  // over when the earlier one was unregistered. Those it now owns go here. Decide passes over
  // an entry a line has reversed meanwhile (it is no longer live).
  if (registration_) {
    for (const WString& key : heldModules_[current_.id]) {
      if (Decide(*ledger_, registration_, "module", key) == Verdict::kRemove && !RemoveModuleByKey(key)) return false;
    }
  }
  // A package still deployed (on nodes that are not Windows nodes) keeps its row: its id must
  // not pass to the next new package together with those deployments.
  const Verdict verdict = Decide(*ledger_, registration_, "package", current_.id);
  if (!RemovePackageIfUnused(current_.id, verdict,
                             u"Package cannot be removed because other functionality modules use this package or "
                             u"this package is deployed on Non-Windows node"))
    return false;
  if (PackageKindOf(current_.type) != eOTHER_PACKAGE) KeepValue(kWinPkgInfoValue);
  return true;
}

// A "PACKAGE_UNIX" line: its modules and row go only when no other installed patch uses the
// same Unix agent package (the patch counts of the bookkeeping).
bool PackageSection::RemovalPass::RemoveUnixPackage(const PackageUndoItem& unix) {
  VR_TRACE_FUNCTION("PackageSection::RemovalPass::RemoveUnixPackage", kFile, kFlags);
  const WString& id = unix.tokens[1];
  WString info, version, platform;
  bool uninstallable = false;
  if (!HKLMGetRegistryKeyValue(patchKey_, kUxAgtInfoValue, info))
    return Fail(LoadMessage(MessageId::kRegistryValueReadFailed));
  if (!ParsePackageInfo(info, version, platform, uninstallable))
    return Fail(LoadMessage(MessageId::kRegistryPackageInfoUnparsed));
  long n = 0, m = 0;
  if (!HKLMGetPatchCounts(patchesKey_, version, platform, n, m))
    return Fail(LoadMessage(MessageId::kRegistryValueReadFailed));
  const WString& osType = unix.tokens[8];
  std::vector<WString> systemTypes{unix.tokens[7]};
  for (size_t i = 9; i < unix.tokens.size(); ++i) systemTypes.push_back(unix.tokens[i]);
  // The ledger's verdicts are taken (and its entries marked reversed) whatever the counts say.
  const std::vector<WString> added = UnixModulesAdded(id, osType, systemTypes);
  const Verdict packageVerdict = Decide(*ledger_, registration_, "package", id);
  if (n > 1) {
    PKG_TRACE_WARNING("Cannot unregister package - another patch is using this package");
    section_.LogLine(u"Package won't be unregistered. There are other subagents of same version installed");
  } else if (registration_) {
    for (const WString& key : added)
      if (!RemoveModuleByKey(key)) return false;
    if (!RemovePackageIfUnused(id, packageVerdict, kPackageInUse)) return false;
  } else {
    if (!RemoveUnixModulesOfLine(id, osType, systemTypes)) return false;
    if (!RemovePackageIfUnused(id, Verdict::kUnknown, kPackageInUse)) return false;
  }
  KeepValue(kUxAgtInfoValue);
  return true;
}

// The keys of the line's modules that the ledger knows this registration listed and added:
// only those go (a later registration that lists one takes the addition over).
std::vector<WString> PackageSection::RemovalPass::UnixModulesAdded(const WString& id, const WString& osType,
                                                                   const std::vector<WString>& systemTypes) {
  std::vector<vr::ledger::Entry> listed;
  if (registration_) {
    for (const auto& e : registration_->entries) {
      WString eid, policyType, systemType, os;
      if (!LiveModuleEntry(e, eid, policyType, systemType, os) || eid != id || os != osType ||
          std::find(systemTypes.begin(), systemTypes.end(), systemType) == systemTypes.end())
        continue;
      listed.push_back(e);
    }
  }
  std::vector<WString> added;
  for (const auto& e : listed)
    if (Decide(*ledger_, registration_, "module", e.key) == Verdict::kRemove) added.push_back(e.key);
  return added;
}

// Without the ledger, a Unix line takes every module of its system types on its OS type.
bool PackageSection::RemovalPass::RemoveUnixModulesOfLine(const WString& id, const WString& osType,
                                                          const std::vector<WString>& systemTypes) {
  for (const WString& systemType : systemTypes) {
    const WString fields = u"[DeplPackId='" + id + u"', SystemType='" + systemType + u"', OsType='" + osType + u"']";
    size_t removed = 0;
    if (!RemoveModules(id, [&](const DepotModuleRow& r) { return r.systemType == systemType && r.osType == osType; },
                       removed))
      return Fail(LoadMessage(MessageId::kDepotRemoveDependencyFailed));
    section_.LogLine(removed ? u"Functionality modules removed " + fields
                             : u"Functionality modules not registered and cannot be removed " + fields);
  }
  return true;
}

// Packages the registration added that no line names go too, when nothing uses them.
bool PackageSection::RemovalPass::RemoveUnlistedPackages() {
  for (const WString& id : ledgerPackages_) {
    if (Decide(*ledger_, registration_, "package", id) != Verdict::kRemove) continue;
    if (!modules_[id].empty() || deployed_.count(id)) continue;
    if (!RemovePackageRow(id)) return Fail(LoadMessage(MessageId::kDepotRemovePackageFailed, id));
  }
  return true;
}

// The patch's bookkeeping values of the kinds its packages had, unless the ledger keeps them.
bool PackageSection::RemovalPass::RemoveBookkeepingValues() {
  for (const WString& name : values_) {
    if (Decide(*ledger_, registration_, "value", patchKey_ + u"\\" + name) == Verdict::kKeep) continue;
    if (!HKLMRegistryKeyValueRemove(patchKey_, name, run_.GetRunLog()))
      return Fail(LoadMessage(MessageId::kRegistryKeyRemoveFailed));
  }
  return true;
}

bool PackageSection::RemovalPass::RemoveModules(const WString& id,
                                                const std::function<bool(const DepotModuleRow&)>& match,
                                                size_t& removed) {
  removed = 0;
  auto& rows = modules_[id];
  std::set<DepotModuleRow> gone;
  for (const auto& m : rows)
    if (match(m) && gone.insert(m).second && !db_.DeleteModuleRow(m)) return false;
  for (auto it = rows.begin(); it != rows.end();) {
    if (gone.count(*it)) {
      it = rows.erase(it);
      ++removed;
    } else {
      ++it;
    }
  }
  return true;
}

// One module a line or the ledger names (the rows with an empty OS version, as the section
// adds them), logged; false when a statement failed.
bool PackageSection::RemovalPass::RemoveModule(const WString& id, const WString& policyType, const WString& systemType,
                                               const WString& osType) {
  const WString fields = u"[PolTypeId='" + policyType + u"', DeplPackId='" + id + u"', SystemType='" + systemType +
                         u"', OsType='" + osType + u"']";
  size_t removed = 0;
  const auto sameModule = [&](const DepotModuleRow& r) {
    return r.systemType == systemType && r.osType == osType && r.osVersion.empty() &&
           vr::text::EqualsNoCase(r.policyType, policyType);
  };
  if (!RemoveModules(id, sameModule, removed)) return Fail(LoadMessage(MessageId::kDepotRemoveDependencyFailed));
  section_.LogLine(removed ? u"Functionality module removed " + fields
                           : u"Functionality module not registered and cannot be removed " + fields);
  return true;
}

bool PackageSection::RemovalPass::RemoveModuleByKey(const WString& key) {
  WString id, policyType, systemType, osType;
  SplitModuleKey(key, id, policyType, systemType, osType);
  return RemoveModule(id, policyType, systemType, osType);
}

bool PackageSection::RemovalPass::RemovePackageRow(const WString& id) {
  if (!installed_.count(id)) {
    section_.LogLine(u"Package not registered and cannot be removed [DeplPackId='" + id + u"']");
    return true;
  }
  if (!db_.DeletePackageRow(id)) return false;
  installed_.erase(id);
  section_.LogLine(u"Package removed [DeplPackId='" + id + u"']");
  return true;
}

bool PackageSection::RemovalPass::RemovePackageIfUnused(const WString& id, Verdict verdict, const WChar* keptLine) {
  if (verdict != Verdict::kKeep && modules_[id].empty() && !deployed_.count(id)) {
    if (!RemovePackageRow(id)) return Fail(LoadMessage(MessageId::kDepotRemovePackageFailed, id));
    return true;
  }
  section_.LogLine(keptLine);
  return true;
}

void PackageSection::RemovalPass::KeepValue(const WString& name) {
  if (std::find(values_.begin(), values_.end(), name) == values_.end()) values_.push_back(name);
}
