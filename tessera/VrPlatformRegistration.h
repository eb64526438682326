// The registration object of tessera: discovers the installation environment, drives the three
// sections of a registration through Init / Update / Rollback / Cleanup, writes and restores
// the undo file, and turns the outcome into an exit code.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "tessera/RegistrationSections.h"
#include "tessera/UndoFile.h"

class VrLogFile;
class VrTempLogFile;
class CXmlReader;

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

  // Creates and opens the run log "log\tessera.log" below the server's folder.
  bool InitTesseraLog(WString& message);
  bool IsWindowsOS(int osType) const;
  // Runs a command line and waits; exitCode and output are wanted when not null.
  bool RunCmdTool(const WString& commandLine, DWORD* exitCode, WString* output, WString& message);

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

  // Tests: the sections the run calls instead of the handlers above.
  void SetSections(std::unique_ptr<IRegistrationSections> sections) { sections_ = std::move(sections); }

  // State the sections share with the run.
  bool IsRollback() const { return rollback_; }
  int ClusterMode() const { return clusterMode_; }
  int ClusterNodeState() const { return clusterNodeState_; }
  const WString& ServerVersion() const { return serverVersion_; }
  double ServerVersionNumber() const { return serverVersionNumber_; }
  const WString& ComputerName() const { return computerName_; }
  VrLogFile* RunLog() { return runLog_.get(); }
  std::vector<WString>& WindowsOsTypes() { return winOsTypes_; }
  void SetWarnings() { warnings_ = true; }
  void SetError() { error_ = true; }
  void SetPatchNotRegistered() { patchNotRegistered_ = true; }
  void SetPackageDeployed() { packageDeployed_ = true; }

 private:
  int RegisterSteps(const WString& configFile, const WString& patch, bool reinstall, const WString& undoFile,
                    int sectionsMask);
  int UnregisterSteps(const WString& undoFile, bool deleteUndo, WString& patch);
  WString CreationTime();
  void WriteRunLogHeader(const vr::undo::UndoHeader& header, const WString& commandLine);
  void CheckServerVersion(const WString& supportedVersions);
  void RunInits(int sections, const WString& requestedPrereqVersion);
  void PrepareUndoDirectory(const WString& undoFile);
  [[noreturn]] void RollBackRegistration(const WString& failure, int updated, VrTempLogFile& platformLog,
                                         VrTempLogFile& packageLog, VrTempLogFile& prereqLog,
                                         const WString& undoFile);
  int Summarise(unsigned messageId, const WString& patch);
  // A line of the run log (line ends at its end dropped, one added).
  void LogLine(WStringView text);
  // What the run log gets when a run ends with an error: the summary and the exit code.
  void LogOutcome(int exitCode, const WString& patch);

  bool platformsInitialised_ = false;
  bool packagesInitialised_ = false;
  bool prereqInitialised_ = false;
  std::unique_ptr<VrLogFile> runLog_;
  bool rollback_ = false;
  WString serverVersion_;
  double serverVersionNumber_ = 0;
  int clusterMode_ = 0;
  int clusterNodeState_ = 0;
  bool error_ = false;
  bool patchNotRegistered_ = false;
  bool packageDeployed_ = false;
  bool warnings_ = false;
  WString computerName_;
  DWORD installationStatus_ = 0;
  WString clusterGroupName_;
  WString activeNodeName_;
  std::vector<WString> winOsTypes_;
  std::unique_ptr<IRegistrationSections> sections_ = MakeHandlerSections(*this);

  static std::unique_ptr<IRegistrationSections> MakeHandlerSections(CVrPlatformRegistration& owner);
};
