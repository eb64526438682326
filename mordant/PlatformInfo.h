// The platform values of VR_ManagedNode: loading the four lists from the class, the four
// actions on them, and writing changed lists back into the property qualifiers of a local
// copy of the class, which one PutClass stores.
#pragma once
#include "mordant/PlatformLists.h"
#include "platform/wmi/wbemcli.h"

enum ActionT { eADD = 0, eCHECK = 1, eDUMP = 2, eREMOVE = 3 };

// The lists are filled only when everything was read.
HRESULT LoadInfoFromWbem(IWbemClassObject* managedNode, SystemTypeList* systemTypes, CpuOsList* cpuOs,
                         OsTypeList* osTypes, OsVersionList* osVersions);

// The qualifiers of the SystemType property that are not CPU qualifiers (Description, Values,
// ValueMap, ...): the names no CPU key may take. Read from the class, so that a qualifier
// added to the property later is protected too.
HRESULT LoadOtherSystemTypeQualifiers(IWbemClassObject* managedNode, const SystemTypeList& systemTypes,
                                      std::vector<WString>* names);

// The action's result: 0, the failing HRESULT, E_FAIL for a rejected input file, E_UNEXPECTED
// for an action outside 0 to 3. otherQualifiers: as LoadOtherSystemTypeQualifiers gives them.
HRESULT ProcessPlatformInfo(int action, IWbemServices* services, IWbemClassObject* managedNode,
                            const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                            const OsVersionList& osVersions, const WChar* inputFile, const WChar* changeLog,
                            const std::vector<WString>& otherQualifiers = {});

HRESULT AddPlatformInfo(IWbemServices* services, IWbemClassObject* managedNode, const SystemTypeList& systemTypes,
                        const CpuOsList& cpuOs, const OsTypeList& osTypes, const OsVersionList& osVersions,
                        const WChar* inputFile, const WChar* changeLog,
                        const std::vector<WString>& otherQualifiers = {});
HRESULT CheckPlatformInfo(const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                          const OsVersionList& osVersions, const WChar* inputFile,
                          const std::vector<WString>& otherQualifiers = {});
HRESULT DumpPlatformInfo(const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                         const OsVersionList& osVersions);
HRESULT RemoveVersionInfo(IWbemServices* services, IWbemClassObject* managedNode, const OsTypeList& osTypes,
                          const OsVersionList& osVersions, const WChar* inputFile);

// Each does nothing and returns 0 when its lists are empty.
HRESULT PutSystemTypeQualifiers(IWbemClassObject* managedNode, const SystemTypeList& systemTypes,
                                const CpuOsList& cpuOs);
HRESULT PutOsTypeQualifiers(IWbemClassObject* managedNode, const OsTypeList& osTypes);
// Sorts by the numeric value first; entries with equal numbers keep their order.
HRESULT PutOsVersionQualifiers(IWbemClassObject* managedNode, const OsVersionList& osVersions);
// The same, but an empty list is written too: Values and ValueMap without items, what a
// remove of every OS version leaves.
HRESULT WriteOsVersionQualifiers(IWbemClassObject* managedNode, const OsVersionList& osVersions);
