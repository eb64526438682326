#include "platform/os/message.h"

#include <cstring>

#include "platform/fault/fault.h"
#include "platform/os/lasterror.h"
#include "platform/text/convert.h"

DWORD FormatMessageW(DWORD flags, const void*, DWORD messageId, DWORD, WChar* buffer, DWORD size, void*) {
  if (auto error = vr::fault::InjectedWin32("os.FormatMessage", ERROR_MR_MID_NOT_FOUND)) {
    SetLastError(static_cast<DWORD>(*error));
    return 0;
  }
  if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const HRESULT hr =
      messageId <= 0xFFFF ? HRESULT_FROM_WIN32(static_cast<long>(messageId)) : static_cast<HRESULT>(messageId);
  const WString text = vr::com::SystemMessage(hr);
  if (text.empty()) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    auto* copy = new WChar[text.size() + 1];
    std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WChar));
    *reinterpret_cast<WChar**>(buffer) = copy;
    return static_cast<DWORD>(text.size());
  }
  if (size < text.size() + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WChar));
  return static_cast<DWORD>(text.size());
}

HLOCAL LocalFree(HLOCAL memory) {
  delete[] static_cast<WChar*>(memory);
  return nullptr;
}

namespace vr::os {

std::string ErrorReason(long win32Error) {
  std::string text = vr::text::WideToUtf8(vr::com::SystemMessage(HRESULT_FROM_WIN32(win32Error)));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "error " + std::to_string(win32Error) : text;
}

}  // namespace vr::os
