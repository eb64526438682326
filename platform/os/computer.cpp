#include "platform/os/computer.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/lasterror.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::os {

WString ComputerName() {
  std::string name;
  if (const char* fixed = std::getenv("VR_COMPUTER_NAME"); fixed && *fixed) {
    name = fixed;
  } else {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) return WString();
    name = host;
    name = name.substr(0, name.find('.'));
  }
  WString wide = vr::text::ToUpper(vr::text::Utf8ToWide(name));
  if (wide.size() > MAX_COMPUTERNAME_LENGTH) wide.resize(MAX_COMPUTERNAME_LENGTH);
  return wide;
}

}  // namespace vr::os

BOOL GetComputerNameW(WChar* buffer, DWORD* size) {
  if (auto error = vr::fault::InjectedWin32("os.GetComputerName", ERROR_ACCESS_DENIED)) {
    SetLastError(static_cast<DWORD>(*error));
    return FALSE;
  }
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const WString name = vr::os::ComputerName();
  if (name.empty()) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (!buffer || *size < name.size() + 1) {
    *size = static_cast<DWORD>(name.size() + 1);
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(buffer, name.data(), name.size() * sizeof(WChar));
  buffer[name.size()] = 0;
  *size = static_cast<DWORD>(name.size());
  return TRUE;
}
