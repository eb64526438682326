// libFuzzer: any bytes as a registration file, loaded and walked by CXmlReader. Inputs may name
// the installed VrNPConfig.dtd (strict) or Fuzz.dtd, which lets every element of the vocabulary
// hold anything, so that the walk sees shapes the strict DTD would refuse. Content errors and
// DOM errors are expected results; anything else (a crash, a leak, a hang) is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/XmlParser/XmlReader.h"

namespace {

const char* kNames[] = {"VrNPConfig", "OsTypeForReg", "ostype", "systemtype", "PlatformList", "Platform",
                        "SystemType", "OSType", "OSVersions", "OSVersion", "value", "caption", "text", "snmp",
                        "netapi", "agent", "Instrumentation", "subdir", "fileset", "copyfile", "NodeGroups",
                        "NodeGroup", "name", "parent", "PackageList", "Package", "type", "pkgname", "version",
                        "logicalid", "unregister", "description", "deployerid", "PlatformAndPolicyTypes",
                        "PolicyTypes", "policytype", "VrReqCheckList", "Systems_Section", "Prerequisites_Section",
                        "system", "prerequisites"};

void SetString(const char16_t* key, const char16_t* name, const WString& v) {
  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != 0) return;
  RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                 static_cast<DWORD>((v.size() + 1) * sizeof(WChar)));
  RegCloseKey(h);
}

const std::string& Dir() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/vrxmlreaderfuzz.XXXXXX";
    std::string d = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    // One folder per process, removed when the process ends. The handler reads the name from
    // a plain array: the string of this function is destroyed before the handler runs.
    static char made[sizeof tmpl];
    if (d != "/tmp") {
      std::memcpy(made, tmpl, sizeof tmpl);
      std::atexit([] { std::filesystem::remove_all(made); });
    }
    std::string dtd;
    for (const char* n : kNames)
      dtd += std::string("<!ELEMENT ") + n + " ANY>\n<!ATTLIST " + n +
             " version CDATA #IMPLIED string CDATA #IMPLIED name CDATA #IMPLIED VRMS CDATA #IMPLIED L CDATA #IMPLIED>\n";
    std::ofstream(d + "/Fuzz.dtd") << dtd;
    setenv("VR_HOST_ROOT", d.c_str(), 1);
    SetString(u"SOFTWARE\\Tamberlin\\TB Vorant", u"InstallDir", u"C:\\Vorant\\");
    SetString(u"SOFTWARE\\Tamberlin\\TB Vorant", u"DataDir", u"C:\\Vorant\\data");
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool com = SUCCEEDED(CoInitialize(nullptr));
  if (!com) return 0;
  const std::string path = Dir() + "/input.xml";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  static CXmlReader reader(u"A.07.50");
  try {
    if (reader.Load(vr::text::Utf8ToWide(path)) == 0) {
      WString type;
      for (const CPackage& p : reader.Packages())
        for (const CPlatformAndPolicyTypes& t : p.platforms) reader.GetPlatformType(t.systemType, t.osType, type);
    }
  } catch (const CApp_error&) {
  } catch (const _com_error&) {
  }
  return 0;
}
