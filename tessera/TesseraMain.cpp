#include "tessera/TesseraMain.h"

#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/os/hostroot.h"
#include "platform/os/path.h"
#include "platform/text/convert.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/AppErrors.h"
#include "tessera/Cmdline.h"
#include "tessera/CmdlineValues.h"
#include "tessera/Console.h"
#include "tessera/FinalMessage.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"
#include "tessera/Usage.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tessera/XmlParser/XmlReader.h"
#include "vr_version.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace vr::front {
namespace {

constexpr int kAllSections = vr::undo::kSectionPackages | vr::undo::kSectionPlatforms | vr::undo::kSectionPrereq;
constexpr int kClusterNone = 0;
constexpr int kClusterFull = 1;
constexpr int kClusterLocal = 2;

[[noreturn]] void ThrowStatus(int status, const WString& word) {
  throw CCmdline_error(LoadMessage(CCmdline::StatusToMessageId(status), word), status);
}

// A bad option value: the message, with the message's number as the error's code.
template <class... A>
[[noreturn]] void ThrowBadValue(MessageId id, const A&... args) {
  throw CCmdline_error(LoadMessage(id, args...), static_cast<int>(vr::msg::ToNumber(id)));
}

void ValidateOrThrow(const CCmdline& cmdline, const vr::cmdline::OptionTable& table) {
  WString names;
  const int status = vr::cmdline::Validate(cmdline, table, names);
  if (status < 0) ThrowStatus(status, names);
}

// The value of a file option as an absolute path. The path must fit the 260-character buffer
// and hold none of the characters a path may not contain, nor a control character (the path
// goes into one-line fields of the undo file and the run log). This host has no drives and no
// shares: such a path is no valid file to read; as the undo file's path (folder) it stays as
// given, and the run reports that its drive or share cannot be entered.
WString CheckedFullPath(const CCmdline& cmdline, const char16_t* option, bool folderToEnter = false) {
  VR_TRACE_FUNCTION("CheckedFullPath", "tessera", vr::trace::kRunFlags);
  const WString& value = cmdline.Value(option);
  WString full;
  if (vr::cmdline::IsOnDriveOrShare(value) && !folderToEnter) {
    VR_TRACE_ERROR("Value of ", option, " ('", value, "') names a drive or a share.");
    ThrowBadValue(MessageId::kParameterNotFilePath, option, vr::cmdline::ShowControlCharacters(value));
  }
  const bool foreign = vr::cmdline::IsOnDriveOrShare(value) && value.size() + 1 <= vr::os::kMaxPath;
  if (foreign) full = value;
  if (vr::cmdline::HasControlCharacter(value) ||
      (!foreign && !vr::os::FullPath(value, full, vr::os::kMaxPath)) || vr::os::HasInvalidPathChar(full)) {
    const WString shown = vr::cmdline::ShowControlCharacters(value);
    VR_TRACE_ERROR("Value of ", option, " ('", shown, "') is not a valid file path.");
    ThrowBadValue(MessageId::kParameterNotFilePath, option, shown);
  }
  VR_TRACE_INFO(option, " -> \"", full, "\"");
  return full;
}

// "-sections": a comma-separated list of package, platform and prereq, each at most once.
int SectionsMask(const WString& value) {
  VR_TRACE_FUNCTION("SectionsMask", "tessera", vr::trace::kRunFlags);
  int mask = vr::undo::kSectionsGiven;
  size_t pos = 0;
  while (true) {
    const size_t comma = value.find(u',', pos);
    const WString piece = value.substr(pos, comma == WString::npos ? WString::npos : comma - pos);
    int bit = 0;
    if (vr::text::EqualsNoCase(piece, u"package")) bit = vr::undo::kSectionPackages;
    else if (vr::text::EqualsNoCase(piece, u"platform")) bit = vr::undo::kSectionPlatforms;
    else if (vr::text::EqualsNoCase(piece, u"prereq")) bit = vr::undo::kSectionPrereq;
    if (bit == 0) ThrowBadValue(MessageId::kParameterInvalidSubstring, u"-sections", value, piece);
    if (mask & bit) ThrowBadValue(MessageId::kParameterRepeatedSubstring, u"-sections", value, piece);
    mask |= bit;
    if (comma == WString::npos) break;
    pos = comma + 1;
  }
  VR_TRACE_INFO("Sections mask = ", mask);
  return mask;
}

int ClusterMode(const CCmdline& cmdline) {
  if (!cmdline.HasOption(u"-cluster")) return kClusterNone;
  const WString& value = cmdline.Value(u"-cluster");
  if (vr::text::EqualsNoCase(value, u"full")) return kClusterFull;
  if (vr::text::EqualsNoCase(value, u"local")) return kClusterLocal;
  ThrowBadValue(MessageId::kParameterNotFullOrLocal, u"-cluster", value);
}

// Every run reads and changes the stores of the host at the host root. Without a host there
// (never made, or VR_HOST_ROOT naming the wrong folder) the run stops before it opens any
// store, so that nothing is made there, and says which root it looked at.
void RequireHost() {
  VR_TRACE_FUNCTION("RequireHost", "tessera", vr::trace::kRunFlags);
  if (vr::os::HostExists()) return;
  const WString root = vr::text::Utf8ToWide(vr::os::HostRoot());
  VR_TRACE_ERROR("There is no host at \"", root, "\".");
  throw CApp_error(LoadMessage(MessageId::kNoHost, root), kExitFailure);
}

// A failed construction: status 50 is a command line that does not fit the system; any other
// status ends the run with that exit code and the final message.
void CheckConstruction(int status, const WString& message, const WString& finalMessage) {
  if (status == 0) return;
  if (status == kExitCommandLine) throw CCmdline_error(message, kExitCommandLine);
  SetFinalMessage(finalMessage);
  throw CApp_error(message, status);
}

int RegisterMode(const CCmdline& cmdline, WString& patch) {
  VR_TRACE_FUNCTION("RegisterMode", "tessera", vr::trace::kRunFlags);
  ValidateOrThrow(cmdline, vr::cmdline::kRegisterTable);
  const WString configFile = CheckedFullPath(cmdline, u"-reg");
  patch = cmdline.Value(u"-patch");
  // The patch goes into the "Patch=" line of the undo file: a line break would end that line.
  if (const size_t at = vr::cmdline::FindControlCharacter(patch); at != WString::npos) {
    const WString shown = vr::cmdline::ShowControlCharacters(patch);
    const WString character = vr::cmdline::ShowControlCharacters(WStringView(patch).substr(at, 1));
    ThrowBadValue(MessageId::kParameterInvalidSubstring, u"-patch", shown, character);
  }
  const bool reinstall = cmdline.HasOption(u"-reinstall");
  const WString undoFile = cmdline.HasOption(u"-log") ? CheckedFullPath(cmdline, u"-log", true) : WString();
  const int sections = cmdline.HasOption(u"-sections") ? SectionsMask(cmdline.Value(u"-sections")) : kAllSections;
  const int clusterMode = ClusterMode(cmdline);
  const bool plan = cmdline.HasOption(u"-whatif");
  VR_TRACE_INFO("Register: patch '", patch, "', reinstall ", static_cast<int>(reinstall), ", cluster mode ", clusterMode);
  RequireHost();

  WString message;
  int status = 0;
  CVrPlatformRegistration registration(clusterMode, nullptr, message, status);
  CheckConstruction(status, message, LoadMessage(MessageId::kRegInitFailed, patch));
  registration.SetPlanOnly(plan);
  return registration.RegisterPlatform(configFile, patch, reinstall, undoFile, sections);
}

int UnregisterMode(const CCmdline& cmdline) {
  VR_TRACE_FUNCTION("UnregisterMode", "tessera", vr::trace::kRunFlags);
  ValidateOrThrow(cmdline, vr::cmdline::kUnregisterTable);
  const WString undoFile = CheckedFullPath(cmdline, u"-unreg");
  const int clusterMode = ClusterMode(cmdline);
  const bool deleteUndo = cmdline.HasOption(u"-delundo");
  const bool plan = cmdline.HasOption(u"-whatif");
  VR_TRACE_INFO("Unregister: delete undo file ", static_cast<int>(deleteUndo), ", cluster mode ", clusterMode);
  RequireHost();

  WString message;
  int status = 0;
  CVrPlatformRegistration registration(clusterMode, nullptr, message, status);
  CheckConstruction(status, message, LoadMessage(MessageId::kUnregInitFailed, undoFile));
  registration.SetPlanOnly(plan);
  return registration.UnregisterPlatform(undoFile, deleteUndo);
}

// A summary printed after the error, on standard error, below a blank line.
void PrintSummary(const WString& text) { vr::console::WriteStderr(u"\n" + text); }

// A registration file the XML parser refused: its reason, with the file and line where the
// parser stopped (the DTD's, when the fault is there), follows the error on the same stream.
void PrintXmlRejection() {
  const CXmlReader::Rejection& rejection = CXmlReader::LastRejection();
  if (rejection.reason.empty()) return;
  const WString text = rejection.line > 0 ? LoadMessage(MessageId::kXmlParserStoppedAtLine, rejection.file, rejection.line, rejection.reason)
                                          : LoadMessage(MessageId::kXmlParserStopped, rejection.file, rejection.reason);
  vr::console::PrintConsoleText(text, vr::console::kError);
}

}  // namespace

int ReportException(std::exception_ptr error, const WString& patch, bool plan) {
  VR_TRACE_FUNCTION("ReportException", "tessera", vr::trace::kRunFlags);
  int exitCode = kExitFailure;
  try {
    if (error) std::rethrow_exception(error);
    throw std::exception();
  } catch (const _com_error& e) {
    WString text = LoadMessage(MessageId::kComErrorInMethod, u"main()");
    text += LoadMessage(MessageId::kComErrorCode) + vr::text::Format(u"%d", static_cast<int>(e.Error())) + u"\n";
    text += LoadMessage(MessageId::kComErrorMeaning) + e.ErrorMessage() + u"\n";
    text += LoadMessage(MessageId::kComErrorSource) + e.Source() + u"\n";
    text += LoadMessage(MessageId::kComErrorDescription) + e.Description();
    vr::console::PrintConsoleText(text, vr::console::kError);
    exitCode = kExitFailure;
    VR_TRACE_ERROR("Caught COM exception '", text, "', returning code ", exitCode);
  } catch (const CCmdline_error& e) {
    vr::console::PrintConsoleText(e.Message(), vr::console::kError);
    vr::console::PrintConsoleText(UsageText(), vr::console::kPlain);
    exitCode = kExitCommandLine;
    VR_TRACE_ERROR("Caught cmd-line parsing exception '", e.Message(), "', returning code ", exitCode);
  } catch (const CApp_error& e) {
    // A rollback that went well has no error text of its own; its summary follows.
    if (!e.Message().empty()) vr::console::PrintConsoleText(e.Message(), vr::console::kError);
    exitCode = e.ExitCode();
    if (exitCode == kExitConfiguration) PrintXmlRejection();
    // An error never leaves as success, nor as a code the process status cannot carry.
    if (exitCode <= 0 || exitCode > 255) exitCode = kExitFailure;
    if (exitCode == kExitRollbackSucceeded) PrintSummary(LoadMessage(MessageId::kRegFailedRollbackSucceeded, patch));
    else if (exitCode == kExitRollbackFailed) PrintSummary(LoadMessage(MessageId::kRegFailedRollbackErrors, patch));
    else if (!FinalMessage().empty()) PrintSummary(FinalMessage());
    VR_TRACE_ERROR("Caught application exception '", e.Message(), "', returning code ", exitCode);
  } catch (...) {
    vr::console::PrintConsoleText(LoadMessage(MessageId::kUnspecifiedError, u"main()"), vr::console::kError);
    exitCode = kExitFailure;
    VR_TRACE_ERROR("Caught an unhandled exception, returning code ", exitCode);
  }
  // A plan that meets a failure the real run would meet says that the real run stops there;
  // a command-line error is the plan's own.
  if (plan && exitCode != kExitCommandLine) vr::console::WriteStdout(LoadMessage(MessageId::kPlanRunWouldStop));
  return exitCode;
}

}  // namespace vr::front

int TesseraMain(const std::vector<WString>& args) {
  VR_TRACE_FUNCTION("main", "tessera", vr::trace::kRunFlags);
  using namespace vr::front;
  ClearFinalMessage();
  CXmlReader::ClearLastRejection();
  bool comInitialised = false;
  WString patch;
  bool planRun = false;
  int exitCode = kExitFailure;
  try {
    try {
      const HRESULT hr = CoInitialize(nullptr);
      if (FAILED(hr)) {
        VR_TRACE_FAILURE("CoInitialize", static_cast<long>(hr));
        throw CApp_error(LoadMessage(MessageId::kComInitFailed), kExitFailure);
      }
      comInitialised = true;

      VR_TRACE_INFO("Start parsing cmd-line.");
      const CCmdline cmdline(args);
      if (cmdline.Status() < 1) ThrowStatus(cmdline.Status(), cmdline.Word());

      if (cmdline.HasOption(u"-help") || cmdline.HasOption(u"-?")) {
        vr::console::PrintConsoleText(UsageText(), vr::console::kPlain);
        vr::console::PrintConsoleText(HelpText(), vr::console::kPlain);
        exitCode = kExitSuccess;
      } else if (cmdline.HasOption(u"--version")) {
        vr::console::PrintConsoleText(u"tessera " + vr::text::Utf8ToWide(VR_PACKAGE_VERSION) + u"\n",
                                      vr::console::kPlain);
        exitCode = kExitSuccess;
      } else if (cmdline.HasOption(u"-reg") || cmdline.HasOption(u"-unreg")) {
        planRun = cmdline.HasOption(u"-whatif");
        exitCode = cmdline.HasOption(u"-reg") ? RegisterMode(cmdline, patch) : UnregisterMode(cmdline);
      } else {
        // Neither mode: the group check reports that one of them is needed.
        WString names;
        ThrowStatus(vr::cmdline::Validate(cmdline, vr::cmdline::kNeitherTable, names), names);
      }
    } catch (...) {
      exitCode = ReportException(std::current_exception(), patch, planRun);
    }
  } catch (...) {
    // Reporting itself failed (out of memory): the run still ends with a failure code.
    exitCode = kExitFailure;
  }
  if (comInitialised) CoUninitialize();
  VR_TRACE_INFO("Exit Code = ", exitCode);
  return exitCode;
}
