// The prerequisite section's life around its Update and Rollback: the Init that finds (or
// makes) the version folder in use and loads its file, the Cleanup that lets it go, and the
// run-log and copy helpers both directions share.
#include "tessera/Prereq/PrereqSection.h"

#include <vector>

#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/FinalMessage.h"
#include "tessera/Messages.h"
#include "tessera/Prereq/PrereqRecord.h"
#include "tessera/Prereq/PrereqVersion.h"
#include "tessera/RegistryString.h"
#include "tessera/RunJournal.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"

using vr::front::kExitFailure;
using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::prereq;

PrereqSection::PrereqSection(CVrPlatformRegistration& run) : run_(run) {}

PrereqSection::~PrereqSection() = default;

void PrereqSection::WriteCommonLog(const WString& text) {
  VR_TRACE_FUNCTION("PrereqSection::WriteCommonLog", "Prereq\\PrereqSection", vr::trace::kRunFlags);
  VR_TRACE_INFO("Trying to write to common log file: ", text);
  if (VrLogFile* runLog = run_.GetRunLog()) runLog->AppendLine(text, true);
  else VR_TRACE_ERROR("Unable to write to common log file during Prerequistes update.");
}

int PrereqSection::Init(WString& message, const WString& requestedVersion) {
  VR_TRACE_FUNCTION("PrereqSection::Init", "Prereq\\PrereqSection", vr::trace::kRunFlags);
  original_.reset();
  new_.reset();
  createdFolder_.clear();
  createdFile_.clear();
  if (!MayChangePrereqFile(run_.GetClusterNodeState())) return 0;

  WString shareInstall;
  if (!ReadRegistryString(kVorantKey, kShareInstallValue, shareInstall)) {
    message = LoadMessage(MessageId::kShareInstallDirUndetermined, kVorantKey, kShareInstallValue);
    return kExitFailure;
  }
  const WString folder = shareInstall + kPrereqFolder;
  WString version = FindHighestVersion(folder);
  if (version.empty()) {
    WriteCommonLog(u"An error occurred when enumerating folder '" + folder + u"'");
    message = LoadMessage(MessageId::kFolderEnumerateFailed, folder);
    return kExitFailure;
  }
  WString path = PrereqFilePath(folder, version);
  // The requested version names a folder: only a version text may, so that a text such as
  // "9.5/../../x" cannot reach outside the configuration folder.
  if (!requestedVersion.empty() && !VrConfigFile::IsVersion(requestedVersion)) {
    message = LoadMessage(MessageId::kPrereqVersionInvalid, requestedVersion);
    return kExitFailure;
  }
  if (!requestedVersion.empty() && CompareVersions(requestedVersion, version) > 0 && run_.IsPlanOnly()) {
    // A plan makes no version folder: the new version's file would start as a copy of the
    // highest one, which is read in its place.
    VR_TRACE_INFO("Plan: a new file would be created from '", path, "'.");
    version = requestedVersion;
  } else if (!requestedVersion.empty() && CompareVersions(requestedVersion, version) > 0) {
    if (const int status = CreateVersion(folder, requestedVersion, path, message); status != 0) return status;
    version = requestedVersion;
    path = PrereqFilePath(folder, requestedVersion);
  } else {
    VR_TRACE_INFO("Using file: '", path, "'.");
  }
  version_ = version;
  original_ = std::make_unique<VrConfigFile>(path.c_str());
  new_ = std::make_unique<VrConfigFile>(path.c_str());
  if (FAILED(original_->LoadFile())) {
    message = LoadMessage(MessageId::kConfigFileOpenFailed, path);
    original_.reset();
    new_.reset();
    DiscardNewVersion();
    return kExitFailure;
  }
  return 0;
}

int PrereqSection::CreateVersion(const WString& folder, const WString& requestedVersion, const WString& path,
                                 WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::CreateVersion", "Prereq\\PrereqSection", vr::trace::kRunFlags);
  const WString newFolder = folder + u"\\" + requestedVersion;
  const WString newPath = PrereqFilePath(folder, requestedVersion);
  VR_TRACE_INFO("New file will be created: '", newPath, "'.");
  // The folder and the file are recorded as absent before they are made, so that a run that
  // does not complete takes them away again.
  std::string record = RecordAbsentFolder(newFolder), file;
  long readError = ERROR_SUCCESS;
  if (!record.empty()) record += "\n";
  if (!RecordFileState(newPath, file, readError)) {
    message = LoadMessage(MessageId::kFileCopyFailed, path, newPath);
    return kExitFailure;
  }
  if (!WritePrereqRecord(record + file + "\n", message)) return kExitFailure;
  if (auto* journal = vr::journal::RunJournal::Current()) journal->NoteFolderToCreate(newFolder);
  if (const long rc = vr::os::CreateDirectory(newFolder); rc != 0 && rc != ERROR_ALREADY_EXISTS) {
    WriteCommonLog(u"Creation of folder '" + newFolder + u"' failed with error: " + vr::text::Format(u"%ld", rc));
    message = LoadMessage(MessageId::kFileCopyFailed, path, newPath);
    return kExitFailure;
  } else if (rc == 0) {
    createdFolder_ = newFolder;
  }
  if (const long rc = vr::os::CopyFile(path, newPath, true); rc != 0 && rc != ERROR_FILE_EXISTS) {
    WriteCommonLog(u"Copying file  '" + path + u"' to '" + newPath + u"' failed with error: " +
                   vr::text::Format(u"%ld", rc));
    message = LoadMessage(MessageId::kFileCopyFailed, path, newPath);
    DiscardNewVersion();
    return kExitFailure;
  } else if (rc == 0) {
    createdFile_ = newPath;
  }
  return 0;
}

// Removes the version folder (or, in a folder that was there, the file) that this run's Init
// created, so that a run that does not complete leaves no version behind: an empty or
// unregistered highest version would be what every later run uses.
void PrereqSection::DiscardNewVersion() {
  VR_TRACE_FUNCTION("PrereqSection::DiscardNewVersion", "Prereq\\PrereqSection", vr::trace::kRunFlags);
  original_.reset();
  new_.reset();
  if (!createdFile_.empty()) {
    for (const WString& f : {createdFile_, createdFile_ + u".bak"})
      if (vr::os::FileExists(f))
        if (const long rc = vr::os::DeleteFile(f); rc != 0) VR_TRACE_FAILURE("DeleteFile (\"", f, "\")", rc);
  }
  if (!createdFolder_.empty()) {
    VR_TRACE_INFO("Removing the version folder this run created: '", createdFolder_, "'.");
    if (const long rc = vr::os::RemoveTree(createdFolder_); rc != 0)
      VR_TRACE_FAILURE("RemoveDirectory (\"", createdFolder_, "\")", rc);
  }
  createdFolder_.clear();
  createdFile_.clear();
}

bool PrereqSection::CopyInstances(const WString& saved, const WString& logPrefix, const WChar* failurePrefix,
                                  WString& message) {
  VR_TRACE_FUNCTION("PrereqSection::CopyInstances", "Prereq\\PrereqSection", vr::trace::kRunFlags);
  WString packages;
  if (!ReadRegistryString(kDepotKey, kPackagesValue, packages)) {
    WriteCommonLog(u"Unable to read registry key HKEYVAL_DEPOT_PKGPATH!");
    VR_TRACE_FAILURE("ReadRegistryString(\"HKEY_LOCAL_MACHINE\\", kDepotKey, "\", \"", kPackagesValue, "\")", 2L);
    message = LoadMessage(MessageId::kPackagesPathUnknown);
    if (failurePrefix) message += LoadMessage(MessageId::kPrereqCopyFailed);
    return false;
  }
  VR_TRACE_INFO("Search VRMS package dir for other instances of reqcheck file.");
  std::vector<WString> found;
  if (const long rc = vr::os::FindFilesByName(packages, kPrereqFileName, found); rc != 0) {
    VR_TRACE_FAILURE("FindFirstFileEx (\"", packages, "\")", rc);
    message = LoadMessage(MessageId::kConfigFileSaveFailed, packages);
    return false;
  }
  WString savedFull;
  vr::os::FullPath(saved, savedFull);
  for (const auto& copy : found) {
    WString copyFull;
    vr::os::FullPath(copy, copyFull);
    if (vr::text::EqualsNoCase(copyFull, savedFull)) continue;
    VR_TRACE_INFO("Updating instance reqcheck file ", copy);
    if (const long rc = vr::os::CopyFile(saved, copy, false); rc != 0) {
      VR_TRACE_FAILURE("CopyFile (\"", copy, "\")", rc);
      if (failurePrefix) WriteCommonLog(failurePrefix + copy);
      message = LoadMessage(MessageId::kConfigFileSaveFailed, copy);
      return false;
    }
    WriteCommonLog(logPrefix + copy);
  }
  return true;
}

bool PrereqSection::Cleanup(WString&) {
  // A registration that did not get as far as its summary (the final message still says that
  // nothing was done, or the run was rolled back) keeps no version folder it created.
  if (run_.IsRollback() && !vr::front::FinalMessage().empty()) DiscardNewVersion();
  original_.reset();
  new_.reset();
  createdFolder_.clear();
  createdFile_.clear();
  return true;
}
