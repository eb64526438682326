// Crash safety of the registration run: the run lock that keeps runs apart, the ledger loaded
// under it, and the recovery of runs that were killed (or whose rollback failed), from the
// records in their journals (RunJournal.h), before a run does its own work.
#include <memory>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/os/path.h"
#include "platform/os/run_lock.h"
#include "platform/os/stale_temp.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/RunJournal.h"
#include "tessera/RunLedger.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using vr::journal::RunJournal;

using vr::front::kExitFailure;

namespace {

// The undo file goes back to what it was before the killed run, as after a failed run: its
// previous version from the backup, or none when there was none. Only a header-only undo file
// of the killed run is touched: one the run did not write is another run's, and one with
// sections records changes.
void RestoreUndoFile(const vr::journal::Manifest& m) {
  const WString backup = m.undoFile + u".bak";
  if (m.undoExisted) {
    if (vr::os::FileExists(backup)) vr::os::MoveFile(backup, m.undoFile, true);
  } else {
    vr::os::DeleteFile(m.undoFile);
  }
}

}  // namespace

void CVrPlatformRegistration::TakeRunLock() {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::TakeRunLock", "RunRecovery", vr::trace::kRunFlags);
  std::string lockFile;
  long timeoutMs = 0;
  const long rc = vr::os::RunLock::AcquireForHost(runLock_, lockFile, timeoutMs);
  if (rc == ERROR_SUCCESS) return;
  VR_TRACE_FAILURE("RunLock::Acquire (\"", vr::text::Utf8ToWide(lockFile), "\")", rc);
  if (rc == ERROR_TIMEOUT) throw CApp_error(LoadMessage(MessageId::kRunLockBusy, vr::text::Utf8ToWide(lockFile), timeoutMs), kExitFailure);
  throw CApp_error(LoadMessage(MessageId::kRunLockFailed, vr::text::Utf8ToWide(lockFile), rc), kExitFailure);
}

void CVrPlatformRegistration::BeginRunJournal(const vr::journal::Manifest& manifest) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::BeginRunJournal", "RunRecovery", vr::trace::kRunFlags);
  if (const long rc = RunJournal::Begin(manifest, journal_); rc != ERROR_SUCCESS) {
    const WString message = LoadMessage(MessageId::kRunJournalWriteFailed, vr::text::Utf8ToWide(RunJournal::JournalFolder()), rc);
    LogLine(message);
    throw CApp_error(message, kExitFailure);
  }
}

void CVrPlatformRegistration::ReportRecovery(const WString& message) {
  vr::console::PrintConsoleText(message, vr::console::kWarning);
  LogLine(u"# " + message);
}

void CVrPlatformRegistration::LoadRunLedger() {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::LoadRunLedger", "RunRecovery", vr::trace::kRunFlags);
  ledgerRegistration_ = nullptr;
  if (const long rc = vr::ledger::Ledger::Load(ledger_); rc != ERROR_SUCCESS) {
    const WString message = LoadMessage(MessageId::kLedgerReadFailed, vr::text::Utf8ToWide(vr::ledger::Ledger::FilePath()), rc);
    LogLine(message);
    throw CApp_error(message, kExitFailure);
  }
}

bool CVrPlatformRegistration::SaveRunLedger(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::SaveRunLedger", "RunRecovery", vr::trace::kRunFlags);
  if (const long rc = ledger_.Save(); rc != ERROR_SUCCESS) {
    message = LoadMessage(MessageId::kLedgerWriteFailed, vr::text::Utf8ToWide(vr::ledger::Ledger::FilePath()), rc);
    return false;
  }
  return true;
}

bool CVrPlatformRegistration::RestoreSectionRecord(int section, const std::string& record, WString& message) {
  return section == vr::undo::kSectionPlatforms  ? sections_->PlatformRestoreRecord(record, message)
         : section == vr::undo::kSectionPackages ? sections_->PackageRestoreRecord(record, message)
                                                 : sections_->PrereqRestoreRecord(record, message);
}

// Puts back what the records of a run name (of the sections given), the sections in the reverse of the registration's
// order; false with message at the first section that cannot be put back. Each restore is
// idempotent, so a recovery cut short is done again whole by the next run.
bool CVrPlatformRegistration::RestoreRecords(const RunJournal::Interrupted& run, int sections, WString& failure) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RestoreRecords", "RunRecovery", vr::trace::kRunFlags);
  for (const int section : {vr::undo::kSectionPrereq, vr::undo::kSectionPackages, vr::undo::kSectionPlatforms}) {
    const std::string& record = run.records[RunJournal::RecordIndex(section)];
    if (!(sections & section) || record.empty()) continue;
    WString message;
    if (!RestoreSectionRecord(section, record, message)) {
      failure += message;
      return false;
    }
  }
  return true;
}

// Rolls back, from its section logs, the sections of a killed registration that left no
// record (a journal written by a tessera whose sections did not record yet); false with
// message when that failed.
bool CVrPlatformRegistration::RollBackFromSectionLogs(const RunJournal::Interrupted& run, int sections,
                                                      std::unique_ptr<VrLogFile> (&logs)[3], WString& failure) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RollBackFromSectionLogs", "RunRecovery", vr::trace::kRunFlags);
  const int order[] = {vr::undo::kSectionPlatforms, vr::undo::kSectionPackages, vr::undo::kSectionPrereq};
  // The sections see a rollback of the killed run's patch; the run's own state comes back after.
  const bool rollback = rollback_, error = error_, warnings = warnings_, notRegistered = patchNotRegistered_,
             deployed = packageDeployed_;
  const WString patch = patch_;
  rollback_ = true;
  patch_ = run.manifest.patch;
  bool ok = true;
  int initialised = 0;
  for (int i = 0; i < 3 && ok; ++i) {
    if (!(sections & order[i])) continue;
    WString message;
    int status = 0;
    if (order[i] == vr::undo::kSectionPlatforms) status = sections_->PlatformRegInit(message);
    else if (order[i] == vr::undo::kSectionPackages)
      status = sections_->InitListOfWinOSTypes(message) ? sections_->PackageRegInit(message) : kExitFailure;
    else status = sections_->ReqCheckCfgRegInit(message, WString());
    if (status != 0) {
      ok = false;
      failure += message;
    } else {
      initialised |= order[i];
    }
  }
  for (int i = 0; i < 3 && ok; ++i) {
    if (!(sections & order[i])) continue;
    logs[i]->ResetPosition();
    WString message;
    bool done;
    if (order[i] == vr::undo::kSectionPlatforms) done = sections_->PlatformRegRollback(*logs[i], message);
    else if (order[i] == vr::undo::kSectionPackages) done = sections_->PackageRegRollback(*logs[i], message);
    else done = sections_->ReqCheckCfgRegRollback(*logs[i], message);
    if (!done) {
      ok = false;
      failure += message;
    }
  }
  WString ignored;
  if (initialised & vr::undo::kSectionPlatforms) sections_->PlatformRegCleanup(ignored);
  if (initialised & vr::undo::kSectionPackages) sections_->PackageRegCleanup(ignored);
  if (initialised & vr::undo::kSectionPrereq) sections_->ReqCheckCfgRegCleanup(ignored);
  windowsOsTypes_.clear();
  rollback_ = rollback;
  error_ = error;
  warnings_ = warnings;
  patchNotRegistered_ = notRegistered;
  packageDeployed_ = deployed;
  patch_ = patch;
  return ok;
}

// Puts right one killed registration (or one whose rollback failed): a run that completed its
// undo file keeps its changes; any other is put back from its records (and, for sections that
// left none, from its section logs), and leaves the ledger. False with message when that failed.
bool CVrPlatformRegistration::RollBackInterruptedRun(const RunJournal::Interrupted& run, WString& failure) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RollBackInterruptedRun", "RunRecovery", vr::trace::kRunFlags);
  const int order[] = {vr::undo::kSectionPlatforms, vr::undo::kSectionPackages, vr::undo::kSectionPrereq};
  std::unique_ptr<VrLogFile> logs[3];
  int withChanges = 0, withoutRecord = 0;
  for (int i = 0; i < 3; ++i) {
    const WString path = vr::text::Utf8ToWide(run.folder) + (i == 0 ? u"/platforms.log" : i == 1 ? u"/packages.log" : u"/prereq.log");
    if (!vr::os::FileExists(path)) continue;
    logs[i] = std::make_unique<VrLogFile>(path.c_str(), false);
    const HRESULT hr = logs[i]->LoadFile();
    if (FAILED(hr) && hr != E_VRFILE_CONTENT) {
      failure = LoadMessage(MessageId::kUndoFileUnreadable, path);
      return false;
    }
    logs[i]->SetMakeBackup(false);
    if (!vr::journal::SectionLogRecordsChanges(logs[i]->GetContent())) continue;
    withChanges |= order[i];
    if (run.records[RunJournal::RecordIndex(order[i])].empty()) withoutRecord |= order[i];
  }
  const RunJournal::UndoState undoState = RunJournal::UndoFileState(run, withChanges);
  if (undoState == RunJournal::UndoState::Complete) {
    ReportRecovery(LoadMessage(MessageId::kInterruptedRunCompleted, run.manifest.patch, run.manifest.undoFile));
    return true;
  }
  if (!RestoreRecords(run, ~0, failure)) return false;
  if (withoutRecord && !RollBackFromSectionLogs(run, withoutRecord, logs, failure)) return false;
  // The ledger forgets the run: it was saved before the final undo save, so a run killed in
  // between is there.
  if (ledger_.Remove(run.manifest.patch, run.manifest.createdOn) && !SaveRunLedger(failure)) return false;

  if (undoState == RunJournal::UndoState::HeaderOnly) RestoreUndoFile(run.manifest);
  // Folders the run noted before creating them go again when nothing is in them.
  for (auto it = run.folders.rbegin(); it != run.folders.rend(); ++it) vr::os::RemoveDirectory(*it);
  ReportRecovery(LoadMessage(MessageId::kInterruptedRunRolledBack, run.manifest.patch, vr::text::Utf8ToWide(run.folder)));
  return true;
}

// Puts right one killed unregistration (or one whose section could not be put back after a
// failure). Its ledger save is its commit: the sections the ledger marks as taken back stay
// so; the records of the others put them back as they were before the run, so that running
// it again takes them back once. False with message when that failed.
bool CVrPlatformRegistration::RestoreInterruptedUnregistration(const RunJournal::Interrupted& run, WString& failure) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RestoreInterruptedUnregistration", "RunRecovery", vr::trace::kRunFlags);
  const vr::journal::Manifest& m = run.manifest;
  const vr::ledger::Registration* registration = ledger_.Find(m.patch, m.createdOn);
  const int committed = registration ? registration->reversedSections : 0;
  if (!RestoreRecords(run, ~committed, failure)) return false;
  if (m.sections & ~committed) ReportRecovery(LoadMessage(MessageId::kInterruptedUnregistration, m.undoFile));
  return true;
}

void CVrPlatformRegistration::RecoverInterruptedRuns() {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RecoverInterruptedRuns", "RunRecovery", vr::trace::kRunFlags);
  // Under the lock no other run is writing: temporary files older than the lock are leftovers.
  const long long before = runLock_ ? runLock_->AcquiredAt() + 1 : 0;
  int removed = 0;
  if (before) {
    vr::os::RemoveStaleTempFiles(vr::os::HostRoot(), before, true, removed);
    // The programs' own files in the user's temporary folder ("vrn*.tmp", for a tool's output)
    // are made before the lock is taken: only those older than a minute are a killed run's.
    WString temp;
    if (vr::os::GetTempPath(temp) == ERROR_SUCCESS)
      vr::os::RemoveStaleNamedFiles(vr::text::WideToUtf8(temp), "vrn", ".tmp", before - 60, removed);
  }

  // A journal folder left empty (a run killed as it removed its last run folder) goes too.
  if (!journal_) vr::os::RemoveDirectory(vr::text::Utf8ToWide(RunJournal::JournalFolder()));
  for (const RunJournal::Interrupted& run : RunJournal::FindInterrupted()) {
    if (journal_ && run.folder == journal_->Folder()) continue;
    if (!run.hasManifest) {
      // Killed while it wrote its first manifest, before it changed anything.
      RunJournal::Remove(run.folder);
      continue;
    }
    const vr::journal::Manifest& m = run.manifest;
    if (m.state != "active") continue;  // kept for the user to investigate
    WString failure;
    if (m.mode == "unreg") {
      if (!RestoreInterruptedUnregistration(run, failure)) {
        const WString message = LoadMessage(MessageId::kInterruptedRunRollbackFailed, m.patch, vr::text::Utf8ToWide(run.folder), failure);
        LogLine(u"# " + message);
        throw CApp_error(message, kExitFailure);
      }
      RunJournal::Remove(run.folder);
      continue;
    }
    if (!RollBackInterruptedRun(run, failure)) {
      const WString message = LoadMessage(MessageId::kInterruptedRunRollbackFailed, m.patch, vr::text::Utf8ToWide(run.folder), failure);
      LogLine(u"# " + message);
      throw CApp_error(message, kExitFailure);
    }
    if (!m.undoFile.empty()) {
      // A save of the undo file cut short leaves its temporary file beside it: ".NAME.XXXXXX.tmp".
      const WString path = vr::os::ToNativeSeparators(m.undoFile);
      const size_t slash = path.find_last_of(u'/');
      const WString folder = path.substr(0, slash + 1), prefix = u"." + path.substr(slash + 1) + u".";
      std::vector<vr::os::DirEntry> entries;
      if (slash != WString::npos && vr::os::ListDirectory(folder, entries) == ERROR_SUCCESS)
        for (const auto& e : entries)
          if (!e.isDirectory && e.name.size() == prefix.size() + 10 && e.name.compare(0, prefix.size(), prefix) == 0 &&
              e.name.compare(e.name.size() - 4, 4, u".tmp") == 0)
            vr::os::DeleteFile(folder + e.name);
    }
    RunJournal::Remove(run.folder);
  }
}
