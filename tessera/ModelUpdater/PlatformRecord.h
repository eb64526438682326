// The before-images of the platform section: before a run applies its change set, it writes
// the state of every object that set is about to change into the run journal, and a later run
// puts those objects back from it after a kill or a failed rollback. The text is UTF-8, one
// object per line, fields separated by tabs (a tab, a line end or a backslash inside a field is
// escaped), so that a record cut short by a kill reads to its last whole line:
//   QUALIFIER  property  qualifier  entry...         a Values or ValueMap array of a property
//   CPU        cpu type  absent | list  os type...   a CPU type qualifier of SystemType
//   MATCH      expression  method  property  absent | present  value  refcnt
//   GROUP      name  absent | present  caption
//   MEMBER     parent  child  absent | present
// Restoring is idempotent and exact: every named object gets its recorded state, whatever part
// of the run happened.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"
#include "tessera/ModelUpdater/PlatformOperations.h"

class VrLogFile;

namespace PlatformOperations {

struct PlatformRecord {
  struct Array {
    WString property;   // OsType, OsVersion, SystemType
    WString qualifier;  // Values or ValueMap
    std::vector<WString> entries;
  };
  struct Cpu {
    WString cpuType;
    std::optional<std::vector<WString>> osTypes;  // none: the qualifier did not exist
  };
  struct Match {
    PlatformMatch identity;  // MatchExpression, Method, Property; Value and RefCnt when present
    bool present = false;
  };
  struct Group {
    WString name;
    std::optional<WString> caption;  // none: the group did not exist
  };
  struct Member {
    WString parent;
    WString child;
    bool present = false;
  };
  std::vector<Array> arrays;
  std::vector<Cpu> cpus;
  std::vector<Match> matches;
  std::vector<Group> groups;
  std::vector<Member> members;

  bool empty() const {
    return arrays.empty() && cpus.empty() && matches.empty() && groups.empty() && members.empty();
  }
};

// The record of the objects a change set touches, with their state in the model loaded from
// WMI. Memberships are looked up in WMI itself (a membership may exist without its group), so
// this reads; E_FAIL with a message when a read fails.
HRESULT CreatePlatformRecord(IWbemServices* services, const PlatformModel& wmi, const PlatformChanges& changes,
                             PlatformRecord& record, WString& error, VrLogFile& log);

std::string FormatPlatformRecord(const PlatformRecord& record);
// False for a line that is not one of the record's (its number, from 1, in badLine).
bool ParsePlatformRecord(std::string_view text, PlatformRecord& record, size_t& badLine);

// Puts every recorded object back in its recorded state (qualifiers in one commit of
// VR_ManagedNode). Objects already in that state are written again, which changes nothing.
HRESULT RestorePlatformRecord(IWbemServices* services, const PlatformRecord& record, WString& error,
                              VrLogFile& log);

}  // namespace PlatformOperations
