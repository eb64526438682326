#include "platform/crypto/VrEpDBCrypt.h"

#include <vector>

#include "platform/com/errorinfo.h"
#include "platform/crypto/host_secret.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/text/convert.h"

namespace {

// The reason goes to the thread's error information; it never holds the password.
HRESULT Fail(const std::string& why) {
  auto info = std::make_shared<ErrorInfo>();
  info->description = vr::text::Utf8ToWide("Cannot get the database password: " + why);
  info->source = u"CVrEpDBCrypt";
  SetErrorInfo(0, info);
  return E_FAIL;
}

}  // namespace

HRESULT CVrEpDBCrypt::GetDBPassword(WStringView keyPath, WStringView valueName, WString* password) {
  if (!password) return E_POINTER;
  password->clear();
  vr::registry::ScopedKey key;
  const WString path(keyPath), name(valueName);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
    return Fail("the registry key does not exist");
  constexpr DWORD kLimit = 1000;
  std::vector<BYTE> data(kLimit + sizeof(WChar), 0);
  DWORD size = kLimit;
  DWORD type = 0;
  const LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
  if (rc == ERROR_MORE_DATA) return Fail("the value is longer than 1000 bytes");
  if (rc != ERROR_SUCCESS) return Fail("the value cannot be read");
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size < sizeof(WChar)) return Fail("the value is not a text");
  WString stored(reinterpret_cast<const WChar*>(data.data()), size / sizeof(WChar));
  while (!stored.empty() && stored.back() == u'\0') stored.pop_back();
  if (stored.empty()) return Fail("the value is empty");
  WString plain;
  std::string error;
  if (!vr::crypto::DecipherSecret(stored, plain, error) || plain.empty()) {
    vr::crypto::WipeSecret(plain);
    return Fail(error.empty() ? "the password is empty" : error);
  }
  *password = std::move(plain);
  return S_OK;
}
