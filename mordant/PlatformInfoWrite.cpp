// Writing changed platform lists into the qualifiers of the local copy of VR_ManagedNode.
#include <algorithm>
#include <cstdio>

#include "mordant/PlatformInfo.h"
#include "platform/text/format.h"
#include "wbem/ConsoleText.h"
#include "wbem/WbemUtils.h"

namespace {

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// Values and ValueMap reach instances and subclasses.
constexpr long kValuesFlavor = WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;

HRESULT GetQualifiers(IWbemClassObject* managedNode, const WChar* property,
                      std::shared_ptr<IWbemQualifierSet>* qualifiers) {
  const HRESULT hr = managedNode->GetPropertyQualifierSet(property, qualifiers);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__,
                "  IWbemClassObject::GetPropertyQualifierSet() failed.\n  Unable to get qualifier set for %S property "
                "of the\n  VR_ManagedNode class.\n  hr = 0x%08X  %s\n",
                property, Hex(hr), GetHresultName(hr));
  }
  return hr;
}

// Puts one string-array qualifier; the array handed over is destroyed afterwards.
HRESULT PutStrings(IWbemQualifierSet* qualifiers, const WChar* property, const WChar* name,
                   const std::vector<WString>& strings, long flavor) {
  CSafeArray array(SafeArrayCreateVector(VT_BSTR, 0, static_cast<uint32_t>(strings.size())));
  if (!array) return E_OUTOFMEMORY;
  Variant* data = nullptr;
  HRESULT hr = SafeArrayAccessData(array, &data);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  ::SafeArrayAccessData() failed.\n  hr = 0x%08X  %s\n", Hex(hr),
                GetHresultName(hr));
    return hr;
  }
  for (size_t i = 0; i < strings.size(); ++i) data[i] = Variant(strings[i]);
  const HRESULT unaccess = SafeArrayUnaccessData(array);
  if (FAILED(unaccess)) {
    WriteConsoleText(stderr, vr::text::FormatA("WARNING: ::SafeArrayUnaccessData() failed.\n  hr = 0x%08X  %s\n",
                                               Hex(unaccess), GetHresultName(unaccess)));
  }
  Variant value;
  value.AttachArray(array.Detach());
  hr = qualifiers->Put(name, &value, flavor);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__,
                "  IWbemQualifierSet::Put() failed.\n  Unable to put %S qualifier back into qualifier\n  set for the %S "
                "property of the VR_ManagedNode class.\n  hr = 0x%08X  %s\n",
                name, property, Hex(hr), GetHresultName(hr));
  }
  const HRESULT destroyed = CSafeArray(value.DetachArray()).Destroy();
  if (FAILED(destroyed)) {
    WriteConsoleText(stderr, vr::text::FormatA("WARNING: ::SafeArrayDestroy() failed.\n  hr = 0x%08X  %s\n",
                                               Hex(destroyed), GetHresultName(destroyed)));
  }
  return hr;
}

template <class Entry, WString Entry::*Text>
HRESULT PutValuesAndValueMap(IWbemQualifierSet* qualifiers, const WChar* property, const std::vector<Entry>& list) {
  std::vector<WString> values, valueMap;
  values.reserve(list.size());
  valueMap.reserve(list.size());
  for (const Entry& e : list) {
    values.push_back(e.*Text);
    valueMap.push_back(e.value);
  }
  HRESULT hr = PutStrings(qualifiers, property, u"Values", values, kValuesFlavor);
  if (SUCCEEDED(hr)) hr = PutStrings(qualifiers, property, u"ValueMap", valueMap, kValuesFlavor);
  return hr;
}

// wcstoul of the text: leading white space skipped, digits up to the first other character,
// 0 without digits; values beyond 32 bits saturate.
unsigned long NumericValue(const WString& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  if (i < text.size() && text[i] == u'+') ++i;
  unsigned long long n = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    n = n * 10 + static_cast<unsigned>(text[i] - u'0');
    if (n > 0xFFFFFFFFull) return 0xFFFFFFFFul;
  }
  return static_cast<unsigned long>(n);
}

}  // namespace

HRESULT PutSystemTypeQualifiers(IWbemClassObject* managedNode, const SystemTypeList& systemTypes,
                                const CpuOsList& cpuOs) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "PutSystemTypeQualifiers()");
  if (systemTypes.empty() && cpuOs.empty()) return S_OK;
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  HRESULT hr = GetQualifiers(managedNode, u"SystemType", &qualifiers);
  if (FAILED(hr)) return hr;
  context.line = __LINE__;
  if (!systemTypes.empty()) {
    hr = PutValuesAndValueMap<SystemTypeEntry, &SystemTypeEntry::description>(qualifiers.get(), u"SystemType",
                                                                                systemTypes);
    if (FAILED(hr)) return hr;
  }
  context.line = __LINE__;
  for (const CpuOsEntry& entry : cpuOs) {
    hr = PutStrings(qualifiers.get(), u"SystemType", entry.cpuKey.c_str(), entry.osTypes, 0);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT PutOsTypeQualifiers(IWbemClassObject* managedNode, const OsTypeList& osTypes) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "PutOsTypeQualifiers()");
  if (osTypes.empty()) return S_OK;
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  HRESULT hr = GetQualifiers(managedNode, u"OsType", &qualifiers);
  if (FAILED(hr)) return hr;
  return PutValuesAndValueMap<OsTypeEntry, &OsTypeEntry::description>(qualifiers.get(), u"OsType", osTypes);
}

HRESULT PutOsVersionQualifiers(IWbemClassObject* managedNode, const OsVersionList& osVersions) {
  if (osVersions.empty()) return S_OK;
  return WriteOsVersionQualifiers(managedNode, osVersions);
}

HRESULT WriteOsVersionQualifiers(IWbemClassObject* managedNode, const OsVersionList& osVersions) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "PutOsVersionQualifiers()");
  std::vector<std::pair<unsigned long, const OsVersionEntry*>> keyed;
  keyed.reserve(osVersions.size());
  for (const OsVersionEntry& e : osVersions) keyed.emplace_back(NumericValue(e.value), &e);
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  OsVersionList sorted;
  sorted.reserve(keyed.size());
  for (const auto& k : keyed) sorted.push_back(*k.second);
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  HRESULT hr = GetQualifiers(managedNode, u"OsVersion", &qualifiers);
  if (FAILED(hr)) return hr;
  return PutValuesAndValueMap<OsVersionEntry, &OsVersionEntry::version>(qualifiers.get(), u"OsVersion", sorted);
}
