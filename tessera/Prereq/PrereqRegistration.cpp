// The prerequisite section of a registration: brings the server's prerequisite-check
// configuration file up to date with the registration file's system and prerequisite tags,
// records what it replaced or added, and copies the result over the file's copies in the
// packages tree.
#include <map>
#include <vector>

#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/FinalMessage.h"
#include "tessera/Messages.h"
#include "tessera/Prereq/PrereqRecord.h"
#include "tessera/Prereq/PrereqSupport.h"
#include "tessera/Prereq/PrereqVersion.h"
#include "tessera/RegistryString.h"
#include "tessera/RunJournal.h"
#include "tessera/RunLedger.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace vr::prereq;

namespace {

constexpr int kFailure = 100;

}  // namespace

namespace vr::prereq {

// The block of lines from the current line (a tag line) up to the line that ends it, joined by
// line feeds, blank lines behind the tag's text included; the file's position is left on the
// ending line.
WString ReadBlock(VrConfigFile& file, VrTextLine& line) {
  WString block = line.GetText();
  while (!line.IsAtEnd()) {
    const VrTextPosition before = file.GetPosition();
    VrTextLine next;
    if (!file.ReadLine(next, nullptr, false, false)) break;
    if (VrConfigFile::IsEndOfBlock(next)) {
      file.SetPosition(before);
      break;
    }
    block += u"\n" + next.GetText();
    line = next;
  }
  return block;
}

// A tag's text as the registration file gives it, with CR LF turned into LF and outer blank
// lines dropped, so that it compares with a block read from the file.
WString TagText(const WString& text) {
  WString t;
  for (WChar c : text)
    if (c != u'\r') t += c;
  size_t a = 0;
  while (a < t.size() && (t[a] == u'\n' || t[a] == u' ' || t[a] == u'\t')) ++a;
  size_t b = t.size();
  while (b > a && (t[b - 1] == u'\n' || t[b - 1] == u' ' || t[b - 1] == u'\t')) --b;
  return t.substr(a, b - a);
}

// The blank lines at the end of a block (as "\n"s), which separate it from the next one.
WString TrailingBlankLines(const WString& block) {
  size_t n = block.size();
  while (n > 0 && block[n - 1] == u'\n') --n;
  return block.substr(n);
}

}  // namespace vr::prereq

void CVrPlatformRegistration::WriteCommonLog(const WString& text) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::WriteCommonLog", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  VR_TRACE_INFO("Trying to write to common log file: ", text);
  if (runLog_) runLog_->AppendLine(text, true);
  else VR_TRACE_ERROR("Unable to write to common log file during Prerequistes update.");
}

int CVrPlatformRegistration::ReqCheckCfgRegInit(WString& message, const WString& requestedVersion) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::ReqCheckCfgRegInit", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  reqOriginal_.reset();
  reqNew_.reset();
  reqCreatedFolder_.clear();
  reqCreatedFile_.clear();
  if (!MayChangePrereqFile(clusterNodeState_)) return 0;

  WString shareInstall;
  if (!ReadRegistryString(kVorantKey, kShareInstallValue, shareInstall)) {
    message = LoadMessage(MessageId::kShareInstallDirUndetermined, kVorantKey, kShareInstallValue);
    return kFailure;
  }
  const WString folder = shareInstall + kPrereqFolder;
  WString version = FindHighestVersion(folder);
  if (version.empty()) {
    WriteCommonLog(u"An error occurred when enumerating folder '" + folder + u"'");
    message = LoadMessage(MessageId::kFolderEnumerateFailed, folder);
    return kFailure;
  }
  WString path = PrereqFilePath(folder, version);
  // The requested version names a folder: only a version text may, so that a text such as
  // "9.5/../../x" cannot reach outside the configuration folder.
  if (!requestedVersion.empty() && !VrConfigFile::IsVersion(requestedVersion)) {
    message = LoadMessage(MessageId::kPrereqVersionInvalid, requestedVersion);
    return kFailure;
  }
  if (!requestedVersion.empty() && CompareVersions(requestedVersion, version) > 0 && planOnly_) {
    // A plan makes no version folder: the new version's file would start as a copy of the
    // highest one, which is read in its place.
    VR_TRACE_INFO("Plan: a new file would be created from '", path, "'.");
    version = requestedVersion;
  } else if (!requestedVersion.empty() && CompareVersions(requestedVersion, version) > 0) {
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
      return kFailure;
    }
    if (!WritePrereqRecord(record + file + "\n", message)) return kFailure;
    if (auto* journal = vr::journal::RunJournal::Current()) journal->NoteFolderToCreate(newFolder);
    if (const long rc = vr::os::CreateDirectory(newFolder); rc != 0 && rc != ERROR_ALREADY_EXISTS) {
      WriteCommonLog(u"Creation of folder '" + newFolder + u"' failed with error: " + vr::text::Format(u"%ld", rc));
      message = LoadMessage(MessageId::kFileCopyFailed, path, newPath);
      return kFailure;
    } else if (rc == 0) {
      reqCreatedFolder_ = newFolder;
    }
    if (const long rc = vr::os::CopyFile(path, newPath, true); rc != 0 && rc != ERROR_FILE_EXISTS) {
      WriteCommonLog(u"Copying file  '" + path + u"' to '" + newPath + u"' failed with error: " +
                     vr::text::Format(u"%ld", rc));
      message = LoadMessage(MessageId::kFileCopyFailed, path, newPath);
      DiscardNewPrereqVersion();
      return kFailure;
    } else if (rc == 0) {
      reqCreatedFile_ = newPath;
    }
    version = requestedVersion;
    path = newPath;
  } else {
    VR_TRACE_INFO("Using file: '", path, "'.");
  }
  reqVersion_ = version;
  reqOriginal_ = std::make_unique<VrConfigFile>(path.c_str());
  reqNew_ = std::make_unique<VrConfigFile>(path.c_str());
  if (FAILED(reqOriginal_->LoadFile())) {
    message = LoadMessage(MessageId::kConfigFileOpenFailed, path);
    reqOriginal_.reset();
    reqNew_.reset();
    DiscardNewPrereqVersion();
    return kFailure;
  }
  return 0;
}

// Removes the version folder (or, in a folder that was there, the file) that this run's Init
// created, so that a run that does not complete leaves no version behind: an empty or
// unregistered highest version would be what every later run uses.
void CVrPlatformRegistration::DiscardNewPrereqVersion() {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::DiscardNewPrereqVersion", "Prereq\\PrereqRegistration",
                    vr::trace::kRunFlags);
  reqOriginal_.reset();
  reqNew_.reset();
  if (!reqCreatedFile_.empty()) {
    for (const WString& f : {reqCreatedFile_, reqCreatedFile_ + u".bak"})
      if (vr::os::FileExists(f))
        if (const long rc = vr::os::DeleteFile(f); rc != 0) VR_TRACE_FAILURE("DeleteFile (\"", f, "\")", rc);
  }
  if (!reqCreatedFolder_.empty()) {
    VR_TRACE_INFO("Removing the version folder this run created: '", reqCreatedFolder_, "'.");
    if (const long rc = vr::os::RemoveTree(reqCreatedFolder_); rc != 0)
      VR_TRACE_FAILURE("RemoveDirectory (\"", reqCreatedFolder_, "\")", rc);
  }
  reqCreatedFolder_.clear();
  reqCreatedFile_.clear();
}

int CVrPlatformRegistration::ReqCheckCfgRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall,
                                                  VrLogFile& sectionLog, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::ReqCheckCfgRegUpdate", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
  if (!MayChangePrereqFile(clusterNodeState_) || !reqOriginal_) {
    WriteCommonLog(u"No prerequisites config file update will be performed as we are not on the standalone or "
                   u"cluster/active VRMS server.");
    return 0;
  }
  WString undo = WString(u"[[[PREREQUISITE_CHECK]]]") + u"\n";
  reqNew_->Free(false);
  reqNew_->SetHasHeader(reqOriginal_->HasHeader());

  // The registration's tags by name: text, and whether the file already has the tag.
  struct Wanted {
    WString text;
    bool met = false;
    bool replace = false;
    WString before;  // the tag's block in the file, when met
  };
  using Kind = VrConfigFile::LineKind;
  std::map<WString, Wanted, NoCaseLess> prerequisites, systems;
  std::vector<WString> prerequisiteOrder, systemOrder;
  for (const auto& t : reader.PrerequisiteTags())
    if (prerequisites.emplace(TrimmedName(t.name), Wanted{t.text, false, false, WString()}).second) prerequisiteOrder.push_back(TrimmedName(t.name));
  for (const auto& t : reader.SystemTags())
    if (systems.emplace(TrimmedName(t.name), Wanted{t.text, false, false, WString()}).second) systemOrder.push_back(TrimmedName(t.name));

  VR_TRACE_INFO("Initial reading of the config file, check if there are any changes to be applied.");
  reqOriginal_->ResetPosition();
  VrTextLine line;
  while (reqOriginal_->ReadLine(line, nullptr, false, false)) {
    const Kind kind = reqOriginal_->Classify(line);
    const bool isPrereq = kind == Kind::PrerequisitesTag;
    const bool isSystem = kind == Kind::SystemTag;
    if ((isPrereq || isSystem) && line.GetTokenCount() >= 2) {
      const WString name = TagNameOf(line);
      VR_TRACE_INFO(isPrereq ? "Encountered prerequisites tag for '" : "Encountered system tag for '", name, "'.");
      const WString block = ReadBlock(*reqOriginal_, line);
      auto& wanted = isPrereq ? prerequisites : systems;
      if (auto it = wanted.find(name); it != wanted.end()) {
        it->second.met = true;
        it->second.before = block;
        it->second.replace = TagText(it->second.text) != block.substr(0, block.size() - TrailingBlankLines(block).size());
        VR_TRACE_INFO(isPrereq ? "Prerequisites tag '" : "System tag '", name,
                      it->second.replace ? "' will be replaced." : "' will not be replaced, sections are identical.");
      }
    }
    if (line.IsAtEnd()) break;
  }
  // The ledger's entries: every tag the file lists, changed or found as it is, with the block
  // it had before, so that an unregistration puts back what was there and leaves a tag that a
  // later registration still lists.
  if (vr::ledger::Registration* ledger = LedgerRegistration())
    for (const auto& [map, kind] : {std::pair{&prerequisites, kLedgerPrerequisiteKind}, {&systems, kLedgerSystemKind}})
      for (const auto& [name, w] : *map) {
        vr::ledger::Entry entry;
        entry.section = vr::undo::kSectionPrereq;
        entry.kind = kind;
        entry.key = name;
        entry.existedBefore = w.met;
        entry.before = w.before;
        // A tag found as the file wants it is left as it was: its after is its before.
        entry.after = w.met && !w.replace ? w.before : TagText(w.text);
        ledger->entries.push_back(std::move(entry));
      }
  bool changes = false;
  for (const auto* m : {&prerequisites, &systems})
    for (const auto& [name, w] : *m)
      if (!w.met || w.replace) changes = true;
  if (!changes) {
    WriteCommonLog(u"There were no pending updates, no changes were done on the prerequisite file.");
    return 0;
  }

  VR_TRACE_INFO("Second reading of the config file, apply marked changes.");
  reqOriginal_->ResetPosition();
  auto addMissing = [&](std::map<WString, Wanted, NoCaseLess>& wanted, const std::vector<WString>& order, bool system) {
    for (const auto& name : order) {
      Wanted& w = wanted[name];
      if (w.met) continue;
      VR_TRACE_INFO(system ? "Adding new system from Tessera XML: '" : "Adding new prerequisites from Tessera XML: '",
                    name, "'.");
      const WString text = TagText(w.text);
      reqNew_->Append(text, true);
      reqNew_->Append(u"", true);
      undo += WString(system ? kSystemAdd : kPrerequisitesAdd) + u" " + name + u"\n" + kBeginSection + u"\n" +
              text + u"\n" + kEndSection + u"\n";
      w.met = true;
    }
  };
  // New tags go at the end of their own section: before the line that opens the other section
  // when theirs comes first, before the CRC line when theirs comes last.
  enum class Section { None, Prerequisites, System } current = Section::None;
  auto addPending = [&](Section section) {
    if (section == Section::Prerequisites) addMissing(prerequisites, prerequisiteOrder, false);
    else if (section == Section::System) addMissing(systems, systemOrder, true);
  };
  while (reqOriginal_->ReadLine(line, nullptr, false, false)) {
    const bool last = line.IsAtEnd();
    const Kind kind = reqOriginal_->Classify(line);
    if (line.GetTokenCount() == 0) {
      if (!(last && line.GetText().empty())) reqNew_->Append(line.GetText(), !last);
    } else if (kind == Kind::Version) {
      VR_TRACE_INFO("Updating VER line in reqcheck config file: ", reqVersion_);
      reqNew_->Append(u"VER " + reqVersion_, true);
    } else if (kind == Kind::Updates) {
      if (reinstall) {
        reqNew_->Append(line.GetText(), true);
      } else {
        VR_TRACE_INFO("Updating UPDATES line in reqcheck config file: ", "++", patch);
        reqNew_->Append(line.GetText() + u" ++" + patch, true);
      }
    } else if ((kind == Kind::PrerequisitesTag || kind == Kind::SystemTag) && line.GetTokenCount() >= 2) {
      const bool system = kind == Kind::SystemTag;
      const WString name = TagNameOf(line);
      const WString block = ReadBlock(*reqOriginal_, line);
      auto& wanted = system ? systems : prerequisites;
      auto it = wanted.find(name);
      if (it != wanted.end() && it->second.replace) {
        VR_TRACE_INFO("Replacing existing tag content with content from Tessera XML.");
        const WString text = TagText(it->second.text);
        reqNew_->Append(text + TrailingBlankLines(block), true);
        undo += WString(system ? kSystemReplace : kPrerequisitesReplace) + u" " + name + u"\n" + kBeginOld + u"\n" +
                block + u"\n" + kBeginNew + u"\n" + text + u"\n" + kEndNew + u"\n";
      } else {
        VR_TRACE_INFO("Using existing tag content, no updates from Tessera XML.");
        reqNew_->Append(block, true);
      }
    } else if (kind == Kind::PrerequisitesSection || kind == Kind::SystemSection) {
      addPending(current);
      current = kind == Kind::SystemSection ? Section::System : Section::Prerequisites;
      reqNew_->Append(line.GetText(), true);
    } else if (kind == Kind::Crc) {
      addPending(current);
      addPending(Section::Prerequisites);  // nothing left after a loaded file; kept for safety
      addPending(Section::System);
      break;  // the save writes a new CRC line
    } else {
      reqNew_->Append(line.GetText(), !last);
    }
    if (last) break;
  }

  // The undo records reach the section log (durable in the run journal) before the file
  // changes, so that a run killed right after the save can still be rolled back; rolling back
  // records of a save that did not happen leaves the file's tags as they are.
  // Every file the save and the copies may change is recorded as it is before the first of
  // them changes.
  if (planOnly_) {
    sectionLog.AppendLine(undo + u"[[[PREREQUISITE_CHECK_END]]]", true);
    return 0;
  }
  if (std::string record; !BuildPrereqSaveRecord(reqNew_->GetPath(), record, message) || !WritePrereqRecord(record, message))
    return kFailure;
  undo += u"[[[PREREQUISITE_CHECK_END]]]";
  VR_TRACE_INFO("Trying to write to partial (reqcheck) log file: ", undo);
  sectionLog.AppendLine(undo, true);
  VR_TRACE_INFO("Saving the updated original reqcheck config file");
  if (FAILED(reqNew_->SaveFile())) {
    WriteCommonLog(u"Original prerequisites config file could not be saved!");
    message = LoadMessage(MessageId::kConfigFileSaveFailed, reqNew_->GetPath());
    return kFailure;
  }
  WriteCommonLog(u"Updated original config file: " + reqNew_->GetPath());
  return CopyPrereqInstances(reqNew_->GetPath(), u"Updated instance config file: ", nullptr, message) ? 0 : kFailure;
}

bool CVrPlatformRegistration::CopyPrereqInstances(const WString& saved, const WString& logPrefix,
                                                  const WChar* failurePrefix, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::CopyPrereqInstances", "Prereq\\PrereqRegistration", vr::trace::kRunFlags);
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

bool CVrPlatformRegistration::ReqCheckCfgRegCleanup(WString&) {
  // A registration that did not get as far as its summary (the final message still says that
  // nothing was done, or the run was rolled back) keeps no version folder it created.
  if (rollback_ && !vr::front::FinalMessage().empty()) DiscardNewPrereqVersion();
  reqOriginal_.reset();
  reqNew_.reset();
  reqCreatedFolder_.clear();
  reqCreatedFile_.clear();
  return true;
}
