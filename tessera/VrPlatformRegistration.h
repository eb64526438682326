// The registration object of tessera: discovers the installation environment, drives the three
// sections of a registration through Init / Update / Rollback / Cleanup, writes and restores
// the undo file, and turns the outcome into an exit code.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"

class VrLogFile;
class VrTempLogFile;
class CXmlReader;

class CVrPlatformRegistration {
 public:
  // Discovers the environment. status: 0 success; 50 the command line does not fit the system
  // (message 816); 100 any other failure; message explains a non-zero status.
  CVrPlatformRegistration(int clusterMode, void* reserved, WString& message, int& status);
  ~CVrPlatformRegistration();
  CVrPlatformRegistration(const CVrPlatformRegistration&) = delete;
  CVrPlatformRegistration& operator=(const CVrPlatformRegistration&) = delete;

  // Exit code 0 or 5; failures are thrown as CApp_error.
  int RegisterPlatform(const WString& configFile, const WString& patch, bool reinstall,
                       const WString& undoFile, int sectionsMask);
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
};
