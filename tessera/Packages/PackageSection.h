// The package section of a registration: registers the packages of a registration file with
// their functionality modules in the Depot database and the patch's registry bookkeeping,
// takes them back (the rollback of a failed registration, the unregistration of a patch from
// its undo file), and puts back what a killed run's record describes.
//
// It keeps between its Init and Cleanup the Depot database access and the record of the state
// before this process's Update, so that the rollback of a failed registration puts exactly that
// back (the items of packages that are not uninstallable included, and nothing that was there
// before the run goes). It reaches the run only through the registration object's public
// accessors.
//
// Folder tessera/Packages, the package section, part of tessera_registration: uses
// tessera_database, platform/depot and registry and the tessera libraries below the
// registration object.
#pragma once
#include <string>

#include "platform/text/wstring.h"
#include "tessera/Database/DepotData.h"
#include "tessera/Packages/PackageRecord.h"
#include "tessera/Packages/PackageSupport.h"

class CVrPlatformRegistration;
class CXmlReader;
class VrLogFile;

class PackageSection {
 public:
  explicit PackageSection(CVrPlatformRegistration& run);
  ~PackageSection();
  PackageSection(const PackageSection&) = delete;
  PackageSection& operator=(const PackageSection&) = delete;

  // Connects to the Depot database: 0, or 100 with message (also in the run log).
  int Init(WString& message);
  // Registers every package of the file; its undo lines go to sectionLog. 0, or 100 with
  // message; nothing is changed in a plan run, which still writes the undo lines.
  int Update(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog, WString& message);
  // In a rollback run, puts back the state before this process's Update (or takes back the
  // lines of a killed run's section log); otherwise unregisters what the undo file's package
  // sections describe. False with message appended when any part failed.
  bool Rollback(VrLogFile& log, WString& message);
  // Closes the Depot database connection; always true.
  bool Cleanup(WString& message);
  // Puts back every block of a killed run's section record, newest first, over a connection of
  // its own to the Depot database. False with message appended.
  bool RestoreRecord(const std::string& record, WString& message);

 private:
  class UpdatePass;   // the plan and the changes of one Update (PackageUpdate.cpp)
  class RemovalPass;  // the checks and removals of one unregistration (PackageRemoval.cpp)

  // A line of the run log (line ends at its end dropped, one added).
  void LogLine(WStringView text) const;
  // Whether the patch is installed ("Installed" below its key); logs and sets message 1021
  // and the run's patch-not-registered flag when not.
  bool CheckPatchInstalled(const WString& patchKey, WString& message);
  // The rollback of this process's own Update: its record put back.
  bool RestoreBeforeImage(WString& message);
  // Takes back what the package sections of the undo file (or section log) describe.
  bool RemoveUndoLines(VrLogFile& log, const WString& patchesKey, const WString& patchKey, WString& message);

  CVrPlatformRegistration& run_;
  CDepotData db_;
  bool updated_ = false;       // an Update of this process ran
  bool recorded_ = false;      // it wrote its record before its first change
  vr::pkg::PackageRecord beforeImage_;  // the state before that Update, which its rollback puts back
};
