// The section protocol of a registration run: each of the three sections (platforms,
// packages, prerequisites) provides Init, Update, Rollback and Cleanup. The run calls them
// through this interface; by default it forwards to the section handlers of the registration
// object, and tests put sections of their own in its place.
#pragma once
#include <string>

#include "platform/text/wstring.h"

class CXmlReader;
class VrLogFile;

class IRegistrationSections {
 public:
  virtual ~IRegistrationSections() = default;

  virtual int PlatformRegInit(WString& message) = 0;
  virtual int PlatformRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall,
                                VrLogFile& sectionLog, WString& message) = 0;
  virtual bool PlatformRegRollback(VrLogFile& log, WString& message) = 0;
  virtual bool PlatformRegCleanup(WString& message) = 0;

  virtual bool InitListOfWinOSTypes(WString& message) = 0;
  virtual int PackageRegInit(WString& message) = 0;
  virtual int PackageRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall,
                               VrLogFile& sectionLog, WString& message) = 0;
  virtual bool PackageRegRollback(VrLogFile& log, WString& message) = 0;
  virtual bool PackageRegCleanup(WString& message) = 0;

  virtual int ReqCheckCfgRegInit(WString& message, const WString& requestedVersion) = 0;
  virtual int ReqCheckCfgRegUpdate(CXmlReader& reader, const WString& patch, bool reinstall,
                                   VrLogFile& sectionLog, WString& message) = 0;
  virtual bool ReqCheckCfgRegRollback(VrLogFile& log, WString& message) = 0;
  virtual bool ReqCheckCfgRegCleanup(WString& message) = 0;

  // Recovery: put every object a section's record (RunJournal::RecordSection) names back to
  // its state before the run that wrote it. Idempotent, so that a recovery cut short is done
  // again by the next run; no Init of the section is needed. False with message on failure.
  // Test doubles that record nothing keep the defaults.
  virtual bool PlatformRestoreRecord(const std::string& /*record*/, WString& /*message*/) { return true; }
  virtual bool PackageRestoreRecord(const std::string& /*record*/, WString& /*message*/) { return true; }
  virtual bool PrereqRestoreRecord(const std::string& /*record*/, WString& /*message*/) { return true; }
};
