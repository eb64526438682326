// The package section's Init, Update and Cleanup: the Depot database connection, the
// registration of every package of the registration file with its functionality modules, the
// undo lines, and the registry bookkeeping of the patch.
#include <map>
#include <memory>
#include <set>

#include "platform/registry/registry.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageRestore.h"
#include "tessera/RunLedger.h"
#include "tessera/UndoFile.h"
#include "tessera/Packages/PackageSection.h"
#include "tessera/Packages/PackageUndoLines.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::pkg;
using vr::front::kExitFailure;

namespace {

constexpr const char* kFile = "Packages\\PackageSectionHandlers";
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

}  // namespace

int CVrPlatformRegistration::PackageRegInit(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegInit", kFile, kFlags);
  try {
    if (!packageState_) packageState_ = std::make_shared<PackageSectionState>();
    VR_TRACE_INFO("Try to connect to DEPOT database");
    if (!packageState_->db.ConnectToDB()) {
      message = LoadMessage(MessageId::kDepotDatabaseConnectFailed);
      LogLine(message);
      return kExitFailure;
    }
    VR_TRACE_INFO("Successfully connected to DEPOT database");
    return 0;
  } catch (const CApp_error& e) {
    // The password or a DBAccess value could not be read: the connection is not possible.
    VR_TRACE_ERROR(e.Message());
    message = e.Message() + LoadMessage(MessageId::kDepotDatabaseConnectFailed);
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    message = LoadMessage(MessageId::kDepotDatabaseConnectFailed);
  }
  LogLine(message);
  return kExitFailure;
}

bool CVrPlatformRegistration::PackageRegCleanup(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegCleanup", kFile, kFlags);
  VR_TRACE_INFO("Disconnect from DEPOT database");
  if (!packageState_) return true;
  try {
    packageState_->db.CloseDBConnection();
  } catch (...) {
    // The connection is released either way; a failed close changes nothing stored.
    VR_TRACE_ERROR("Unspecified error occured");
    (void)message;
  }
  return true;
}

int CVrPlatformRegistration::PackageRegUpdate(CXmlReader& reader, const WString& patch, bool, VrLogFile& sectionLog,
                                              WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PackageRegUpdate", kFile, kFlags);
  try {
    if (clusterMode_ == kLocalClusterMode) {
      VR_TRACE_INFO("Local cluster mode detected - do nothing");
      LogLine(u"Local cluster mode detected - do nothing");
      return 0;
    }
    if (!packageState_) packageState_ = std::make_shared<PackageSectionState>();
    PackageSectionState& state = *packageState_;
    CDepotData& db = state.db;
    state.updated = true;
    state.recorded = false;
    state.beforeImage = PackageRecord();
    // The ledger's entries of this registration: every package and module the file lists and
    // every bookkeeping value, with whether it was there before, so that its unregistration
    // takes away only what it added and leaves what a later registration still lists.
    vr::ledger::Registration* ledger = LedgerRegistration();
    std::set<std::pair<std::string, WString>> noted;
    auto note = [&](const char* kind, const WString& key, bool existedBefore) {
      if (!ledger || !noted.insert({kind, vr::text::ToUpper(key)}).second) return;
      vr::ledger::Entry entry;
      entry.section = vr::undo::kSectionPackages;
      entry.kind = kind;
      entry.key = key;
      entry.existedBefore = existedBefore;
      ledger->entries.push_back(std::move(entry));
    };

    auto fail = [&](const WString& text) {
      message = text;
      LogLine(text);
      return kExitFailure;
    };
    const auto& packages = reader.Packages();
    // Texts the Depot database cannot keep whole are refused before anything changes.
    if (WString tooLong; !CheckPackageTexts(packages, tooLong)) return fail(tooLong);

    const WString defaultDeployer = vr::text::ToUpper(kDefaultDeployerId);
    const WString moduleId = vr::text::ToUpper(kModuleId);

    std::unique_ptr<DepotConnection> depot;
    if (!ConnectToDEPOT(depot, runLog_.get(), message)) return kExitFailure;

    // ---- Plan: what is there, from the database in a few statements, and what will change.
    std::vector<DepotPackageRow> packageRows;
    std::vector<DepotModuleRow> moduleRows;
    std::vector<WString> policyTypeIds;
    if (!db.ReadPackageRows(packageRows)) {
      const CPackage* first = packages.empty() ? nullptr : &packages.front();
      return fail(LoadMessage(MessageId::kDepotGetPackageFailed, first ? first->name : WString(), first ? first->version : WString()));
    }
    if (!db.ReadModuleRows(nullptr, moduleRows)) return fail(LoadMessage(MessageId::kDepotReadFailed));
    if (!db.ReadPolicyTypeIds(policyTypeIds)) {
      VR_TRACE_ERROR("Cannot read the policy types");
      return fail(LoadMessage(MessageId::kDepotReadFailed));
    }
    std::map<std::pair<WString, WString>, const DepotPackageRow*> byNameVersion;
    for (const auto& row : packageRows) byNameVersion.emplace(std::make_pair(row.name, row.version), &row);
    std::map<WString, WString> policyTypes;  // upper case -> the Depot's form
    for (const auto& id : policyTypeIds) policyTypes.emplace(vr::text::ToUpper(id), id);
    auto moduleKey = [](const WString& policyType, const WString& id, long systemType, long osType) {
      return vr::text::ToUpper(policyType) + u"|" + id + u"|" + Number(systemType) + u"|" + Number(osType);
    };
    std::set<WString> modulesThere;  // modules with an empty OS version, as the section adds them
    std::map<WString, std::vector<const DepotModuleRow*>> modulesOf;
    for (const auto& m : moduleRows) {
      modulesOf[m.id].push_back(&m);
      if (m.osVersion.empty())
        modulesThere.insert(vr::text::ToUpper(m.policyType) + u"|" + m.id + u"|" + m.systemType + u"|" + m.osType);
    }

    PackageRecord& record = state.beforeImage;
    std::set<std::pair<WString, WString>> recordedPackages;
    bool bookkeeping = false;
    for (const CPackage& pkg : packages) {
      if (!recordedPackages.insert({pkg.name, pkg.version}).second) continue;
      RecordedPackage before;
      auto found = byNameVersion.find({pkg.name, pkg.version});
      if (found == byNameVersion.end()) {
        before.name = pkg.name;
        before.version = pkg.version;
      } else {
        before.present = true;
        before.row = *found->second;
        for (const DepotModuleRow* m : modulesOf[before.row.id]) before.modules.push_back(*m);
      }
      record.packages.push_back(std::move(before));
      if (PackageKindOf(pkg.type) != eOTHER_PACKAGE && !pkg.platforms.empty()) bookkeeping = true;
    }
    for (const auto& row : packageRows)
      if (row.logicalId == CDepotData::kLogicalIdMixed) record.logicalIds.push_back({row.id, row.logicalId});
    const WString patchKey = PatchKey(clusterMode_, patch);
    if (bookkeeping) RecordPatchBookkeeping(patchKey, record);
    record.complete = true;
    // ---- Record: durable before the first change. A plan records nothing and changes no
    // LogicalId; it asks the Depot for what it would add inside the component's transaction,
    // which it never commits, so that the lines carry the ids the real run would get.
    if (!planOnly_) {
      if (!RecordPackageSection(SerializeRecord(record), message)) return fail(message);
      state.recorded = true;
    }

    // ---- Apply. The record, not the section log, is what recovery reads: the log's lines
    // reach the disk in one flush when the section ends.
    VrLogFile::SyncBatch batch(&sectionLog);
    if (!planOnly_) {
      if (!db.UpdateLogicalId()) return fail(LoadMessage(MessageId::kDepotLogicalIdUpdateFailed));
      LogLine(u"LogicalId values successfully updated");
    }
    // The additions go to the database in one transaction of the component: together, or not
    // at all when the section fails (its rollback then finds nothing of them).
    struct Transaction {
      DepotConnection* depot = nullptr;
      ~Transaction() {
        if (depot) depot->RollbackTransaction();
      }
    } transaction;
    if (FAILED(depot->BeginTransaction())) {
      VR_TRACE_ERROR(GetDepotErrorMessage());
      return fail(LoadMessage(MessageId::kDepotCommitFailed));
    }
    transaction.depot = depot.get();

    VR_TRACE_INFO("Number of packages found in configuration file: ", static_cast<unsigned long>(packages.size()));
    std::set<WString> modulesAddedNow;
    std::map<std::pair<WString, WString>, std::shared_ptr<DepotObject>> packagesThisRun;
    std::map<WString, std::shared_ptr<DepotObject>> policyTypeObjects;
    for (const CPackage& pkg : packages) {
      const EPackageKind kind = PackageKindOf(pkg.type);
      const WString deployerId = pkg.deployerId.empty() ? WString() : defaultDeployer;
      const WString fields = u"[Name='" + pkg.name + u"', Version='" + pkg.version + u"', LogicalId='" +
                             pkg.logicalId + u"', DeployerId='" + deployerId + u"']";
      VR_TRACE_INFO(PackageKindName(kind), " found in configuration file ", fields);
      if (!pkg.uninstallable) {
        VR_TRACE_INFO("This package cannot be uninstalled and will be not logged in undo log file");
        LogLine(u"This package cannot be uninstalled and will be not logged in undo log file");
      }

      // The plan tells which packages the Depot knows; this run's own ones are kept at hand.
      std::shared_ptr<DepotObject> package;
      HRESULT hr = S_OK;
      bool existedBefore = byNameVersion.count({pkg.name, pkg.version}) > 0;
      if (auto mine = packagesThisRun.find({pkg.name, pkg.version}); mine != packagesThisRun.end()) {
        package = mine->second;
      } else if (existedBefore) {
        hr = depot->GetPackage(pkg.name, pkg.version, package);
        if (FAILED(hr)) {
          VR_TRACE_ERROR(GetDepotErrorMessage());
          return fail(LoadMessage(MessageId::kDepotGetPackageFailed, pkg.name, pkg.version));
        }
      }
      if (package) {
        VR_TRACE_INFO("Package already in database (VR_PM_DeplPack)");
        LogLine(u"Package '" + pkg.name + u"' is already registered");
      } else {
        VR_TRACE_INFO("Package not found in database (VR_PM_DeplPack)");
        VR_TRACE_INFO("Try to register package ", fields);
        hr = depot->RegisterPackage(pkg.logicalId, pkg.name, pkg.version, deployerId, kLocal, pkg.description, package);
        if (FAILED(hr) || !package) {
          VR_TRACE_ERROR(GetDepotErrorMessage());
          return fail(LoadMessage(MessageId::kDepotAddPackageFailed, pkg.name, pkg.version));
        }
        existedBefore = false;
        packagesThisRun[{pkg.name, pkg.version}] = package;
        VR_TRACE_INFO("Package successfully registered");
        LogLine(u"Package '" + pkg.name + u"' successfully registered");
      }

      WString id;
      if (FAILED(depot->GetPackageId(*package, id)) || id.empty()) {
        VR_TRACE_ERROR("Cannot get DeplPackId from VR_PM_DeplPack");
        return fail(LoadMessage(MessageId::kDepotGetPackageIdFailed));
      }
      VR_TRACE_INFO("DeplPackId value found ['", id, "']");
      // A package that cannot be uninstalled is meant to stay: no entry asks for its removal.
      if (pkg.uninstallable) note("package", id, existedBefore);

      VR_TRACE_INFO("Number of platform and policy types found for package: ",
                    static_cast<unsigned long>(pkg.platforms.size()));
      for (size_t entry = 0; entry < pkg.platforms.size(); ++entry) {
        const CPlatformAndPolicyTypes& platform = pkg.platforms[entry];
        const long systemType = platform.systemType, osType = platform.osType;
        VR_TRACE_INFO("Platform and policy type found in configuration file [SystemType='", systemType,
                      "', OSType='", osType, "']");
        if (entry == 0 && pkg.uninstallable && !LogPackageInfo(pkg, kind, id, sectionLog)) {
          VR_TRACE_ERROR("An error occurred while writing to undo log file");
          return fail(LoadMessage(MessageId::kUndoFileWriteFailed, sectionLog.GetPath()));
        }
        VR_TRACE_INFO("Number of policy types found: ", static_cast<unsigned long>(platform.policyTypes.size()));
        for (const WString& listed : platform.policyTypes) {
          VR_TRACE_INFO("Try to find policy type from DEPOT database with PolTypeId '", listed, "'");
          // Ids are compared without regard to case; the Depot's form is the one used.
          const auto known = policyTypes.find(vr::text::ToUpper(listed));
          if (known == policyTypes.end()) {
            VR_TRACE_INFO("Policy type with PolTypeId '", listed, "' was not found.");
            VR_TRACE_INFO("Either this policy type does not exist on this server (most likely) ");
            VR_TRACE_INFO("or the DEPOT database is somehow corrupted (less likely). ");
            VR_TRACE_INFO("Proceeding to the next policy type ID, if there are any left.");
            LogLine(u"Policy type Id not found " + ModuleFields(listed, id, systemType, osType));
            vr::console::WriteStdout(vr::text::Format(u"\n%S\n", LoadMessage(MessageId::kPolicyTypeNotRegisteredInfo, listed)));
            continue;
          }
          const WString& policyTypeId = known->second;
          const WString moduleFields = ModuleFields(policyTypeId, id, systemType, osType);
          const WString key = moduleKey(policyTypeId, id, systemType, osType);
          const WString ledgerKey = id + u"|" + policyTypeId + u"|" + Number(systemType) + u"|" + Number(osType);
          if (modulesThere.count(key)) {
            note("module", ledgerKey, !modulesAddedNow.count(key));
            LogLine(u"Functionality module already registered " + moduleFields);
            VR_TRACE_INFO("Dependency information already exist in VR_PM_FunctionalityModule'");
            continue;
          }
          std::shared_ptr<DepotObject>& policyType = policyTypeObjects[policyTypeId];
          if (!policyType) {
            bool notFound = false;
            WString canonical;
            hr = depot->GetPolicyType(policyTypeId, policyType, notFound, canonical);
            if (FAILED(hr) || !policyType) {
              VR_TRACE_ERROR(GetDepotErrorMessage());
              policyType.reset();
              return fail(LoadMessage(MessageId::kPolicyTypeNotFound, listed));
            }
          }
          VR_TRACE_INFO("Add dependency information in VR_PM_FunctionalityModule'");
          hr = depot->AddFunctionalityModule(*policyType, systemType, osType, WString(), moduleId, kLocal, *package);
          if (FAILED(hr)) {
            VR_TRACE_ERROR(GetDepotErrorMessage());
            return fail(LoadMessage(MessageId::kDepotAddPlatformFailed, policyTypeId, Number(systemType), Number(osType)));
          }
          modulesThere.insert(key);
          modulesAddedNow.insert(key);
          note("module", ledgerKey, false);
          if (pkg.uninstallable && kind != eUNIX_PACKAGE &&
              !LogPlatPolicyInfo(id, pkg.logicalId, systemType, osType, policyTypeId, sectionLog)) {
            VR_TRACE_ERROR("An error occurred while writing to undo log file");
            return fail(LoadMessage(MessageId::kUndoFileWriteFailed, sectionLog.GetPath()));
          }
          LogLine(u"Functionality module successfully registered " + moduleFields);
        }
      }

      // Registry bookkeeping of the patch, for Windows and Unix packages.
      if (kind == eOTHER_PACKAGE) continue;
      if (pkg.platforms.empty()) {
        VR_TRACE_INFO("No platform given: no registry bookkeeping for the package");
        continue;
      }
      const long systemType = pkg.platforms.front().systemType, osType = pkg.platforms.front().osType;
      WString platformText;
      if (!reader.GetPlatformType(systemType, osType, platformText)) {
        VR_TRACE_ERROR("Cannot map platform type digits to string value [OSType='", osType, "', SystemType='",
                       systemType, "']");
        return fail(LoadMessage(MessageId::kPlatformTypeUnmapped));
      }
      VR_TRACE_INFO("Platform type digits mapped into '", platformText, "'");
      const WString name = kind == eWINDOWS_PACKAGE ? kWinPkgInfoValue : kUxAgtInfoValue;
      if (planOnly_) continue;  // the bookkeeping writes no undo line
      bool created = false;
      if (!HKLMRegistryKeyCreate(patchKey, name, pkg.version + u"|" + platformText, runLog_.get(), &created))
        return fail(LoadMessage(MessageId::kRegistryKeyCreateFailed));
      note("value", patchKey + u"\\" + name, !created);
    }
    if (planOnly_) return 0;  // the transaction's guard takes every addition back
    transaction.depot = nullptr;
    if (FAILED(depot->CommitTransaction())) {
      VR_TRACE_ERROR(GetDepotErrorMessage());
      return fail(LoadMessage(MessageId::kDepotCommitFailed));
    }
    return 0;
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    if (message.empty()) message = LoadMessage(MessageId::kDepotReadFailed);
    return kExitFailure;
  }
}
