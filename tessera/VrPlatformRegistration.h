// The registration object of tessera: discovers the installation environment, drives the three
// sections of a registration through Init / Update / Rollback / Cleanup, writes and restores
// the undo file, and turns the outcome into an exit code.
#pragma once
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
};
