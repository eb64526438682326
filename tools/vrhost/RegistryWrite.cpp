#include "tools/vrhost/RegistryWrite.h"

#include "platform/com/hresult.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/text/convert.h"

namespace vrhost {

long CreateKey(const WString& key) {
  vr::registry::ScopedKey h;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Receive(), nullptr);
}

long SetValue(const WString& key, const WString& name, DWORD type, const std::string& data) {
  vr::registry::ScopedKey h;
  long rc =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Receive(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExW(h, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                        static_cast<DWORD>(data.size()));
}

long SetString(const WString& key, const WString& name, const WString& text) {
  const std::string bytes(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(WChar));
  return SetValue(key, name, REG_SZ, bytes);
}

long SetDword(const WString& key, const WString& name, DWORD value) {
  return SetValue(key, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof value));
}

std::string ErrorText(long code) {
  std::string text = "error " + std::to_string(code);
  std::string meaning = vr::text::WideToUtf8(vr::com::SystemMessage(HRESULT_FROM_WIN32(code)));
  while (!meaning.empty() && (meaning.back() == '\n' || meaning.back() == '\r')) meaning.pop_back();
  if (!meaning.empty()) text += " (" + meaning + ")";
  return text;
}

}  // namespace vrhost
