// The command line: every argument count, the forms that pair, and the error each wrong one
// prints before the usage statement.
#include <gtest/gtest.h>

#include "mordant/MordantMain.h"
#include "mordant/PlatformInfo.h"
#include "platform/text/convert.h"

namespace {

struct ParsedT {
  bool run = false;
  int exitCode = -1;
  RunRequestT request;
  std::string out, err;
};

ParsedT Parse(std::vector<std::string> args) {
  std::vector<WString> wide;
  for (const auto& a : args) wide.push_back(vr::text::Utf8ToWide(a));
  ParsedT p;
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  p.run = ParseCommandLine(wide, &p.request, &p.exitCode);
  p.out = ::testing::internal::GetCapturedStdout();
  p.err = ::testing::internal::GetCapturedStderr();
  return p;
}

std::string Opt(const std::optional<WString>& s) { return s ? vr::text::WideToUtf8(*s) : "<none>"; }

TEST(MordantCmdline, RequestsThatRun) {
  const struct {
    std::vector<std::string> args;
    int action;
    std::string input, undo, log;
  } cases[] = {
      {{"-aplat.txt"}, eADD, "plat.txt", "<none>", "<none>"},
      {{"/Aplat.txt"}, eADD, "plat.txt", "<none>", "<none>"},
      {{"-rplat.txt"}, eREMOVE, "plat.txt", "<none>", "<none>"},
      {{"/cplat.txt"}, eCHECK, "plat.txt", "<none>", "<none>"},
      {{"-d"}, eDUMP, "<none>", "<none>", "<none>"},
      {{"/D"}, eDUMP, "<none>", "<none>", "<none>"},
      {{"--DUMP"}, eDUMP, "<none>", "<none>", "<none>"},
      {{"-aplat.txt", "-lchanges.log"}, eADD, "plat.txt", "<none>", "changes.log"},
      {{"/aplat.txt", "/Uundo.mof"}, eADD, "plat.txt", "undo.mof", "<none>"},
      {{"-rplat.txt", "-uundo.mof"}, eREMOVE, "plat.txt", "undo.mof", "<none>"},
      {{"--add", "plat.txt"}, eADD, "plat.txt", "<none>", "<none>"},
      {{"/r", "plat.txt"}, eREMOVE, "plat.txt", "<none>", "<none>"},
      {{"-C", "plat.txt"}, eCHECK, "plat.txt", "<none>", "<none>"},
      {{"--add", "plat.txt", "--log", "c.log"}, eADD, "plat.txt", "<none>", "c.log"},
      {{"-a", "plat.txt", "-u", "u.mof"}, eADD, "plat.txt", "u.mof", "<none>"},
      {{"/R", "plat.txt", "/u", "u.mof"}, eREMOVE, "plat.txt", "u.mof", "<none>"},
  };
  for (const auto& c : cases) {
    const ParsedT p = Parse(c.args);
    ASSERT_TRUE(p.run) << c.args[0] << p.err;
    EXPECT_EQ(p.request.action, c.action) << c.args[0];
    EXPECT_EQ(Opt(p.request.inputFile), c.input) << c.args[0];
    EXPECT_EQ(Opt(p.request.undoMof), c.undo) << c.args[0];
    EXPECT_EQ(Opt(p.request.changeLog), c.log) << c.args[0];
    EXPECT_EQ(p.err, "");
  }
}

TEST(MordantCmdline, UsageOnRequestGoesToStandardOutput) {
  for (const char* a : {"--usage", "--HELP", "-h", "/H", "-?", "/?"}) {
    const ParsedT p = Parse({a});
    EXPECT_FALSE(p.run);
    EXPECT_EQ(p.exitCode, 0);
    EXPECT_EQ(p.err, "");
    EXPECT_EQ(p.out.rfind("-----------------------------------------------------------------------------\n"
                          "mordant.exe\n  Version            : 1.1.0.2\n  Date and Time Built: ",
                          0),
              0u);
    EXPECT_NE(p.out.find("\n mordant - vers 1.1.0.2 - built "), std::string::npos);
    EXPECT_NE(p.out.find("           OS-VERSION   : <version-number> , <value> ;\n"), std::string::npos);
  }
  const ParsedT none = Parse({});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err.rfind("-----", 0), 0u);
}

TEST(MordantCmdline, ErrorsPrintTheUsageOnStandardError) {
  const std::string invalid = "\nERROR: An invalid combination of arguments was specified.\n";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-a"}, "\nERROR: Argument missing after \"-a\"\n"},
      {{"/r"}, "\nERROR: Argument missing after \"/r\"\n"},
      {{"--check"}, "\nERROR: Argument missing after \"--check\"\n"},
      {{"-dx"}, "\nERROR: \"-d\" does not take an argument.\n"},
      {{"--frob"}, "\nERROR: \"--frob\" is an invalid argument.\n"},
      {{""}, "\nERROR: \"\" is an invalid argument.\n"},
      {{"-aplat.txt", "/lchanges.log"}, invalid},
      {{"-aplat.txt", "-l"}, invalid},
      {{"-cplat.txt", "-uundo.mof"}, invalid},
      {{"--dump", "extra"}, invalid},
      {{"", ""}, invalid},
      {{"--add", "plat.txt", "-l"}, invalid},
      {{"--add", "plat.txt", "-l", "changes.log"}, invalid},
      {{"-a", "plat.txt", "/u", "u.mof"}, invalid},
      {{"--remove", "plat.txt", "--log", "c.log"}, invalid},
      {{"--add", "plat.txt", "--log", "a.log", "--undo", "b.mof"}, "\nERROR: Too many arguments specified!\n"},
  };
  for (const auto& c : cases) {
    const ParsedT p = Parse(c.args);
    EXPECT_FALSE(p.run);
    EXPECT_EQ(p.exitCode, 1);
    EXPECT_EQ(p.out, "");
    EXPECT_EQ(p.err.substr(0, c.message.size()), c.message) << c.args[0];
    EXPECT_NE(p.err.find("mordant.exe\n", c.message.size()), std::string::npos);
  }
}

TEST(MordantCmdline, ExitStatusOfAResult) {
  EXPECT_EQ(ExitStatusOf(0), 0);
  EXPECT_EQ(ExitStatusOf(1), 1);
  EXPECT_EQ(ExitStatusOf(static_cast<int>(0x80004005u)), 5);    // E_FAIL
  EXPECT_EQ(ExitStatusOf(static_cast<int>(0x8000FFFFu)), 255);  // E_UNEXPECTED
  EXPECT_EQ(ExitStatusOf(static_cast<int>(0x80041100u)), 1);    // low byte 0 would read as success
}

}  // namespace
