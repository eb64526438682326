// Loading the platform lists from the qualifiers of VR_ManagedNode.
#include <cstdio>
#include <unordered_set>

#include "mordant/PlatformInfo.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "wbem/ConsoleText.h"
#include "wbem/WbemUtils.h"

namespace {

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// One string-array qualifier. missingIsExpected: WBEM_E_NOT_FOUND is handed back unreported.
HRESULT ReadStringArray(IWbemQualifierSet* qualifiers, const WChar* property, const WChar* name,
                        bool missingIsExpected, std::vector<WString>* out) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "ReadStringArray()");
  Variant value;
  HRESULT hr = qualifiers->Get(name, 0, &value, nullptr);
  if (FAILED(hr)) {
    if (missingIsExpected && hr == WBEM_E_NOT_FOUND) return hr;
    ReportError(WBEM_UNIT, __LINE__,
                "  IWbemQualifierSet::Get(L\"%S\",...) failed.\n    hr = 0x%08X  %s\n    Cause: The \"%S\" property in "
                "VR_ManagedNode did not have a\n      qualifier named \"%S\".\n",
                name, Hex(hr), GetHresultName(hr), property, name);
    return hr;
  }
  context.line = __LINE__;
  if (value.vt != (VT_ARRAY | VT_BSTR)) {
    ReportError(WBEM_UNIT, __LINE__,
                "  Expected the \"%S\" qualifier for the \"%S\" property of\n  VR_ManagedNode to return a SAFEARRAY of "
                "BSTRs.  It did not.\n",
                name, property);
    return E_FAIL;
  }
  SafeArray* array = value.parray();
  if (!array) {
    ReportError(WBEM_UNIT, __LINE__,
                "  The SAFEARRAY of BSTRs returned from the \"%S\" qualifier for\n  the \"%S\" property of "
                "VR_ManagedNode to was NULL.\n",
                name, property);
    return E_FAIL;
  }
  const uint32_t dims = SafeArrayGetDim(array);
  if (dims != 1) {
    ReportError(WBEM_UNIT, __LINE__,
                "  The SAFEARRAY of BSTRs returned from the \"%S\" qualifier for\n  the \"%S\" property of "
                "VR_ManagedNode had %u dimensions.\n  Expected it to only have one dimension.\n",
                name, property, dims);
    return E_FAIL;
  }
  int32_t lower = 0, upper = -1;
  hr = SafeArrayGetLBound(array, 1, &lower);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  SafeArrayGetLBound() failed.\n    hr = 0x%08X  %s\n", Hex(hr), GetHresultName(hr));
    return hr;
  }
  if (lower != 0) {
    ReportError(WBEM_UNIT, __LINE__,
                "  The SAFEARRAY of BSTRs returned from the \"%S\" qualifier for\n  the \"%S\" property of "
                "VR_ManagedNode had %d as a lower bound.\n  Expected it to have zero as its lower bound.\n",
                name, property, lower);
    return E_FAIL;
  }
  hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  SafeArrayGetUBound() failed.\n    hr = 0x%08X  %s\n", Hex(hr), GetHresultName(hr));
    return hr;
  }
  context.line = __LINE__;
  Variant* data = nullptr;
  hr = SafeArrayAccessData(array, &data);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  ::SafeArrayAccessData() failed.\n  hr = 0x%08X  %s\n", Hex(hr), GetHresultName(hr));
    return hr;
  }
  std::vector<WString> strings;
  strings.reserve(static_cast<size_t>(upper + 1));
  for (int32_t i = 0; i <= upper; ++i) strings.push_back(data[i].bstrVal);
  hr = SafeArrayUnaccessData(array);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  SafeArrayUnaccessData() failed.\n    hr = 0x%08X  %s\n", Hex(hr),
                GetHresultName(hr));
    return hr;
  }
  *out = std::move(strings);
  return S_OK;
}

// The Values and ValueMap qualifiers of a property, which must have as many items.
HRESULT LoadValuesAndValueMap(IWbemClassObject* managedNode, const WChar* property,
                              std::shared_ptr<IWbemQualifierSet>* qualifiers, std::vector<WString>* values,
                              std::vector<WString>* valueMap) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "LoadValuesAndValueMap()");
  HRESULT hr = managedNode->GetPropertyQualifierSet(property, qualifiers);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  IWbemClassObject::GetPropertyQualifierSet(L\"%S\",...) failed.\n    hr = 0x%08x  %s\n",
                property, Hex(hr), GetHresultName(hr));
    return hr;
  }
  context.line = __LINE__;
  hr = ReadStringArray(qualifiers->get(), property, u"Values", false, values);
  if (SUCCEEDED(hr)) hr = ReadStringArray(qualifiers->get(), property, u"ValueMap", false, valueMap);
  if (FAILED(hr)) return hr;
  if (values->size() != valueMap->size()) {
    ReportError(WBEM_UNIT, __LINE__,
                "  In the \"%S\" property of VR_ManagedNode, the \"%s\" qualifier\n  contains %u items and the \"%s\" "
                "qualifier contains %u items.\n  These qualifiers should contain the same number of items.\n",
                property, "Values", static_cast<unsigned>(values->size()), "ValueMap",
                static_cast<unsigned>(valueMap->size()));
    return E_FAIL;
  }
  return S_OK;
}

HRESULT LoadSystemInfo(IWbemClassObject* managedNode, SystemTypeList* systemTypes, CpuOsList* cpuOs) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "LoadSystemInfo()");
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  std::vector<WString> values, valueMap;
  HRESULT hr = LoadValuesAndValueMap(managedNode, u"SystemType", &qualifiers, &values, &valueMap);
  if (FAILED(hr)) return hr;
  std::unordered_set<WString> loadedKeys;  // folded: one qualifier for each CPU key
  for (size_t i = 0; i < values.size(); ++i) {
    context.line = __LINE__;
    SystemTypeEntry entry{values[i], valueMap[i], DeriveCpuKey(values[i])};
    if (entry.value != u"1" && loadedKeys.insert(vr::text::ToLower(entry.cpuKey)).second) {
      std::vector<WString> osTypes;
      hr = ReadStringArray(qualifiers.get(), u"SystemType", entry.cpuKey.c_str(), true, &osTypes);
      if (hr == WBEM_E_NOT_FOUND) {
        WriteConsoleText(stderr,
                         vr::text::FormatA("\nWARNING: The SystemType property of VR_ManagedNode did not have a\n  CPU "
                                           "Type qualifier (that is, \"%S\") which matched the\n  \"%S\" Values "
                                           "qualifier entry for the property.\n",
                                           entry.cpuKey, entry.description));
      } else if (FAILED(hr)) {
        return hr;
      } else {
        cpuOs->push_back({entry.cpuKey, std::move(osTypes)});
      }
    }
    systemTypes->push_back(std::move(entry));
  }
  return S_OK;
}

template <class Entry, WString Entry::*Text>
HRESULT LoadPairs(IWbemClassObject* managedNode, const WChar* property, std::vector<Entry>* out) {
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  std::vector<WString> values, valueMap;
  HRESULT hr = LoadValuesAndValueMap(managedNode, property, &qualifiers, &values, &valueMap);
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < values.size(); ++i) {
    Entry entry;
    entry.*Text = values[i];
    entry.value = valueMap[i];
    out->push_back(std::move(entry));
  }
  return S_OK;
}

}  // namespace

HRESULT LoadInfoFromWbem(IWbemClassObject* managedNode, SystemTypeList* systemTypes, CpuOsList* cpuOs,
                         OsTypeList* osTypes, OsVersionList* osVersions) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "LoadInfoFromWbem()");
  SystemTypeList st;
  CpuOsList co;
  OsTypeList ot;
  OsVersionList ov;
  HRESULT hr = LoadSystemInfo(managedNode, &st, &co);
  context.line = __LINE__;
  if (SUCCEEDED(hr)) hr = LoadPairs<OsTypeEntry, &OsTypeEntry::description>(managedNode, u"OsType", &ot);
  context.line = __LINE__;
  if (SUCCEEDED(hr)) hr = LoadPairs<OsVersionEntry, &OsVersionEntry::version>(managedNode, u"OsVersion", &ov);
  if (FAILED(hr)) return hr;
  *systemTypes = std::move(st);
  *cpuOs = std::move(co);
  *osTypes = std::move(ot);
  *osVersions = std::move(ov);
  return S_OK;
}

HRESULT LoadOtherSystemTypeQualifiers(IWbemClassObject* managedNode, const SystemTypeList& systemTypes,
                                      std::vector<WString>* names) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "LoadOtherSystemTypeQualifiers()");
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  HRESULT hr = managedNode->GetPropertyQualifierSet(u"SystemType", &qualifiers);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  IWbemClassObject::GetPropertyQualifierSet(L\"%S\",...) failed.\n    hr = 0x%08x  %s\n",
                u"SystemType", Hex(hr), GetHresultName(hr));
    return hr;
  }
  context.line = __LINE__;
  CSafeArray array;
  hr = qualifiers->GetNames(0, array.Receive());
  std::vector<WString> all;
  if (SUCCEEDED(hr)) hr = SafeArrayToStrings(array, &all);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  IWbemQualifierSet::GetNames(...) of the \"%S\" property failed.\n    hr = 0x%08X  %s\n",
                u"SystemType", Hex(hr), GetHresultName(hr));
    return hr;
  }
  std::unordered_set<WString> cpuKeys;
  for (const SystemTypeEntry& e : systemTypes) cpuKeys.insert(vr::text::ToLower(e.cpuKey));
  names->clear();
  for (WString& name : all)
    if (!cpuKeys.count(vr::text::ToLower(name))) names->push_back(std::move(name));
  return S_OK;
}
