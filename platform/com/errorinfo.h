// Thread error information, as SetErrorInfo/GetErrorInfo keep it: the last failing service
// leaves a record (description, GUID, help, source) or an error object such as WMI's
// __ExtendedStatus instance; the caller takes it, which clears it.
#pragma once
#include <memory>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/text/wstring.h"

class ErrorInfo : public IUnknown {
 public:
  WString description;
  WString source;
  WString helpFile;
  GUID guid = GUID_NULL;
  uint32_t helpContext = 0;
  // An error object of the failing service (for WMI: its __ExtendedStatus instance).
  std::shared_ptr<IUnknown> object;
};
using IErrorInfo = ErrorInfo;

HRESULT SetErrorInfo(uint32_t reserved, std::shared_ptr<ErrorInfo> info);
// S_FALSE and an empty pointer when there is none.
HRESULT GetErrorInfo(uint32_t reserved, std::shared_ptr<ErrorInfo>* info);
