// The list of Windows OS type values that the package section needs: filled from the OS types
// of VR_ManagedNode before the package section's Init.
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformModelOperations.h"
#include "tessera/ModelUpdater/PlatformSection.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"

namespace PlatformOperations {

HRESULT GetListOfWinOSTypes(IWbemServices* services, std::vector<WString>& windowsOsTypes, WString& error,
                            VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::GetListOfWinOSTypes", "ModelUpdater\\WinOSTypesHandler",
                    vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemClassObject> nodeClass;
    if (FAILED(PlatformModelOperations::GetClassObjectT(services, nodeClass, error, log))) return E_FAIL;
    return PlatformModelOperations::GetListOfWinOSTypes(nodeClass.get(), windowsOsTypes, error, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations

bool PlatformSection::InitListOfWinOSTypes(WString& message) {
  VR_TRACE_FUNCTION("PlatformSection::InitListOfWinOSTypes", "ModelUpdater\\WinOSTypesHandler",
                    vr::trace::kModelFlags);
  try {
    // Without a run log (a section run on its own) the messages still reach the error text.
    VrLogFile noLog(u"", false);
    VrLogFile& log = run_.GetRunLog() ? *run_.GetRunLog() : noLog;
    PlatformOperations::ComScope com;
    std::shared_ptr<IWbemServices> services;
    if (FAILED(PlatformOperations::ConnectToWmi(&services))) {
      PlatformOperations::ReportMessage(vr::msg::LoadMessage(vr::msg::MessageId::kWmiConnectFailed), message, log);
      return false;
    }
    std::vector<WString> windows;
    if (FAILED(PlatformOperations::GetListOfWinOSTypes(services.get(), windows, message, log))) return false;
    run_.WindowsOsTypes() = std::move(windows);
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return false;
  }
}
