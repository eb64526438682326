// The registration object of tessera: discovers the installation environment, drives the three
// sections of a registration through Init / Update / Rollback / Cleanup, writes and restores
// the undo file, and turns the outcome into an exit code.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/types.h"
#include "platform/os/run_lock.h"
#include "platform/text/wstring.h"
#include "tessera/MessageIds.h"
#include "tessera/RegistrationSections.h"
#include "tessera/RunJournal.h"
#include "tessera/RunLedger.h"
#include "tessera/UndoFile.h"

class VrConfigFile;
class VrLogFile;
class VrTempLogFile;
class CXmlReader;
class PlatformSection;
class PrereqSection;
namespace vr::pkg {
struct PackageSectionState;
}

class CVrPlatformRegistration {
 public:
  // Discovers the environment. status: 0 success; 50 the command line does not fit the system
  // (message 816); 100 any other failure; message explains a non-zero status.
  CVrPlatformRegistration(int clusterMode, void* reserved, WString& message, int& status);
  // Runs the Cleanup of every initialised section (failures printed), then closes the run log.
  ~CVrPlatformRegistration();
  CVrPlatformRegistration(const CVrPlatformRegistration&) = delete;
  CVrPlatformRegistration& operator=(const CVrPlatformRegistration&) = delete;

  // Exit code 0 or 5; failures are thrown as CApp_error.
  int RegisterPlatform(const WString& configFile, const WString& patch, bool reinstall,
                       const WString& undoFile, int sectionsMask);
  // Exit code 0, 5, or 3 / 6 when the package section refuses; other failures are thrown.
  int UnregisterPlatform(const WString& undoFile, bool deleteUndo);

  // ---- Installation environment (VrEnvironment.cpp)

  // Runs a command line (the program is searched on the path) and waits for it; exitCode and
  // output (its standard output, from the ANSI code page) are filled when given. False with
  // message 250 when the run failed.
  static bool RunCmdTool(const WString& commandLine, DWORD* exitCode, WString* output, WString& message);
  // Creates the run log "log\tessera.log" below "DataDir" or "VrMsShareInstallDir" and opens
  // it for appending line by line; false with message 800, 803 or 201.
  bool InitTesseraLog(WString& message);
  // True when the decimal text of osType is one of the Windows OS types of the run.
  bool IsWindowsOS(int osType) const;

  const WString& GetServerVersion() const { return serverVersion_; }
  double GetServerVersionNumber() const { return serverVersionNumber_; }
  const WString& GetComputerName() const { return computerName_; }
  DWORD GetInstallationStatus() const { return installationStatus_; }
  int32_t GetClusterNodeState() const { return clusterNodeState_; }
  const WString& GetClusterGroupName() const { return clusterGroupName_; }
  const WString& GetActiveNodeName() const { return activeNodeName_; }
  int GetClusterMode() const { return clusterMode_; }
  VrLogFile* GetRunLog() const { return runLog_.get(); }
  std::vector<WString>& WindowsOsTypes() { return windowsOsTypes_; }

  // ---- Registration run

  // Section handlers, called by the run through the section protocol.
  int PlatformRegInit(WString& message);
  int PlatformRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog,
                        WString& message);
  bool PlatformRegRollback(VrLogFile& log, WString& message);
  bool PlatformRegCleanup(WString& message);
  bool InitListOfWinOSTypes(WString& message);
  int PackageRegInit(WString& message);
  int PackageRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog,
                       WString& message);
  bool PackageRegRollback(VrLogFile& log, WString& message);
  bool PackageRegCleanup(WString& message);
  int ReqCheckCfgRegInit(WString& message, const WString& requestedVersion);
  int ReqCheckCfgRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog,
                           WString& message);
  bool ReqCheckCfgRegRollback(VrLogFile& log, WString& message);
  bool ReqCheckCfgRegCleanup(WString& message);

  // Recovery of a killed run (or of a failed rollback) from the sections' records in its
  // journal: each puts what its record names back to the state before that run. Idempotent;
  // no Init needed. False with message when a store could not be put back.
  bool PlatformRestoreRecord(const std::string& record, WString& message);
  bool PackageRestoreRecord(const std::string& record, WString& message);
  bool PrereqRestoreRecord(const std::string& record, WString& message);

  // The ledger of the host, loaded by the run under its lock, and the registration being made
  // (registration) or taken back (unregistration; null when the ledger does not know the undo
  // file). Sections add the entries of their changes to the registration while they plan, and
  // mark them reversed when they take them back; the run saves the ledger.
  vr::ledger::Ledger& RunLedger() { return ledger_; }
  vr::ledger::Registration* LedgerRegistration() { return ledgerRegistration_; }
  void SetLedgerRegistration(vr::ledger::Registration* registration) { ledgerRegistration_ = registration; }

  // A plan run (-whatif): the run goes as far as its first change, the sections work out the
  // undo lines they would write, and nothing is changed.
  void SetPlanOnly(bool planOnly) { planOnly_ = planOnly; }
  bool IsPlanOnly() const { return planOnly_; }

  // Tests: the sections the run calls instead of the handlers above.
  void SetSections(std::unique_ptr<IRegistrationSections> sections) { sections_ = std::move(sections); }

  // State the sections share with the run.
  bool IsRollback() const { return rollback_; }
  // The patch of the run: "-patch" when registering, the undo file's "Patch=" when unregistering.
  const WString& GetPatch() const { return patch_; }
  bool HasError() const { return error_; }
  void SetWarnings() { warnings_ = true; }
  void SetError() { error_ = true; }
  void SetPatchNotRegistered() { patchNotRegistered_ = true; }
  void SetPackageDeployed() { packageDeployed_ = true; }

 private:
  // Steps of the constructor's discovery; false with message set ends it with status 100.
  bool DiscoverServerVersion(WString& message);
  bool DiscoverComputerName(WString& message);
  bool DiscoverClusterState(WString& message);

  // ---- Installation environment, in order of discovery
  WString serverVersion_;             // "Version" of the management-server key, rewritten
  double serverVersionNumber_ = 0;    // 0 when the text is no version number
  WString computerName_;              // at most 15 characters
  DWORD installationStatus_ = 0;      // exit code of the cluster-information tool (5: cluster)
  int32_t clusterNodeState_ = 0;      // 1 active node, -1 passive node, 0 no cluster node
  WString clusterGroupName_;          // set only on a cluster
  WString activeNodeName_;            // the owner of the group, set only on a passive node
  int clusterMode_ = 0;               // 0 none, 1 full, 2 local, from the command line
  std::unique_ptr<VrLogFile> runLog_;  // created by InitTesseraLog
  std::vector<WString> windowsOsTypes_;  // decimal OS-type values, filled by InitListOfWinOSTypes

  // ---- Registration run
  int RegisterSteps(const WString& configFile, const WString& patch, bool reinstall, const WString& undoFile,
                    int sectionsMask);
  // Steps of a registration, in the order RegisterSteps takes them.
  void RefuseUnfitTexts(const CXmlReader& reader, int selected);
  void OpenSectionLogs(VrTempLogFile& packageLog, VrTempLogFile& platformLog, VrTempLogFile& prereqLog);
  std::unique_ptr<VrLogFile> CreateUndoFile(const WString& undoFile, const vr::undo::UndoHeader& header);
  int RunUpdates(CXmlReader& reader, const WString& patch, bool reinstall, int selected, VrTempLogFile& platformLog,
                 VrTempLogFile& packageLog, VrTempLogFile& prereqLog, const WString& undoFile);
  void CompleteUndoFile(VrLogFile& undo, const WString& undoFile, int selected, VrTempLogFile& platformLog,
                        VrTempLogFile& packageLog, VrTempLogFile& prereqLog);
  int UnregisterSteps(const WString& undoFile, bool deleteUndo, WString& patch);
  // Steps of an unregistration.
  bool TakeBackSection(int bit, VrLogFile& undo, bool known, const WString& patch, const WString& createdOn,
                       WString& message);
  int RefuseUnregistration(const WString& undoFile, const WString& patch, const WString& createdOn,
                           const WString& message);
  WString CreationTime();
  void WriteRunLogHeader(const vr::undo::UndoHeader& header, const WString& commandLine);
  void CheckServerVersion(const WString& supportedVersions);
  void RunInits(int sections, const WString& requestedPrereqVersion);
  void PrepareUndoDirectory(const WString& undoFile);
  static WString UndoRootProblem(const WString& undoFile);
  [[noreturn]] void RollBackRegistration(const WString& failure, int updated, VrTempLogFile& platformLog,
                                         VrTempLogFile& packageLog, VrTempLogFile& prereqLog,
                                         const WString& undoFile);
  int Summarise(vr::msg::MessageId messageId, const WString& patch);
  // ---- Plan runs (RunPlan.cpp): print the undo lines the run would write or take back.
  int PlanRegistration(CXmlReader& reader, const WString& patch, bool reinstall, const WString& undoFile,
                       int selected);
  int PlanUnregistration(VrLogFile& undo, int sections, const vr::ledger::Registration* known);
  // The closing line of a plan, on the console and in the run log; exit code 0.
  int FinishPlan();
  // Marks the run log as a plan's and warns of killed runs the real run would put right first.
  void BeginPlan();
  // In a plan run: the run log's line that the real run would stop here.
  void LogPlanStop();
  void CommitUnregistration(const WString& undoFile, const WString& patch, const WString& createdOn, int sections,
                            int done, int failed, WString& errors);
  int ReportAlreadyUnregistered(const WString& undoFile, const WString& patch, bool deleteUndo);
  // A line of the run log (line ends at its end dropped, one added).
  void LogLine(WStringView text);
  // What the run log gets when a run ends with an error: the summary and the exit code.
  void LogOutcome(int exitCode, const WString& patch);

  // ---- Crash safety (RunRecovery.cpp): the run lock and the run journal
  // Takes the host's run lock for the rest of the run; CApp_error 100 (message 260 or 261).
  void TakeRunLock();
  // Starts the run's journal; CApp_error 100 (message 266) when it cannot be written.
  void BeginRunJournal(const vr::journal::Manifest& manifest);
  // Puts right what killed runs left (their journals, temporary files); CApp_error 100
  // (message 263) when a killed run cannot be rolled back.
  void RecoverInterruptedRuns();
  bool RollBackInterruptedRun(const vr::journal::RunJournal::Interrupted& run, WString& failure);
  bool RollBackFromSectionLogs(const vr::journal::RunJournal::Interrupted& run, int sections,
                               std::unique_ptr<VrLogFile> (&logs)[3], WString& failure);
  bool RestoreInterruptedUnregistration(const vr::journal::RunJournal::Interrupted& run, WString& failure);
  bool RestoreRecords(const vr::journal::RunJournal::Interrupted& run, int sections, WString& failure);
  bool RestoreSectionRecord(int section, const std::string& record, WString& message);
  // Loads the host's ledger (after the run lock, before recovery needs it); CApp_error 100
  // (message 269) when it cannot be read.
  void LoadRunLedger();
  // Saves the ledger: the commit of a run's bookkeeping. False with message 273.
  bool SaveRunLedger(WString& message);
  void ReportRecovery(const WString& message);
  std::unique_ptr<vr::os::RunLock> runLock_;
  std::unique_ptr<vr::journal::RunJournal> journal_;
  vr::ledger::Ledger ledger_;
  vr::ledger::Registration* ledgerRegistration_ = nullptr;

  // ---- Platform section (ModelUpdater/PlatformSection.h): the WMI platform model
  std::unique_ptr<PlatformSection> platformSection_;
  // ---- Prerequisite section (Prereq/PrereqSection.h): the configuration file and its versions
  std::unique_ptr<PrereqSection> prereqSection_;

  // ---- Package section (Packages/PackageSection.h): Depot access and what the Update added
  std::shared_ptr<vr::pkg::PackageSectionState> packageState_;

  bool platformsInitialised_ = false;
  bool packagesInitialised_ = false;
  bool prereqInitialised_ = false;
  bool rollback_ = false;
  WString patch_;
  bool error_ = false;
  bool patchNotRegistered_ = false;
  bool packageDeployed_ = false;
  bool warnings_ = false;
  bool planOnly_ = false;
  std::unique_ptr<IRegistrationSections> sections_ = MakeHandlerSections(*this);

  static std::unique_ptr<IRegistrationSections> MakeHandlerSections(CVrPlatformRegistration& owner);
};
