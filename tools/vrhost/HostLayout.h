// Where a host made by `vrhost init` keeps things, and the registry values that point there.
//
//   ROOT/.vrhost                          marks a host root made by vrhost (init --force only
//                                         clears folders that carry it)
//   ROOT/registry.db                      HKEY_LOCAL_MACHINE
//   ROOT/server/install/                  "InstallDir"
//   ROOT/server/install/Packages/         Depot "PackagesPath", with copies of the
//                                         prerequisite configuration file in its tree
//   ROOT/server/data/log/                 "DataDir" and its run-log folder
//   ROOT/server/share/                    "ShareDir"
//   ROOT/server/share/install/log/        "VrMsShareInstallDir" and its run-log folder
//   ROOT/server/share/install/conf/PrereqCheck/vroreqcheck.cfg
//   ROOT/server/share/instrumentation/    Depot "InstrumentationPath"
//
// Folder values are written as the product writes them on its home platform: backslashes,
// ending in a backslash ("\tmp\h\server\data\"), so that a program appends "log\tessera.log"
// directly; the host maps '\' to '/'. "InstrumentationPath" has no trailing backslash: its
// users append "\" and a name.
#pragma once
#include "platform/registry/product_keys.h"
#include <string>

namespace vrhost {

inline constexpr const char* kMarkerFile = ".vrhost";
inline constexpr const char* kDefaultServerVersion = "A.07.50";

inline constexpr const char* kInstallFolder = "server/install";
inline constexpr const char* kPackagesFolder = "server/install/Packages";
inline constexpr const char* kDataFolder = "server/data";
inline constexpr const char* kShareFolder = "server/share";
inline constexpr const char* kShareInstallFolder = "server/share/install";
inline constexpr const char* kPrereqFolder = "server/share/install/conf/PrereqCheck";
inline constexpr const char* kInstrumentationFolder = "server/share/instrumentation";
// Package folders that hold a copy of the prerequisite configuration file.
inline constexpr const char* kPackageCopyFolders[] = {"server/install/Packages/Windows/x64",
                                                      "server/install/Packages/Linux/x64"};

inline constexpr const char16_t* kManagementServerKey = vr::keys::kManagementServerKey;
inline constexpr const char16_t* kDepotKey = vr::keys::kDepotKey;
inline constexpr const char16_t* kDbAccessKey = vr::keys::kDbAccessKey;
inline constexpr const char16_t* kPatchesKey = vr::keys::kPatchesKey;
inline constexpr const char16_t* kVorantKey = vr::keys::kVorantKey;

inline constexpr const char16_t* kClusterName = u"VRMSCLUSTER";
inline constexpr const char16_t* kResourceGroup = u"VRMS Resource Group";

// "/tmp/h" + "server/data" as the product's registry text: "\tmp\h\server\data\".
std::string FolderValue(const std::string& root, const std::string& relative, bool trailingBackslash = true);

}  // namespace vrhost
