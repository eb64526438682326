// Instrumentation folders: below the instrumentation root one folder per OS type, in it one per
// OS version, in it the instrumentation subfolders with their files. A registration creates
// the missing folders and copies the files; failures are warnings only, and nothing of it is
// recorded for undo (copied files stay when a platform is unregistered).
#pragma once
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "tessera/ModelUpdater/PlatformTypes.h"

class VrLogFile;

namespace PlatformOperations {

struct InstrumentationSubfolderItem {
  WString name;
  std::vector<WString> files;  // source paths
};
struct InstrumentationOsVersionItem {
  WString name;
  std::vector<InstrumentationSubfolderItem> subfolders;
};
struct InstrumentationOsTypeItem {
  WString name;
  std::vector<InstrumentationOsVersionItem> osVersions;
};

struct InstrumentationFileChange {
  WString source;
  WString destination;
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

// A folder at one of the three levels, with the changes below it.
struct InstrumentationFolderChange {
  enum Level { kOsType, kOsVersion, kSubfolder };
  Level level = kOsType;
  WString fromName;
  WString toName;
  std::vector<InstrumentationFolderChange> children;
  std::vector<InstrumentationFileChange> files;  // subfolders only
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

// "InstrumentationPath" of the Depot key; E_FAIL (traced only) when it is missing or no string.
HRESULT GetInstrumentationRoot(WString& root);

// The name a copied file gets: the last component of its source path, as PathStripPath leaves it.
WString InstrumentationFileName(const WString& source);

// A string value of a registry key: S_OK with the text, E_FAIL when missing or of another type.
HRESULT RegQueryValueStr(void* rootKey, const WString& subKey, const WString& valueName, WString& value);

// Plans the folders to create and the files to copy; reads the root only when there is work.
HRESULT CreateInstrumentationUpdateAndUnDoVect(const OperationContext& context,
                                               const std::vector<InstrumentationOsTypeItem>& items,
                                               std::vector<InstrumentationFolderChange>& changes, WString& error,
                                               VrLogFile& log);

// Creates folders and copies files; every failure is a warning (error text, log, the context's
// warnings flag). E_FAIL only when the root cannot be read.
HRESULT RegisterNewInstrumentaions(OperationContext& context, const std::vector<InstrumentationFolderChange>& changes,
                                   WString& error, VrLogFile& log);

}  // namespace PlatformOperations
