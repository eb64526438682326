// The package section's Init, Update and Cleanup: the Depot database connection, the
// registration of every package of the registration file with its functionality modules, the
// undo lines, and the registry bookkeeping of the patch.
#include <memory>

#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageSection.h"
#include "tessera/Packages/PackageUndoLines.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
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
      message = LoadMessage(1010);
      LogLine(message);
      return kExitFailure;
    }
    VR_TRACE_INFO("Successfully connected to DEPOT database");
    return 0;
  } catch (const CApp_error& e) {
    // The password or a DBAccess value could not be read: the connection is not possible.
    VR_TRACE_ERROR(e.Message());
    message = e.Message() + LoadMessage(1010);
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    message = LoadMessage(1010);
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
    PackageRunRecord& record = state.record;
    record.updated = true;

    const WString defaultDeployer = vr::text::ToUpper(kDefaultDeployerId);
    const WString moduleId = vr::text::ToUpper(kModuleId);

    std::unique_ptr<DepotConnection> depot;
    if (!ConnectToDEPOT(depot, runLog_.get(), message)) return kExitFailure;

    if (!db.UpdateLogicalId()) {
      message = LoadMessage(1019);
      LogLine(message);
      return kExitFailure;
    }
    LogLine(u"LogicalId values successfully updated");

    auto fail = [&](const WString& text) {
      message = text;
      LogLine(text);
      return kExitFailure;
    };

    const auto& packages = reader.Packages();
    VR_TRACE_INFO("Number of packages found in configuration file: ", static_cast<unsigned long>(packages.size()));
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

      std::shared_ptr<DepotObject> package;
      HRESULT hr = depot->GetPackage(pkg.name, pkg.version, package);
      if (FAILED(hr)) {
        VR_TRACE_ERROR(GetDepotErrorMessage());
        return fail(LoadMessage(1004, pkg.name, pkg.version));
      }
      bool registeredNow = false;
      if (package) {
        VR_TRACE_INFO("Package already in database (VR_PM_DeplPack)");
        LogLine(u"Package '" + pkg.name + u"' is already registered");
      } else {
        VR_TRACE_INFO("Package not found in database (VR_PM_DeplPack)");
        VR_TRACE_INFO("Try to register package ", fields);
        hr = depot->RegisterPackage(pkg.logicalId, pkg.name, pkg.version, deployerId, kLocal, pkg.description, package);
        if (FAILED(hr) || !package) {
          VR_TRACE_ERROR(GetDepotErrorMessage());
          return fail(LoadMessage(1000, pkg.name, pkg.version));
        }
        registeredNow = true;
        VR_TRACE_INFO("Package successfully registered");
        LogLine(u"Package '" + pkg.name + u"' successfully registered");
      }

      WString id;
      if (!db.GetDeplPackId(pkg.name, pkg.version, id)) {
        VR_TRACE_ERROR("Cannot get DeplPackId from VR_PM_DeplPack");
        // The package this run registered goes again; when that fails too, the rollback tries.
        if (registeredNow && !db.RemovePackageFromDEPOT(pkg.logicalId, pkg.name, pkg.version))
          record.packages.push_back({WString(), pkg.logicalId, pkg.name, pkg.version});
        return fail(LoadMessage(1005));
      }
      if (registeredNow) record.packages.push_back({id, pkg.logicalId, pkg.name, pkg.version});

      VR_TRACE_INFO("Number of platform and policy types found for package: ",
                    static_cast<unsigned long>(pkg.platforms.size()));
      for (size_t entry = 0; entry < pkg.platforms.size(); ++entry) {
        const CPlatformAndPolicyTypes& platform = pkg.platforms[entry];
        const long systemType = platform.systemType, osType = platform.osType;
        VR_TRACE_INFO("Platform and policy type found in configuration file [SystemType='", systemType,
                      "', OSType='", osType, "']");
        if (entry == 0 && pkg.uninstallable && !LogPackageInfo(pkg, kind, id, sectionLog)) {
          VR_TRACE_ERROR("An error occurred while writing to undo log file");
          return fail(LoadMessage(1006, sectionLog.GetPath()));
        }
        VR_TRACE_INFO("Number of policy types found: ", static_cast<unsigned long>(platform.policyTypes.size()));
        for (const WString& policyTypeId : platform.policyTypes) {
          VR_TRACE_INFO("Try to find policy type from DEPOT database with PolTypeId '", policyTypeId, "'");
          std::shared_ptr<DepotObject> policyType;
          bool notFound = false;
          hr = depot->GetPolicyType(policyTypeId, policyType, notFound);
          if (FAILED(hr) && !notFound) {
            // The component could not answer: that is no proof that the policy type is missing.
            VR_TRACE_ERROR(GetDepotErrorMessage());
            return fail(LoadMessage(1001, policyTypeId));
          }
          if (FAILED(hr) || !policyType) {
            VR_TRACE_INFO("Policy type with PolTypeId '", policyTypeId, "' was not found.");
            VR_TRACE_INFO("Either this policy type does not exist on this server (most likely) ");
            VR_TRACE_INFO("or the DEPOT database is somehow corrupted (less likely). ");
            VR_TRACE_INFO("Proceeding to the next policy type ID, if there are any left.");
            LogLine(u"Policy type Id not found " + ModuleFields(policyTypeId, id, systemType, osType));
            vr::console::WriteStdout(vr::text::Format(u"\n%S\n", LoadMessage(2022, policyTypeId)));
            continue;
          }
          bool present = false;
          if (!db.CheckFunctionalityModule(policyTypeId, id, Number(systemType), Number(osType), WString(), present))
            return fail(LoadMessage(1007));
          const WString moduleFields = ModuleFields(policyTypeId, id, systemType, osType);
          if (present) {
            LogLine(u"Functionality module already registered " + moduleFields);
            VR_TRACE_INFO("Dependency information already exist in VR_PM_FunctionalityModule'");
            continue;
          }
          VR_TRACE_INFO("Add dependency information in VR_PM_FunctionalityModule'");
          hr = depot->AddFunctionalityModule(*policyType, systemType, osType, WString(), moduleId, kLocal, *package);
          if (FAILED(hr)) {
            VR_TRACE_ERROR(GetDepotErrorMessage());
            return fail(LoadMessage(1002, policyTypeId, Number(systemType), Number(osType)));
          }
          record.modules.push_back({policyTypeId, id, Number(systemType), Number(osType)});
          if (pkg.uninstallable && kind != eUNIX_PACKAGE &&
              !LogPlatPolicyInfo(id, pkg.logicalId, systemType, osType, policyTypeId, sectionLog)) {
            VR_TRACE_ERROR("An error occurred while writing to undo log file");
            WString removed;
            if (db.RemovePackageFromDEPOT(policyTypeId, id, Number(systemType), Number(osType), WString(), removed))
              record.modules.pop_back();
            return fail(LoadMessage(1006, sectionLog.GetPath()));
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
        return fail(LoadMessage(1008));
      }
      VR_TRACE_INFO("Platform type digits mapped into '", platformText, "'");
      const WString key = PatchKey(clusterMode_, patch);
      const WString name = kind == eWINDOWS_PACKAGE ? kWinPkgInfoValue : kUxAgtInfoValue;
      bool created = false;
      if (!HKLMRegistryKeyCreate(key, name, pkg.version + u"|" + platformText, runLog_.get(), &created))
        return fail(LoadMessage(1009));
      if (created) record.values.push_back({key, name});
    }
    return 0;
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
    if (message.empty()) message = LoadMessage(1007);
    return kExitFailure;
  }
}
