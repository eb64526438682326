// The platform section handlers of a registration run: registration of the file's platforms
// into the WMI model with one undo line per committed change, and the reversal of those lines
// for unregistration (from the undo file) or rollback (from the section log of a failed run).
#include "tessera/Console.h"
#include "tessera/ExitCodes.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"

using vr::msg::LoadMessage;
using namespace PlatformOperations;
using vr::front::kExitFailure;

int CVrPlatformRegistration::PlatformRegInit(WString&) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PlatformRegInit", "ModelUpdater\\PlatformSectionHandlers",
                    vr::trace::kModelFlags);
  return 0;
}

bool CVrPlatformRegistration::PlatformRegCleanup(WString&) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PlatformRegCleanup", "ModelUpdater\\PlatformSectionHandlers",
                    vr::trace::kModelFlags);
  return true;
}

int CVrPlatformRegistration::PlatformRegUpdate(CXmlReader& reader, const WString&, bool reinstall,
                                               VrLogFile& sectionLog, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PlatformRegUpdate", "ModelUpdater\\PlatformSectionHandlers",
                    vr::trace::kModelFlags);
  try {
    VrLogFile noLog(u"", false);
    VrLogFile& log = runLog_ ? *runLog_ : noLog;
    ComScope com;
    OperationContext context;
    context.mode = reinstall ? OP_REINSTALL : OP_REGISTER;
    context.clusterMode = clusterMode_;
    context.warnings = false;
    if (FAILED(CheckPlatformTexts(reader.Platforms(), clusterMode_ == 2, message, log))) return kExitFailure;

    std::shared_ptr<IWbemServices> services;
    if (FAILED(ConnectToWmi(&services))) {
      ReportMessage(LoadMessage(1022), message, log);
      return kExitFailure;
    }
    if (FAILED(CheckIfWMIModelIsValid(services.get(), message, log))) return kExitFailure;
    PlatformModel wmi;
    if (FAILED(LoadValuesFromWMI(services.get(), wmi, message, log))) {
      ReportMessage(LoadMessage(3048), message, log);
      return kExitFailure;
    }
    PlatformModel wanted;
    if (FAILED(CreateWantedPlatformModel(reader.Platforms(), wmi, wanted, message, log))) return kExitFailure;
    PlatformChanges changes;
    if (FAILED(EliminateDuplicates(wanted)) ||
        FAILED(CreatePlatformUpdateAndUnDoVect(context, wmi, wanted, changes, message, log)) ||
        FAILED(RegisterUnregisterNewPlatforms(context, services.get(), changes, message, &sectionLog, log))) {
      ReportMessage(LoadMessage(3049), message, log);
      return kExitFailure;
    }
    if (context.warnings) {
      // The run ends "with warnings"; the console says which (the run log has them too).
      vr::console::PrintConsoleText(message, vr::console::kWarning);
      SetWarnings();
    }
    return 0;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    message += LoadMessage(420, u"CVrPlatformRegistration::PlatformRegUpdate");
    return kExitFailure;
  }
}

bool CVrPlatformRegistration::PlatformRegRollback(VrLogFile& undo, WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::PlatformRegRollback", "ModelUpdater\\PlatformSectionHandlers",
                    vr::trace::kModelFlags);
  try {
    VrLogFile noLog(u"", false);
    VrLogFile& log = runLog_ ? *runLog_ : noLog;
    ComScope com;
    OperationContext context;
    context.mode = rollback_ ? OP_ROLLBACK : OP_UNINSTALL;
    context.clusterMode = clusterMode_;
    const unsigned failedMessage = rollback_ ? 3052 : 3053;
    log.AppendLine(rollback_ ? u"Platforms registration rollback..." : u"Platforms deinstallation...", true);

    std::shared_ptr<IWbemServices> services;
    if (FAILED(ConnectToWmi(&services))) {
      ReportMessage(LoadMessage(1022), message, log);
      return false;
    }
    if (FAILED(CheckIfWMIModelIsValid(services.get(), message, log))) {
      ReportMessage(LoadMessage(failedMessage), message, log);
      return false;
    }
    PlatformModel wmi;
    if (FAILED(LoadValuesFromWMI(services.get(), wmi, message, log))) {
      ReportMessage(LoadMessage(rollback_ ? 3051 : 3050), message, log);
      return false;
    }
    PlatformChanges changes;
    const HRESULT read = CreateUninstallationAndUnDoVect(context, undo, wmi, changes, message, log);
    // A damaged section is the undo file's fault: the run ends with the undo-file error.
    if (read == kUndoSectionSyntax && !rollback_) SetError();
    if (FAILED(read) || FAILED(RegisterUnregisterNewPlatforms(context, services.get(), changes, message, nullptr, log))) {
      ReportMessage(LoadMessage(failedMessage), message, log);
      return false;
    }
    return true;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    message += LoadMessage(420, u"CVrPlatformRegistration::PlatformRegRollback");
    return false;
  }
}
