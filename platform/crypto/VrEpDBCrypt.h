// CVrEpDBCrypt: the management server's stored database password turned back into the plain
// password. The password lives in a REG_SZ value under HKEY_LOCAL_MACHINE in the stored form of
// platform/crypto/host_secret.h.
#pragma once
#include "platform/com/hresult.h"
#include "platform/text/wstring.h"

class CVrEpDBCrypt {
 public:
  virtual ~CVrEpDBCrypt() = default;

  // Reads value valueName of key keyPath under HKEY_LOCAL_MACHINE (opened for reading; at most
  // 1000 bytes, the trailing terminator dropped) and deciphers it. E_FAIL when the key or the
  // value is missing, the value is empty or longer, it does not decipher, or the plain password
  // is empty; password is then left empty.
  HRESULT GetDBPassword(WStringView keyPath, WStringView valueName, WString* password);
};
