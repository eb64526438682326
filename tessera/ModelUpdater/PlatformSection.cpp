// The platform section of a registration run: registration of the file's platforms into the
// WMI model with one undo line per committed change, and the reversal of those lines for
// unregistration (from the undo file) or rollback (from the section log of a failed run).
#include "tessera/ModelUpdater/PlatformSection.h"

#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "platform/text/convert.h"
#include "platform/wmi/repository.h"
#include "tessera/ModelUpdater/PlatformLedger.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/PlatformRecord.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/RunJournal.h"
#include "tessera/UndoFile.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace PlatformOperations;
using vr::front::kExitFailure;

namespace {

// Writes the before-images of everything the change set touches into the run's journal,
// durably, before the first change. From then on the repository may commit without a flush of
// its own (recorded is set), since the next run decides from the stores' state what happened.
// Without a run journal (the section called on its own) nothing is recorded and every commit
// stays durable. False with message 266 when the record could not be made durable.
bool RecordChanges(IWbemServices* services, const PlatformModel& wmi, const PlatformChanges& changes,
                   bool& recorded, WString& message, VrLogFile& log, const char* vrTraceFunction_,
                   const char* vrTraceFile_) {
  recorded = false;
  vr::journal::RunJournal* journal = vr::journal::RunJournal::Current();
  if (!journal) return true;
  PlatformRecord record;
  if (FAILED(CreatePlatformRecord(services, wmi, changes, record, message, log))) return false;
  if (record.empty()) return true;
  if (const long rc = journal->RecordSection(vr::undo::kSectionPlatforms, FormatPlatformRecord(record)); rc != 0) {
    ReportMessage(LoadMessage(MessageId::kRunJournalWriteFailed, vr::text::Utf8ToWide(journal->Folder()), rc), message, log);
    return false;
  }
  recorded = true;
  // Deferring is a matter of speed only: a repository that cannot defer commits durably.
  if (const HRESULT hr = vr::wmi::SetDeferredCommits(true); FAILED(hr)) {
    VR_TRACE_FAILURE("SetDeferredCommits", hr);
  }
  return true;
}

// Applies a recorded change set: the section log (the undo lines) is flushed once at the end,
// and so are the repository's commits. A failed flush fails the apply, which the run then
// reverses: a change that may not last must not be reported as made.
HRESULT ApplyChanges(OperationContext& context, IWbemServices* services, const PlatformChanges& changes,
                     bool recorded, WString& message, VrLogFile* sectionLog, VrLogFile& log,
                     const char* vrTraceFunction_, const char* vrTraceFile_) {
  HRESULT applied;
  {
    VrLogFile::SyncBatch batch(recorded ? sectionLog : nullptr);
    applied = RegisterUnregisterNewPlatforms(context, services, changes, message, sectionLog, log);
  }
  if (recorded) {
    if (const HRESULT hr = vr::wmi::SetDeferredCommits(false); FAILED(hr)) {
      VR_TRACE_FAILURE("SetDeferredCommits", hr);
      ReportMessage(LoadMessage(MessageId::kManagedNodeCommitFailed, HrText(hr)), message, log);
      applied = E_FAIL;
    }
  }
  return applied;
}

}  // namespace

PlatformSection::PlatformSection(CVrPlatformRegistration& run) : run_(run) {}

int PlatformSection::Init(WString&) {
  VR_TRACE_FUNCTION("PlatformSection::Init", "ModelUpdater\\PlatformSection",
                    vr::trace::kModelFlags);
  return 0;
}

bool PlatformSection::Cleanup(WString&) {
  VR_TRACE_FUNCTION("PlatformSection::Cleanup", "ModelUpdater\\PlatformSection",
                    vr::trace::kModelFlags);
  return true;
}

int PlatformSection::Update(CXmlReader& reader, const WString&, bool reinstall, VrLogFile& sectionLog,
                            WString& message) {
  VR_TRACE_FUNCTION("PlatformSection::Update", "ModelUpdater\\PlatformSection",
                    vr::trace::kModelFlags);
  try {
    VrLogFile noLog(u"", false);
    VrLogFile& log = run_.GetRunLog() ? *run_.GetRunLog() : noLog;
    ComScope com;
    OperationContext context;
    context.mode = reinstall ? OP_REINSTALL : OP_REGISTER;
    context.clusterMode = run_.GetClusterMode();
    context.warnings = false;
    if (FAILED(CheckPlatformTexts(reader.Platforms(), run_.GetClusterMode() == 2, message, log))) return kExitFailure;

    std::shared_ptr<IWbemServices> services;
    if (FAILED(ConnectToWmi(&services))) {
      ReportMessage(LoadMessage(MessageId::kWmiConnectFailed), message, log);
      return kExitFailure;
    }
    if (FAILED(CheckIfWMIModelIsValid(services.get(), message, log))) return kExitFailure;
    PlatformModel wmi;
    if (FAILED(LoadValuesFromWMI(services.get(), wmi, message, log))) {
      ReportMessage(LoadMessage(MessageId::kPlatformRegLoadFailed), message, log);
      return kExitFailure;
    }
    PlatformModel wanted;
    if (FAILED(CreateWantedPlatformModel(reader.Platforms(), wmi, wanted, message, log))) return kExitFailure;
    PlatformChanges changes;
    if (FAILED(EliminateDuplicates(wanted)) ||
        FAILED(CreatePlatformUpdateAndUnDoVect(context, wmi, wanted, changes, message, log))) {
      ReportMessage(LoadMessage(MessageId::kPlatformRegFailed), message, log);
      return kExitFailure;
    }
    if (run_.IsPlanOnly()) {
      // A plan shows the lines the apply would write, and changes nothing.
      for (const WString& line : RegistrationUndoLines(context, changes)) sectionLog.AppendLine(line, true);
      return 0;
    }
    if (vr::ledger::Registration* registration = run_.LedgerRegistration())
      AppendLedgerEntries(reader.Platforms(), wmi, wanted, changes, run_.GetClusterMode() == 2, registration->entries);
    bool recorded = false;
    if (!RecordChanges(services.get(), wmi, changes, recorded, message, log, vrTraceFunction_, vrTraceFile_))
      return kExitFailure;
    if (FAILED(ApplyChanges(context, services.get(), changes, recorded, message, &sectionLog, log, vrTraceFunction_,
                            vrTraceFile_))) {
      ReportMessage(LoadMessage(MessageId::kPlatformRegFailed), message, log);
      return kExitFailure;
    }
    if (context.warnings) {
      // The run ends "with warnings"; the console says which (the run log has them too).
      vr::console::PrintConsoleText(message, vr::console::kWarning);
      run_.SetWarnings();
    }
    return 0;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    message += LoadMessage(MessageId::kUnspecifiedError, u"CVrPlatformRegistration::PlatformRegUpdate");
    return kExitFailure;
  }
}

bool PlatformSection::Rollback(VrLogFile& undo, WString& message) {
  VR_TRACE_FUNCTION("PlatformSection::Rollback", "ModelUpdater\\PlatformSection",
                    vr::trace::kModelFlags);
  try {
    VrLogFile noLog(u"", false);
    VrLogFile& log = run_.GetRunLog() ? *run_.GetRunLog() : noLog;
    const bool rollback = run_.IsRollback();
    ComScope com;
    OperationContext context;
    context.mode = rollback ? OP_ROLLBACK : OP_UNINSTALL;
    context.clusterMode = run_.GetClusterMode();
    const MessageId failedMessage = rollback ? MessageId::kPlatformRollbackFailed : MessageId::kPlatformUnregFailed;
    log.AppendLine(rollback ? u"Platforms registration rollback..." : u"Platforms deinstallation...", true);

    std::shared_ptr<IWbemServices> services;
    if (FAILED(ConnectToWmi(&services))) {
      ReportMessage(LoadMessage(MessageId::kWmiConnectFailed), message, log);
      return false;
    }
    if (FAILED(CheckIfWMIModelIsValid(services.get(), message, log))) {
      ReportMessage(LoadMessage(failedMessage), message, log);
      return false;
    }
    PlatformModel wmi;
    if (FAILED(LoadValuesFromWMI(services.get(), wmi, message, log))) {
      ReportMessage(LoadMessage(rollback ? MessageId::kPlatformRollbackLoadFailed : MessageId::kPlatformUnregLoadFailed), message, log);
      return false;
    }
    PlatformChanges changes;
    const HRESULT read = CreateUninstallationAndUnDoVect(context, undo, wmi, changes, message, log);
    // A damaged section is the undo file's fault: the run ends with the undo-file error.
    if (read == kUndoSectionSyntax && !rollback) run_.SetError();
    if (FAILED(read)) {
      ReportMessage(LoadMessage(failedMessage), message, log);
      return false;
    }
    // A registration the ledger knows is taken back from its entries: only what is still its
    // own, with later registrations' states left standing. One it knows as taken back already
    // has nothing left to do here.
    vr::ledger::Registration* registration = rollback ? nullptr : run_.LedgerRegistration();
    if (registration) {
      if (registration->reversedSections & vr::undo::kSectionPlatforms) {
        changes = PlatformChanges();
      } else {
        CreateReversalChanges(wmi, CreateLedgerReversal(run_.RunLedger(), *registration), true, changes);
      }
    }
    // A live rollback is covered by the registration's own record; an unregistration records.
    bool recorded = false;
    if (!rollback &&
        !RecordChanges(services.get(), wmi, changes, recorded, message, log, vrTraceFunction_, vrTraceFile_)) {
      ReportMessage(LoadMessage(failedMessage), message, log);
      return false;
    }
    if (FAILED(ApplyChanges(context, services.get(), changes, recorded, message, nullptr, log, vrTraceFunction_,
                            vrTraceFile_))) {
      ReportMessage(LoadMessage(failedMessage), message, log);
      return false;
    }
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    message += LoadMessage(MessageId::kUnspecifiedError, u"CVrPlatformRegistration::PlatformRegRollback");
    return false;
  }
}

bool PlatformSection::RestoreRecord(const std::string& text, WString& message) {
  VR_TRACE_FUNCTION("PlatformSection::RestoreRecord", "ModelUpdater\\PlatformSection",
                    vr::trace::kModelFlags);
  try {
    VrLogFile noLog(u"", false);
    VrLogFile& log = run_.GetRunLog() ? *run_.GetRunLog() : noLog;
    PlatformRecord record;
    size_t badLine = 0;
    if (!ParsePlatformRecord(text, record, badLine)) {
      ReportMessage(LoadMessage(MessageId::kPlatformJournalLineUnreadable, static_cast<unsigned>(badLine)), message, log);
      return false;
    }
    if (record.empty()) return true;
    ComScope com;
    std::shared_ptr<IWbemServices> services;
    if (FAILED(ConnectToWmi(&services))) {
      ReportMessage(LoadMessage(MessageId::kWmiConnectFailed), message, log);
      return false;
    }
    return SUCCEEDED(RestorePlatformRecord(services.get(), record, message, log));
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    message += LoadMessage(MessageId::kUnspecifiedError, u"CVrPlatformRegistration::PlatformRestoreRecord");
    return false;
  }
}
