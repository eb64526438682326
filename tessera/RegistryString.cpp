#include "tessera/RegistryString.h"

#include <string>

#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "tessera/TesseraTrace.h"

// A REG_SZ value of HKEY_LOCAL_MACHINE, read in two steps (size and type, then the text).
// Failures are traced; the key is closed on every path.
bool ReadRegistryString(const WChar* key, const WChar* name, WString& text) {
  VR_TRACE_FUNCTION("ReadRegistryString", "RegistryString", vr::trace::kRunFlags);
  vr::registry::ScopedKey h;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, h.Receive());
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("RegOpenKeyEx (\"HKEY_LOCAL_MACHINE\\", key, "\")", rc);
    return false;
  }
  DWORD type = 0, size = 0;
  rc = RegQueryValueExW(h, name, nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("RegQueryValueEx 1 (\"HKEY_LOCAL_MACHINE\\", key, "\\", name, "\")", rc);
    return false;
  }
  if (type != REG_SZ) {
    VR_TRACE_ERROR("Registry value \"HKEY_LOCAL_MACHINE\\", key, "\\", name, "\" is not string.");
    return false;
  }
  std::string buffer(size, '\0');
  rc = RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_FAILURE("RegQueryValueEx 2 (\"HKEY_LOCAL_MACHINE\\", key, "\\", name, "\")", rc);
    return false;
  }
  text = vr::registry::StringFromData(reinterpret_cast<const BYTE*>(buffer.data()), size);
  return true;
}
