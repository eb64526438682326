// Loading the platform values of VR_ManagedNode: OS types, OS versions, system types with the
// CPU type each caption names and that CPU type's qualifier of OS types.
#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformModelOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace PlatformOperations::PlatformModelOperations {

WString CpuTypeOfCaption(const WString& caption) {
  WString cpu;
  for (WChar c : caption) {
    if (c == u' ') break;
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) cpu += c;
    if (cpu.empty()) cpu = u"Other";
  }
  return cpu;
}

namespace {

HRESULT LoadModelValues(IWbemClassObject* nodeClass, const WString& property, std::vector<ModelValue>& out,
                        WString& error, VrLogFile& log) {
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  std::vector<WString> values;
  std::vector<WString> valueMap;
  const HRESULT hr = LoadValuesAndValueMap(nodeClass, property, qualifiers, values, valueMap, error, log);
  if (FAILED(hr)) return hr;
  std::vector<ModelValue> loaded;
  loaded.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) loaded.push_back(ModelValue{valueMap[i], values[i], true});
  out = std::move(loaded);
  return S_OK;
}

}  // namespace

namespace WMIInteraction {

HRESULT GetOSTypeFromWMI(IWbemClassObject* nodeClass, std::vector<ModelValue>& osTypes, WString& error,
                         VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::GetOSTypeFromWMI", "ModelUpdater\\PlatformModelLoad",
                    vr::trace::kModelFlags);
  try {
    return LoadModelValues(nodeClass, u"OsType", osTypes, error, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT GetOSVersionFromWMI(IWbemClassObject* nodeClass, std::vector<ModelValue>& osVersions, WString& error,
                            VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::GetOSVersionFromWMI",
                    "ModelUpdater\\PlatformModelLoad", vr::trace::kModelFlags);
  try {
    return LoadModelValues(nodeClass, u"OsVersion", osVersions, error, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

namespace {

// The qualifier names of a set as stored, by folded name: a CPU type derived from a caption in
// another letter case names the same qualifier, and writing it back must keep the stored name.
std::unordered_map<WString, WString> StoredNames(IWbemQualifierSet* qualifiers, const char* vrTraceFunction_,
                                                 const char* vrTraceFile_) {
  std::unordered_map<WString, WString> names;
  CSafeArray array;
  HRESULT hr = qualifiers->GetNames(WBEM_FLAG_ALWAYS, array.Receive());
  if (FAILED(hr) || !array) {
    VR_TRACE_FAILURE("IWbemQualifierSet::GetNames", hr);
    return names;
  }
  int32_t upper = -1;
  Variant* data = nullptr;
  if (SUCCEEDED(SafeArrayGetUBound(array, 1, &upper)) && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    for (int32_t i = 0; i <= upper; ++i)
      if (data[i].vt == VT_BSTR) names.emplace(vr::text::ToLower(data[i].bstrVal), data[i].bstrVal);
    SafeArrayUnaccessData(array);
  }
  return names;
}

}  // namespace

HRESULT GetSystemTypeFromWMI(IWbemClassObject* nodeClass, std::vector<SystemTypeValue>& systemTypes,
                             std::vector<CpuOsTypes>& cpuOsTypes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::GetSystemTypeFromWMI",
                    "ModelUpdater\\PlatformModelLoad", vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemQualifierSet> qualifiers;
    std::vector<WString> values;
    std::vector<WString> valueMap;
    HRESULT hr = LoadValuesAndValueMap(nodeClass, u"SystemType", qualifiers, values, valueMap, error, log);
    if (FAILED(hr)) return hr;
    std::vector<SystemTypeValue> types;
    types.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i)
      types.push_back(SystemTypeValue{valueMap[i], values[i], CpuTypeOfCaption(values[i]), true});
    std::vector<CpuOsTypes> cpus;
    const auto stored = StoredNames(qualifiers.get(), vrTraceFunction_, vrTraceFile_);
    for (const SystemTypeValue& type : types) {
      std::vector<WString> osTypes;
      hr = GetQualifierVector(qualifiers.get(), u"SystemType", type.cpuType, osTypes, error, log, true);
      if (hr == S_OK) {
        const auto name = stored.find(vr::text::ToLower(type.cpuType));
        cpus.push_back(CpuOsTypes{name == stored.end() ? type.cpuType : name->second, std::move(osTypes)});
      } else if (hr == S_FALSE) {
        ReportMessage(LoadMessage(MessageId::kCpuTypeQualifierMismatch, type.cpuType, type.caption), error, log);
      } else {
        return hr;
      }
    }
    // A qualifier no caption names now (a registration changed the caption of its system
    // type) still lists OS types: it is loaded too, so that a reversal can take them back.
    std::unordered_set<WString> loaded;
    for (const CpuOsTypes& cpu : cpus) loaded.insert(vr::text::ToLower(cpu.cpuType));
    for (const auto& [folded, name] : stored) {
      if (loaded.count(folded) || folded == u"values" || folded == u"valuemap") continue;
      Variant value;
      if (FAILED(qualifiers->Get(name.c_str(), 0, &value, nullptr)) || value.vt != (VT_ARRAY | VT_BSTR)) continue;
      std::vector<WString> osTypes;
      if (GetQualifierVector(qualifiers.get(), u"SystemType", name, osTypes, error, log, true) == S_OK)
        cpus.push_back(CpuOsTypes{name, std::move(osTypes)});
    }
    VR_TRACE_INFO("Read ", static_cast<unsigned>(types.size()), " system types and ",
                  static_cast<unsigned>(cpus.size()), " CPU type qualifiers SUCCEEDED");
    systemTypes = std::move(types);
    cpuOsTypes = std::move(cpus);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace WMIInteraction

HRESULT LoadValuesFromWMI(IWbemClassObject* nodeClass, PlatformModelValues& values, WString& error,
                          VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::LoadValuesFromWMI", "ModelUpdater\\PlatformModelLoad",
                    vr::trace::kModelFlags);
  try {
    PlatformModelValues loaded;
    if (FAILED(WMIInteraction::GetOSTypeFromWMI(nodeClass, loaded.osTypes, error, log))) return E_FAIL;
    if (FAILED(WMIInteraction::GetOSVersionFromWMI(nodeClass, loaded.osVersions, error, log))) return E_FAIL;
    if (FAILED(WMIInteraction::GetSystemTypeFromWMI(nodeClass, loaded.systemTypes, loaded.cpuOsTypes, error, log)))
      return E_FAIL;
    values = std::move(loaded);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT GetListOfWinOSTypes(IWbemClassObject* nodeClass, std::vector<WString>& windowsOsTypes, WString& error,
                            VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::GetListOfWinOSTypes", "ModelUpdater\\PlatformModelLoad",
                    vr::trace::kModelFlags);
  try {
    std::vector<ModelValue> osTypes;
    if (FAILED(WMIInteraction::GetOSTypeFromWMI(nodeClass, osTypes, error, log))) return E_FAIL;
    std::vector<WString> windows;
    for (const ModelValue& osType : osTypes)
      if (osType.caption.compare(0, 7, u"Windows") == 0) windows.push_back(osType.value);
    windowsOsTypes = std::move(windows);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations::PlatformModelOperations
