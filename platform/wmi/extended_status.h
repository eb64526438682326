// The error object WMI leaves for a failed call: an __ExtendedStatus instance in the thread
// error information (ErrorInfo::object), with the operation, its parameter and a description.
#pragma once
#include <memory>

#include "platform/wmi/wbemcli.h"

namespace vr::wmi {

std::shared_ptr<IWbemClassObject> MakeExtendedStatus(HRESULT hr, WStringView operation, WStringView parameterInfo,
                                                     WStringView description);
// Replaces the thread error information with an __ExtendedStatus for the failure.
void SetExtendedStatus(HRESULT hr, WStringView operation, WStringView parameterInfo, WStringView description);
// The text WMI gives a status code, for descriptions ("Not found", "Invalid namespace", ...).
WString WbemStatusText(HRESULT hr);

}  // namespace vr::wmi
