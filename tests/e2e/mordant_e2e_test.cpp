// End to end: mordant on hosts made by vrhost init, with vrhost wmi import and export to check
// what it changed and that its undo MOF puts VR_ManagedNode back.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ReadFileBytes;
using vr::testing::RunProgram;
using vr::testing::RunResult;
using vr::testing::TempDir;
using vr::testing::WriteFileBytes;

namespace {

const std::string kSuccess = "\n\nSUCCESS: mordant completed successfully!\n\n";
const std::string kFailure = "\n***\n*** FAILURE: mordant terminated due to errors!\n***\n\n";

// The update file of the encoding tests, as UTF-8 text with CR LF line ends.
const std::string kRiscV =
    "# RISC-V support\r\n"
    "SYSTEM-TYPE: RISC-V Ga\xC3\xABl \xF0\x9D\x84\x9E, 8;\r\n"
    "OS-TYPE: FreeBSD \xCE\xA9, 12;   OS-TYPE: Linux, 6;  # known already\r\n"
    "SYSTEM-CPU-OS: RISCV, 6, 12;\r\n"
    "OS-VERSION: 13.2 \xF0\x9F\x98\x80, 12132;\r\n"
    "OS-VERSION: 6.1, 6610;\r\n";
// The same for a Latin-1 locale: only characters that it has.
const std::string kRiscVLatin1 =
    "SYSTEM-TYPE: RISC-V Ga\xEBl, 8;\r\nOS-TYPE: FreeBSD \xE9t\xE9, 12;\r\nOS-TYPE: Linux, 6;\r\nSYSTEM-CPU-OS: RISCV, 6, 12;\r\n"
    "OS-VERSION: 13.2, 12132;\r\nOS-VERSION: 6.1, 6610;\r\n";

std::string Utf16(const std::string& utf8, bool bigEndian) {
  const WString w = vr::text::Utf8ToWide(utf8);
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (WChar c : w) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

class MordantE2e : public ::testing::Test {
 public:
  void SetUp() override {
    const RunResult r = Vrhost({"init"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  RunResult Vrhost(std::vector<std::string> args) { return RunProgram(VRHOST, args, {"VR_HOST_ROOT=" + host_}); }
  RunResult Mordant(std::vector<std::string> args, std::vector<std::string> env = {}) {
    env.push_back("VR_HOST_ROOT=" + host_);
    env.push_back("VR_FAULTS=");
    if (std::none_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("LC_ALL=", 0) == 0; }))
      env.push_back("LC_ALL=C.UTF-8");
    return RunProgram(MORDANT, args, env);
  }
  std::string Export() {
    const RunResult r = Vrhost({"wmi", "export", "VR_ManagedNode"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  std::string Dump() {
    const RunResult r = Mordant({"-d"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, kSuccess);
    return r.out;
  }
  std::string File(const std::string& name, const std::string& bytes) {
    WriteFileBytes(dir_ / name, bytes);
    return dir_ / name;
  }

  TempDir dir_{"vrmordant"};
  std::string host_ = dir_ / "host";
};

// Adds kRiscV (in some encoding) with an undo MOF, checks the model, puts it back with the
// undo MOF, then adds it again with a change log that passes the check.
void AddUndoAndLog(MordantE2e* t, const std::string& input, const std::vector<std::string>& env, bool latin1) {
  const std::string before = t->Export();
  const std::string undo = input + ".undo.mof", log = input + ".log";
  RunResult r = t->Mordant({"--add", input, "--undo", undo}, env);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kSuccess);
  EXPECT_EQ(r.err, "");
  const std::string dump = t->Mordant({"-d"}, env).out;
  // The dump is in the locale's character set, as the input it reads back.
  EXPECT_NE(dump.find(latin1 ? "SYSTEM-TYPE: RISC-V Ga\xEBl         ,     8;\n"
                             : "SYSTEM-TYPE: RISC-V Ga\xC3\xABl \xF0\x9D\x84\x9E      ,     8;\n"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("SYSTEM-CPU-OS: RISCV   , 6, 12;\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find(latin1 ? "OS-VERSION: 13.2        ,    12132;\n"
                             : "OS-VERSION: 13.2 \xF0\x9F\x98\x80     ,    12132;\n"),
            std::string::npos)
      << dump;
  // In numeric order: 6610 after 6260.
  EXPECT_LT(dump.find("6260;"), dump.find("6610;"));

  // The undo MOF is UTF-16 and vrhost wmi import takes it: the class is as it was.
  const std::string mof = ReadFileBytes(undo);
  ASSERT_EQ(mof.substr(0, 2), "\xFF\xFE");
  r = t->Vrhost({"wmi", "import", undo});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(t->Export(), before);

  r = t->Mordant({"-a" + input, "-l" + log}, env);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string logText = ReadFileBytes(log);
  EXPECT_NE(logText.find("#   while processing updates from \"" + input + "\"\n"), std::string::npos) << logText;
  EXPECT_NE(logText.find("SYSTEM-CPU-OS: RISCV, 6, 12;  # added\n"), std::string::npos) << logText;
  EXPECT_NE(logText.find("# OS-TYPE: Linux, 6 -- already existed.\n"), std::string::npos) << logText;
  r = t->Mordant({"-c", log}, env);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\n\"" + log + "\" passes compliance checks.\n" + kSuccess);
}

TEST_F(MordantE2e, AddsFromUtf16LittleEndian) { AddUndoAndLog(this, File("le.txt", Utf16(kRiscV, false)), {}, false); }
TEST_F(MordantE2e, AddsFromUtf16BigEndian) { AddUndoAndLog(this, File("be.txt", Utf16(kRiscV, true)), {}, false); }
TEST_F(MordantE2e, AddsFromUtf8WithItsMark) { AddUndoAndLog(this, File("u8.txt", "\xEF\xBB\xBF" + kRiscV), {}, false); }
// Without a mark the file is the locale's multibyte text, here UTF-8.
TEST_F(MordantE2e, AddsFromUtf8WithoutAMark) { AddUndoAndLog(this, File("u8n.txt", kRiscV), {}, false); }

// A Latin-1 locale made for the test with localedef; empty when the system cannot make one.
std::string MakeLatin1Locale(const std::string& folder, std::string* why) {
  std::filesystem::create_directories(folder);
  const RunResult made =
      RunProgram("/usr/bin/localedef", {"-i", "fr_FR", "-f", "ISO-8859-1", folder + "/fr_FR.ISO-8859-1"});
  if (made.exitCode != 0) {
    *why = "localedef cannot make a Latin-1 locale here (the package locales is missing?): " + made.err;
    return {};
  }
  return folder;
}

// The environment of a run in that locale. glibc's setlocale leaks its copy of LOCPATH, which
// is none of ours.
std::vector<std::string> Latin1Env(const std::string& locales) {
  return {"LOCPATH=" + locales, "LC_ALL=fr_FR.ISO-8859-1", "ASAN_OPTIONS=detect_leaks=0"};
}

TEST_F(MordantE2e, AddsFromALatin1Locale) {
  std::string why;
  const std::string locales = MakeLatin1Locale(dir_ / "locales", &why);
  if (locales.empty()) GTEST_SKIP() << why;
  AddUndoAndLog(this, File("latin1.txt", kRiscVLatin1), Latin1Env(locales), true);
  // The change log is in the locale's encoding too.
  EXPECT_NE(ReadFileBytes(dir_ / "latin1.txt.log").find("OS-TYPE: FreeBSD \xE9t\xE9, 12;  # added.\n"),
            std::string::npos);
}

// Under a Latin-1 locale the dump is Latin-1, so adding it back changes nothing; the console
// shows descriptions in Latin-1 too; and a model with text that Latin-1 does not have is not
// dumped at all rather than dumped with that text changed.
TEST_F(MordantE2e, ADumpReadsBackUnchangedUnderALatin1Locale) {
  std::string why;
  const std::string locales = MakeLatin1Locale(dir_ / "locales", &why);
  if (locales.empty()) GTEST_SKIP() << why;
  const std::vector<std::string> latin1 = Latin1Env(locales);
  ASSERT_EQ(Mordant({"-a" + File("latin1.txt", kRiscVLatin1)}, latin1).exitCode, 0);
  const std::string before = Export();
  RunResult r = Mordant({"--dump"}, latin1);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("OS-TYPE: FreeBSD \xE9t\xE9         ,    12;\n"), std::string::npos) << r.out;
  r = Mordant({"--add", File("dump.txt", r.out), "--log", dir_ / "dump.log"}, latin1);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "\nWARNING: No updates were made, because the model already\n  contained all of the updates.\n");
  EXPECT_EQ(Export(), before);

  r = Mordant({"-a" + File("renamed.txt", "SYSTEM-TYPE: RISC-V \xE9, 8;\n")}, latin1);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("    from \"RISC-V Ga\xEBl\"\n      to \"RISC-V \xE9\"\n"), std::string::npos) << r.err;

  // Omega is not Latin-1: the dump is refused, with the text shown as the console can.
  ASSERT_EQ(Mordant({"-a" + File("omega.txt", "OS-TYPE: Ohm \xCE\xA9, 14;\n")}).exitCode, 0);
  r = Mordant({"-d"}, latin1);
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("  The model holds text that the character set of the locale (ISO-8859-1) does not have:\n"
                       "    \"Ohm ?\"\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - kFailure.size()), kFailure);
}

TEST_F(MordantE2e, ADumpReadBackChangesNothing) {
  const std::string before = Export();
  const std::string dump = File("dump.txt", Dump());
  const RunResult r = Mordant({"--add", dump, "--log", dir_ / "dump.log"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "\nWARNING: No updates were made, because the model already\n  contained all of the updates.\n");
  EXPECT_EQ(Export(), before);
  const std::vector<std::string> log = Lines(ReadFileBytes(dir_ / "dump.log"));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "# No upadates or additions were necessary!");
}

TEST_F(MordantE2e, RemovesOsVersionsAndPutsThemBack) {
  const std::string before = Export();
  const std::string input = File("remove.txt", "OS-VERSION: 2.4, 6240;\nOS-VERSION: 5.1, 7510;\nOS-VERSION: 9.9, 6999;\n");
  RunResult r = Mordant({"-r" + input, "-u" + (dir_ / "remove.mof")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("The OsVersion number 6999, which represents version \"9.9\", does\n"), std::string::npos);
  const std::string dump = Dump();
  EXPECT_EQ(dump.find("6240;"), std::string::npos);
  EXPECT_EQ(dump.find("7510;"), std::string::npos);
  EXPECT_NE(dump.find("6260;"), std::string::npos);
  const std::string mof = ReadFileBytes(dir_ / "remove.mof");
  const std::string text = vr::text::WideToUtf8(WString(reinterpret_cast<const char16_t*>(mof.data() + 2), (mof.size() - 2) / 2));
  EXPECT_NE(text.find("//   while processing removes from \"" + input + "\"\r\n"), std::string::npos);
  ASSERT_EQ(Vrhost({"wmi", "import", dir_ / "remove.mof"}).exitCode, 0);
  EXPECT_EQ(Export(), before);

  // A version whose number exists with another text: the whole remove fails, nothing changes.
  r = Mordant({"--remove", File("clash.txt", "OS-VERSION: 2.4, 6240;\nOS-VERSION: 2.5, 6260;\n")});
  EXPECT_EQ(r.exitCode, 5);  // E_FAIL's low byte
  EXPECT_NE(r.err.find("No changes will be made.\n"), std::string::npos);
  EXPECT_NE(r.err.find(kFailure), std::string::npos);
  EXPECT_EQ(Export(), before);
}

// Removing every OS version there is removes them all: the model then has none, which the
// next runs read, and the undo MOF puts them back.
TEST_F(MordantE2e, RemovingEveryOsVersionRemovesThemAll) {
  const std::string before = Export();
  std::string versions;
  for (const std::string& line : Lines(Dump()))
    if (line.rfind("OS-VERSION:", 0) == 0) versions += line + "\n";
  ASSERT_EQ(std::count(versions.begin(), versions.end(), '\n'), 17);
  RunResult r = Mordant({"--remove", File("all.txt", versions), "--undo", dir_ / "all.mof"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, kSuccess);
  EXPECT_EQ(Dump().find("OS-VERSION:"), std::string::npos);
  EXPECT_NE(Export().find("Values{}: ToInstance ToSubclass, ValueMap{}: ToInstance ToSubclass]"), std::string::npos);
  // Removing them again finds none, and says so.
  r = Mordant({"--remove", dir_ / "all.txt"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.err.find("No OSVersions were removed"), std::string::npos);
  // A version can be added to the empty list; the undo MOF puts every one back.
  ASSERT_EQ(Mordant({"-a" + File("one.txt", "OS-VERSION: 2.4, 6240;\n")}).exitCode, 0);
  EXPECT_NE(Dump().find("OS-VERSION: 2.4         ,     6240;\n"), std::string::npos);
  ASSERT_EQ(Vrhost({"wmi", "import", dir_ / "all.mof"}).exitCode, 0);
  EXPECT_EQ(Export(), before);
}

TEST_F(MordantE2e, ChecksThatPassAndFail) {
  const std::string before = Export();
  RunResult r = Mordant({"--check", File("good.txt", "OS-TYPE: BeOS, 13;\nOS-VERSION: 5, 13005;\n")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "\n\"" + (dir_ / "good.txt") + "\" passes compliance checks.\n" + kSuccess);
  r = Mordant({"-c" + File("bad.txt", "OS-VERSION: 5, 13005;\n")});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_EQ(r.out, "\n\"" + (dir_ / "bad.txt") + "\" fails compliance checks!!!\n");
  EXPECT_NE(r.err.find("The OsType portion, \"13\", of the OsVersion, \"5\",\n"), std::string::npos);
  EXPECT_EQ(r.err.substr(r.err.size() - kFailure.size()), kFailure);
  EXPECT_EQ(Export(), before);
}

// Another program holds the host's run lock: mordant waits the bound it is given, then stops
// with its report and the FAILURE banner, and the model is untouched.
TEST_F(MordantE2e, AHeldRunLockStopsTheAddAndChangesNothing) {
  const std::string before = Export();
  vr::testing::RunLockHolder holder(host_ + "/run.lock");
  const RunResult r = Mordant({"--add", File("locked.txt", kRiscV)}, {"VR_RUN_LOCK_TIMEOUT_MS=300"});
  holder.Release();
  EXPECT_EQ(r.exitCode, 100);  // as every program of the host
  EXPECT_NE(r.err.find("  Another program is changing this management server (run lock '" + host_ +
                       "/run.lock');\n  gave up after waiting 300 ms. Nothing was changed.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - kFailure.size()), kFailure);
  EXPECT_EQ(Export(), before);
  // A lock that cannot be taken at all is the same exit code.
  const RunResult denied = Mordant({"--add", dir_ / "locked.txt"}, {"VR_FAULTS=os.RunLock#1=5"});
  EXPECT_EQ(denied.exitCode, 100);
  EXPECT_NE(denied.err.find("cannot be taken (error 5). Nothing was changed.\n"), std::string::npos) << denied.err;
  EXPECT_EQ(Export(), before);
  // Once the lock is free the same add goes through.
  EXPECT_EQ(Mordant({"--add", dir_ / "locked.txt"}).exitCode, 0);
  EXPECT_NE(Export(), before);
}

TEST_F(MordantE2e, CommandLineErrorsAndUsage) {
  RunResult r = Mordant({});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(" mordant - vers 1.1.0.2 - built "), std::string::npos);
  r = Mordant({"-a"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("\nERROR: Argument missing after \"-a\"\n-----", 0), 0u);
  r = Mordant({"--HELP"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("mordant.exe\n"), std::string::npos);
  // An input file that does not exist: the read fails with E_FAIL.
  r = Mordant({"-a" + (dir_ / "none.txt")});
  EXPECT_EQ(r.exitCode, 5);
  EXPECT_NE(r.err.find("   Could not open file \"" + (dir_ / "none.txt") + "\" for reading.\n"), std::string::npos);
  // An undo MOF that cannot be written stops the run before anything is read.
  r = Mordant({"-a" + File("x.txt", "OS-TYPE: BeOS, 13;"), "-u" + (dir_ / "no/such/folder.mof")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("   Could not open file \"" + (dir_ / "no/such/folder.mof") + "\" for writing.\n"),
            std::string::npos);
  EXPECT_EQ(Dump().find("BeOS"), std::string::npos);
}

// A description whose CPU key names another qualifier of SystemType (ValueMap, Description)
// is refused before anything changes: the class stays readable, and check says the same.
TEST_F(MordantE2e, ACpuKeyThatNamesAnotherQualifierIsRefused) {
  const std::string before = Export();
  for (const std::string& text : {std::string("SYSTEM-TYPE: ValueMap test, 9;\nSYSTEM-CPU-OS: ValueMap, 6;\n"),
                                  std::string("SYSTEM-TYPE: Description of it, 9;\nSYSTEM-CPU-OS: Description, 6;\n")}) {
    const std::string input = File("reserved.txt", text);
    RunResult r = Mordant({"--add", input, "--log", dir_ / "reserved.log"});
    EXPECT_EQ(r.exitCode, 5) << text;
    EXPECT_NE(r.err.find("qualifier that the SystemType property\n  of the VR_ManagedNode class has for another "
                         "purpose."),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Export(), before) << text;
    r = Mordant({"--check", input});
    EXPECT_EQ(r.exitCode, 5) << text;
    EXPECT_NE(r.out.find("fails compliance checks!!!"), std::string::npos);
  }
  // Every later run still reads the class.
  EXPECT_NE(Dump().find("SYSTEM-CPU-OS: Intel   , 10, 11, 6, 4;\n"), std::string::npos);
}

// An undo MOF or change log that names the input, by its own name, a link or another
// spelling of its folders, is refused before anything is written: the input stays whole.
TEST_F(MordantE2e, AnOutputThatNamesTheInputIsRefused) {
  const std::string before = Export();
  const std::string input = File("input.txt", kRiscV);
  std::filesystem::create_directories(dir_ / "sub");
  std::filesystem::create_symlink(input, dir_ / "symlink.txt");
  std::filesystem::create_hard_link(input, dir_ / "hardlink.txt");
  const struct {
    std::vector<std::string> args;
    std::string role, output;
  } cases[] = {
      {{"--add", input, "--log", input}, "<change-log>", input},
      {{"-a" + input, "-u" + (dir_ / "symlink.txt")}, "<undo-mof>", dir_ / "symlink.txt"},
      {{"-r", input, "-u", dir_ / "hardlink.txt"}, "<undo-mof>", dir_ / "hardlink.txt"},
      {{"/a", input, "/l", dir_ / "sub/../input.txt"}, "<change-log>", dir_ / "sub/../input.txt"},
  };
  for (const auto& c : cases) {
    const RunResult r = Mordant(c.args);
    EXPECT_EQ(r.exitCode, 1) << c.output;
    EXPECT_NE(r.err.find("  The " + c.role + " file \"" + c.output + "\" is the input file \"" + input +
                         "\".\n  Writing it would destroy the input before it is read.  Nothing was changed.\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - kFailure.size()), kFailure);
    EXPECT_EQ(ReadFileBytes(input), kRiscV) << c.output;
    EXPECT_EQ(Export(), before) << c.output;
  }
  // An output that does not exist yet but has the input's full name is the same file.
  const RunResult r = Mordant({"-a" + (dir_ / "none.txt"), "-u" + (dir_ / "sub/../none.txt")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "none.txt"));
}

// A dump or a check whose standard output cannot be written fails with its report; success is
// claimed only for output that was written.
TEST_F(MordantE2e, AStandardOutputThatCannotBeWrittenFails) {
  const std::string good = File("good.txt", "OS-TYPE: BeOS, 13;\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--dump"}, {"--check", good}, {"--add", good}, {"--help"}}) {
    const std::string err = dir_ / "full.err";
    const pid_t pid = vr::testing::StartProgram(MORDANT, args, {"VR_HOST_ROOT=" + host_, "VR_FAULTS=", "LC_ALL=C.UTF-8"},
                                                "/dev/full", err);
    const int exitCode = vr::testing::WaitProgram(pid);
    const std::string text = ReadFileBytes(err);
    EXPECT_EQ(exitCode, 112) << args[0] << text;  // ERROR_DISK_FULL's low byte
    EXPECT_NE(text.find("  Unable to write to the standard output:\n    errno = 28  No space left on device\n"),
              std::string::npos)
        << args[0] << text;
    EXPECT_EQ(text.find("SUCCESS"), std::string::npos) << args[0];
    if (args[0] != "--help") {
      EXPECT_EQ(text.substr(text.size() - kFailure.size()), kFailure) << args[0];
    }
  }
}

// Without comments the undo MOF starts at the line feed before the namespace pragma; a class
// text of any length is written whole.
TEST_F(MordantE2e, AnUndoMofOfALargeClassWithoutComments) {
  std::string big;
  for (int i = 0; i < 600; ++i) big += "OS-VERSION: 4.0." + std::to_string(i) + ", " + std::to_string(10000 + i) + ";\n";
  ASSERT_EQ(Mordant({"-a" + File("big.txt", big)}).exitCode, 0);
  const std::string large = Export();
  ASSERT_GT(large.size(), 3 * 4096u);
  const std::string undo = dir_ / "big.mof";
  const RunResult r = Mordant({"-a" + File("more.txt", "OS-TYPE: BeOS, 13;"), "-u" + undo}, {"NO_UNDO_OR_LOG_COMMENTS="});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string mof = ReadFileBytes(undo);
  EXPECT_EQ(mof.substr(0, 8), std::string("\xFF\xFE\r\0\n\0#\0", 8));
  ASSERT_EQ(Vrhost({"wmi", "import", undo}).exitCode, 0);
  EXPECT_EQ(Export(), large);
}

// Each failing set-up step: its report, the extended report, the FAILURE banner, exit 1, and
// the model untouched.
TEST_F(MordantE2e, FailingSetUpSteps) {
  const std::string before = Export();
  const std::string input = File("riscv.txt", kRiscV);
  const struct {
    const char* fault;
    const char* report;
    bool extended;
  } cases[] = {
      {"com.CoInitialize#1=0x80010106", "  CoInitializeEx(0, COINIT_APARTMENTTHREADED) failed.\n    hr = 0x80010106  RPC_E_CHANGED_MODE\n", false},
      {"com.CoInitializeSecurity#1=0x80010119", "  CoInitializeSecurity(...) failed.\n    hr = 0x80010119  RPC_E_TOO_LATE\n", true},
      {"com.CoCreateInstance#1=0x80040154", "  CoCreateInstance(CLSID_WbemLocator) failed.\n    hr = 0x80040154 (REGDB_E_CLASSNOTREG)\n", true},
      {"wmi.ConnectServer#1=0x8004100e", "  IWbemLocator::ConnectServer() failed.\n", true},
      {"com.CoSetProxyBlanket#1=0x80070005", "  CoSetProxyBlanket() of IWbemServices pointer failed.\n    hr = 0x80070005 (E_ACCESSDENIED)\n", true},
      {"wmi.GetObject#1=0x80041002", "  IWbemService::GetObject(\"VR_ManagedNode\",...) failed.\n    hr = 0x80041002  WBEM_E_NOT_FOUND\n", true},
      {"wmi.GetPropertyQualifierSet#1=0x80041001", "  IWbemClassObject::GetPropertyQualifierSet(L\"SystemType\",...) failed.\n    hr = 0x80041001  WBEM_E_FAILED\n", true},
      {"wmi.QualifierGet#3=0x80041001", "  IWbemQualifierSet::Get(L\"Intel\",...) failed.\n", true},
      {"wmi.QualifierGetNames#1=0x80041001", "  IWbemQualifierSet::GetNames(...) of the \"SystemType\" property failed.\n    hr = 0x80041001  WBEM_E_FAILED\n", true},
  };
  for (const auto& c : cases) {
    const RunResult r = Mordant({"--add", input, "--log", dir_ / "fault.log"}, {std::string("VR_FAULTS=") + c.fault});
    EXPECT_EQ(r.exitCode, 1) << c.fault;
    EXPECT_EQ(r.out, "") << c.fault;
    EXPECT_NE(r.err.find("\nERROR: In "), std::string::npos) << c.fault;
    EXPECT_NE(r.err.find(c.report), std::string::npos) << c.fault << "\n" << r.err;
    EXPECT_EQ(r.err.find("The following extended error information") != std::string::npos, c.extended) << c.fault;
    // No C library call failed here: the report has no errno, whatever the locale's set-up
    // looked up (the runs are in C.UTF-8, whose files glibc looks for and does not find).
    EXPECT_EQ(r.err.find("errno ="), std::string::npos) << c.fault << "\n" << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - kFailure.size()), kFailure) << c.fault;
    EXPECT_EQ(Export(), before) << c.fault;
  }
}

// Every host call of an add with an undo MOF, failed on its own: the run either completes the
// whole change or fails with nothing changed, and a failure never claims success.
TEST_F(MordantE2e, EveryFailingHostCallChangesAllOrNothing) {
  const std::string before = Export();
  const std::string input = File("riscv.txt", kRiscV), undo = dir_ / "sweep.mof", points = dir_ / "points.log";
  RunResult r = Mordant({"-a" + input, "-u" + undo}, {"VR_FAULTS_LOG=" + points});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string after = Export();
  ASSERT_EQ(Vrhost({"wmi", "import", undo}).exitCode, 0);
  ASSERT_EQ(Export(), before);
  // Of the points of each call, the first two and the last: the calls in between are alike.
  std::vector<std::string> all;
  {
    const std::vector<std::string> reached = Lines(ReadFileBytes(points));
    std::map<std::string, std::vector<std::string>> byCall;
    for (const std::string& p : reached) byCall[p.substr(0, p.find('#'))].push_back(p);
    for (const auto& [call, list] : byCall) {
      for (size_t i = 0; i < list.size(); ++i)
        if (i < 2 || i + 1 == list.size()) all.push_back(list[i]);
    }
  }
  ASSERT_GT(all.size(), 20u);
  int failures = 0;
  for (const std::string& point : all) {
    r = Mordant({"-a" + input, "-u" + undo}, {"VR_FAULTS=" + point + "=0x80041001"});
    const std::string now = Export();
    if (r.exitCode == 0) {
      EXPECT_EQ(now, after) << point;
      EXPECT_EQ(r.out, kSuccess) << point;
      ASSERT_EQ(Vrhost({"wmi", "import", undo}).exitCode, 0) << point;
      EXPECT_EQ(Export(), before) << point;
    } else {
      ++failures;
      EXPECT_EQ(now, before) << point;
      EXPECT_EQ(r.out.find("SUCCESS"), std::string::npos) << point;
      EXPECT_NE(r.err.find(kFailure), std::string::npos) << point;
      EXPECT_NE(r.err.find("ERROR"), std::string::npos) << point;
    }
  }
  EXPECT_GT(failures, 15) << all.size() << " points";
}

TEST_F(MordantE2e, HostileUpdateFiles) {
  const std::string before = Export();
  const struct {
    std::string name, bytes, message;
  } cases[] = {
      {"runon.txt", "OS-TYPE: " + std::string(100000, 'x') + "\n", "Instead encountered a run-on line that starts with\n"},
      {"nul.txt", std::string("OS-TYPE: Be\0OS, 13;\n", 20), "Unexpected NUL character in a value.\n"},
      {"nul16.txt", Utf16("OS-TYPE: BeOS, 13;", false) + std::string("\0\0", 2), "Unexpected NUL character"},
      {"badutf8.txt", "\xEF\xBB\xBFOS-TYPE: Be\xE2\x28OS, 13;\n", "     Error Code   : eInvalidUtf8\n"},
      // The report names the unit that raised the error.
      {"badutf8unit.txt", "\xEF\xBB\xBFOS-TYPE: Be\xE2\x28OS, 13;\n", "     Source Code  : Utf8File.cpp\n"},
      {"badmbcs.txt", "OS-TYPE: Be\xFFOS, 13;\n", "   A stdio error occurred in the proximity of line 1 while\n"},
      {"unbalanced.txt", "OS-TYPE: BeOS, 13, 14;\n", "Expected a ';' after \"13\" instead of a ','.\n"},
      {"colons.txt", "OS-TYPE:: BeOS, 13;\n", "Expected non-empty value before ':' character.\n"},
      {"noend.txt", "OS-TYPE: BeOS, 13;\nOS-TYPE: Haiku, 14", "Expected a ';' after \"14\" instead of a '?'.\n"},
      {"halfitem.txt", "OS-TYPE: BeOS,", "The file ended in the middle of an item.\n"},
      {"oddutf16.txt", Utf16("OS-TYPE: BeOS, 13;", false) + "x", "A stdio error occurred"},
  };
  for (const auto& c : cases) {
    const RunResult r = Mordant({"--add", File(c.name, c.bytes), "--log", dir_ / "hostile.log"});
    EXPECT_EQ(r.exitCode, 5) << c.name << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - kFailure.size()), kFailure) << c.name;
    EXPECT_NE(ReadFileBytes(dir_ / "hostile.log").find("*** FAILED before processing completed!!! ("), std::string::npos)
        << c.name;
  }
  EXPECT_EQ(Export(), before);
}

// A file of 100 MB of comments is read as a stream: the run needs no more memory than a small one.
TEST_F(MordantE2e, AHugeFileOfCommentsIsReadAsAStream) {
  const std::string small = File("small.txt", "# nothing\nOS-TYPE: BeOS, 13;\n");
  ASSERT_EQ(Mordant({"-c" + small}).exitCode, 0);
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const long smallKb = usage.ru_maxrss;
  {
    std::ofstream out(dir_ / "huge.txt", std::ios::binary);
    // 30 MB: a reader that held the file (or its wide text) would grow by far more than the
    // bound below.
    const std::string line = "# " + std::string(97, 'c') + "\n";
    for (int i = 0; i < 300000; ++i) out << line;
    out << "OS-TYPE: BeOS, 13;\n";
  }
  const RunResult r = Mordant({"-c" + (dir_ / "huge.txt")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss - smallKb, 16 * 1024) << "kB more than a small run";
}

}  // namespace
