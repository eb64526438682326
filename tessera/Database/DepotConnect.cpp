// Connecting CDepotData with the settings of the DBAccess key: data source, user, and the
// enciphered password that CVrEpDBCrypt turns back into the plain one (never traced).
#include "platform/ado/ado.h"
#include "platform/crypto/VrEpDBCrypt.h"
#include "platform/crypto/host_secret.h"
#include "tessera/AppErrors.h"
#include "tessera/Database/DepotData.h"
#include "tessera/Messages.h"
#include "tessera/RegistryString.h"
#include "tessera/TesseraTrace.h"

namespace {

constexpr const char16_t* kDbAccessKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess";
constexpr int kSettingsFailure = -3000;

}  // namespace

bool CDepotData::ConnectToDB() {
  VR_TRACE_FUNCTION("CDepotData::ConnectToDB", "Database\\DepotConnect", vr::trace::kRunFlags);
  WString password;
  CVrEpDBCrypt crypt;
  if (FAILED(crypt.GetDBPassword(kDbAccessKey, u"Password", &password)))
    throw CApp_error(vr::msg::LoadMessage(vr::msg::MessageId::kDbPasswordUnavailable), kSettingsFailure);
  WString source, user;
  if (!ReadRegistryString(kDbAccessKey, u"Source", source))
    throw CApp_error(vr::msg::LoadMessage(vr::msg::MessageId::kRegistryStringUnreadable, u"Source"), kSettingsFailure);
  if (!ReadRegistryString(kDbAccessKey, u"User", user))
    throw CApp_error(vr::msg::LoadMessage(vr::msg::MessageId::kRegistryStringUnreadable, u"User"), kSettingsFailure);
  WString text = ADODB::MakeConnectionString(source, user, password);
  vr::crypto::WipeSecret(password);
  const bool connected = ConnectWith(text);
  vr::crypto::WipeSecret(text);
  return connected;
}
