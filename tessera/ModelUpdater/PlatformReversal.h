// What an unregistration or a rollback asks of the platform model, and the change set that
// does it against the model WMI holds now. The requests come from the lines of an undo
// section, or from the ledger's entries of a registration; either way, values that are gone
// from WMI produce nothing.
#pragma once
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/ModelUpdater/PlatformOperations.h"

namespace PlatformOperations {

// The requests of one kind of platform value.
struct ValueRequests {
  std::unordered_set<WString> added;                // folded values to remove
  std::unordered_map<WString, WString> oldCaption;  // folded value -> caption to bring back
};

struct MatchRequest {
  PlatformMatch identity;           // MatchExpression, Method, Property of the record
  int lines = 0;                    // references to take away
  std::optional<WString> oldValue;  // the Value to bring back
};

struct ReversalRequests {
  ValueRequests osTypes;
  ValueRequests osVersions;
  ValueRequests systemTypes;
  std::unordered_map<WString, std::unordered_set<WString>> cpuOsTypes;  // folded CPU -> folded OS types to drop
  std::vector<MatchRequest> matches;
  std::unordered_map<WString, size_t> matchIndex;
  std::vector<WString> groups;  // names of groups to remove, in the order they were added
};

// Adds references to take away from a record (and the Value to bring back, the first one given
// counting).
void AddMatchRequest(ReversalRequests& requests, const PlatformMatch& identity, int references,
                     const std::optional<WString>& oldValue);

// The change set for the requests. A system type to remove goes in unregistration only when
// its CPU type lost its last OS type, unless removeSystemTypes says that the requests decide
// alone (the ledger knows the type is no longer used). A system type no request names stays.
void CreateReversalChanges(const PlatformModel& wmi, const ReversalRequests& requests, bool removeSystemTypes,
                           PlatformChanges& changes);

}  // namespace PlatformOperations
