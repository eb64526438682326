#include "platform/depot/depot_connection.h"

#include <vector>

#include "platform/crypto/VrEpDBCrypt.h"
#include "platform/crypto/host_secret.h"
#include "platform/depot/depot.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/text/convert.h"

namespace vr::depot {
namespace {

bool ReadString(HKEY key, const char16_t* name, WString& value) {
  DWORD type = 0, size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::vector<BYTE> data(size + sizeof(WChar), 0);
  if (RegQueryValueExW(key, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return false;
  value.assign(reinterpret_cast<const WChar*>(data.data()), size / sizeof(WChar));
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  return true;
}

}  // namespace

bool ReadDbAccess(WString& source, WString& user, std::string& why) {
  vr::registry::ScopedKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDbAccessKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) {
    why = "the registry key HKEY_LOCAL_MACHINE\\" + vr::text::WideToUtf8(kDbAccessKey) + " cannot be opened";
    return false;
  }
  const bool haveSource = ReadString(key, u"Source", source);
  const bool haveUser = ReadString(key, u"User", user);
  if (!haveSource || source.empty()) {
    why = "the registry value DBAccess \"Source\" (the data source name) cannot be read";
    return false;
  }
  if (!haveUser) {
    why = "the registry value DBAccess \"User\" cannot be read";
    return false;
  }
  return true;
}

std::string DescribeErrors(const ADODB::ConnectionPtr& connection) {
  if (!connection || connection->Errors().empty()) return "error";
  const ADODB::Error& e = connection->Errors().front();
  std::string text = vr::text::WideToUtf8(e.description);
  if (!e.sqlState.empty() && e.sqlState != u"00000") text = "[" + vr::text::WideToUtf8(e.sqlState) + "] " + text;
  return text;
}

HRESULT OpenDepotDatabase(ADODB::ConnectionPtr* connection, std::string& why) {
  connection->reset();
  WString source, user;
  if (!ReadDbAccess(source, user, why)) return DEPOT_E_NOCONFIGURATION;
  WString password;
  CVrEpDBCrypt crypt;
  if (FAILED(crypt.GetDBPassword(kDbAccessKey, u"Password", &password))) {
    why = "the database password (DBAccess \"Password\") cannot be read or deciphered";
    return DEPOT_E_NOCONFIGURATION;
  }
  WString text = ADODB::MakeConnectionString(source, user, password);
  vr::crypto::WipeSecret(password);
  ADODB::ConnectionPtr c;
  HRESULT hr = ADODB::CreateConnection(&c);
  if (SUCCEEDED(hr)) hr = c->Open(text, u"", u"", ADODB::adConnectUnspecified);
  vr::crypto::WipeSecret(text);
  if (FAILED(hr)) {
    why = "cannot connect to the Depot database (data source '" + vr::text::WideToUtf8(source) + "'): " +
          (c ? DescribeErrors(c) : std::string("the connection object cannot be created"));
    return hr;
  }
  *connection = std::move(c);
  return S_OK;
}

}  // namespace vr::depot
