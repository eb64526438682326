// The platform section of a registration run: registers the file's platforms into the WMI
// model with one undo line per committed change, takes those lines back (unregistration from
// the undo file, rollback from the section log of a failed run), puts the model back from the
// run journal's record, and gives the run the Windows OS types the package section needs. It
// reaches the run's shared state only through the registration object's public accessors.
#pragma once
#include <string>

#include "platform/text/wstring.h"

class CVrPlatformRegistration;
class CXmlReader;
class VrLogFile;

class PlatformSection {
 public:
  explicit PlatformSection(CVrPlatformRegistration& run);
  PlatformSection(const PlatformSection&) = delete;
  PlatformSection& operator=(const PlatformSection&) = delete;

  // Nothing to prepare: the Update and the Rollback connect to WMI themselves. Always 0.
  int Init(WString& message);
  // 0 success (warnings set the run's warnings flag), 100 with message on failure.
  int Update(CXmlReader& reader, const WString& patch, bool reinstall, VrLogFile& sectionLog, WString& message);
  // Takes back the section's lines of undo (or the ledger's entries); false when any part failed.
  bool Rollback(VrLogFile& undo, WString& message);
  bool Cleanup(WString& message);
  // Puts back the model a run journal's record names (recovery); idempotent.
  bool RestoreRecord(const std::string& record, WString& message);
  // Fills the run's list of Windows OS type values from VR_ManagedNode; false with message.
  bool InitListOfWinOSTypes(WString& message);

 private:
  CVrPlatformRegistration& run_;
};
