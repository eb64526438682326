// The four actions of mordant on the platform lists: add, check, dump and remove.
#include <cstdio>

#include "mordant/PlatformInfo.h"
#include "mordant/UpdateInfoReader.h"
#include "platform/text/format.h"
#include "platform/text/convert.h"
#include "wbem/ConsoleText.h"
#include "wbem/WbemUtils.h"

using vr::text::FormatA;

namespace {

void Out(const std::string& text) { WriteConsoleText(stdout, text); }
void Err(const std::string& text) { WriteConsoleText(stderr, text); }

// The first text of the lists that the console's character set cannot hold, if any.
const WString* FirstUnwritableText(const SystemTypeList& systemTypes, const CpuOsList& cpuOs,
                                   const OsTypeList& osTypes, const OsVersionList& osVersions) {
  std::string bytes;
  const auto unwritable = [&](const WString& text) {
    return !ToConsoleBytes(vr::text::WideToUtf8(text), &bytes);
  };
  for (const SystemTypeEntry& e : systemTypes)
    for (const WString* t : {&e.description, &e.value})
      if (unwritable(*t)) return t;
  for (const OsTypeEntry& e : osTypes)
    for (const WString* t : {&e.description, &e.value})
      if (unwritable(*t)) return t;
  for (const CpuOsEntry& e : cpuOs) {
    if (unwritable(e.cpuKey)) return &e.cpuKey;
    for (const WString& v : e.osTypes)
      if (unwritable(v)) return &v;
  }
  for (const OsVersionEntry& e : osVersions)
    for (const WString* t : {&e.version, &e.value})
      if (unwritable(*t)) return t;
  return nullptr;
}

HRESULT StoreClass(IWbemServices* services, IWbemClassObject* managedNode) {
  const HRESULT hr = services->PutClass(managedNode, WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__,
                "  IWbemServices::PutClass() failed --  Unable to update VR_ManagedNode\n  after its qualifiers were "
                "modified.\n  hr = 0x%08X  %s\n",
                static_cast<unsigned>(hr), GetHresultName(hr));
    return hr;
  }
  return S_OK;
}

}  // namespace

HRESULT AddPlatformInfo(IWbemServices* services, IWbemClassObject* managedNode, const SystemTypeList& systemTypes,
                        const CpuOsList& cpuOs, const OsTypeList& osTypes, const OsVersionList& osVersions,
                        const WChar* inputFile, const WChar* changeLog, const std::vector<WString>& otherQualifiers) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "AddPlatformInfo()");
  SystemTypeList newSystemTypes;
  CpuOsList newCpuOs;
  OsTypeList newOsTypes;
  OsVersionList newOsVersions;
  if (!ReadUpdateInfo(inputFile, changeLog, systemTypes, cpuOs, osTypes, osVersions, &newSystemTypes, &newCpuOs,
                      &newOsTypes, &newOsVersions, otherQualifiers)) {
    return E_FAIL;
  }
  if (newSystemTypes.empty() && newCpuOs.empty() && newOsTypes.empty() && newOsVersions.empty()) {
    Err("\nWARNING: No updates were made, because the model already\n  contained all of the updates.\n");
    return S_OK;
  }
  context.line = __LINE__;
  HRESULT hr = PutSystemTypeQualifiers(managedNode, newSystemTypes, newCpuOs);
  if (SUCCEEDED(hr)) hr = PutOsTypeQualifiers(managedNode, newOsTypes);
  if (SUCCEEDED(hr)) hr = PutOsVersionQualifiers(managedNode, newOsVersions);
  if (FAILED(hr)) return hr;
  context.line = __LINE__;
  return StoreClass(services, managedNode);
}

HRESULT CheckPlatformInfo(const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                          const OsVersionList& osVersions, const WChar* inputFile,
                          const std::vector<WString>& otherQualifiers) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "CheckPlatformInfo()");
  SystemTypeList newSystemTypes;
  CpuOsList newCpuOs;
  OsTypeList newOsTypes;
  OsVersionList newOsVersions;
  const WString name = inputFile ? WString(inputFile) : WString();
  if (ReadUpdateInfo(inputFile, nullptr, systemTypes, cpuOs, osTypes, osVersions, &newSystemTypes, &newCpuOs,
                     &newOsTypes, &newOsVersions, otherQualifiers)) {
    Out(FormatA("\n\"%S\" passes compliance checks.\n", name));
    return S_OK;
  }
  Out(FormatA("\n\"%S\" fails compliance checks!!!\n", name));
  return E_FAIL;
}

HRESULT DumpPlatformInfo(const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                         const OsVersionList& osVersions) {
  std::string text = "\n";
  for (const SystemTypeEntry& e : systemTypes) text += FormatA("SYSTEM-TYPE: %-20S, %5S;\n", e.description, e.value);
  text += "\n";
  for (const OsTypeEntry& e : osTypes) text += FormatA("OS-TYPE: %-20S, %5S;\n", e.description, e.value);
  text += "\n";
  for (const CpuOsEntry& e : cpuOs) {
    text += FormatA("SYSTEM-CPU-OS: %-8S", e.cpuKey);
    for (const WString& v : e.osTypes) text += FormatA(", %S", v);
    text += ";\n";
  }
  text += "\n";
  for (const OsVersionEntry& e : osVersions) text += FormatA("OS-VERSION: %-12S, %8S;\n", e.version, e.value);
  // The dump is written in the character set that --add reads a file without a mark in. Text
  // that set does not have would come back changed: such a dump is refused, nothing written.
  std::string bytes;
  if (!ToConsoleBytes(text, &bytes)) {
    const WString* culprit = FirstUnwritableText(systemTypes, cpuOs, osTypes, osVersions);
    ReportError(WBEM_UNIT, __LINE__,
                "  The model holds text that the character set of the locale (%s) does not have:\n    \"%S\"\n"
                "  A dump in that character set would not read back as the model, so nothing\n  was written.  "
                "Run the dump under a locale whose character set has this text,\n  such as a UTF-8 locale.\n",
                vr::text::MbcsCodeset(), culprit ? *culprit : WString());
    return E_FAIL;
  }
  WriteConsoleBytes(stdout, bytes);
  return S_OK;
}

HRESULT RemoveVersionInfo(IWbemServices* services, IWbemClassObject* managedNode, const OsTypeList& osTypes,
                          const OsVersionList& osVersions, const WChar* inputFile) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "RemoveVersionInfo()");
  OsVersionList newOsVersions;
  bool removedAny = false;
  if (!ReadRemoveInfo(inputFile, osTypes, osVersions, &newOsVersions, &removedAny)) return E_FAIL;
  if (!removedAny) {
    Err("\nWARNING: No OSVersions were removed, because none of the OSVersions\n  specified previously existed in the "
        "model.\n");
    return S_OK;
  }
  context.line = __LINE__;
  // Removing every version leaves an empty list, which is stored as such.
  const HRESULT hr = WriteOsVersionQualifiers(managedNode, newOsVersions);
  if (FAILED(hr)) return hr;
  return StoreClass(services, managedNode);
}

HRESULT ProcessPlatformInfo(int action, IWbemServices* services, IWbemClassObject* managedNode,
                            const SystemTypeList& systemTypes, const CpuOsList& cpuOs, const OsTypeList& osTypes,
                            const OsVersionList& osVersions, const WChar* inputFile, const WChar* changeLog,
                            const std::vector<WString>& otherQualifiers) {
  switch (action) {
    case eADD:
      return AddPlatformInfo(services, managedNode, systemTypes, cpuOs, osTypes, osVersions, inputFile, changeLog,
                             otherQualifiers);
    case eCHECK: return CheckPlatformInfo(systemTypes, cpuOs, osTypes, osVersions, inputFile, otherQualifiers);
    case eDUMP: return DumpPlatformInfo(systemTypes, cpuOs, osTypes, osVersions);
    case eREMOVE: return RemoveVersionInfo(services, managedNode, osTypes, osVersions, inputFile);
    default: return E_UNEXPECTED;
  }
}
