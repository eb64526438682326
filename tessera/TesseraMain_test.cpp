#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/qkit/qkit.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/FinalMessage.h"
#include "tessera/TesseraMain.h"
#include "tests/support/FolderFixture.h"
#include "tests/support/HostFixture.h"
#include "tests/support/HostTestSupport.h"

namespace {

// Every run that gets past the command line builds the registration object, which discovers
// its environment first: the tests run against a demo host made by vrhost, the active node of
// a cluster, so that "-cluster" fits it.
class DemoHost : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_FALSE(vr::testing::BinaryDir().empty()) << "VR_BINARY_DIR names the build tree (the test run sets it)";
    // A folder of the process's own: ctest runs the cases of this program side by side.
    folder_.emplace("tessera-main-host");
    root_ = folder_->path() + "/host";
    const vr::testing::RunResult init = vr::testing::InitHost(root_, {"--force", "--cluster", "active"});
    ASSERT_EQ(init.exitCode, 0) << "vrhost init: " << init.err;
    env_.Set("VR_HOST_ROOT", root_);
    env_.Set("PATH", vr::testing::PathWithClusterTool());
  }
  void TearDown() override {
    env_.Restore();
    folder_.reset();
  }

 private:
  std::optional<vr::testing::TempDir> folder_;
  std::string root_;
  vr::testing::ScopedEnvironment env_;
};
::testing::Environment* const kDemoHost = ::testing::AddGlobalTestEnvironment(new DemoHost);

// The usage and help texts, byte for byte.
const std::string kUsage = R"(
Usage:
tessera
  -reg <ConfigFile> -patch <PatchNumber> [-reinstall] [-sections <sections>]
   [-log <UndoFile>] [-cluster full|local]

  -unreg <UndoFile> [-cluster full|local] [-delundo]

  (-? | -help)
)";

const std::string kHelp = R"(
tessera is a command line tool used for registering/unregistering platforms
and packages as well as updating prerequisite check config file.

Tool options:

-help                Prints basic help.
-reg <ConfigFile>    Registers new platforms/packages specified in XML-based
                     <ConfigFile>.
-unreg <UndoFile>    Unregisters platforms/packages  specified in <UndoFile>.
-patch <PatchNumber> <PatchNumber>  is a string in format VRMS_xxxx  (e.g.
                     VRMS_0200).
-reinstall           This option must be specified when the patch is
                     reinstalled.
                     Failing to specify reinstall option when patch is applied
                     for second time will result in serious problems (reference
                     counters will be incremented for second time -> during
                     patch uninstallation platform objects will not be removed
                     since counters will not be decremented to 0).
-sections <sections> If this parameter is specified then only specified
                     sections are read from config file.
                     Available sections: platform, package, prereq
                     Multiple sections must be separated with "," (e.g.
                     platform,package).
-cluster full|local  If this parameter is specified tessera works in cluster
                     mode.
                     full  - all resources (shared and non-shared) are updated
                     local - only local (non-shared) resources are updated
-log <UndoFile>      If log option is provided then all changes are recorded in
                     the <UndoFile>. When patch is uninstalled al the changes
                     can be undone using <UndoFile>.
-delundo             When this option is provided then <UndoFile> is deleted
                     if unregistration is successfully ended.
)";

// A valid command line reaches the registration run, which cannot read a configuration file
// that does not exist: message 9, then the no-changes summary, exit code 52.
bool ConfigMissing(std::string err) {
  // The console wraps the text where the path's length puts the words: join the lines again.
  for (size_t p = err.find("\n          "); p != std::string::npos; p = err.find("\n          ", p))
    err.replace(p, 11, " ");
  return err.rfind("ERROR:    (TESSERA9) File '", 0) == 0 &&
         err.find("doesn't exist or could not be opened for reading.") != std::string::npos &&
         err.find("failed. Errors during initialization. No changes done.\n") != std::string::npos;
}

// An error as the console shows it (the formatter itself is checked byte for byte elsewhere).
std::string Error(const char16_t* message) {
  return vr::text::WideToUtf8(vr::console::FormatConsoleText(message, 10, 80, vr::console::kError));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class TesseraRun : public vr::testing::FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    SetEnv("LC_ALL", "C");
    CaptureConsole(vr::console::SetConsoleWriter, out, err);
  }
  void TearDown() override {
    qkit_SetTraceSink("", 0);
    FolderFixture::TearDown();
  }
  int Run(std::initializer_list<WString> words) {
    out.clear();
    err.clear();
    const int code = TesseraMain(std::vector<WString>(words));
    EXPECT_FALSE(CoIsInitialized()) << "COM left initialised";
    return code;
  }
  // A command-line error: the message, then the usage on standard output.
  void ExpectCommandLineError(std::initializer_list<WString> words, const char16_t* message) {
    EXPECT_EQ(Run(words), 50);
    EXPECT_EQ(err, Error(message));
    EXPECT_EQ(out, kUsage);
  }
  std::string out, err;
};

}  // namespace

TEST_F(TesseraRun, HelpWinsOverEverythingElse) {
  EXPECT_EQ(Run({u"-help"}), 0);
  EXPECT_EQ(out, kUsage + kHelp);
  EXPECT_EQ(err, "");
  EXPECT_EQ(Run({u"-reg", u"/a*.xml", u"-?", u"-bogus", u"x", u"y"}), 0);
  EXPECT_EQ(out, kUsage + kHelp);
  EXPECT_EQ(Run({u"-HELP", u"-unreg"}), 0);
  EXPECT_EQ(out, kUsage + kHelp);
  // The split comes first: a repeated option is still an error.
  ExpectCommandLineError({u"-help", u"-HELP"}, u"(CMDL106) Multiple '-help' options.\n");
}

TEST_F(TesseraRun, SplitErrors) {
  ExpectCommandLineError({}, u"(CMDL101) Incorrect command line syntax.\n");
  ExpectCommandLineError({u"VRMS_0200"}, u"(CMDL102) Unexpected option 'VRMS_0200'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-Reg", u"/b.xml"},
                         u"(CMDL106) Multiple '-reg' options.\n");
  ExpectCommandLineError({u"", u""}, u"(CMDL102) Unexpected option ''.\n");
}

TEST_F(TesseraRun, ValidationErrors) {
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch"}, u"(CMDL100) Incorrect number of arguments for '-patch'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml"}, u"(CMDL103) Mandatory option '-patch' missing.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-delundo"},
                         u"(CMDL102) Unexpected option '-delundo'.\n");
  // Register mode wins when both modes are given.
  ExpectCommandLineError({u"-unreg", u"/u", u"-reg", u"/a.xml", u"-patch", u"p"},
                         u"(CMDL102) Unexpected option '-unreg'.\n");
  ExpectCommandLineError({u"-patch", u"p"}, u"(CMDL104) One of '-reg, -unreg' options must be specified.\n");
  ExpectCommandLineError({u"-unreg", u"/u", u"-reinstall"}, u"(CMDL102) Unexpected option '-reinstall'.\n");
  ExpectCommandLineError({u"-unreg", u"/u", u"-delundo", u"now"},
                         u"(CMDL100) Incorrect number of arguments for '-delundo'.\n");
  // A plan changes nothing: there is no undo file to delete after it.
  ExpectCommandLineError({u"-unreg", u"/u", u"-WhatIf", u"-delundo"},
                         u"(CMDL107) Cannot combine options '-whatif, -delundo'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-whatif", u"now"},
                         u"(CMDL100) Incorrect number of arguments for '-whatif'.\n");
}

TEST_F(TesseraRun, OptionsInAnyCaseReachTheRegistration) {
  EXPECT_EQ(Run({u"-REG", u"/srv/a.xml", u"-PaTcH", u"VRMS_0200", u"-Reinstall"}), 52);
  EXPECT_TRUE(ConfigMissing(err)) << err;
  EXPECT_EQ(out, "");
  // A minus sign and a digit is a value.
  EXPECT_EQ(Run({u"-reg", u"/srv/a.xml", u"-patch", u"-5"}), 52);
  EXPECT_TRUE(ConfigMissing(err)) << err;
  EXPECT_EQ(Run({u"-unreg", u"/srv/undo.txt", u"-DelUndo", u"-cluster", u"LOCAL"}), 52);
  EXPECT_EQ(err,
            "ERROR:    (TESSERA207) Undo log file '/srv/undo.txt' doesn't exist or could not\n"
            "          be opened for reading.\n"
            "\nUnregistration failed. Errors during initialization. No changes done.\n");
}

TEST_F(TesseraRun, Sections) {
  for (const char16_t* ok : {u"PACKAGE", u"platform,Package,prereq", u"prereq"}) {
    EXPECT_EQ(Run({u"-reg", u"/a.xml", u"-patch", u"p", u"-sections", ok}), 52) << vr::text::WideToUtf8(ok);
    EXPECT_TRUE(ConfigMissing(err)) << err;
  }
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-sections", u"platform,PLATFORM"},
                         u"(TESSERA804) Parameter after -sections ('platform,PLATFORM') contains more then one "
                         u"substring 'PLATFORM'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-sections", u"platform,"},
                         u"(TESSERA805) Parameter after -sections ('platform,') contains invalid substring ''.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-sections", u"platform, package"},
                         u"(TESSERA805) Parameter after -sections ('platform, package') contains invalid substring "
                         u"' package'.\n");
}

TEST_F(TesseraRun, ClusterMode) {
  EXPECT_EQ(Run({u"-reg", u"/a.xml", u"-patch", u"p", u"-cluster", u"Full"}), 52);
  EXPECT_TRUE(ConfigMissing(err)) << err;
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-cluster", u"both"},
                         u"(TESSERA806) Parameter after -cluster ('both') can only be either 'full' or 'local'.");
  ExpectCommandLineError({u"-unreg", u"/u", u"-cluster", u"fullx"},
                         u"(TESSERA806) Parameter after -cluster ('fullx') can only be either 'full' or 'local'.");
}

TEST_F(TesseraRun, FilePaths) {
  for (const char16_t* bad : {u"/srv/a*.xml", u"/srv/a?.xml", u"/srv/a\".xml", u"/srv/a<.xml", u"/srv/a>.xml",
                              u"/srv/a|.xml"}) {
    const WString message = u"(TESSERA801) Parameter after -reg ('" + WString(bad) + u"') is not valid file path.\n";
    ExpectCommandLineError({u"-reg", bad, u"-patch", u"p"}, message.c_str());
  }
  // '/' is the separator here; '\' is taken as one too.
  EXPECT_EQ(Run({u"-reg", u"srv/conf/a.xml", u"-patch", u"p", u"-log", u"\\srv\\undo.txt"}), 52);
  EXPECT_TRUE(ConfigMissing(err)) << err;
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-log", u"/u|"},
                         u"(TESSERA801) Parameter after -log ('/u|') is not valid file path.\n");
  ExpectCommandLineError({u"-unreg", u"/u<"}, u"(TESSERA801) Parameter after -unreg ('/u<') is not valid file path.\n");
  // 259 characters fit the buffer with its terminator; 260 do not.
  EXPECT_EQ(Run({u"-unreg", u"/" + WString(258, u'u')}), 52);
  const WString tooLong = u"/" + WString(259, u'u');
  const WString message = u"(TESSERA801) Parameter after -unreg ('" + tooLong + u"') is not valid file path.\n";
  ExpectCommandLineError({u"-unreg", tooLong}, message.c_str());
  // A share cannot be reached on this host, nor can a drive: neither is a file to read (the undo
  // file's folder on a drive or share is the run's to refuse, with message 502).
  ExpectCommandLineError({u"-unreg", u"\\\\server\\share\\u"},
                         u"(TESSERA801) Parameter after -unreg ('\\\\server\\share\\u') is not valid file path.\n");
  ExpectCommandLineError({u"-reg", u"C:\\temp\\r.xml", u"-patch", u"p"},
                         u"(TESSERA801) Parameter after -reg ('C:\\temp\\r.xml') is not valid file path.\n");
  EXPECT_FALSE(std::filesystem::exists("C:"));
}

TEST_F(TesseraRun, ControlCharactersInValuesAreCommandLineErrors) {
  // Each of these values goes into a one-line field of the undo file; a line break there made
  // the undo file unreadable after a run that reported success.
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"P1\nCreatedOn=x"},
                         u"(TESSERA805) Parameter after -patch ('P1\\x0ACreatedOn=x') contains invalid substring "
                         u"'\\x0A'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"P\t1"},
                         u"(TESSERA805) Parameter after -patch ('P\\x091') contains invalid substring '\\x09'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"P\u20281"},
                         u"(TESSERA805) Parameter after -patch ('P\\x20281') contains invalid substring '\\x2028'.\n");
  ExpectCommandLineError({u"-reg", u"/a\r.xml", u"-patch", u"p"},
                         u"(TESSERA801) Parameter after -reg ('/a\\x0D.xml') is not valid file path.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", u"-log", u"/u\n.undo"},
                         u"(TESSERA801) Parameter after -log ('/u\\x0A.undo') is not valid file path.\n");
  ExpectCommandLineError({u"-unreg", u"/u\x1b.undo"},
                         u"(TESSERA801) Parameter after -unreg ('/u\\x1B.undo') is not valid file path.\n");
  // Characters beyond ASCII that are no control characters stay allowed.
  EXPECT_EQ(Run({u"-reg", u"/srv/\u00e9t\u00e9.xml", u"-patch", u"P\u00e91"}), 52);
  EXPECT_TRUE(ConfigMissing(err)) << err;
}

TEST_F(TesseraRun, HostFailures) {
  vr::fault::Configure("com.CoInitialize#1=0x8000FFFF");
  EXPECT_EQ(Run({u"-help"}), 100);
  EXPECT_EQ(err, "ERROR:    (TESSERA100) COM initialization failed.\n");
  EXPECT_EQ(out, "");
  vr::fault::Configure("os.FullPath#1");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p"},
                         u"(TESSERA801) Parameter after -reg ('/a.xml') is not valid file path.\n");
}

TEST_F(TesseraRun, LargeAndOddInput) {
  const WString value(10000, u'v');
  const WString message = u"(TESSERA801) Parameter after -reg ('" + value + u"') is not valid file path.\n";
  ExpectCommandLineError({u"-reg", value, u"-patch", u"p"}, message.c_str());
  std::vector<WString> many;
  for (int i = 0; i < 1000; ++i) many.push_back(u"-opt" + vr::text::Utf8ToWide(std::to_string(i)));
  out.clear();
  err.clear();
  EXPECT_EQ(TesseraMain(many), 50);
  EXPECT_EQ(err, Error(u"(CMDL104) One of '-reg, -unreg' options must be specified.\n"));
  // U+FFFD (what invalid UTF-8 becomes) and lone surrogates are plain characters.
  ExpectCommandLineError({u"\uFFFD"}, u"(CMDL102) Unexpected option '\uFFFD'.\n");
  ExpectCommandLineError({u"-reg", u"/a.xml", u"-patch", u"p", WString(1, u'\xD800')},
                         u"(CMDL100) Incorrect number of arguments for '-patch'.\n");
}

TEST_F(TesseraRun, TraceOfARun) {
  const std::string path = vr::testing::ScratchPath("tessera_main_trace.txt");
  std::remove(path.c_str());
  qkit_SetTraceSink(path, 0xFFFFFFFFu);
  EXPECT_EQ(Run({u"-reg", u"/a.xml"}), 50);
  qkit_SetTraceSink("", 0);
  const std::string t = ReadAll(path);
  const size_t enter = t.find("{ Enter \"main\"");
  const size_t parse = t.find("\"main\"  Start parsing cmd-line.");
  const size_t caught = t.find("\"ReportException\"  Caught cmd-line parsing exception '(CMDL103) Mandatory option "
                               "'-patch' missing.\n', returning code 50");
  const size_t exitLine = t.find("\"main\"  Exit Code = 50");
  const size_t leave = t.find("} Leave \"main\"");
  ASSERT_NE(enter, std::string::npos) << t;
  ASSERT_NE(parse, std::string::npos) << t;
  ASSERT_NE(caught, std::string::npos) << t;
  ASSERT_NE(exitLine, std::string::npos) << t;
  ASSERT_NE(leave, std::string::npos) << t;
  EXPECT_LT(enter, parse);
  EXPECT_LT(parse, caught);
  EXPECT_LT(caught, exitLine);
  EXPECT_LT(exitLine, leave);
}

// ---- The handlers of main

class Handlers : public TesseraRun {
 protected:
  int Report(std::exception_ptr e, const WString& patch = u"VRMS_0200") {
    out.clear();
    err.clear();
    return vr::front::ReportException(e, patch);
  }
};

TEST_F(Handlers, ComErrorWithItsInformation) {
  auto info = std::make_shared<ErrorInfo>();
  info->source = u"Depot";
  info->description = u"The package store is locked.";
  EXPECT_EQ(Report(std::make_exception_ptr(_com_error(E_FAIL, info))), 100);
  EXPECT_EQ(err,
            "ERROR:    (TESSERA101) COM eror occured in method 'main()'.\n"
            "          Code: -2147467259\n"
            "          Code meaning: Unspecified error\n"
            "          Source: Depot\n"
            "          Description: The package store is locked.\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(Report(std::make_exception_ptr(_com_error(MakeHr(0x80990001)))), 100);
  EXPECT_EQ(err,
            "ERROR:    (TESSERA101) COM eror occured in method 'main()'.\n"
            "          Code: -2137456639\n"
            "          Code meaning: Unknown error 0x80990001\n"
            "          Source:\n"
            "          Description:\n");
}

TEST_F(Handlers, ApplicationErrorsAndTheirSummaries) {
  vr::front::SetFinalMessage(u"Registration of patch VRMS_0200 failed. Errors during initialization. No changes done.\n");
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"Section failed.\n", 1))), 1);
  EXPECT_EQ(err, "ERROR:    Section failed.\n\nRegistration of patch VRMS_0200 failed. Rollback succeeded.\n");
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"Section failed.\n", 2))), 2);
  EXPECT_EQ(err, "ERROR:    Section failed.\n\nRegistration of patch VRMS_0200 failed. Rollback ended with errors.\n");
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"No file.\n", 52))), 52);
  EXPECT_EQ(err,
            "ERROR:    No file.\n\nRegistration of patch VRMS_0200 failed. Errors during initialization. No changes "
            "done.\n");
  vr::front::ClearFinalMessage();
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"Warnings.\n", 5))), 5);
  EXPECT_EQ(err, "ERROR:    Warnings.\n");
  EXPECT_EQ(out, "");
  // An error never leaves as success or as a code the process status would wrap.
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"Odd.\n", 0))), 100);
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"Odd.\n", 256))), 100);
  EXPECT_EQ(Report(std::make_exception_ptr(CApp_error(u"Odd.\n", -3))), 100);
}

TEST_F(Handlers, CommandLineAndUnknownExceptions) {
  EXPECT_EQ(Report(std::make_exception_ptr(CCmdline_error(u"Not on a cluster.\n", 816))), 50);
  EXPECT_EQ(err, "ERROR:    Not on a cluster.\n");
  EXPECT_EQ(out, kUsage);
  const std::string unspecified =
      "ERROR:    (TESSERA420) Unspecified error occured in method 'main()' - use\n"
      "          tracing to get more detailed information.\n";
  EXPECT_EQ(Report(std::make_exception_ptr(std::runtime_error("boom"))), 100);
  EXPECT_EQ(err, unspecified);
  EXPECT_EQ(Report(std::make_exception_ptr(42)), 100);
  EXPECT_EQ(err, unspecified);
  EXPECT_EQ(Report(nullptr), 100);
  EXPECT_EQ(err, unspecified);
}

// ---- The installed program

namespace {

struct ProgramRun {
  int code = -1;
  std::string out, err;
};

// Runs the built tessera in a folder of the test's own (to see what it leaves beside it); `env`
// entries ("NAME=value", or "NAME" to take NAME away) come on top of ours.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const char* bin = std::getenv("VR_BINARY_DIR");
  if (!bin) return {};
  const std::string dir = vr::testing::ScratchPath("tessera_program_") +
                          ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::filesystem::create_directories(dir);
  const vr::testing::RunResult r = vr::testing::RunProgram(std::string(bin) + "/tessera/tessera", args, env, {}, dir);
  return {r.exitCode, r.out, r.err};
}

}  // namespace

TEST(TesseraProgram, ExitCodesAndStreams) {
  ASSERT_NE(std::getenv("VR_BINARY_DIR"), nullptr);
  ProgramRun help = RunProgram({"-help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out, kUsage + kHelp);
  EXPECT_EQ(help.err, "");
  ProgramRun none = RunProgram({});
  EXPECT_EQ(none.code, 50);
  EXPECT_EQ(none.out, kUsage);
  EXPECT_EQ(none.err, "ERROR:    (CMDL101) Incorrect command line syntax.\n");
  ProgramRun reg = RunProgram({"-reg", "conf.xml", "-patch", "VRMS_0200"});
  EXPECT_EQ(reg.code, 52);
  EXPECT_TRUE(ConfigMissing(reg.err)) << reg.err;
}

TEST(TesseraProgram, ArgumentsThatAreNotUtf8) {
  ASSERT_NE(std::getenv("VR_BINARY_DIR"), nullptr);
  ProgramRun r = RunProgram({"\xFF\xFE"});
  EXPECT_EQ(r.code, 50);
  EXPECT_EQ(r.err, "ERROR:    (CMDL102) Unexpected option '\xEF\xBF\xBD\xEF\xBF\xBD'.\n");
  ProgramRun value = RunProgram({"-reg", "/a\xFF.xml", "-patch", "p"});
  EXPECT_EQ(value.code, 52);
  ProgramRun empty = RunProgram({"", "-reg"});
  EXPECT_EQ(empty.code, 50);
  EXPECT_EQ(empty.err, "ERROR:    (CMDL102) Unexpected option ''.\n");
}

TEST(TesseraProgram, TraceFileOnlyWhenAsked) {
  ASSERT_NE(std::getenv("VR_BINARY_DIR"), nullptr);
  const std::string path = vr::testing::ScratchPath("tessera_program_trace.txt");
  std::remove(path.c_str());
  ProgramRun traced = RunProgram({"-unreg"}, {"VR_TRACE=" + path});
  EXPECT_EQ(traced.code, 50);
  const std::string t = ReadAll(path);
  EXPECT_NE(t.find("{ Enter \"main\""), std::string::npos) << t;
  EXPECT_NE(t.find("Start parsing cmd-line."), std::string::npos) << t;
  EXPECT_NE(t.find("Exit Code = 50"), std::string::npos) << t;
  EXPECT_NE(t.find("} Leave \"main\""), std::string::npos) << t;
  // Errors only: no block or progress lines.
  std::remove(path.c_str());
  EXPECT_EQ(RunProgram({"-unreg"}, {"VR_TRACE=" + path, "VR_TRACE_MASK=4"}).code, 50);
  const std::string errorsOnly = ReadAll(path);
  EXPECT_NE(errorsOnly.find("Caught cmd-line parsing exception"), std::string::npos) << errorsOnly;
  EXPECT_EQ(errorsOnly.find("Start parsing cmd-line."), std::string::npos) << errorsOnly;
  EXPECT_EQ(errorsOnly.find("Enter"), std::string::npos) << errorsOnly;
  // Without VR_TRACE nothing is written, neither to the last trace file nor beside the run.
  const size_t before = ReadAll(path).size();
  EXPECT_EQ(RunProgram({"-unreg"}, {"VR_TRACE"}).code, 50);
  EXPECT_EQ(ReadAll(path).size(), before);
  const std::string dir = vr::testing::ScratchPath("tessera_program_TraceFileOnlyWhenAsked");
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "out.txt" || name == "err.txt" || name == "rc.txt") << name;
  }
}
