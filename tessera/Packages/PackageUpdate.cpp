// The package section's Update: the registration of every package of the registration file
// with its functionality modules in the Depot database, the undo lines, and the registry
// bookkeeping of the patch. It goes plan (what the database holds), record (the state before,
// durable before the first change), apply (in one transaction of the Depot component).
#include <map>
#include <memory>
#include <set>

#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
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
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::pkg;
using vr::front::kExitFailure;

namespace {

constexpr const char* kFile = "Packages\\PackageUpdate";
constexpr unsigned kFlags = vr::trace::kRunFlags;
constexpr int kLocalClusterMode = 2;
constexpr const char16_t* kDefaultDeployerId = u"657AF3A3-BCFD-11D2-8608-080009D961F6";
constexpr const char16_t* kModuleId = u"013900FA-AB7F-11D2-9740-080009EF8C2A";
constexpr const char16_t* kLocal = u"local";

WString Number(long n) { return vr::text::Format(u"%ld", n); }

WString ModuleFields(const WString& policyType, const WString& id, long systemType, long osType) {
  return u"[PolTypeId='" + policyType + u"', DeplPackId='" + id + u"', SystemType='" + Number(systemType) +
         u"', OsType='" + Number(osType) + u"']";
}

// A module as the plan knows it: policy type (upper case), package id, system and OS type.
WString ModuleKey(const WString& policyType, const WString& id, const WString& systemType, const WString& osType) {
  return vr::text::ToUpper(policyType) + u"|" + id + u"|" + systemType + u"|" + osType;
}

// Takes back every addition of the Depot component's transaction unless it was committed.
struct TransactionGuard {
  DepotConnection* depot = nullptr;
  ~TransactionGuard() {
    if (depot) depot->RollbackTransaction();
  }
};

}  // namespace

// One Update: what the database holds, what this run added so far, and the ledger entries of
// the registration being made.
class PackageSection::UpdatePass {
 public:
  UpdatePass(PackageSection& section, CXmlReader& reader, const WString& patch, VrLogFile& sectionLog,
             WString& message)
      : section_(section),
        run_(section.run_),
        reader_(reader),
        sectionLog_(sectionLog),
        message_(message),
        patchKey_(PatchKey(section.run_.GetClusterMode(), patch)),
        ledger_(section.run_.LedgerRegistration()),
        defaultDeployer_(vr::text::ToUpper(kDefaultDeployerId)),
        moduleId_(vr::text::ToUpper(kModuleId)) {}

  int Run();

 private:
  // The failure's message, also in the run log.
  bool Fail(const WString& text);
  // Adds a ledger entry of the registration, once per object.
  void Note(const char* kind, const WString& key, bool existedBefore);
  bool ReadDepotState();
  bool RecordBeforeImage();
  bool BeginChanges(TransactionGuard& transaction);
  bool RegisterPackage(const CPackage& pkg);
  bool FindOrAddPackage(const CPackage& pkg, const WString& deployerId, const WString& fields,
                        std::shared_ptr<DepotObject>& package, bool& existedBefore);
  bool AddModules(const CPackage& pkg, EPackageKind kind, const WString& id, DepotObject& package);
  // listed: the policy type id as the file writes it; policyTypeId: the Depot's form of it.
  bool AddModule(const CPackage& pkg, EPackageKind kind, const WString& id, DepotObject& package,
                 const WString& listed, const WString& policyTypeId, long systemType, long osType);
  bool WritePatchBookkeeping(const CPackage& pkg, EPackageKind kind);

  PackageSection& section_;
  CVrPlatformRegistration& run_;
  CXmlReader& reader_;
  VrLogFile& sectionLog_;
  WString& message_;
  const WString patchKey_;
  vr::ledger::Registration* const ledger_;
  std::set<std::pair<std::string, WString>> noted_;
  const WString defaultDeployer_;
  const WString moduleId_;
  std::unique_ptr<DepotConnection> depot_;

  // ---- The plan: what the Depot database holds before the changes.
  std::vector<DepotPackageRow> packageRows_;
  std::vector<DepotModuleRow> moduleRows_;
  std::map<std::pair<WString, WString>, const DepotPackageRow*> byNameVersion_;
  std::map<WString, WString> policyTypes_;  // upper case -> the Depot's form
  std::set<WString> modulesThere_;          // modules with an empty OS version, as the section adds them
  std::map<WString, std::vector<const DepotModuleRow*>> modulesOf_;

  // ---- What this run added, and the Depot objects it already holds.
  std::set<WString> modulesAddedNow_;
  std::map<std::pair<WString, WString>, std::shared_ptr<DepotObject>> packagesThisRun_;
  std::map<WString, std::shared_ptr<DepotObject>> policyTypeObjects_;
};

int PackageSection::Update(CXmlReader& reader, const WString& patch, bool, VrLogFile& sectionLog, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegUpdate", kFile, kFlags);
  try {
    if (run_.GetClusterMode() == kLocalClusterMode) {
      VR_TRACE_INFO("Local cluster mode detected - do nothing");
      LogLine(u"Local cluster mode detected - do nothing");
      return 0;
    }
    updated_ = true;
    recorded_ = false;
    beforeImage_ = PackageRecord();
    return UpdatePass(*this, reader, patch, sectionLog, message).Run();
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    if (message.empty()) message = LoadMessage(MessageId::kDepotReadFailed);
    return kExitFailure;
  }
}

int PackageSection::UpdatePass::Run() {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::Run", kFile, kFlags);
  const auto& packages = reader_.Packages();
  // Texts the Depot database cannot keep whole are refused before anything changes.
  if (WString tooLong; !CheckPackageTexts(packages, tooLong)) return Fail(tooLong), kExitFailure;
  if (!ConnectToDEPOT(depot_, run_.GetRunLog(), message_)) return kExitFailure;
  if (!ReadDepotState() || !RecordBeforeImage()) return kExitFailure;

  // ---- Apply. The record, not the section log, is what recovery reads: the log's lines
  // reach the disk in one flush when the section ends.
  VrLogFile::SyncBatch batch(&sectionLog_);
  TransactionGuard transaction;
  if (!BeginChanges(transaction)) return kExitFailure;
  VR_TRACE_INFO("Number of packages found in configuration file: ", static_cast<unsigned long>(packages.size()));
  for (const CPackage& pkg : packages)
    if (!RegisterPackage(pkg)) return kExitFailure;
  if (run_.IsPlanOnly()) return 0;  // the transaction's guard takes every addition back
  transaction.depot = nullptr;
  if (FAILED(depot_->CommitTransaction())) {
    VR_TRACE_ERROR(GetDepotErrorMessage());
    return Fail(LoadMessage(MessageId::kDepotCommitFailed)), kExitFailure;
  }
  return 0;
}

bool PackageSection::UpdatePass::Fail(const WString& text) {
  message_ = text;
  section_.LogLine(text);
  return false;
}

// The ledger's entries of this registration: every package and module the file lists and
// every bookkeeping value, with whether it was there before, so that its unregistration takes
// away only what it added and leaves what a later registration still lists.
void PackageSection::UpdatePass::Note(const char* kind, const WString& key, bool existedBefore) {
  if (!ledger_ || !noted_.insert({kind, vr::text::ToUpper(key)}).second) return;
  vr::ledger::Entry entry;
  entry.section = vr::undo::kSectionPackages;
  entry.kind = kind;
  entry.key = key;
  entry.existedBefore = existedBefore;
  ledger_->entries.push_back(std::move(entry));
}

// The plan: what is there, from the database in a few statements, so that the changes below
// ask the database only for what they add.
bool PackageSection::UpdatePass::ReadDepotState() {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::ReadDepotState", kFile, kFlags);
  CDepotData& db = section_.db_;
  std::vector<WString> policyTypeIds;
  if (!db.ReadPackageRows(packageRows_)) {
    const auto& packages = reader_.Packages();
    const CPackage* first = packages.empty() ? nullptr : &packages.front();
    return Fail(LoadMessage(MessageId::kDepotGetPackageFailed, first ? first->name : WString(),
                            first ? first->version : WString()));
  }
  if (!db.ReadModuleRows(nullptr, moduleRows_)) return Fail(LoadMessage(MessageId::kDepotReadFailed));
  if (!db.ReadPolicyTypeIds(policyTypeIds)) {
    VR_TRACE_ERROR("Cannot read the policy types");
    return Fail(LoadMessage(MessageId::kDepotReadFailed));
  }
  for (const auto& row : packageRows_) byNameVersion_.emplace(std::make_pair(row.name, row.version), &row);
  for (const auto& id : policyTypeIds) policyTypes_.emplace(vr::text::ToUpper(id), id);
  for (const auto& m : moduleRows_) {
    modulesOf_[m.id].push_back(&m);
    if (m.osVersion.empty()) modulesThere_.insert(ModuleKey(m.policyType, m.id, m.systemType, m.osType));
  }
  return true;
}

// The record of the state before: every package the file lists (with all its modules when it
// is there), the mixed logical ids the run rewrites, and the patch's bookkeeping. Durable
// before the first change. A plan records nothing.
bool PackageSection::UpdatePass::RecordBeforeImage() {
  PackageRecord& record = section_.beforeImage_;
  std::set<std::pair<WString, WString>> recordedPackages;
  bool bookkeeping = false;
  for (const CPackage& pkg : reader_.Packages()) {
    if (!recordedPackages.insert({pkg.name, pkg.version}).second) continue;
    RecordedPackage before;
    auto found = byNameVersion_.find({pkg.name, pkg.version});
    if (found == byNameVersion_.end()) {
      before.name = pkg.name;
      before.version = pkg.version;
    } else {
      before.present = true;
      before.row = *found->second;
      for (const DepotModuleRow* m : modulesOf_[before.row.id]) before.modules.push_back(*m);
    }
    record.packages.push_back(std::move(before));
    if (PackageKindOf(pkg.type) != eOTHER_PACKAGE && !pkg.platforms.empty()) bookkeeping = true;
  }
  for (const auto& row : packageRows_)
    if (row.logicalId == CDepotData::kLogicalIdMixed) record.logicalIds.push_back({row.id, row.logicalId});
  if (bookkeeping) RecordPatchBookkeeping(patchKey_, record);
  record.complete = true;
  if (run_.IsPlanOnly()) return true;
  if (!RecordPackageSection(SerializeRecord(record), message_)) return Fail(message_);
  section_.recorded_ = true;
  return true;
}

// The first changes: the mixed logical ids (not in a plan), then the Depot component's
// transaction that holds every addition, so that they go in together or not at all (the
// rollback of a failed section then finds nothing of them). A plan asks the Depot for what it
// would add inside that transaction, which it never commits, so that its lines carry the ids
// the real run would get.
bool PackageSection::UpdatePass::BeginChanges(TransactionGuard& transaction) {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::BeginChanges", kFile, kFlags);
  if (!run_.IsPlanOnly()) {
    if (!section_.db_.UpdateLogicalId()) return Fail(LoadMessage(MessageId::kDepotLogicalIdUpdateFailed));
    section_.LogLine(u"LogicalId values successfully updated");
  }
  if (FAILED(depot_->BeginTransaction())) {
    VR_TRACE_ERROR(GetDepotErrorMessage());
    return Fail(LoadMessage(MessageId::kDepotCommitFailed));
  }
  transaction.depot = depot_.get();
  return true;
}

// One package of the file: its Depot row, its modules and undo lines, its bookkeeping value.
bool PackageSection::UpdatePass::RegisterPackage(const CPackage& pkg) {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::RegisterPackage", kFile, kFlags);
  const EPackageKind kind = PackageKindOf(pkg.type);
  const WString deployerId = pkg.deployerId.empty() ? WString() : defaultDeployer_;
  const WString fields = u"[Name='" + pkg.name + u"', Version='" + pkg.version + u"', LogicalId='" + pkg.logicalId +
                         u"', DeployerId='" + deployerId + u"']";
  VR_TRACE_INFO(PackageKindName(kind), " found in configuration file ", fields);
  if (!pkg.uninstallable) {
    VR_TRACE_INFO("This package cannot be uninstalled and will be not logged in undo log file");
    section_.LogLine(u"This package cannot be uninstalled and will be not logged in undo log file");
  }
  std::shared_ptr<DepotObject> package;
  bool existedBefore = false;
  if (!FindOrAddPackage(pkg, deployerId, fields, package, existedBefore)) return false;

  WString id;
  if (FAILED(depot_->GetPackageId(*package, id)) || id.empty()) {
    VR_TRACE_ERROR("Cannot get DeplPackId from VR_PM_DeplPack");
    return Fail(LoadMessage(MessageId::kDepotGetPackageIdFailed));
  }
  VR_TRACE_INFO("DeplPackId value found ['", id, "']");
  // A package that cannot be uninstalled is meant to stay: no entry asks for its removal.
  if (pkg.uninstallable) Note("package", id, existedBefore);
  return AddModules(pkg, kind, id, *package) && WritePatchBookkeeping(pkg, kind);
}

// The package's Depot object: the one this run already added, the one the plan says the Depot
// knows, or a new registration.
bool PackageSection::UpdatePass::FindOrAddPackage(const CPackage& pkg, const WString& deployerId, const WString& fields,
                                                  std::shared_ptr<DepotObject>& package, bool& existedBefore) {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::FindOrAddPackage", kFile, kFlags);
  existedBefore = byNameVersion_.count({pkg.name, pkg.version}) > 0;
  if (auto mine = packagesThisRun_.find({pkg.name, pkg.version}); mine != packagesThisRun_.end()) {
    package = mine->second;
  } else if (existedBefore) {
    if (FAILED(depot_->GetPackage(pkg.name, pkg.version, package))) {
      VR_TRACE_ERROR(GetDepotErrorMessage());
      return Fail(LoadMessage(MessageId::kDepotGetPackageFailed, pkg.name, pkg.version));
    }
  }
  if (package) {
    VR_TRACE_INFO("Package already in database (VR_PM_DeplPack)");
    section_.LogLine(u"Package '" + pkg.name + u"' is already registered");
    return true;
  }
  VR_TRACE_INFO("Package not found in database (VR_PM_DeplPack)");
  VR_TRACE_INFO("Try to register package ", fields);
  const HRESULT hr =
      depot_->RegisterPackage(pkg.logicalId, pkg.name, pkg.version, deployerId, kLocal, pkg.description, package);
  if (FAILED(hr) || !package) {
    VR_TRACE_ERROR(GetDepotErrorMessage());
    return Fail(LoadMessage(MessageId::kDepotAddPackageFailed, pkg.name, pkg.version));
  }
  existedBefore = false;
  packagesThisRun_[{pkg.name, pkg.version}] = package;
  VR_TRACE_INFO("Package successfully registered");
  section_.LogLine(u"Package '" + pkg.name + u"' successfully registered");
  return true;
}

// Every platform of the package with its policy types. The package's undo line goes before
// the first platform's modules, so that their lines follow it.
bool PackageSection::UpdatePass::AddModules(const CPackage& pkg, EPackageKind kind, const WString& id,
                                            DepotObject& package) {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::AddModules", kFile, kFlags);
  VR_TRACE_INFO("Number of platform and policy types found for package: ",
                static_cast<unsigned long>(pkg.platforms.size()));
  for (size_t entry = 0; entry < pkg.platforms.size(); ++entry) {
    const CPlatformAndPolicyTypes& platform = pkg.platforms[entry];
    const long systemType = platform.systemType, osType = platform.osType;
    VR_TRACE_INFO("Platform and policy type found in configuration file [SystemType='", systemType, "', OSType='",
                  osType, "']");
    if (entry == 0 && pkg.uninstallable && !LogPackageInfo(pkg, kind, id, sectionLog_)) {
      VR_TRACE_ERROR("An error occurred while writing to undo log file");
      return Fail(LoadMessage(MessageId::kUndoFileWriteFailed, sectionLog_.GetPath()));
    }
    VR_TRACE_INFO("Number of policy types found: ", static_cast<unsigned long>(platform.policyTypes.size()));
    for (const WString& listed : platform.policyTypes) {
      VR_TRACE_INFO("Try to find policy type from DEPOT database with PolTypeId '", listed, "'");
      // Ids are compared without regard to case; the Depot's form is the one used.
      const auto known = policyTypes_.find(vr::text::ToUpper(listed));
      if (known == policyTypes_.end()) {
        VR_TRACE_INFO("Policy type with PolTypeId '", listed, "' was not found.");
        VR_TRACE_INFO("Either this policy type does not exist on this server (most likely) ");
        VR_TRACE_INFO("or the DEPOT database is somehow corrupted (less likely). ");
        VR_TRACE_INFO("Proceeding to the next policy type ID, if there are any left.");
        section_.LogLine(u"Policy type Id not found " + ModuleFields(listed, id, systemType, osType));
        vr::console::WriteStdout(
            vr::text::Format(u"\n%S\n", LoadMessage(MessageId::kPolicyTypeNotRegisteredInfo, listed)));
        continue;
      }
      if (!AddModule(pkg, kind, id, package, listed, known->second, systemType, osType)) return false;
    }
  }
  return true;
}

// One functionality module, unless the Depot has it already; its undo line (Windows and other
// packages: a Unix package's line names its platforms already).
bool PackageSection::UpdatePass::AddModule(const CPackage& pkg, EPackageKind kind, const WString& id,
                                           DepotObject& package, const WString& listed,
                                           const WString& policyTypeId, long systemType, long osType) {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::AddModule", kFile, kFlags);
  const WString moduleFields = ModuleFields(policyTypeId, id, systemType, osType);
  const WString key = ModuleKey(policyTypeId, id, Number(systemType), Number(osType));
  const WString ledgerKey = id + u"|" + policyTypeId + u"|" + Number(systemType) + u"|" + Number(osType);
  if (modulesThere_.count(key)) {
    Note("module", ledgerKey, !modulesAddedNow_.count(key));
    section_.LogLine(u"Functionality module already registered " + moduleFields);
    VR_TRACE_INFO("Dependency information already exist in VR_PM_FunctionalityModule'");
    return true;
  }
  std::shared_ptr<DepotObject>& policyType = policyTypeObjects_[policyTypeId];
  if (!policyType) {
    bool notFound = false;
    WString canonical;
    const HRESULT hr = depot_->GetPolicyType(policyTypeId, policyType, notFound, canonical);
    if (FAILED(hr) || !policyType) {
      VR_TRACE_ERROR(GetDepotErrorMessage());
      policyType.reset();
      return Fail(LoadMessage(MessageId::kPolicyTypeNotFound, listed));
    }
  }
  VR_TRACE_INFO("Add dependency information in VR_PM_FunctionalityModule'");
  if (FAILED(depot_->AddFunctionalityModule(*policyType, systemType, osType, WString(), moduleId_, kLocal, package))) {
    VR_TRACE_ERROR(GetDepotErrorMessage());
    return Fail(LoadMessage(MessageId::kDepotAddPlatformFailed, policyTypeId, Number(systemType), Number(osType)));
  }
  modulesThere_.insert(key);
  modulesAddedNow_.insert(key);
  Note("module", ledgerKey, false);
  if (pkg.uninstallable && kind != eUNIX_PACKAGE &&
      !LogPlatPolicyInfo(id, pkg.logicalId, systemType, osType, policyTypeId, sectionLog_)) {
    VR_TRACE_ERROR("An error occurred while writing to undo log file");
    return Fail(LoadMessage(MessageId::kUndoFileWriteFailed, sectionLog_.GetPath()));
  }
  section_.LogLine(u"Functionality module successfully registered " + moduleFields);
  return true;
}

// Registry bookkeeping of the patch, for Windows and Unix packages: which package of that kind
// it brought, so that unregistering another patch keeps what this one still needs.
bool PackageSection::UpdatePass::WritePatchBookkeeping(const CPackage& pkg, EPackageKind kind) {
  VR_TRACE_FUNCTION("PackageSection::UpdatePass::WritePatchBookkeeping", kFile, kFlags);
  if (kind == eOTHER_PACKAGE) return true;
  if (pkg.platforms.empty()) {
    VR_TRACE_INFO("No platform given: no registry bookkeeping for the package");
    return true;
  }
  const long systemType = pkg.platforms.front().systemType, osType = pkg.platforms.front().osType;
  WString platformText;
  if (!reader_.GetPlatformType(systemType, osType, platformText)) {
    VR_TRACE_ERROR("Cannot map platform type digits to string value [OSType='", osType, "', SystemType='", systemType,
                   "']");
    return Fail(LoadMessage(MessageId::kPlatformTypeUnmapped));
  }
  VR_TRACE_INFO("Platform type digits mapped into '", platformText, "'");
  const WString name = kind == eWINDOWS_PACKAGE ? kWinPkgInfoValue : kUxAgtInfoValue;
  if (run_.IsPlanOnly()) return true;  // the bookkeeping writes no undo line
  bool created = false;
  if (!HKLMRegistryKeyCreate(patchKey_, name, pkg.version + u"|" + platformText, run_.GetRunLog(), &created))
    return Fail(LoadMessage(MessageId::kRegistryKeyCreateFailed));
  Note("value", patchKey_ + u"\\" + name, !created);
  return true;
}
