// The package section's record in the run journal and its restore (recovery of a killed run).
#include "tessera/VrPlatformRegistration.h"

bool CVrPlatformRegistration::PackageRestoreRecord(const std::string& record, WString& message) {
  // Nothing records into this section's journal file yet: an empty record is all there is.
  if (record.empty()) return true;
  message += u"The run journal holds a package record this program cannot read.\n";
  return false;
}
