// Platform match records (instances of VR_PlatformMatch): loading, planning from the
// registration file's discovery entries, and applying with one undo line per committed write.
// Every instance carries a reference count shared by all patches that need the record.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"
#include "tessera/ModelUpdater/PlatformTypes.h"

class VrLogFile;

namespace PlatformOperations {

// The five properties of VR_PlatformMatch. Identity: MatchExpression (without regard to case),
// Method and Property.
struct PlatformMatch {
  WString MatchExpression;
  int32_t Method = 0;    // 2 snmp, 1 netapi, 3 agent
  int32_t Property = 0;  // 2 a text of the OS type, 3 a text of an OS version
  WString Value;
  int32_t RefCnt = 0;
};

struct PlatformMatchChange {
  PlatformMatch from;
  PlatformMatch to;
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

namespace PlatformMatchOperations {

// Reads every VR_PlatformMatch instance, in enumeration order.
HRESULT LoadValuesFromWMI(IWbemServices* services, std::vector<PlatformMatch>& records, WString& error,
                          VrLogFile& log);

// Splits the file's entries into the first occurrence of each entry and its later repetitions.
void GetListOfPlatformMatchDuplicates(const std::vector<PlatformMatch>& entries, std::vector<PlatformMatch>& distinct,
                                      std::vector<PlatformMatch>& duplicates);

// Plans the changes that bring the file's entries into WMI.
HRESULT CreateUpdateAndUnDoVec(const OperationContext& context, const std::vector<PlatformMatch>& wmiRecords,
                               const std::vector<PlatformMatch>& fileEntries, std::vector<PlatformMatchChange>& changes,
                               WString& error, VrLogFile& log);

// Applies the changes in order; each NODEDISC line goes to the undo sink (registration modes)
// and the platform log only after its write committed.
// The undo lines the apply writes for a registration's changes, in its order.
void AppendRegistrationUndoLines(const std::vector<PlatformMatchChange>& changes, std::vector<WString>& lines);

HRESULT RegisterUnregisterNewPlatforms(OperationContext& context, IWbemServices* services,
                                       const std::vector<PlatformMatchChange>& changes, WString& error,
                                       VrLogFile* undoSink, VrLogFile& log);

// The object path of a record: VR_PlatformMatch.MatchExpression="%s",Method=%i,Property=%i
// (a double quote or backslash inside the match expression is escaped with a backslash).
WString ObjectPath(const PlatformMatch& record);

// Creates or updates the instance with all five properties of the record.
HRESULT WriteRecord(IWbemServices* services, const PlatformMatch& record, WString& error, VrLogFile& log);

// True when both name the same instance: MatchExpression without regard to case, Method and
// Property.
bool SameIdentity(const PlatformMatch& a, const PlatformMatch& b);

// The planning behind CreateUpdateAndUnDoVec. One change per distinct file entry, in file order:
// an existing record gains one reference per occurrence (none in OP_REINSTALL) and takes the
// file's Value when it differs (ACTION_MODIFY); a new record is added (ACTION_ADD). Entries of
// one identity build on each other in file order. An empty file set plans nothing; an empty
// WMI set with file entries reports message 3027 and gives E_FAIL.
HRESULT CreateUpdateAndUnDo_PlatformMatchVec(const OperationContext& context,
                                             const std::vector<PlatformMatch>& wmiRecords,
                                             const std::vector<PlatformMatch>& fileEntries,
                                             std::vector<PlatformMatchChange>& changes, WString& error,
                                             VrLogFile& log);

namespace WMIInteraction {

// Enumerates VR_PlatformMatch (messages 3028, 3029); records only handed out on success.
HRESULT GetPlatformInfoFromWMI(IWbemServices* services, std::vector<PlatformMatch>& records, WString& error,
                               VrLogFile& log);

// Per change in order: a change whose update action is not ACTION_REMOVE and whose to RefCnt
// is above 0 writes the whole to record (so a reversal's lowered count and earlier Value are
// written as given); any other change deletes the instance named by its from record. A NODEDISC
// line follows each committed write. The first failure ends the apply with E_FAIL, except in
// OP_ROLLBACK, where the next change is still processed and E_FAIL is returned at the end.
HRESULT UpdatePlatformInfoInWMI(OperationContext& context, IWbemServices* services,
                                const std::vector<PlatformMatchChange>& changes, WString& error,
                                VrLogFile* undoSink, VrLogFile& log);

}  // namespace WMIInteraction

}  // namespace PlatformMatchOperations
}  // namespace PlatformOperations
