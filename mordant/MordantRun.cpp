// The run of one mordant action: locale, COM and WMI set-up, the undo MOF, the platform lists,
// the action, and the closing banner.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "mordant/MordantMain.h"
#include "mordant/PlatformInfo.h"
#include "mordant/UndoMof.h"
#include "platform/com/runtime.h"
#include "platform/os/file.h"
#include "platform/os/path.h"
#include "platform/os/run_lock.h"
#include "wbem/ConsoleText.h"
#include "wbem/WbemUtils.h"

namespace {

// RPC_C_AUTHN_LEVEL_NONE: no authentication of calls into this process.
constexpr DWORD kAuthnLevelNone = 1;

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

// The locale categories as they were at start, put back before the program returns.
class SavedLocaleT {
 public:
  SavedLocaleT() {
    for (size_t i = 0; i < kCount; ++i) {
      const char* current = std::setlocale(kCategories[i], nullptr);
      saved_[i] = current ? current : "C";
    }
    // LC_CTYPE, LC_COLLATE, LC_TIME, LC_ALL: each from its environment variable, or the
    // user's default locale.
    const int order[] = {LC_CTYPE, LC_COLLATE, LC_TIME, LC_ALL};
    const char* names[] = {"LC_CTYPE", "LC_COLLATE", "LC_TIME", "LC_ALL"};
    for (size_t i = 0; i < kCount; ++i) {
      const char* value = std::getenv(names[i]);
      std::setlocale(order[i], value ? value : "");
    }
  }
  ~SavedLocaleT() {
    for (size_t i = 0; i < kCount; ++i) std::setlocale(kCategories[i], saved_[i].c_str());
  }
  SavedLocaleT(const SavedLocaleT&) = delete;
  SavedLocaleT& operator=(const SavedLocaleT&) = delete;

 private:
  static constexpr size_t kCount = 4;
  // Saved in this order, and put back in this order.
  static constexpr int kCategories[kCount] = {LC_ALL, LC_TIME, LC_COLLATE, LC_CTYPE};
  std::string saved_[kCount];
};

// True when writing `output` would overwrite `input`: the same file under any name (a link,
// another spelling of its folders), or the same full path when the input does not exist yet.
bool OverwritesInput(const WChar* input, const WChar* output) {
  if (!input || !output || !*input || !*output) return false;
  if (vr::os::IsSameFile(input, output)) return true;
  WString fullInput, fullOutput;
  return vr::os::FullPath(input, fullInput) && vr::os::FullPath(output, fullOutput) && fullInput == fullOutput;
}

// The undo MOF and the change log are written before (or while) the input is read: one that
// names the input would destroy it. Refused before anything is written.
bool OutputsSpareTheInput(const WChar* inputFile, const WChar* undoMof, const WChar* changeLog) {
  const struct {
    const WChar* file;
    const char* role;
  } outputs[] = {{undoMof, "<undo-mof>"}, {changeLog, "<change-log>"}};
  for (const auto& output : outputs) {
    if (!OverwritesInput(inputFile, output.file)) continue;
    ReportError(WBEM_UNIT, __LINE__,
                "  The %s file \"%S\" is the input file \"%S\".\n  Writing it would destroy the input "
                "before it is read.  Nothing was changed.\n",
                output.role, output.file, inputFile);
    return false;
  }
  return true;
}

}  // namespace

int UpdatePlatformInformation(int action, const WChar* inputFile, const WChar* undoMof, const WChar* changeLog) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "UpdatePlatformInformation()");
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  CoInitializeEx(0, COINIT_APARTMENTTHREADED) failed.\n    hr = 0x%08X  %s\n",
                Hex(hr), GetHresultName(hr));
    return 1;
  }
  std::shared_ptr<IWbemServices> services;
  std::shared_ptr<IWbemClassObject> managedNode;
  // A failed set-up step: release what is held, the extended report, uninitialise.
  const auto setupFailed = [&](HRESULT failure) {
    managedNode.reset();
    services.reset();
    ReportExtendedErrorInfo(failure);
    CoUninitialize();
    return 1;
  };

  context.line = __LINE__;
  ClearCallErrorState();
  hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, kAuthnLevelNone, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                            EOAC_NONE, nullptr);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  CoInitializeSecurity(...) failed.\n    hr = 0x%08X  %s\n", Hex(hr),
                GetHresultName(hr));
    return setupFailed(hr);
  }
  context.line = __LINE__;
  ClearCallErrorState();
  hr = InitializeWbem(&services);
  if (FAILED(hr)) return setupFailed(hr);

  context.line = __LINE__;
  ClearCallErrorState();
  hr = services->GetObject(u"VR_ManagedNode", 0, nullptr, &managedNode, nullptr);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  IWbemService::GetObject(\"VR_ManagedNode\",...) failed.\n    hr = 0x%08X  %s\n",
                Hex(hr), GetHresultName(hr));
    return setupFailed(hr);
  }

  context.line = __LINE__;
  if (!CreateUndoMof(managedNode.get(), undoMof, action, inputFile)) {
    managedNode.reset();
    services.reset();
    CoUninitialize();
    return 1;
  }

  context.line = __LINE__;
  SystemTypeList systemTypes;
  CpuOsList cpuOs;
  OsTypeList osTypes;
  OsVersionList osVersions;
  ClearCallErrorState();
  hr = LoadInfoFromWbem(managedNode.get(), &systemTypes, &cpuOs, &osTypes, &osVersions);
  std::vector<WString> otherQualifiers;
  if (SUCCEEDED(hr)) hr = LoadOtherSystemTypeQualifiers(managedNode.get(), systemTypes, &otherQualifiers);
  if (FAILED(hr)) return setupFailed(hr);

  context.line = __LINE__;
  const HRESULT result = ProcessPlatformInfo(action, services.get(), managedNode.get(), systemTypes, cpuOs, osTypes,
                                             osVersions, inputFile, changeLog, otherQualifiers);
  managedNode.reset();
  services.reset();
  CoUninitialize();
  return result;
}

namespace {

// The action inside the run lock, unless an output would overwrite the input.
int RunAction(int action, const WChar* inputFile, const WChar* undoMof, const WChar* changeLog) {
  if (!OutputsSpareTheInput(inputFile, undoMof, changeLog)) return 1;
  // One program at a time changes the host: the run lock is taken before the action reads
  // anything and held until its result is known. Without a host root the WMI connection
  // reports the failure.
  std::unique_ptr<vr::os::RunLock> runLock;
  std::string lockFile;
  long timeoutMs = 0;
  const long rc = vr::os::RunLock::AcquireForHost(runLock, lockFile, timeoutMs);
  if (rc == ERROR_TIMEOUT) {
    ReportError(WBEM_UNIT, __LINE__,
                "  Another program is changing this management server (run lock '%s');\n  gave up after waiting "
                "%ld ms. Nothing was changed.\n",
                lockFile.c_str(), timeoutMs);
    return kExitRunLockUnavailable;
  }
  if (rc != ERROR_SUCCESS && rc != ERROR_PATH_NOT_FOUND) {
    ReportError(WBEM_UNIT, __LINE__, "  The run lock '%s' cannot be taken (error %ld). Nothing was changed.\n",
                lockFile.c_str(), rc);
    return kExitRunLockUnavailable;
  }
  return UpdatePlatformInformation(action, inputFile, undoMof, changeLog);
}

// A standard output that could not be written (a full disk, a closed pipe) is a failure of
// the run: what it should have received is lost. 0 when all was written, else the failure.
int CheckStandardOutput() {
  const int err = ConsoleStreamError(stdout);
  if (err == 0) return 0;
  ReportError(WBEM_UNIT, __LINE__, "  Unable to write to the standard output:\n    errno = %d  %s\n", err,
              std::strerror(err));
  return HRESULT_FROM_WIN32(vr::os::Win32FromErrno(err));
}

}  // namespace

int Run(int action, const WChar* inputFile, const WChar* undoMof, const WChar* changeLog) {
  int result = 1;
  try {
    result = RunAction(action, inputFile, undoMof, changeLog);
  } catch (const std::exception& e) {
    ReportError(WBEM_UNIT, __LINE__, "  mordant terminated because of the following exception:\n  %s\n", e.what());
    result = 1;
  } catch (...) {
    ReportError(WBEM_UNIT, __LINE__, "  mordant terminated because of an unknown exception.\n");
    result = 1;
  }
  // What the action printed must have reached standard output before success is claimed.
  if (const int failed = CheckStandardOutput(); failed != 0 && result == 0) result = failed;
  if (result == 0) {
    // The dump is an update-information file on standard output; its banner goes beside it.
    const bool toStderr = action == eDUMP;
    WriteConsoleText(toStderr ? stderr : stdout, "\n\nSUCCESS: mordant completed successfully!\n\n");
    if (!toStderr) result = CheckStandardOutput();
  }
  if (result != 0) WriteConsoleText(stderr, "\n***\n*** FAILURE: mordant terminated due to errors!\n***\n\n");
  std::fflush(stdout);
  return result;
}

int MordantMain(const std::vector<WString>& args) {
  SavedLocaleT locale;
  RunRequestT request;
  int exitCode = 1;
  if (!ParseCommandLine(args, &request, &exitCode)) {
    // The usage statement asked for must have reached standard output.
    if (exitCode == 0) exitCode = CheckStandardOutput();
    return exitCode;
  }
  const auto name = [](const std::optional<WString>& s) { return s ? s->c_str() : nullptr; };
  return Run(request.action, name(request.inputFile), name(request.undoMof), name(request.changeLog));
}

int ExitStatusOf(int result) {
  if (result >= 0 && result <= 255) return result;
  const int low = static_cast<int>(static_cast<unsigned>(result) & 0xFF);
  return low == 0 ? 1 : low;
}
