#include "platform/com/errorinfo.h"

namespace {
thread_local std::shared_ptr<ErrorInfo> t_errorInfo;
}

HRESULT SetErrorInfo(uint32_t, std::shared_ptr<ErrorInfo> info) {
  t_errorInfo = std::move(info);
  return S_OK;
}

HRESULT GetErrorInfo(uint32_t, std::shared_ptr<ErrorInfo>* info) {
  if (!info) return E_INVALIDARG;
  *info = std::move(t_errorInfo);
  t_errorInfo.reset();
  return *info ? S_OK : S_FALSE;
}
