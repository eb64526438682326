// What the package section keeps between its Init and Cleanup: the Depot database access and
// the record of the state before this process's Update, so that the rollback of a failed
// registration puts exactly that back (the items of packages that are not uninstallable
// included, and nothing that was there before the run goes).
//
// Folder tessera/Packages, the package section, part of tessera_registration: uses
// tessera_database, platform/depot and registry and the tessera libraries below the
// registration object.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/Database/DepotData.h"
#include "tessera/Packages/DepotConnection.h"
#include "tessera/Packages/PackageRecord.h"

class VrLogFile;
struct CPackage;

namespace vr::pkg {

struct PackageSectionState {
  CDepotData db;
  bool updated = false;         // an Update of this process ran
  bool recorded = false;        // it wrote its record before its first change
  PackageRecord beforeImage;    // the state before that Update, which its rollback puts back
};

// The longest texts the Depot database keeps, in characters: a package whose name, version,
// logical id or description is longer is refused before any change (message 1024), so that a
// registration file behaves the same on every database engine.
inline constexpr size_t kMaxNameLength = 255, kMaxVersionLength = 64, kMaxLogicalIdLength = 64,
                        kMaxDescriptionLength = 1024;
// False with message 1024 for the first package with a text over its limit.
bool CheckPackageTexts(const std::vector<CPackage>& packages, WString& message);
// Characters of a text as a database counts them (a surrogate pair is one).
size_t CharacterCount(const WString& text);

// Writes the section's record durably into the run journal before its first change.
bool RecordPackageSection(const std::string& record, WString& message);

// Appends the package's undo line to the section log: "PACKAGE" for Windows and other packages,
// "PACKAGE_UNIX" with the system types of every platform for Unix packages. False when the
// line could not be written.
bool LogPackageInfo(const CPackage& package, int kind, const WString& id, VrLogFile& sectionLog);
bool LogPlatPolicyInfo(const WString& id, const WString& logicalId, long systemType, long osType,
                       const WString& policyType, VrLogFile& sectionLog);
// Creates and connects the Depot component's server object; false with message 1003 (also
// written to the run log) when it cannot be created or connected.
bool ConnectToDEPOT(std::unique_ptr<DepotConnection>& connection, VrLogFile* runLog, WString& message);
// A text as the inside of a quoted WQL string: a backslash before every backslash and quote
// (node names such as CORP\win01 or O'Brien).
WString WqlStringText(const WString& text);
// Whether a node the package is deployed on runs a Windows OS type; false with message 1007 or
// 1022 when that cannot be told.
bool IsPkgDeployedOnWinNode(CDepotData& db, const std::function<bool(int)>& isWindowsOs, const WString& id,
                            bool& deployedOnWindows, WString& message);

}  // namespace vr::pkg
