#include "platform/com/com_error.h"

#include "platform/text/format.h"

uint16_t _com_error::WCodeFromHR(HRESULT hr) {
  const uint32_t u = static_cast<uint32_t>(hr);
  return (u >= 0x80040200u && u <= 0x8004FFFFu) ? static_cast<uint16_t>(u - 0x80040200u) : 0;
}

WString _com_error::ErrorMessage() const {
  WString text = vr::com::SystemMessage(hr_);
  // The system's texts end with a line end, which the error text leaves out.
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  if (!text.empty()) return text;
  const uint16_t wcode = WCodeFromHR(hr_);
  if (wcode != 0) return vr::text::Format(u"IDispatch error #%d", static_cast<int>(wcode));
  return vr::text::Format(u"Unknown error 0x%0lX", static_cast<uint32_t>(hr_));
}

void _com_issue_error(HRESULT hr) {
  if (SUCCEEDED(hr)) return;
  std::shared_ptr<ErrorInfo> info;
  GetErrorInfo(0, &info);
  throw _com_error(hr, info);
}
