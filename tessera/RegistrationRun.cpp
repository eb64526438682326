// The register and unregister runs of the registration object: section selection, the Inits,
// the section logs, the undo file, the Updates in their fixed order, rollback on failure, and
// the summary and exit code.
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/lasterror.h"
#include "platform/os/path.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/AppErrors.h"
#include "tessera/CmdlineValues.h"
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/FinalMessage.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/VrTempLogFile.h"
#include "tessera/Messages.h"
#include "tessera/Packages/PackageSection.h"
#include "tessera/Prereq/PrereqSection.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"
#include "tessera/XmlParser/XmlValues.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace {

using namespace vr::front;  // the exit codes
constexpr double kPrereqMinimumVersion = 7.499;

// The text with exactly one line end behind it, as the run log takes its lines.
WString AsLine(WStringView text) {
  WString line(text);
  while (!line.empty() && (line.back() == u'\n' || line.back() == u'\r')) line.pop_back();
  return line;
}

bool VersionListed(const WString& supported, const WString& version) {
  return XmlValues::VersionListHas(supported, version);
}

void PrintSummary(const WString& text) { vr::console::WriteStdout(u"\n" + text); }

// The reader's results that name a message of their own (the DOM, the file, the root element).
std::optional<MessageId> XmlLoadFailure(int result) {
  switch (result) {
    case 5: return MessageId::kXmlDomUnavailable;
    case 6: return MessageId::kXmlOpenFailed;
    case 7: return MessageId::kXmlRootMissing;
    default: return std::nullopt;
  }
}

// What loading the configuration file gave: status 0, or the exit code (52 unreadable, 51 not
// a registration file) with the message and the reader's reason, which the run reports once
// its run log is open.
struct ConfigLoad {
  int status = 0;
  WString message, reason;
};

// The configuration file must be readable before the XML reader tries it; an empty file is
// readable and left for the reader to refuse.
std::unique_ptr<CXmlReader> LoadConfiguration(const WString& configFile, const WString& serverVersion,
                                              ConfigLoad& load) {
  {
    VrTextFile probe(configFile.c_str(), TEXT_UNICODE, LINES_CRLF);
    const HRESULT hr = probe.LoadFile();
    if (FAILED(hr) && hr != E_VRFILE_CONTENT) {
      load.status = kExitCannotOpen;
      load.message = LoadMessage(MessageId::kXmlFileUnreadable, configFile);
      return nullptr;
    }
  }
  std::unique_ptr<CXmlReader> reader;
  try {
    reader = std::make_unique<CXmlReader>(serverVersion);
    const int result = reader->Load(configFile);
    if (const auto id = XmlLoadFailure(result)) load.message = LoadMessage(*id, configFile);
    else if (result != 0) load.message = LoadMessage(MessageId::kXmlParseFailed, configFile, result);
    if (result != 0) load.status = kExitConfiguration;
    load.reason = reader->LoadFailureReason();
  } catch (const CApp_error& e) {
    load.status = e.ExitCode();
    load.message = e.Message();
  }
  return reader;
}

// The registration's command line as the run log shows it, without the run options.
WString RegistrationCommandLine(const WString& configFile, const WString& patch, bool reinstall,
                                const WString& undoFile, int sectionsMask) {
  WString commandLine = u"-reg \"" + configFile + u"\" -patch \"" + patch + u"\"";
  if (reinstall) commandLine += u" -reinstall";
  if (sectionsMask & vr::undo::kSectionsGiven) {
    WString names;
    if (sectionsMask & vr::undo::kSectionPackages) names += u"package";
    if (sectionsMask & vr::undo::kSectionPlatforms) names += WString(names.empty() ? u"" : u"|") + u"platform";
    if (sectionsMask & vr::undo::kSectionPrereq) names += WString(names.empty() ? u"" : u"|") + u"prereq";
    commandLine += u" -sections " + names;
  }
  if (!undoFile.empty()) commandLine += u" -log \"" + undoFile + u"\"";
  return commandLine;
}

// The options both runs show at the end of their command line: the cluster mode and a plan.
WString RunOptionsText(int clusterMode, bool planOnly) {
  WString options;
  if (clusterMode == 1) options += u" -cluster full";
  else if (clusterMode == 2) options += u" -cluster local";
  if (planOnly) options += u" -whatif";
  return options;
}

// The sections the run updates: those of the mask the file has content for; prerequisites
// only on a server version that keeps the prerequisite-check file.
int SelectSections(const CXmlReader& reader, int sectionsMask, double serverVersionNumber) {
  int selected = 0;
  if ((sectionsMask & vr::undo::kSectionPlatforms) && reader.PlatformCount() > 0) selected |= vr::undo::kSectionPlatforms;
  if ((sectionsMask & vr::undo::kSectionPackages) && reader.PackageCount() > 0) selected |= vr::undo::kSectionPackages;
  if ((sectionsMask & vr::undo::kSectionPrereq) && serverVersionNumber > kPrereqMinimumVersion &&
      (reader.SystemTagCount() > 0 || reader.PrerequisiteTagCount() > 0))
    selected |= vr::undo::kSectionPrereq;
  return selected;
}

// A section's Update in the run, with the log of its undo lines and the markers the run
// writes around them (the prerequisite section writes its own).
struct UpdateStep {
  int bit;
  VrTempLogFile* log;
  const char16_t* begin;
  const char16_t* end;
};

// The Updates in their fixed order.
std::array<UpdateStep, 3> UpdateSteps(VrTempLogFile& platformLog, VrTempLogFile& packageLog,
                                      VrTempLogFile& prereqLog) {
  return {{
      {vr::undo::kSectionPlatforms, &platformLog, vr::undo::kPlatformsBegin, vr::undo::kPlatformsEnd},
      {vr::undo::kSectionPackages, &packageLog, vr::undo::kPackagesBegin, vr::undo::kPackagesEnd},
      {vr::undo::kSectionPrereq, &prereqLog, nullptr, nullptr},
  }};
}

}  // namespace

void CVrPlatformRegistration::LogLine(WStringView text) {
  if (runLog_) runLog_->AppendLine(AsLine(text), true);
}

void CVrPlatformRegistration::LogOutcome(int exitCode, const WString& patch) {
  if (!runLog_) return;
  LogPlanStop();
  WString summary;
  if (exitCode == kExitRollbackSucceeded) summary = LoadMessage(MessageId::kRegFailedRollbackSucceeded, patch);
  else if (exitCode == kExitRollbackFailed) summary = LoadMessage(MessageId::kRegFailedRollbackErrors, patch);
  else summary = vr::front::FinalMessage();
  if (!summary.empty()) LogLine(u"\n# " + summary);
  LogLine(vr::text::Format(u"# Exit code = %d", exitCode));
}

WString CVrPlatformRegistration::CreationTime() {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::CreationTime", "VrPlatformRegistration", vr::trace::kRunFlags);
  SYSTEMTIME now;
  GetLocalTime(&now);
  TIME_ZONE_INFORMATION zone;
  const DWORD which = GetTimeZoneInformation(&zone);
  if (which == TIME_ZONE_ID_INVALID) {
    VR_TRACE_FAILURE("GetTimeZoneInformation", static_cast<long>(GetLastError()));
    throw CApp_error(LoadMessage(MessageId::kTimeZoneUnavailable), kExitFailure);
  }
  long bias = zone.Bias;
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  else if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  return vr::undo::FormatCreationTime(now.wMonth, now.wDay, now.wYear, now.wHour, now.wMinute, now.wSecond, bias);
}

void CVrPlatformRegistration::WriteRunLogHeader(const vr::undo::UndoHeader& header, const WString& commandLine) {
  LogLine(WString(vr::undo::kPatchKey) + header.patch);
  LogLine(WString(vr::undo::kCreatedOnKey) + header.createdOn);
  LogLine(WString(vr::undo::kConfigFileKey) + header.configFile);
  LogLine(WString(vr::undo::kVersionsKey) + header.supportedVersions);
  LogLine(u"# Running on computer: " + computerName_);
  LogLine(u"# Command line:");
  LogLine(u"# tessera " + commandLine);
  LogLine(u"");
}

void CVrPlatformRegistration::CheckServerVersion(const WString& supportedVersions) {
  if (serverVersionNumber_ <= 0.001) return;
  if (VersionListed(supportedVersions, serverVersion_)) return;
  const WString message = LoadMessage(MessageId::kVersionUnsupported, serverVersion_, supportedVersions);
  LogLine(message);
  throw CApp_error(message, kExitConfiguration);
}

void CVrPlatformRegistration::RunInits(int sections, const WString& requestedPrereqVersion) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RunInits", "VrPlatformRegistration", vr::trace::kRunFlags);
  WString message;
  if (sections & vr::undo::kSectionPlatforms) {
    const int status = sections_->PlatformRegInit(message);
    if (status != 0) throw CApp_error(message, status);
    platformsInitialised_ = true;
  }
  if (sections & vr::undo::kSectionPackages) {
    if (!sections_->InitListOfWinOSTypes(message)) throw CApp_error(message, kExitFailure);
    if (g_TesseraMessageTrace.IsEnabled(vr::trace::kProgress)) {
      WString list;
      for (const auto& os : windowsOsTypes_) list += u" " + os;
      VR_TRACE_INFO("Windows OSes (", static_cast<unsigned long>(windowsOsTypes_.size()), "):", list);
    }
    const int status = sections_->PackageRegInit(message);
    if (status != 0) throw CApp_error(message, status);
    packagesInitialised_ = true;
  }
  if (sections & vr::undo::kSectionPrereq) {
    const int status = sections_->ReqCheckCfgRegInit(message, requestedPrereqVersion);
    if (status != 0) {
      LogLine(message);
      throw CApp_error(message, status);
    }
    prereqInitialised_ = true;
  }
}

// Message 500, 501 or 502 when the undo file's path has no root folder this host can enter
// (a share without its name, a drive or a share, no root at all); empty otherwise.
WString CVrPlatformRegistration::UndoRootProblem(const WString& undoFile) {
  const WString path = vr::os::ToNativeSeparators(undoFile);
  if (vr::cmdline::ShareNameMissing(undoFile)) return LoadMessage(MessageId::kShareNameUndetermined, undoFile);
  // This host has no drives and no shares: such a folder cannot be entered.
  if (vr::cmdline::IsOnDriveOrShare(undoFile)) return LoadMessage(MessageId::kDirectoryInaccessible, vr::cmdline::DriveOrShareOf(undoFile));
  if (path.empty() || path[0] != u'/') return LoadMessage(MessageId::kDriveNameUndetermined, undoFile);
  return WString();
}

// Makes sure the undo file's folder exists, walking the path from its root folder by folder and
// creating what is missing. The current directory is restored afterwards.
void CVrPlatformRegistration::PrepareUndoDirectory(const WString& undoFile) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PrepareUndoDirectory", "VrPlatformRegistration", vr::trace::kRunFlags);
  WString previous;
  const long cwdError = vr::os::GetCurrentDirectory(previous);
  if (cwdError != 0) VR_TRACE_FAILURE("GetCurrentDirectoryW", cwdError);

  WString message = UndoRootProblem(undoFile);
  const WString path = vr::os::ToNativeSeparators(undoFile);
  const long rootError = message.empty() ? vr::os::SetCurrentDirectory(u"/") : 0;
  if (rootError != 0) {
    VR_TRACE_FAILURE("SetCurrentDirectoryW (\"/\")", rootError);
    message = LoadMessage(MessageId::kDirectoryInaccessible, u"/");
  } else if (message.empty()) {
    // Every component but the last (the file name) is a folder to enter or create.
    WString sofar;
    size_t start = 1;
    while (message.empty()) {
      const size_t slash = path.find(u'/', start);
      if (slash == WString::npos) break;
      const WString part = path.substr(start, slash - start);
      start = slash + 1;
      if (part.empty()) continue;
      sofar += u"/" + part;
      if (vr::os::SetCurrentDirectory(part) == 0) continue;
      if (long rc = vr::os::CreateDirectory(part); rc != 0) {
        VR_TRACE_FAILURE("CreateDirectoryW (\"", sofar, "\")", rc);
        message = LoadMessage(MessageId::kDirectoryCreateFailed, sofar);
      } else if (long rc2 = vr::os::SetCurrentDirectory(part); rc2 != 0) {
        VR_TRACE_FAILURE("SetCurrentDirectoryW (\"", sofar, "\")", rc2);
        message = LoadMessage(MessageId::kNewDirectoryInaccessible, sofar);
      }
    }
  }
  if (cwdError == 0) vr::os::SetCurrentDirectory(previous);
  if (!message.empty()) {
    LogLine(message);
    throw CApp_error(message, kExitFailure);
  }
}

int CVrPlatformRegistration::RegisterPlatform(const WString& configFile, const WString& patch, bool reinstall,
                                              const WString& undoFile, int sectionsMask) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RegisterPlatform", "VrPlatformRegistration", vr::trace::kRunFlags);
  TakeRunLock();
  try {
    return RegisterSteps(configFile, patch, reinstall, undoFile, sectionsMask);
  } catch (const CApp_error& e) {
    LogOutcome(e.ExitCode(), patch);
    throw;
  }
}

int CVrPlatformRegistration::RegisterSteps(const WString& configFile, const WString& patch, bool reinstall,
                                           const WString& undoFile, int sectionsMask) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RegisterSteps", "VrPlatformRegistration", vr::trace::kRunFlags);
  vr::front::SetFinalMessage(LoadMessage(MessageId::kRegInitFailed, patch));
  rollback_ = true;
  patch_ = patch;
  WString createdOn = CreationTime();
  // The load's failure ends the run only once the run log is there to record it.
  ConfigLoad load;
  std::unique_ptr<CXmlReader> reader = LoadConfiguration(configFile, serverVersion_, load);

  WString logMessage;
  if (!InitTesseraLog(logMessage)) throw CApp_error(logMessage, kExitFailure);
  // The ledger knows a registration by its patch and creation time, which counts seconds: a
  // registration of the same patch in the same second as one the ledger holds waits for the
  // next second, so that each has its own key.
  LoadRunLedger();
  while (ledger_.Find(patch, createdOn)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    createdOn = CreationTime();
  }

  vr::undo::UndoHeader header{patch, createdOn, configFile, reader && load.status == 0 ? reader->SupportedVersions() : WString()};
  WriteRunLogHeader(header, RegistrationCommandLine(configFile, patch, reinstall, undoFile, sectionsMask) +
                                RunOptionsText(clusterMode_, planOnly_));
  // A plan changes nothing, not even what a killed run left to put right.
  if (planOnly_) BeginPlan();
  else RecoverInterruptedRuns();

  if (load.status != 0) {
    LogLine(u"# " + load.message);
    if (!load.reason.empty()) LogLine(u"# " + load.reason);
    throw CApp_error(load.message, load.status);
  }
  CheckServerVersion(reader->SupportedVersions());
  const int selected = SelectSections(*reader, sectionsMask, serverVersionNumber_);
  VR_TRACE_INFO("Sections selected: ", selected);
  RefuseUnfitTexts(*reader, selected);

  if (planOnly_) return PlanRegistration(*reader, patch, reinstall, undoFile, selected);
  BeginRunJournal({"reg", patch, undoFile, createdOn, !undoFile.empty() && vr::os::FileExists(undoFile), selected, {}});
  // The sections add the entries of their changes to the run's registration as they plan;
  // it reaches the ledger on disk only once every section has succeeded.
  if (selected) SetLedgerRegistration(&ledger_.Add(patch, createdOn, undoFile));
  RunInits(selected, reader->ReqCheckVersion());

  // One durable log per section in the run journal collects its undo lines; the journal
  // removes them when the run is over.
  VrTempLogFile packageLog(journal_->SectionLogPath(vr::undo::kSectionPackages), false, false),
      platformLog(journal_->SectionLogPath(vr::undo::kSectionPlatforms), false, false),
      prereqLog(journal_->SectionLogPath(vr::undo::kSectionPrereq), false, false);
  OpenSectionLogs(packageLog, platformLog, prereqLog);
  journal_->MarkUpdating();
  std::unique_ptr<VrLogFile> undo = CreateUndoFile(undoFile, header);

  const int updated = RunUpdates(*reader, patch, reinstall, selected, platformLog, packageLog, prereqLog, undoFile);
  // The ledger is saved before the undo file is completed: a run killed in between is rolled
  // back by the next run, which then takes the registration out of the ledger again.
  if (auto* registration = LedgerRegistration()) {
    registration->sections = selected;
    if (WString message; !SaveRunLedger(message)) {
      LogLine(message);
      RollBackRegistration(message, updated, platformLog, packageLog, prereqLog, undoFile);
    }
  }
  vr::front::ClearFinalMessage();
  if (undo) CompleteUndoFile(*undo, undoFile, selected, platformLog, packageLog, prereqLog);
  journal_->Finish();
  return Summarise(warnings_ ? MessageId::kRegWarnings : MessageId::kRegSucceeded, patch);
}

// Refuses, before any section changes anything, prerequisite tags that are not one block of
// their own and package texts longer than the Depot keeps (so a file is refused alike on
// every engine and whatever sections come before the packages).
void CVrPlatformRegistration::RefuseUnfitTexts(const CXmlReader& reader, int selected) {
  if (WString tagMessage; (selected & vr::undo::kSectionPrereq) && !prereqSection_->CheckTags(reader, tagMessage))
    throw CApp_error(tagMessage, kExitFailure);
  if (WString tooLong; (selected & vr::undo::kSectionPackages) && !vr::pkg::CheckPackageTexts(reader.Packages(), tooLong)) {
    LogLine(tooLong);
    throw CApp_error(tooLong, kExitFailure);
  }
}

// Opens the section logs for writing without buffering: message 202, 203 or 204 for a log
// without a name, 201 for one that cannot be opened; each ends the run with exit 100.
void CVrPlatformRegistration::OpenSectionLogs(VrTempLogFile& packageLog, VrTempLogFile& platformLog,
                                              VrTempLogFile& prereqLog) {
  struct { VrTempLogFile* log; MessageId noNameMessage; } logs[] = {
      {&packageLog, MessageId::kPackageTempLogNameFailed},
      {&platformLog, MessageId::kPlatformTempLogNameFailed},
      {&prereqLog, MessageId::kPrereqTempLogNameFailed}};
  for (auto& l : logs) {
    WString message;
    if (l.log->GetPath().empty()) message = LoadMessage(l.noNameMessage);
    else if (FAILED(l.log->OpenForWriteAsNonBuffered(false))) message = LoadMessage(MessageId::kLogFileCreateFailed, l.log->GetPath());
    if (!message.empty()) {
      LogLine(message);
      throw CApp_error(message, kExitFailure);
    }
  }
}

// The undo file with its header, saved at once so that an undo file that cannot be written
// stops the run before any change; null when the run writes none.
std::unique_ptr<VrLogFile> CVrPlatformRegistration::CreateUndoFile(const WString& undoFile,
                                                                   const vr::undo::UndoHeader& header) {
  if (undoFile.empty()) return nullptr;
  PrepareUndoDirectory(undoFile);
  auto undo = std::make_unique<VrLogFile>(undoFile.c_str(), true);
  vr::undo::AppendHeader(*undo, header);
  if (FAILED(undo->SaveFile())) {
    journal_->Finish();
    const WString message = LoadMessage(MessageId::kLogFileCreateFailed, undoFile);
    LogLine(message);
    throw CApp_error(message, kExitFailure);
  }
  return undo;
}

// The Updates in their fixed order, each section's lines between its markers; a failure rolls
// back everything updated so far (and does not return). The sections updated.
int CVrPlatformRegistration::RunUpdates(CXmlReader& reader, const WString& patch, bool reinstall, int selected,
                                        VrTempLogFile& platformLog, VrTempLogFile& packageLog,
                                        VrTempLogFile& prereqLog, const WString& undoFile) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RunUpdates", "VrPlatformRegistration", vr::trace::kRunFlags);
  int updated = 0;
  for (const UpdateStep& step : UpdateSteps(platformLog, packageLog, prereqLog)) {
    if (!(selected & step.bit)) continue;
    if (step.begin) {
      step.log->AppendLine(step.begin, true);
      LogLine(step.begin);
    }
    WString message;
    int status;
    if (step.bit == vr::undo::kSectionPlatforms) status = sections_->PlatformRegUpdate(reader, patch, reinstall, *step.log, message);
    else if (step.bit == vr::undo::kSectionPackages) status = sections_->PackageRegUpdate(reader, patch, reinstall, *step.log, message);
    else status = sections_->ReqCheckCfgRegUpdate(reader, patch, reinstall, *step.log, message);
    if (step.end) {
      step.log->AppendLine(step.end, true);
      LogLine(step.end);
    }
    updated |= step.bit;
    if (status == kExitWarnings && step.bit == vr::undo::kSectionPlatforms) {
      warnings_ = true;
      status = 0;
    }
    step.log->SaveFile();
    if (status != 0) RollBackRegistration(message, updated, platformLog, packageLog, prereqLog, undoFile);
  }
  return updated;
}

// Appends the section logs to the undo file in the Updates' order and saves it. A failed save
// keeps the journal: the changes stay, and the logs are the only record of them.
void CVrPlatformRegistration::CompleteUndoFile(VrLogFile& undo, const WString& undoFile, int selected,
                                               VrTempLogFile& platformLog, VrTempLogFile& packageLog,
                                               VrTempLogFile& prereqLog) {
  for (const UpdateStep& step : UpdateSteps(platformLog, packageLog, prereqLog)) {
    if (!(selected & step.bit)) continue;
    if (step.begin) undo.AppendLine(u"", true);
    undo.AppendLine(step.log->GetContent(), false);
  }
  // The first save already kept the previous undo file as the backup; this one must not
  // replace that backup with the header-only file.
  undo.SetMakeBackup(false);
  if (FAILED(undo.SaveFile())) {
    journal_->Keep();
    const WString message =
        LoadMessage(MessageId::kUndoFileSaveFailed, undoFile, packageLog.GetPath(), platformLog.GetPath(), prereqLog.GetPath());
    LogLine(message);
    throw CApp_error(message, kExitFailure);
  }
}

int CVrPlatformRegistration::Summarise(vr::msg::MessageId messageId, const WString& patch) {
  const WString summary = LoadMessage(messageId, patch);
  const int exitCode = warnings_ ? kExitWarnings : kExitSuccess;
  LogLine(u"\n# " + summary);
  PrintSummary(summary);
  vr::front::ClearFinalMessage();
  LogLine(vr::text::Format(u"# Exit code = %d", exitCode));
  return exitCode;
}

void CVrPlatformRegistration::RollBackRegistration(const WString& failure, int updated, VrTempLogFile& platformLog,
                                                   VrTempLogFile& packageLog, VrTempLogFile& prereqLog,
                                                   const WString& undoFile) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RollBackRegistration", "VrPlatformRegistration", vr::trace::kRunFlags);
  vr::console::PrintConsoleText(failure, vr::console::kError);
  const WString performing = LoadMessage(MessageId::kRegErrorRollingBack);
  LogLine(u"# " + performing);
  vr::console::WriteStdout(performing);

  WString errors;
  int code = kExitRollbackSucceeded;
  auto rollBack = [&](int bit, VrTempLogFile& log) {
    if (!(updated & bit)) return;
    log.ResetPosition();
    WString message;
    bool ok;
    if (bit == vr::undo::kSectionPlatforms) ok = sections_->PlatformRegRollback(log, message);
    else if (bit == vr::undo::kSectionPackages) ok = sections_->PackageRegRollback(log, message);
    else ok = sections_->ReqCheckCfgRegRollback(log, message);
    if (!ok) {
      // "Changes stay" only when the log records some: a section that failed before its
      // first change has nothing left behind, whatever its rollback says.
      if (vr::journal::SectionLogRecordsChanges(log.GetContent())) code = kExitRollbackFailed;
      errors += message;
    }
  };
  rollBack(vr::undo::kSectionPlatforms, platformLog);
  rollBack(vr::undo::kSectionPackages, packageLog);
  rollBack(vr::undo::kSectionPrereq, prereqLog);
  // A rollback that failed leaves the journal as a killed run does: the next run puts back
  // what the sections' records name, once the cause of the failure is gone.
  if (journal_ && code != kExitRollbackFailed) journal_->Finish();

  if (!undoFile.empty()) {
    if (journal_ && code == kExitRollbackFailed) journal_->ForgetUndoFile();
    if (long rc = vr::os::DeleteFile(undoFile); rc != 0) VR_TRACE_FAILURE("DeleteFile (\"", undoFile, "\")", rc);
    const WString backup = undoFile + u".bak";
    if (vr::os::FileExists(backup)) {
      if (long rc = vr::os::MoveFile(backup, undoFile, true); rc != 0)
        VR_TRACE_FAILURE("MoveFile (\"", backup, "\")", rc);
    }
  }
  throw CApp_error(errors, code);
}

int CVrPlatformRegistration::UnregisterPlatform(const WString& undoFile, bool deleteUndo) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::UnregisterPlatform", "VrPlatformRegistration", vr::trace::kRunFlags);
  WString patch;
  TakeRunLock();
  try {
    return UnregisterSteps(undoFile, deleteUndo, patch);
  } catch (const CApp_error& e) {
    LogOutcome(e.ExitCode(), patch);
    throw;
  }
}

int CVrPlatformRegistration::UnregisterSteps(const WString& undoFile, bool deleteUndo, WString& patch) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::UnregisterSteps", "VrPlatformRegistration", vr::trace::kRunFlags);
  vr::front::SetFinalMessage(LoadMessage(MessageId::kUnregInitFailed, undoFile));
  rollback_ = false;
  const WString createdOn = CreationTime();

  int status = 0;
  WString statusMessage;
  vr::undo::UndoHeader header;
  int sections = 0;
  VrLogFile undo(undoFile.c_str(), true);
  if (FAILED(undo.LoadFile())) {
    status = kExitCannotOpen;
    statusMessage = LoadMessage(MessageId::kUndoFileUnreadable, undoFile);
  } else {
    status = vr::undo::ValidateUndoFile(undo, header, sections, statusMessage);
    if (serverVersionNumber_ < kPrereqMinimumVersion) sections &= ~vr::undo::kSectionPrereq;
    patch = header.patch;
    patch_ = patch;
    // Once the check has run, the patch of a readable "Patch=" line names the failure.
    if (status == 0 || !patch.empty()) vr::front::SetFinalMessage(LoadMessage(MessageId::kUnregPatchInitFailed, patch));
  }

  WString logMessage;
  if (!InitTesseraLog(logMessage)) throw CApp_error(logMessage, kExitFailure);
  if (header.createdOn.empty()) header.createdOn = createdOn;
  WriteRunLogHeader(header, u"-unreg \"" + undoFile + u"\"" + RunOptionsText(clusterMode_, planOnly_));
  LoadRunLedger();
  if (planOnly_) BeginPlan();
  else RecoverInterruptedRuns();
  if (status != 0) {
    LogLine(u"# " + statusMessage);
    throw CApp_error(statusMessage, status);
  }
  CheckServerVersion(header.supportedVersions);

  // The ledger knows what an earlier unregistration of this undo file took back: those
  // sections are not taken back a second time.
  vr::ledger::Registration* known = ledger_.Find(patch, header.createdOn);
  // A plan shows the sections of an undo file whose changes are all taken back too, with the
  // ledger's word on them.
  if (!planOnly_ && known && known->reversedSections != 0 && known->Reversed(sections))
    return ReportAlreadyUnregistered(undoFile, patch, deleteUndo);
  // A registration that found every prerequisite tag it lists already there writes no
  // prerequisite lines, but holds those tags in the ledger: its unregistration takes the
  // section back too, so that the tags go with the last registration that lists them.
  if (known && serverVersionNumber_ >= kPrereqMinimumVersion)
    for (const auto& e : known->entries)
      if (e.section == vr::undo::kSectionPrereq && !e.reversed) sections |= vr::undo::kSectionPrereq;
  if (planOnly_) return PlanUnregistration(undo, sections, known);
  const int todo = known ? sections & ~known->reversedSections : sections;
  SetLedgerRegistration(known);
  BeginRunJournal({"unreg", patch, undoFile, header.createdOn, true, todo, {}});
  journal_->MarkUpdating();
  RunInits(todo, WString());
  vr::front::SetFinalMessage(LoadMessage(MessageId::kUnregErrors, patch));

  // Packages first: their section may refuse the whole unregistration.
  int result = 0, failed = 0;
  WString errors;
  for (const int bit : {vr::undo::kSectionPackages, vr::undo::kSectionPlatforms, vr::undo::kSectionPrereq}) {
    WString message;
    if (!(todo & bit) || TakeBackSection(bit, undo, known != nullptr, patch, header.createdOn, message)) continue;
    failed |= bit;
    if (bit == vr::undo::kSectionPackages && (patchNotRegistered_ || packageDeployed_))
      return RefuseUnregistration(undoFile, patch, header.createdOn, message);
    errors += message;
    if (result != kExitUndoSyntax) result = error_ ? kExitUndoSyntax : kExitUnregisterErrors;
  }
  CommitUnregistration(undoFile, patch, header.createdOn, sections, todo & ~failed, failed, errors);
  if (result != 0) throw CApp_error(errors, result);

  const int exitCode = Summarise(warnings_ ? MessageId::kUnregWarnings : MessageId::kUnregSucceeded, patch);
  if (deleteUndo && vr::os::FileExists(undoFile)) {
    if (long rc = vr::os::DeleteFile(undoFile); rc != 0) VR_TRACE_FAILURE("DeleteFile (\"", undoFile, "\")", rc);
  }
  return exitCode;
}

// One section's Rollback in an unregistration. A section that fails is put back from its record
// at the end; what it changed in the ledger goes with it.
bool CVrPlatformRegistration::TakeBackSection(int bit, VrLogFile& undo, bool known, const WString& patch,
                                              const WString& createdOn, WString& message) {
  undo.ResetPosition();
  const vr::ledger::Ledger ledgerBefore = ledger_;
  bool ok;
  if (bit == vr::undo::kSectionPackages) ok = sections_->PackageRegRollback(undo, message);
  else if (bit == vr::undo::kSectionPlatforms) ok = sections_->PlatformRegRollback(undo, message);
  else ok = sections_->ReqCheckCfgRegRollback(undo, message);
  if (!ok) {
    ledger_ = ledgerBefore;
    SetLedgerRegistration(known ? ledger_.Find(patch, createdOn) : nullptr);
  }
  return ok;
}

// The package section refused the unregistration (the patch is not registered, or a package
// is still deployed): whatever it did first is put back from its record, and the run is over
// with exit code 3 or 6.
int CVrPlatformRegistration::RefuseUnregistration(const WString& undoFile, const WString& patch,
                                                  const WString& createdOn, const WString& message) {
  WString ignored;
  CommitUnregistration(undoFile, patch, createdOn, 0, 0, vr::undo::kSectionPackages, ignored);
  const int code = patchNotRegistered_ ? kExitPatchNotRegistered : kExitPackageDeployed;
  vr::console::WriteStdout(message);
  const WString notUnregistered = LoadMessage(MessageId::kPatchNotUnregistered, patch);
  LogLine(u"\n# " + notUnregistered);
  PrintSummary(notUnregistered);
  vr::front::ClearFinalMessage();
  LogLine(vr::text::Format(u"# Exit code = %d", code));
  return code;
}

// A section that failed part way is put back from its record, so that it is either taken back
// whole or not at all; then the ledger marks the sections that were taken back (for an undo
// file it does not know, a registration with no entries records them, so that a second
// unregistration is recognised). The ledger save is the run's commit: when it, or putting a
// failed section back, cannot be done, the journal stays for the next run, which puts back
// every section the ledger does not mark.
void CVrPlatformRegistration::CommitUnregistration(const WString& undoFile, const WString& patch,
                                                   const WString& createdOn, int sections, int done, int failed,
                                                   WString& errors) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::CommitUnregistration", "VrPlatformRegistration", vr::trace::kRunFlags);
  bool keepJournal = false;
  for (const int bit : {vr::undo::kSectionPrereq, vr::undo::kSectionPlatforms, vr::undo::kSectionPackages}) {
    if (!(failed & bit)) continue;
    const std::string record = journal_->ReadRecord(bit);
    WString message;
    if (!record.empty() && !RestoreSectionRecord(bit, record, message)) {
      errors += message;
      keepJournal = true;
    }
  }
  auto* registration = LedgerRegistration();
  if (!registration && sections != 0) {
    registration = &ledger_.Add(patch, createdOn, undoFile);
    registration->sections = sections;
    SetLedgerRegistration(registration);
  }
  if (registration && done != 0) {
    registration->reversedSections |= done;
    if (WString message; !SaveRunLedger(message)) {
      LogLine(message);
      throw CApp_error(errors + message, kExitFailure);
    }
  }
  if (!keepJournal) journal_->Finish();
}

// A second unregistration of an undo file whose changes have all been taken back: nothing to
// do, and it says so (exit 0). With delete-undo the undo file goes, as the first run would
// have done had it not been stopped before.
int CVrPlatformRegistration::ReportAlreadyUnregistered(const WString& undoFile, const WString& patch, bool deleteUndo) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::ReportAlreadyUnregistered", "VrPlatformRegistration", vr::trace::kRunFlags);
  const WString text = LoadMessage(MessageId::kAlreadyUnregistered, undoFile, patch);
  LogLine(u"\n# " + text);
  PrintSummary(text);
  vr::front::ClearFinalMessage();
  LogLine(vr::text::Format(u"# Exit code = %d", kExitSuccess));
  if (deleteUndo && vr::os::FileExists(undoFile)) {
    if (long rc = vr::os::DeleteFile(undoFile); rc != 0) VR_TRACE_FAILURE("DeleteFile (\"", undoFile, "\")", rc);
  }
  return kExitSuccess;
}
