// The platform section's entries in the host's ledger. A registration notes every platform
// object its file names, with the state before and after it: the values of each kind with
// their captions, the OS types of each CPU type qualifier, the match records with their Value
// and the references it added, the node groups. Unregistering it takes back, newest first,
// what is still its own:
// - an object whose entry a later live registration also holds is left to that registration,
//   which inherits this entry's before-state (so patches taken back in any order end with the
//   original, and until then the newest remaining patch's state stands);
// - otherwise the object gets its before-state back; one that was there before is never removed;
// - match records lose exactly the references this registration added.
//
// Kinds and their states (key compared without regard to case):
//   os-type, os-version, system-type   key value;      before/after the caption
//   cpu-os-type                        key "CPU<TAB>OS type"; presence only
//   nodedisc                           key "expression<TAB>method<TAB>property";
//                                      before the Value; after "Value<TAB>references added"
//   nodegroup                          key name;       before/after "caption<TAB>parent"
#pragma once
#include <vector>

#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/PlatformReversal.h"
#include "tessera/RunLedger.h"

struct CPlatform;

namespace PlatformOperations {

// The entries of a registration's platform section, from the model WMI holds before it, the
// model the file wants and the planned change set.
void AppendLedgerEntries(const std::vector<CPlatform>& platforms, const PlatformModel& wmi,
                         const PlatformModel& wanted, const PlatformChanges& changes, bool localCluster,
                         std::vector<vr::ledger::Entry>& entries);

// The requests that take back the platform entries of a registration the ledger knows, newest
// first; marks them reversed and hands before-states on to later live registrations.
ReversalRequests CreateLedgerReversal(vr::ledger::Ledger& ledger, vr::ledger::Registration& registration);

}  // namespace PlatformOperations
