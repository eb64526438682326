// The package section's record in the run journal: the state before the run of every object
// the section is about to change, written (and flushed) before its first change, so that the
// next run can put that state back exactly whatever part of the changes happened.
//
// UTF-8 text, one item per line, fields separated by a tab; a backslash, tab, line end or any
// other control character and a lone surrogate inside a field are written as \\, \t, \n, \r,
// \uXXXX. A block's last line is "end": a block without it was cut short while being written,
// so the section had not started the changes it records and there is nothing to put back. The
// journal's record file may hold several blocks, one per recorded step, oldest first.
//
//   package-record  1
//   absent          <name> <version>            no package of that name and version
//   package         <the 7 columns of VR_PM_DeplPack>
//   module          <the 7 columns of VR_PM_FunctionalityModule>   every module of the
//                                                  package of the "package" line before it
//   logical-id      <DeplPackId> <LogicalId before>
//   value           <key> <name> absent | <type> <data as hex>
//   key             <key> absent | present
//   end
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "tessera/Database/DepotData.h"

namespace vr::pkg {

struct RecordedPackage {
  bool present = false;
  WString name, version;                // of an absent package
  DepotPackageRow row;                  // of a present one
  std::vector<DepotModuleRow> modules;  // all of a present package's modules
};
struct RecordedValue {
  WString key, name;
  bool present = false;
  DWORD type = 0;
  std::string data;
};
struct RecordedKey {
  WString key;
  bool present = false;
};
struct RecordedLogicalId {
  WString id, logicalId;
};

struct PackageRecord {
  std::vector<RecordedPackage> packages;
  std::vector<RecordedLogicalId> logicalIds;
  std::vector<RecordedValue> values;
  std::vector<RecordedKey> keys;  // outermost first
  bool complete = false;          // the "end" line was read (always set by Serialize)
  bool Empty() const { return packages.empty() && logicalIds.empty() && values.empty() && keys.empty(); }
};

std::string SerializeRecord(const PackageRecord& record);
// False with why for a line that is not one of the above (the record was not written by this
// section); a record cut short reads as far as it goes, with complete false.
bool ParseRecord(std::string_view text, PackageRecord& record, std::string& why);
// Every block of a record file, oldest first; false with why as ParseRecord.
bool ParseRecords(std::string_view text, std::vector<PackageRecord>& records, std::string& why);

// The field codec, exposed for tests.
std::string EncodeField(WStringView text);
bool DecodeField(std::string_view field, WString& text);

}  // namespace vr::pkg
