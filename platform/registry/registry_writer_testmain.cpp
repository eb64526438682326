// Test helper: one program of several that write the same hive at once. Writes COUNT values
// named PREFIX_i into Shared\Counter and one subkey per value below Shared\PREFIX; exits 1 at
// the first failed call.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/com/hresult.h"
#include "platform/registry/registry.h"
#include "platform/text/convert.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const WString prefix = vr::text::Utf8ToWide(argv[1]);
  const int count = std::atoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    HKEY h = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Shared\\Counter", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc == ERROR_SUCCESS) {
      const WString name = prefix + u"_" + vr::text::Utf8ToWide(std::to_string(i));
      const DWORD v = static_cast<DWORD>(i);
      rc = RegSetValueExW(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
      RegCloseKey(h);
    }
    if (rc == ERROR_SUCCESS) {
      const WString sub = u"Shared\\" + prefix + u"\\Sub" + vr::text::Utf8ToWide(std::to_string(i));
      rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, sub.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
      if (rc == ERROR_SUCCESS) RegCloseKey(h);
    }
    if (rc != ERROR_SUCCESS) {
      std::fprintf(stderr, "write %d failed with %ld\n", i, static_cast<long>(rc));
      return 1;
    }
  }
  return 0;
}
