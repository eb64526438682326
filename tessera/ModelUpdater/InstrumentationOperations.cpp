// Planning and carrying out the instrumentation folders and file copies of a registration.
#include "tessera/ModelUpdater/InstrumentationOperations.h"

#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace PlatformOperations {
namespace {

constexpr const char16_t* kDepotKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\Depot";
constexpr DWORD kValueBufferBytes = 0x800;

WString JoinPath(const WString& parent, const WString& name) { return parent + u"\\" + name; }

WString StripPath(const WString& path) { return InstrumentationFileName(path); }

InstrumentationFolderChange PlanFolder(InstrumentationFolderChange::Level level, const WString& name,
                                       const WString& path) {
  InstrumentationFolderChange change;
  change.level = level;
  change.toName = name;
  if (vr::os::DirectoryExists(path)) {
    change.fromName = name;
    change.updateAction = NO_CHANGE;
    change.undoAction = NO_CHANGE;
  } else {
    change.updateAction = ACTION_ADD;
    change.undoAction = ACTION_REMOVE;
  }
  return change;
}

void Warn(OperationContext& context, const WString& message, WString& error, VrLogFile& log) {
  context.warnings = true;
  ReportMessage(message, error, log);
}

void ApplyFolder(OperationContext& context, const InstrumentationFolderChange& folder, const WString& parent,
                 WString& error, VrLogFile& log, const char* vrTraceFunction_, const char* vrTraceFile_) {
  const WString path = JoinPath(parent, folder.toName.empty() ? folder.fromName : folder.toName);
  // By level: OS type folder, OS version folder, instrumentation folder.
  static const MessageId kCreate[] = {MessageId::kOsTypeFolderCreateFailed, MessageId::kOsVersionFolderCreateFailed,
                                      MessageId::kInstrumentationFolderCreateFailed};
  static const MessageId kDelete[] = {MessageId::kOsTypeFolderDeleteFailed, MessageId::kOsVersionFolderDeleteFailed,
                                      MessageId::kInstrumentationFolderDeleteFailed};
  if (folder.updateAction == ACTION_ADD && !CreateDirectoryW(path.c_str(), nullptr)) {
    VR_TRACE_ERROR("(TESSERA", vr::msg::ToNumber(kCreate[folder.level]), ") WARNING: Could not create directory: '", path, "'");
    Warn(context, LoadMessage(kCreate[folder.level], path), error, log);
  }
  for (const InstrumentationFileChange& file : folder.files) {
    const WString name = StripPath(file.source);
    if (file.updateAction == ACTION_ADD) {
      if (!CopyFileW(file.source.c_str(), file.destination.c_str(), FALSE)) {
        VR_TRACE_ERROR("(TESSERA4004) WARNING: Could not copy file: '", name, "'");
        Warn(context, LoadMessage(MessageId::kInstrumentationFileCopyFailed, name, file.source, file.destination), error, log);
      } else {
        VR_TRACE_INFO("Copied '", file.source, "' to '", file.destination, "' SUCCEEDED");
      }
    } else if (file.updateAction == ACTION_REMOVE && vr::os::DeleteFile(file.destination) != 0) {
      VR_TRACE_ERROR("(TESSERA4005) WARNING: Could not remove file: '", name, "'");
      Warn(context, LoadMessage(MessageId::kInstrumentationFileRemoveFailed, name, path), error, log);
    }
  }
  for (const InstrumentationFolderChange& child : folder.children)
    ApplyFolder(context, child, path, error, log, vrTraceFunction_, vrTraceFile_);
  if (folder.updateAction == ACTION_REMOVE && !RemoveDirectoryW(path.c_str())) {
    VR_TRACE_ERROR("(TESSERA", vr::msg::ToNumber(kDelete[folder.level]), ") WARNING: Could not delete folder: '", path, "'");
    Warn(context, LoadMessage(kDelete[folder.level], path), error, log);
  }
}

}  // namespace

WString InstrumentationFileName(const WString& source) {
  const size_t slash = source.find_last_of(u"\\/");
  return slash == WString::npos ? source : source.substr(slash + 1);
}

HRESULT RegQueryValueStr(void* rootKey, const WString& subKey, const WString& valueName, WString& value) {
  VR_TRACE_FUNCTION("PlatformOperations::RegQueryValueStr", "ModelUpdater\\InstrumentationOperations",
                    vr::trace::kModelFlags);
  try {
    vr::registry::ScopedKey key;
    if (RegOpenKeyExW(static_cast<HKEY>(rootKey), subKey.c_str(), 0, KEY_READ, key.Receive()) != 0) {
      VR_TRACE_ERROR(" Property '", valueName, "' does not exist under following registry key '", subKey, "'");
      return E_FAIL;
    }
    WChar buffer[kValueBufferBytes / sizeof(WChar)] = {};
    DWORD type = 0;
    DWORD bytes = kValueBufferBytes;
    const LONG rc = RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (rc != 0 || type != REG_SZ) {
      VR_TRACE_ERROR(" Property '", valueName, "' does not exist under following registry key '", subKey, "'");
      return E_FAIL;
    }
    size_t chars = bytes / sizeof(WChar);
    while (chars > 0 && buffer[chars - 1] == 0) --chars;
    value.assign(buffer, chars);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT GetInstrumentationRoot(WString& root) {
  VR_TRACE_FUNCTION("PlatformOperations::GetInstrumentationRoot", "ModelUpdater\\InstrumentationOperations",
                    vr::trace::kModelFlags);
  try {
    vr::registry::ScopedKey machine;
    const LONG rc = RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, machine.Receive());
    if (rc != 0) {
      VR_TRACE_FAILURE("RegConnectRegistryW", rc);
      return E_FAIL;
    }
    return RegQueryValueStr(machine, kDepotKey, u"InstrumentationPath", root);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateInstrumentationUpdateAndUnDoVect(const OperationContext&,
                                               const std::vector<InstrumentationOsTypeItem>& items,
                                               std::vector<InstrumentationFolderChange>& changes, WString&,
                                               VrLogFile&) {
  VR_TRACE_FUNCTION("PlatformOperations::CreateInstrumentationUpdateAndUnDoVect",
                    "ModelUpdater\\InstrumentationOperations", vr::trace::kModelFlags);
  try {
    changes.clear();
    if (items.empty()) return S_OK;
    WString root;
    if (FAILED(GetInstrumentationRoot(root))) return E_FAIL;
    using Folder = InstrumentationFolderChange;
    std::vector<Folder> planned;
    for (const InstrumentationOsTypeItem& osType : items) {
      const WString osTypePath = JoinPath(root, osType.name);
      Folder osTypeChange = PlanFolder(Folder::kOsType, osType.name, osTypePath);
      for (const InstrumentationOsVersionItem& osVersion : osType.osVersions) {
        const WString osVersionPath = JoinPath(osTypePath, osVersion.name);
        Folder osVersionChange = PlanFolder(Folder::kOsVersion, osVersion.name, osVersionPath);
        for (const InstrumentationSubfolderItem& subfolder : osVersion.subfolders) {
          const WString subfolderPath = JoinPath(osVersionPath, subfolder.name);
          Folder subfolderChange = PlanFolder(Folder::kSubfolder, subfolder.name, subfolderPath);
          for (const WString& source : subfolder.files)
            subfolderChange.files.push_back(
                InstrumentationFileChange{source, JoinPath(subfolderPath, StripPath(source)), ACTION_ADD, ACTION_REMOVE});
          osVersionChange.children.push_back(std::move(subfolderChange));
        }
        osTypeChange.children.push_back(std::move(osVersionChange));
      }
      planned.push_back(std::move(osTypeChange));
    }
    changes = std::move(planned);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT RegisterNewInstrumentaions(OperationContext& context, const std::vector<InstrumentationFolderChange>& changes,
                                   WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::RegisterNewInstrumentaions", "ModelUpdater\\InstrumentationOperations",
                    vr::trace::kModelFlags);
  try {
    if (changes.empty()) return S_OK;
    WString root;
    if (FAILED(GetInstrumentationRoot(root))) return E_FAIL;
    for (const InstrumentationFolderChange& folder : changes)
      ApplyFolder(context, folder, root, error, log, vrTraceFunction_, vrTraceFile_);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations
