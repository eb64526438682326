// libFuzzer: any bytes as an undo file whose prerequisite records the unregistration reads.
// The registration object runs on a scratch host with no prerequisite section initialised, so
// the reader parses the records and stops before any file would change: a refusal (message
// 306 or 308, or the missing configuration file) or success are results; a crash or a hang is
// a finding.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/FuzzFile.h"
#include "tessera/VrPlatformRegistration.h"

namespace {

void SetString(const char16_t* key, const char16_t* name, const WString& v) {
  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != 0) return;
  RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                 static_cast<DWORD>((v.size() + 1) * sizeof(WChar)));
  RegCloseKey(h);
}

// A host root of this process, removed when it ends: a server below 7.499, so that the
// registration object asks no cluster tool.
CVrPlatformRegistration* Registration() {
  static CVrPlatformRegistration* r = [] {
    static std::string root;
    char tmpl[] = "/tmp/vrprerequndofuzz.XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    root = tmpl;
    std::atexit([] { std::filesystem::remove_all(root); });
    ::setenv("VR_HOST_ROOT", root.c_str(), 1);
    if (FAILED(CoInitialize(nullptr))) std::abort();
    SetString(u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server", u"Version", u"00.00.94");
    SetString(u"SOFTWARE\\Tamberlin\\TB Vorant", u"DataDir", WString(root.begin(), root.end()) + u"\\");
    WString message;
    int status = -1;
    auto* made = new CVrPlatformRegistration(0, nullptr, message, status);
    if (status != 0) std::abort();
    return made;
  }();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CVrPlatformRegistration* r = Registration();
  if (!WriteFuzzInput(data, size)) return 0;
  VrLogFile undo(FuzzInputPath().c_str(), true);
  if (FAILED(undo.LoadFile())) return 0;
  WString message;
  if (!r->ReqCheckCfgRegRollback(undo, message) && message.empty()) std::abort();
  return 0;
}
