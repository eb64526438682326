// What the package section keeps between its Init and Cleanup: the Depot database access and
// the record of what this process's Update added, so that the rollback of a failed
// registration takes back exactly that (the items of packages that are not uninstallable
// included, and nothing that was there before the run).
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/Database/DepotData.h"
#include "tessera/Packages/DepotConnection.h"

class VrLogFile;
struct CPackage;

namespace vr::pkg {

struct AddedModule {
  WString policyType, id, systemType, osType;
};
struct AddedValue {
  WString key, name;
};
struct RegisteredPackage {
  WString id, logicalId, name, version;
};

struct PackageRunRecord {
  bool updated = false;  // an Update of this process ran
  std::vector<RegisteredPackage> packages;
  std::vector<AddedModule> modules;
  std::vector<AddedValue> values;
};

struct PackageSectionState {
  CDepotData db;
  PackageRunRecord record;
};

// Appends the package's undo line to the section log: "PACKAGE" for Windows and other packages,
// "PACKAGE_UNIX" with the system types of every platform for Unix packages. False when the
// line could not be written.
bool LogPackageInfo(const CPackage& package, int kind, const WString& id, VrLogFile& sectionLog);
bool LogPlatPolicyInfo(const WString& id, const WString& logicalId, long systemType, long osType,
                       const WString& policyType, VrLogFile& sectionLog);
// Creates and connects the Depot component's server object; false with message 1003 (also
// written to the run log) when it cannot be created or connected.
bool ConnectToDEPOT(std::unique_ptr<DepotConnection>& connection, VrLogFile* runLog, WString& message);
// Whether a node the package is deployed on runs a Windows OS type; false with message 1007 or
// 1022 when that cannot be told.
bool IsPkgDeployedOnWinNode(CDepotData& db, const std::function<bool(int)>& isWindowsOs, const WString& id,
                            bool& deployedOnWindows, WString& message);

}  // namespace vr::pkg
