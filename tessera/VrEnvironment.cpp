// The installation environment of tessera: before anything changes, the registration object
// learns the server version, the computer's name and its place in a server cluster, and
// checks that the command line fits. Also the run log, the tool runner and the Windows OS test.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/cluster/cluster.h"
#include "platform/com/hresult.h"
#include "platform/os/computer.h"
#include "platform/os/file.h"
#include "platform/os/lasterror.h"
#include "platform/os/process.h"
#include "platform/registry/product_keys.h"
#include "platform/registry/registry.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/text/format.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformSection.h"
#include "tessera/Prereq/PrereqSection.h"
#include "tessera/TesseraTrace.h"
#include "tessera/RegistryString.h"
#include "tessera/VrPlatformRegistration.h"

namespace {

constexpr const WChar* kServerKey = vr::keys::kManagementServerKey;
constexpr const WChar* kVersionValue = u"Version";
constexpr const WChar* kVorantKey = vr::keys::kVorantKey;
constexpr const WChar* kDataDirValue = u"DataDir";
constexpr const WChar* kShareInstallDirValue = u"VrMsShareInstallDir";
constexpr const WChar* kClusterTool = u"VrMsClusterInfo ";
constexpr const WChar* kInstallationStatusOption = u"-getInstallationStatus";
constexpr const WChar* kResourceGroupOption = u"-getResourceGroupName";
constexpr const WChar* kTempFolderFallback = u"C:\\";
constexpr const WChar* kTempFileFallback = u"C:\\~t1ja.tmp";
constexpr const WChar* kRunLogName = u"log\\tessera.log";

// Servers from this version on can be clustered, have a prerequisite section and keep the
// run log below the share installation folder.
constexpr double kClusterAwareVersion = 7.499;
constexpr DWORD kInstalledOnCluster = 5;
constexpr int kStatusCommandLine = 50;
constexpr int kStatusFailure = 100;
// A cluster tool that hangs must not hang the run: it gets this long, unless
// VR_CLUSTER_TOOL_TIMEOUT_MS says otherwise, then it is stopped and the run ends.
constexpr long kToolTimeoutMs = 60000;
constexpr const char* kToolTimeoutVariable = "VR_CLUSTER_TOOL_TIMEOUT_MS";


// A decimal number that makes up the whole text (digits with at most one full stop), else 0.
double WholeDecimal(WStringView text) {
  std::string narrow;
  bool digit = false, point = false;
  for (WChar c : text) {
    if (c >= u'0' && c <= u'9') digit = true;
    else if (c == u'.' && !point) point = true;
    else return 0;
    narrow += static_cast<char>(c);
  }
  if (!digit) return 0;
  double value = 0;
  const auto result = std::from_chars(narrow.data(), narrow.data() + narrow.size(), value);
  return (result.ec == std::errc() && result.ptr == narrow.data() + narrow.size()) ? value : 0;
}

bool StartsWithNoCase(WStringView text, WStringView prefix) {
  return text.size() >= prefix.size() && vr::text::EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The number of a server version text; an "X." text is first rewritten to its "A." form.
double ServerVersionNumber(WString& text) {
  if (text == u"00.00.94") return 7.0;
  if (StartsWithNoCase(text, u"X.")) {
    const WString rest = text.substr(2);
    const size_t stop = rest.find(u'.');
    text = u"A." + (stop == WString::npos ? rest : rest.substr(0, stop + 3));
  }
  if (StartsWithNoCase(text, u"A.")) return WholeDecimal(WStringView(text).substr(2));
  return 0;
}

// The time limit of a tool run in milliseconds: VR_CLUSTER_TOOL_TIMEOUT_MS when it holds a
// positive whole number (at most a day), otherwise the default.
long ToolTimeoutMs() {
  const char* text = std::getenv(kToolTimeoutVariable);
  if (!text || !*text) return kToolTimeoutMs;
  long value = 0;
  const char* end = text + std::strlen(text);
  const auto result = std::from_chars(text, end, value);
  constexpr long kDayMs = 24L * 60 * 60 * 1000;
  if (result.ec != std::errc() || result.ptr != end || value <= 0 || value > kDayMs) return kToolTimeoutMs;
  return value;
}

WString TrimLineEnds(WString text) {
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  return text;
}

}  // namespace

CVrPlatformRegistration::CVrPlatformRegistration(int clusterMode, void* reserved, WString& message, int& status)
    : clusterMode_(clusterMode),
      platformSection_(std::make_unique<PlatformSection>(*this)),
      prereqSection_(std::make_unique<PrereqSection>(*this)) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::CVrPlatformRegistration", "VrEnvironment", vr::trace::kRunFlags);
  (void)reserved;
  message.clear();
  status = 0;
  try {
    if (!DiscoverServerVersion(message) || !DiscoverComputerName(message)) {
      status = kStatusFailure;
      return;
    }
    if (serverVersionNumber_ >= kClusterAwareVersion && !DiscoverClusterState(message)) {
      status = kStatusFailure;
      return;
    }
    if (clusterMode_ != 0 && clusterNodeState_ == 0) {
      VR_TRACE_ERROR("Option", "-cluster", " is not valid on non-cluster system.");
      message = vr::msg::LoadMessage(vr::msg::MessageId::kOptionNeedsCluster, u"-cluster");
      status = kStatusCommandLine;
    }
  } catch (const std::exception& e) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", "CVrPlatformRegistration::CVrPlatformRegistration", ": ", e.what());
    message = vr::msg::LoadMessage(vr::msg::MessageId::kUnspecifiedError, u"CVrPlatformRegistration::CVrPlatformRegistration");
    status = kStatusFailure;
  }
}

bool CVrPlatformRegistration::DiscoverServerVersion(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::DiscoverServerVersion", "VrEnvironment", vr::trace::kRunFlags);
  if (!ReadRegistryString(kServerKey, kVersionValue, serverVersion_)) {
    message = vr::msg::LoadMessage(vr::msg::MessageId::kVersionUndetermined, kServerKey, kVersionValue);
    return false;
  }
  serverVersionNumber_ = ServerVersionNumber(serverVersion_);
  VR_TRACE_INFO("VRM/S version is \"", serverVersion_, "\" (", serverVersionNumber_, ").");
  return true;
}

bool CVrPlatformRegistration::DiscoverComputerName(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::DiscoverComputerName", "VrEnvironment", vr::trace::kRunFlags);
  WChar name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) {
    VR_TRACE_FAILURE("GetComputerNameW", static_cast<long>(GetLastError()));
    message = vr::msg::LoadMessage(vr::msg::MessageId::kUnspecifiedError, u"CVrPlatformRegistration::CVrPlatformRegistration");
    return false;
  }
  computerName_.assign(name, size);
  VR_TRACE_INFO("Computer name is \"", computerName_, "\".");
  return true;
}

bool CVrPlatformRegistration::DiscoverClusterState(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::DiscoverClusterState", "VrEnvironment", vr::trace::kRunFlags);
  const WString statusCommand = WString(kClusterTool) + kInstallationStatusOption;
  DWORD exitCode = 0;
  if (!RunCmdTool(statusCommand, &exitCode, nullptr, message)) return false;
  installationStatus_ = exitCode;
  VR_TRACE_INFO("VRM/S installation status get with cmd-line \"", statusCommand, "\" is ",
                static_cast<unsigned long>(exitCode));
  if (exitCode != kInstalledOnCluster) {
    clusterNodeState_ = 0;
    VR_TRACE_INFO("This computer (\"", computerName_, "\") is not cluster node.");
    return true;
  }

  const WString groupCommand = WString(kClusterTool) + kResourceGroupOption;
  WString output;
  if (!RunCmdTool(groupCommand, nullptr, &output, message)) return false;
  const WString group = TrimLineEnds(output);
  if (group.empty()) {
    VR_TRACE_ERROR("Cluster resource group get with cmd-line \"", groupCommand, "\" is empty.");
    message = vr::msg::LoadMessage(vr::msg::MessageId::kClusterGroupNameEmpty);
    return false;
  }
  VR_TRACE_INFO("Cluster resource group get with cmd-line \"", groupCommand, "\" is \"", group, "\"");
  clusterGroupName_ = group;

  HCLUSTER cluster = OpenCluster(nullptr);
  if (!cluster) {
    VR_TRACE_FAILURE("OpenCluster", static_cast<long>(GetLastError()));
    message = vr::msg::LoadMessage(vr::msg::MessageId::kClusterOpenFailed);
    return false;
  }
  HGROUP handle = OpenClusterGroup(cluster, group.c_str());
  if (!handle) {
    VR_TRACE_FAILURE("OpenClusterGroup (\"", group, "\")", static_cast<long>(GetLastError()));
    CloseCluster(cluster);
    message = vr::msg::LoadMessage(vr::msg::MessageId::kClusterGroupOpenFailed, group);
    return false;
  }
  // A computer name has up to 15 characters: the buffer holds them and the terminator.
  WChar owner[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD ownerLength = MAX_COMPUTERNAME_LENGTH + 1;
  const CLUSTER_GROUP_STATE state = GetClusterGroupState(handle, owner, &ownerLength);
  const long stateError = static_cast<long>(GetLastError());
  CloseClusterGroup(handle);
  CloseCluster(cluster);
  if (state == ClusterGroupStateUnknown) {
    VR_TRACE_FAILURE("GetClusterGroupState (\"", group, "\")", stateError);
    message = vr::msg::LoadMessage(vr::msg::MessageId::kClusterGroupStateFailed, group);
    return false;
  }
  const WString ownerName(owner, ownerLength);
  if (vr::text::EqualsNoCase(ownerName, computerName_)) {
    clusterNodeState_ = 1;
    VR_TRACE_INFO("This computer (\"", computerName_, "\") is active cluster node.");
  } else {
    clusterNodeState_ = -1;
    activeNodeName_ = ownerName;
    VR_TRACE_INFO("This computer (\"", computerName_, "\") is passive cluster node. Active cluster node is \"",
                  ownerName, "\".");
  }
  return true;
}

bool CVrPlatformRegistration::RunCmdTool(const WString& commandLine, DWORD* exitCode, WString* output,
                                         WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::RunCmdTool", "VrEnvironment", vr::trace::kRunFlags);
  VR_TRACE_INFO("Command line: \"", commandLine, "\"");
  bool ok = true;
  WString tempFile;
  bool tempCreated = false;  // by GetTempFileName or by opening it
  WString timeoutMessage;     // set when the tool was stopped at the time limit
  std::unique_ptr<vr::os::File> outputFile;
  try {
    if (output) {
      WString folder;
      if (const long rc = vr::os::GetTempPath(folder); rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("GetTempPathW", rc);
        folder = kTempFolderFallback;
      }
      if (const long rc = vr::os::GetTempFileName(folder, u"vrn", tempFile); rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("GetTempFileNameW (\"", folder, "\")", rc);
        tempFile = kTempFileFallback;
      } else {
        tempCreated = true;
      }
      VR_TRACE_INFO("Temp file for storing tool output: \"", tempFile, "\"");
      // Emptied when it exists, so that nothing of an earlier run follows the tool's output.
      if (const long rc = vr::os::File::Open(tempFile, "wb", vr::os::Share::DenyWrite, outputFile); rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("CreateFileW (\"", tempFile, "\")", rc);
        outputFile.reset();
        ok = false;
      } else {
        tempCreated = true;
      }
    }

    std::unique_ptr<vr::os::Process> process;
    if (ok) {
      if (const long rc = vr::os::StartProcess(commandLine, output ? WStringView(tempFile) : WStringView(), process);
          rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("CreateProcessW (\"", commandLine, "\")", rc);
        ok = false;
      }
    }
    if (ok) {
      const long timeoutMs = ToolTimeoutMs();
      if (const long rc = vr::os::WaitForProcess(*process, timeoutMs); rc == ERROR_WAIT_TIMEOUT) {
        VR_TRACE_ERROR("Command line \"", commandLine, "\" did not end within ", timeoutMs, " ms; it is stopped.");
        if (const long killed = vr::os::TerminateProcess(*process); killed != ERROR_SUCCESS)
          VR_TRACE_FAILURE("TerminateProcess", killed);
        timeoutMessage = vr::msg::LoadMessage(vr::msg::MessageId::kCommandLineTimedOut, commandLine, timeoutMs);
        ok = false;
      } else if (rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("WaitForSingleObject", rc);
        ok = false;
      }
    }
    if (ok && exitCode) {
      DWORD code = 0;
      if (const long rc = vr::os::GetProcessExitCode(*process, code); rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("GetExitCodeProcess", rc);
        ok = false;
      } else {
        *exitCode = code;
      }
    }
    process.reset();

    if (ok && output) {
      std::string bytes;
      if (const long rc = vr::os::ReadWholeFile(tempFile, bytes); rc != ERROR_SUCCESS) {
        VR_TRACE_FAILURE("ReadFile (\"", tempFile, "\")", rc);
        ok = false;
      } else {
        bytes = bytes.substr(0, bytes.find('\0'));  // the text ends at a zero byte
        WString text;
        // Text that is not in the ANSI code page is taken as UTF-8, as the console shows it.
        if (!vr::text::MbcsToWide(bytes, text)) text = vr::text::Utf8ToWide(bytes);
        *output = text;
      }
    }
  } catch (const std::bad_alloc&) {
    VR_TRACE_ERROR("Allocation of ASCII buffer for reading tool output from file failed.");
    ok = false;
  }

  if (outputFile) {
    outputFile->Close();
    outputFile.reset();
  }
  if (tempCreated) {
    if (const long rc = vr::os::DeleteFile(tempFile); rc != ERROR_SUCCESS)
      VR_TRACE_FAILURE("DeleteFileW (\"", tempFile, "\")", rc);
  }
  if (!ok) message = timeoutMessage.empty() ? vr::msg::LoadMessage(vr::msg::MessageId::kCommandLineFailed, commandLine) : timeoutMessage;
  return ok;
}

bool CVrPlatformRegistration::InitTesseraLog(WString& message) {
  VR_TRACE_FUNCTION("CVrPlatformRegistration::InitTesseraLog", "VrEnvironment", vr::trace::kRunFlags);
  runLog_ = std::make_unique<VrLogFile>(nullptr, true);
  const bool belowClusterAware = serverVersionNumber_ < kClusterAwareVersion;
  const WChar* valueName = (belowClusterAware || clusterNodeState_ == -1) ? kDataDirValue : kShareInstallDirValue;
  WString folder;
  if (!ReadRegistryString(kVorantKey, valueName, folder)) {
    message = vr::msg::LoadMessage(belowClusterAware ? vr::msg::MessageId::kDataDirUndetermined : vr::msg::MessageId::kShareInstallDirUndetermined, kVorantKey, valueName);
    return false;
  }
  const WString path = folder + kRunLogName;
  runLog_->SetPath(path);
  const HRESULT hr = runLog_->OpenForWriteAsNonBuffered(true);
  if (FAILED(hr)) {
    VR_TRACE_FAILURE("OpenForWriteAsNonBuffered (\"", path, "\")", static_cast<long>(hr));
    message = vr::msg::LoadMessage(vr::msg::MessageId::kLogFileCreateFailed, path);
    return false;
  }
  VR_TRACE_INFO("Run log: \"", path, "\"");
  return true;
}

bool CVrPlatformRegistration::IsWindowsOS(int osType) const {
  const WString text = vr::text::Format(u"%d", osType);
  for (const WString& entry : windowsOsTypes_)
    if (entry == text) return true;
  return false;
}
