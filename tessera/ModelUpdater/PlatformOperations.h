// The platform section's own operations: the whole model as WMI holds it, the model a
// registration file wants, the change set between them, its application in every mode, and
// the reading of a [[[PLATFORMS]]] undo section into the change set that reverses it.
#pragma once
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"
#include "tessera/ModelUpdater/InstrumentationOperations.h"
#include "tessera/ModelUpdater/NodeGroupOperations.h"
#include "tessera/ModelUpdater/PlatformMatchOperations.h"
#include "tessera/ModelUpdater/PlatformModelOperations.h"
#include "tessera/ModelUpdater/PlatformTypes.h"

class VrLogFile;
class VrTextFile;
struct CPlatform;

namespace PlatformOperations {

// The platform model: as loaded from WMI, or as the registration file wants it.
struct PlatformModel {
  PlatformModelValues values;
  std::vector<PlatformMatch> matches;
  std::vector<NodeGroup> groups;
  std::vector<InstrumentationOsTypeItem> instrumentation;  // wanted only
};

struct PlatformChanges {
  PlatformModelChanges model;
  std::vector<PlatformMatchChange> matches;
  std::vector<NodeGroupChange> groups;
  std::vector<InstrumentationFolderChange> instrumentation;
};

// Gets VR_ManagedNode, then loads the platform values, the match records and the node groups.
HRESULT LoadValuesFromWMI(IWbemServices* services, PlatformModel& model, WString& error, VrLogFile& log);

// The caption of a system type (OS type) value: from WMI first, then from the file; false when
// neither knows it. Lookups are by value without regard to case.
class CaptionIndex {
 public:
  void AddWmi(const WString& value, const WString& caption);
  void AddFile(const WString& value, const WString& caption);
  bool Find(const WString& value, WString& caption) const;

 private:
  std::unordered_map<WString, WString> wmi_;   // folded value -> caption, first entry kept
  std::unordered_map<WString, WString> file_;
};
bool CheckIfSystemTypeExists(const CaptionIndex& systemTypes, const WString& value, WString& caption);
bool CheckIfOSTypeExists(const CaptionIndex& osTypes, const WString& value, WString& caption);

// The wanted model of the registration file's platforms (messages 3000 and 3001 for system
// and OS types that neither WMI nor the file knows). The (CPU type, OS type) pairs are grouped
// into the CPU/OS vector.
HRESULT CreateWantedPlatformModel(const std::vector<CPlatform>& platforms, const PlatformModel& wmi,
                                  PlatformModel& wanted, WString& error, VrLogFile& log);

// Groups (CPU type, OS type) pairs by CPU type (without regard to case), CPU types in order
// of first appearance, each with its distinct OS types in order.
HRESULT CreateCPUOSTYPEConfigFileContainer(const std::vector<std::pair<WString, WString>>& pairs,
                                           std::vector<CpuOsTypes>& container);

// Keeps the first entry of each value (each group name) in the wanted vectors; match entries
// keep their repetitions, which count references.
HRESULT EliminateDuplicates(PlatformModel& wanted);

// Whether a text can stand between the double quotes of an undo line (no quote, no line
// break), or bare as one field of it (not empty, no blank either).
bool CanQuoteInUndoLine(WStringView text);
bool CanWriteBareInUndoLine(WStringView text);
// Whether an instrumentation name names one folder or file: not empty, not "." or "..", no
// path separator or drive.
bool IsPlainPathComponent(WStringView name);
// Refuses, before any change, a registration file whose platform texts an undo line cannot
// carry back (message 3061, node group names 3062) or whose instrumentation names lead out of
// their folder (message 3060). qualifiersOnly: a local cluster run, which writes only the
// VR_ManagedNode qualifiers.
HRESULT CheckPlatformTexts(const std::vector<CPlatform>& platforms, bool qualifiersOnly, WString& error,
                           VrLogFile& log);

// Plans every kind; in a local cluster run only the VR_ManagedNode qualifiers.
HRESULT CreatePlatformUpdateAndUnDoVect(const OperationContext& context, const PlatformModel& wmi,
                                        const PlatformModel& wanted, PlatformChanges& changes, WString& error,
                                        VrLogFile& log);

// What CreateUninstallationAndUnDoVect gives for a section line it cannot take (messages 3033
// and 3055): the undo file is damaged, which the run reports with its own exit code.
constexpr HRESULT kUndoSectionSyntax = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Reads the [[[PLATFORMS]]] sections of an undo text (kUndoSectionSyntax for lines it cannot
// take) and builds the change set that reverses them against the model loaded from WMI.
HRESULT CreateUninstallationAndUnDoVect(const OperationContext& context, VrTextFile& undo, const PlatformModel& wmi,
                                        PlatformChanges& changes, WString& error, VrLogFile& log);

// Applies a change set: the VR_ManagedNode qualifiers, then (not in a local cluster run) match
// records and node groups, then, when registering, the instrumentation.
HRESULT RegisterUnregisterNewPlatforms(OperationContext& context, IWbemServices* services,
                                       const PlatformChanges& changes, WString& error, VrLogFile* undoSink,
                                       VrLogFile& log);

// The undo lines RegisterUnregisterNewPlatforms writes when it registers the change set, in
// its order, computed without touching WMI: what a plan of the run shows.
std::vector<WString> RegistrationUndoLines(const OperationContext& context, const PlatformChanges& changes);

}  // namespace PlatformOperations
