// The platform vocabulary of the management server: the Values / ValueMap qualifiers of the
// SystemType, OsType and OsVersion properties of VR_ManagedNode, and the per-CPU-type
// qualifiers of SystemType that list the OS types running on each CPU type. Loading, planning
// (one update/undo record per entry) and applying with one undo line per committed change.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"
#include "tessera/ModelUpdater/PlatformTypes.h"

class VrLogFile;

namespace PlatformOperations {

// One OS type or OS version: the ValueMap entry and its Values caption. Entries from WMI have
// the language flag set; entries from the registration file carry it as the reader set it
// (clear when the caption is a fallback in another language).
struct ModelValue {
  WString value;
  WString caption;
  bool captionInSystemLanguage = true;
};

struct SystemTypeValue {
  WString value;
  WString caption;
  WString cpuType;  // derived from the caption (CpuTypeOfCaption)
  bool captionInSystemLanguage = true;
};

// A CPU type and the OS type values of its qualifier on SystemType, in qualifier order.
struct CpuOsTypes {
  WString cpuType;
  std::vector<WString> osTypes;
};

struct ModelValueChange {
  WString fromValue;
  WString fromCaption;
  WString toValue;
  WString toCaption;
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

struct SystemTypeChange {
  WString fromValue;
  WString fromCaption;
  WString fromCpuType;
  WString toValue;
  WString toCaption;
  WString toCpuType;
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

struct CpuOsTypesChange {
  WString fromCpuType;
  std::vector<WString> fromOsTypes;
  WString toCpuType;
  std::vector<WString> toOsTypes;
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

// The four kinds of platform values, as loaded from WMI or as a registration file wants them.
struct PlatformModelValues {
  std::vector<ModelValue> osTypes;
  std::vector<ModelValue> osVersions;
  std::vector<SystemTypeValue> systemTypes;
  std::vector<CpuOsTypes> cpuOsTypes;
};

// The planned changes of each kind; an empty vector means that kind needs no write.
struct PlatformModelChanges {
  std::vector<ModelValueChange> osTypes;
  std::vector<ModelValueChange> osVersions;
  std::vector<SystemTypeChange> systemTypes;
  std::vector<CpuOsTypesChange> cpuOsTypes;
};

namespace PlatformModelOperations {

// A one-dimensional BSTR array of the strings, lower bound 0, filled through AccessData.
HRESULT BuildStringArray(const std::vector<WString>& strings, Variant& out);

// The CPU type a system type caption names: the ASCII letters of its first word; "Other" in
// front when the first character is no letter; empty for a caption that starts with a blank.
WString CpuTypeOfCaption(const WString& caption);

// OS types, OS versions and system types (with their CPU/OS qualifiers), stopping at the
// first failure.
HRESULT LoadValuesFromWMI(IWbemClassObject* nodeClass, PlatformModelValues& values, WString& error, VrLogFile& log);

// The values of the OS types whose caption begins with "Windows", in WMI order.
HRESULT GetListOfWinOSTypes(IWbemClassObject* nodeClass, std::vector<WString>& windowsOsTypes, WString& error,
                            VrLogFile& log);

// Plans all four kinds; the first failure ends it.
HRESULT CreateUpdateAndUnDoVec(const PlatformModelValues& wmi, const PlatformModelValues& config,
                               PlatformModelChanges& changes, WString& error, VrLogFile& log);
HRESULT CreateUpdateAndUnDo_OSTypeVec(const std::vector<ModelValue>& wmi, const std::vector<ModelValue>& config,
                                      std::vector<ModelValueChange>& changes, WString& error, VrLogFile& log);
HRESULT CreateUpdateAndUnDo_OSVersionVec(const std::vector<ModelValue>& wmi, const std::vector<ModelValue>& config,
                                         std::vector<ModelValueChange>& changes, WString& error, VrLogFile& log);
HRESULT CreateUpdateAndUnDo_SystemTypeVec(const std::vector<SystemTypeValue>& wmi,
                                          const std::vector<SystemTypeValue>& config,
                                          std::vector<SystemTypeChange>& changes, WString& error, VrLogFile& log);
HRESULT CreateUpdateAndUnDo_CpuAndOSesVec(const std::vector<CpuOsTypes>& wmi, const std::vector<CpuOsTypes>& config,
                                          std::vector<CpuOsTypesChange>& changes, WString& error, VrLogFile& log);

// Applies OS types, OS versions, then system types with their CPU/OS qualifiers. In rollback
// a failing step is traced and the next one still runs; otherwise the first failure ends it.
HRESULT RegisterUnregisterNewPlatforms(OperationContext& context, IWbemServices* services,
                                       IWbemClassObject* nodeClass, const PlatformModelChanges& changes,
                                       WString& error, VrLogFile* undoSink, VrLogFile& log);

// The undo lines the apply above writes for a registration's changes, in its order; the plan
// of a run shows them without applying anything.
void AppendRegistrationUndoLines(const PlatformModelChanges& changes, std::vector<WString>& lines);

namespace WMIInteraction {

HRESULT GetOSTypeFromWMI(IWbemClassObject* nodeClass, std::vector<ModelValue>& osTypes, WString& error,
                         VrLogFile& log);
HRESULT GetOSVersionFromWMI(IWbemClassObject* nodeClass, std::vector<ModelValue>& osVersions, WString& error,
                            VrLogFile& log);
// Also reads each system type's CPU-type qualifier (message 3016 when one is missing).
HRESULT GetSystemTypeFromWMI(IWbemClassObject* nodeClass, std::vector<SystemTypeValue>& systemTypes,
                             std::vector<CpuOsTypes>& cpuOsTypes, WString& error, VrLogFile& log);

HRESULT UpdateOSTypeInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                          const std::vector<ModelValueChange>& changes, WString& error, VrLogFile* undoSink,
                          VrLogFile& log);
HRESULT UpdateOSVersionInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                             const std::vector<ModelValueChange>& changes, WString& error, VrLogFile* undoSink,
                             VrLogFile& log);
HRESULT UpdateSystemTypeInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                              const std::vector<SystemTypeChange>& systemTypes,
                              const std::vector<CpuOsTypesChange>& cpuOsTypes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log);
HRESULT UpdateCPUAndOSesInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                              const std::vector<CpuOsTypesChange>& changes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log);

}  // namespace WMIInteraction
}  // namespace PlatformModelOperations

// Gets VR_ManagedNode and lists its Windows OS type values (for the package section).
HRESULT GetListOfWinOSTypes(IWbemServices* services, std::vector<WString>& windowsOsTypes, WString& error,
                            VrLogFile& log);

}  // namespace PlatformOperations
