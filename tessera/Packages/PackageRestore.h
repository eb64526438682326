// Putting the objects of a package-section record back into their state before the run.
#pragma once
#include "platform/text/wstring.h"
#include "tessera/Database/DepotData.h"
#include "tessera/Packages/PackageRecord.h"

namespace vr::pkg {

// Records the keys from below the product key down to the patch key, and the patch's
// "WinPkgInfo" and "UxAgtInfo" values, as they are now.
void RecordPatchBookkeeping(const WString& patchKey, PackageRecord& record);

// Whether putting the record back needs the Depot database.
bool RecordNeedsDepot(const PackageRecord& record);
// Idempotent; the Depot part in one transaction. db (connected) may be null when the record
// needs no Depot. False with a message (1007, 1009, 1014, 1015) appended.
bool RestorePackageRecord(CDepotData* db, const PackageRecord& record, WString& message);

}  // namespace vr::pkg
