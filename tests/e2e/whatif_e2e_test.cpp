// End to end: plan runs of tessera (-whatif) on demo hosts. A plan shows exactly the undo lines
// the real run writes, changes nothing on its host, and fails where the real run fails before
// its first change, with the same messages and exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

#include "platform/text/convert.h"
#include "tessera/Packages/PackageFileGenerator.h"
#include "tests/e2e/PlatformFileGenerator.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"

using vr::testing::ReadFileBytes;
using vr::testing::RunResult;
using vr::testing::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kToolFolder = fs::path(CLUSTER_INFO_TOOL).parent_path().string();
const std::string kExample = std::string(SOURCE_DIR) + "/examples/NewPlatformRiscV.xml";
const std::string kNothingChanged = "Nothing was changed: this was a plan of the run (-whatif).\n";
const std::string kWouldStop = "The run without -whatif would stop here.\n";
const std::string kReversedNote =
    "# The ledger shows the lines of this section as taken back already; an unregistration leaves them alone.\n";

// A UTF-16 LE text file (byte-order mark first) as UTF-8 with LF line ends.
std::string Utf16File(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  WString wide;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
  std::string text = vr::text::WideToUtf8(wide);
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// The undo file without its four header lines: what a plan prints.
std::string UndoBody(const std::string& path) {
  std::string text = Utf16File(path);
  for (int i = 0; i < 4; ++i) text.erase(0, text.find('\n') + 1);
  return text;
}

// The lines of one kind of section, markers included, as the undo text has them.
std::string SectionOf(const std::string& text, const std::string& begin, const std::string& end) {
  const size_t a = text.find(begin);
  if (a == std::string::npos) return std::string();
  const size_t b = text.find(end, a);
  return text.substr(a, b + end.size() + 1 - a);
}

// Prerequisite and system tags of the demo configuration and new ones; a tag the file has
// either keeps its text or gets a new one. Now and then a version above the host's asks for a
// new version folder.
std::string PrereqList(unsigned seed) {
  std::mt19937 random(seed * 7919u);
  auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  const std::string version = below(5) == 0 ? "7.5" + std::to_string(1 + below(9)) : "7.50";
  std::string systems, prerequisites;
  const char* systemNames[] = {"WINDOWS_X64", "LINUX_X64", "GENSYS_A", "GENSYS_B"};
  const char* prereqNames[] = {"WIN_AGENT_BASE", "UNIX_AGENT_BASE", "GENREQ_A", "GENREQ_B"};
  for (unsigned i = 0, n = below(3); i < n; ++i) {
    const std::string name = systemNames[below(4)];
    systems += "<system name=\"" + name + "\">\n[SYSTEM] " + name + "\nOS_TYPE=Gen" + std::to_string(below(3)) + "\n</system>\n";
  }
  for (unsigned i = 0, n = below(3); i < n; ++i) {
    const std::string name = prereqNames[below(4)];
    prerequisites += "<prerequisites name=\"" + name + "\">\n[PREREQUISITES] " + name + "\nDISK_SPACE_MB=" +
                     std::to_string(10 * below(4)) + "\n</prerequisites>\n";
  }
  if (systems.empty() && prerequisites.empty()) return std::string();
  return "<VrReqCheckList><Systems_Section version=\"" + version + "\">\n" + systems +
         "</Systems_Section><Prerequisites_Section version=\"" + version + "\">\n" + prerequisites +
         "</Prerequisites_Section></VrReqCheckList>\n";
}

// One registration file with every section: the generated packages, the generated platforms
// and generated prerequisite tags.
std::string GeneratedFile(unsigned seed) {
  std::string xml = vr::testing::PackageFileGenerator(seed).Make().xml;
  const std::string platforms = vr::testing::PlatformFileGenerator(seed).File();
  const size_t a = platforms.find("<PlatformList>");
  const size_t b = platforms.find("</PlatformList>") + std::string("</PlatformList>").size();
  xml.insert(xml.rfind("</VrNPConfig>"), platforms.substr(a, b - a) + "\n" + PrereqList(seed));
  return xml;
}

// Two hosts side by side in the test's folder: plan_ for the plans, real_ for the real runs.
class WhatIfE2e : public vr::testing::ProgramFixture {
 protected:
  WhatIfE2e() { programEnv_.insert(programEnv_.end(), {"VR_COMPUTER_NAME=THISNODE", "PATH=" + kToolFolder + ":/usr/bin:/bin"}); }
  RunResult Run(const std::string& host, const std::string& program, std::vector<std::string> args,
                std::vector<std::string> extraEnv = {}) {
    extraEnv.insert(extraEnv.begin(), "VR_HOST_ROOT=" + host);
    return ProgramFixture::Run(program, args, extraEnv);
  }
  RunResult Tessera(const std::string& host, std::vector<std::string> args, std::vector<std::string> env = {}) {
    return Run(host, TESSERA, std::move(args), std::move(env));
  }
  void Init(const std::string& host, const std::string& cluster = "none") {
    const RunResult r = Run(host, VRHOST, {"init", "--force", "--cluster", cluster});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    fs::copy_file(std::string(SOURCE_DIR) + "/data/VrNPConfig.dtd", dir_ / "VrNPConfig.dtd",
                  fs::copy_options::skip_existing);
  }
  // The whole host, stores and files, without the run log (which every run writes).
  std::string State(const std::string& host) {
    const RunResult r = Run(host, VRHOST, {"snapshot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string kept;
    std::istringstream lines(r.out);
    bool skipping = false;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("  |", 0) != 0) skipping = line.find("tessera.log") != std::string::npos;
      if (!skipping) kept += line + "\n";
    }
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(host))
      if (entry.path().filename() != "tessera.log") files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) kept += f + "\n";
    return kept;
  }
  std::string RunLog(const std::string& host) { return Utf16File(host + "/server/share/install/log/tessera.log"); }

  // Plans the file on the plan host, registers it for real on the other one and compares: the
  // plan is the real run's console output with the undo file's sections in place of the
  // summary. Then the plan host is registered for real too, so that both stay alike.
  void PlanAndRegister(const std::string& file, const std::string& patch, const std::vector<std::string>& options,
                       const std::string& label, int& registered, int& refused) {
    std::vector<std::string> args{"-reg", file, "-patch", patch};
    args.insert(args.end(), options.begin(), options.end());
    const std::string before = State(plan_);
    std::vector<std::string> planArgs = args;
    planArgs.push_back("-whatif");
    const RunResult plan = Tessera(plan_, planArgs);
    ASSERT_EQ(State(plan_), before) << label << ": the plan changed its host";

    const std::string undo = dir_ / "real.undo";
    fs::remove(undo);
    std::vector<std::string> realArgs = args;
    realArgs.insert(realArgs.end(), {"-log", undo});
    const RunResult real = Tessera(real_, realArgs);
    if (real.exitCode == 0 || real.exitCode == 5) {
      ++registered;
      ASSERT_EQ(plan.exitCode, 0) << label << "\n" << plan.err;
      const size_t summary = real.out.rfind("\nRegistration of patch");
      ASSERT_NE(summary, std::string::npos) << real.out;
      EXPECT_EQ(plan.out, real.out.substr(0, summary) + UndoBody(undo) + "\n" + kNothingChanged) << label;
    } else {
      // Without faults a real run fails only where its plan fails: in planning, before any
      // change.
      ++refused;
      EXPECT_EQ(plan.exitCode, real.exitCode) << label << "\n" << plan.err << real.err;
      EXPECT_EQ(plan.err, real.err) << label;
      EXPECT_NE(plan.out.find(kWouldStop), std::string::npos) << label << "\n" << plan.out;
    }
    const RunResult same = Tessera(plan_, realArgs);
    ASSERT_EQ(same.exitCode, real.exitCode) << label << "\n" << same.err << real.err;
  }

  std::string plan_ = dir_ / "plan";
  std::string real_ = dir_ / "real";
};

int FileCount(int fallback) {
  const char* files = std::getenv("VR_PROPERTY_FILES");
  return files && *files ? std::max(1, std::atoi(files) / 5) : fallback;
}

// Generated files with every section, one after the other, each registered on top of the
// ones before; every third is registered again with -reinstall.
TEST_F(WhatIfE2e, APlanShowsExactlyTheUndoLinesOfTheRealRun) {
  Init(plan_);
  Init(real_);
  int registered = 0, refused = 0;
  const int count = FileCount(12);
  for (int seed = 1; seed <= count && !HasFatalFailure(); ++seed) {
    const std::string file = dir_ / "generated.xml";
    WriteFileBytes(file, GeneratedFile(static_cast<unsigned>(seed)));
    const std::string patch = "GEN_" + std::to_string(seed);
    PlanAndRegister(file, patch, {}, "seed " + std::to_string(seed), registered, refused);
    if (seed % 3 == 0 && !HasFatalFailure())
      PlanAndRegister(file, patch, {"-reinstall"}, "seed " + std::to_string(seed) + " -reinstall", registered, refused);
  }
  std::printf("plans compared: %d registered, %d refused\n", registered, refused);
  EXPECT_GT(registered, count / 3);
}

// On the active node of a cluster, with both cluster modes: a local run changes only the
// qualifiers of the platform section, and its plan shows only those lines.
TEST_F(WhatIfE2e, APlanOfAClusterRunShowsExactlyItsUndoLines) {
  Init(plan_, "active");
  Init(real_, "active");
  int registered = 0, refused = 0;
  const int count = FileCount(6);
  for (int seed = 101; seed < 101 + count && !HasFatalFailure(); ++seed) {
    const std::string file = dir_ / "generated.xml";
    WriteFileBytes(file, GeneratedFile(static_cast<unsigned>(seed)));
    const std::string mode = seed % 2 ? "local" : "full";
    PlanAndRegister(file, "CLU_" + std::to_string(seed), {"-cluster", mode},
                    "seed " + std::to_string(seed) + " -cluster " + mode, registered, refused);
  }
  EXPECT_GT(registered, 0);
}

TEST_F(WhatIfE2e, TheRunLogOfAPlanHasItsHeaderMarkAndClosingLineOnly) {
  Init(plan_);
  const RunResult plan = Tessera(plan_, {"-reg", kExample, "-patch", "VRPATCH_RISCV_01", "-whatif"});
  ASSERT_EQ(plan.exitCode, 0) << plan.err;
  EXPECT_NE(plan.out.find("[[[PLATFORMS]]]\nOS-TYPE ADD 91 \"Linux (RISC-V)\"\n"), std::string::npos) << plan.out;
  const std::string log = RunLog(plan_);
  EXPECT_NE(log.find("# tessera -reg \"" + kExample + "\" -patch \"VRPATCH_RISCV_01\" -whatif\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("# Plan only (-whatif): the stores are read, nothing is changed.\n\n# " + kNothingChanged +
                     "# Exit code = 0\n"),
            std::string::npos)
      << log;
  // No progress of the sections: they did nothing.
  EXPECT_EQ(log.find("[[[PLATFORMS]]]"), std::string::npos) << log;
  EXPECT_EQ(log.find("successfully registered"), std::string::npos) << log;
}

// An unregistration plan shows the sections in the order they are taken back; once they are,
// the ledger says so above each.
TEST_F(WhatIfE2e, AnUnregistrationPlanShowsTheLinesAndWhichAreTakenBackAlready) {
  Init(plan_);
  const std::string undo = dir_ / "riscv.undo";
  // Without the package section, whose unregistration needs the patch installed.
  const RunResult reg = Tessera(plan_, {"-reg", kExample, "-patch", "VRPATCH_RISCV_01", "-sections", "platform,prereq",
                                        "-log", undo});
  ASSERT_EQ(reg.exitCode, 0) << reg.err;
  const std::string text = Utf16File(undo);
  const std::string platforms = SectionOf(text, "[[[PLATFORMS]]]", "[[[PLATFORMS_END]]]");
  const std::string prereq = SectionOf(text, "[[[PREREQUISITE_CHECK]]]", "[[[PREREQUISITE_CHECK_END]]]");
  ASSERT_FALSE(platforms.empty());
  ASSERT_FALSE(prereq.empty());

  const std::string before = State(plan_);
  const RunResult plan = Tessera(plan_, {"-unreg", undo, "-whatif"});
  ASSERT_EQ(plan.exitCode, 0) << plan.err;
  EXPECT_EQ(plan.out, "\n" + platforms + "\n" + prereq + "\n" + kNothingChanged);
  EXPECT_EQ(State(plan_), before);
  EXPECT_NE(RunLog(plan_).find("# tessera -unreg \"" + undo + "\" -whatif\n"), std::string::npos);

  ASSERT_EQ(Tessera(plan_, {"-unreg", undo}).exitCode, 0);
  const RunResult again = Tessera(plan_, {"-unreg", undo, "-whatif"});
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.out, "\n" + kReversedNote + platforms + "\n" + kReversedNote + prereq + "\n" + kNothingChanged);
}

// Failures before the first change: the real run's message and exit code, and the line that
// the real run stops there; nothing changes.
TEST_F(WhatIfE2e, APlanFailsWhereTheRealRunFailsBeforeItsFirstChange) {
  Init(plan_);
  Init(real_);
  const std::string example = ReadFileBytes(kExample);
  const auto variant = [&](const std::string& name, const std::string& from, const std::string& to) {
    std::string text = example;
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    WriteFileBytes(dir_ / name, text);
    return dir_ / name;
  };
  struct Case {
    std::string file;
    int exitCode;
    std::string message;
    std::vector<std::string> extra = {};
  };
  const Case cases[] = {
      // A system type without a caption that the model does not have: the platform plan stops.
      {variant("unknown.xml", example.substr(example.find("<value>70</value>"),
                                             example.find("</SystemType>") - example.find("<value>70</value>")),
               "<value>4711</value>"),
       1, "(TESSERA3000)"},
      // A server version the file does not list.
      {variant("version.xml", "version=\"A.07.50", "version=\"A.01.00"), 51, "(TESSERA811)"},
      // No such file.
      {dir_ / "missing.xml", 52, "(TESSERA9)"},
      // An undo file on a drive, which this host cannot enter.
      {kExample, 100, "(TESSERA502)", {"-log", "C:\\patches\\riscv.undo"}},
  };
  for (const Case& c : cases) {
    const std::string before = State(plan_);
    std::vector<std::string> args{"-reg", c.file, "-patch", "P1"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const RunResult real = Tessera(real_, args);
    args.push_back("-whatif");
    const RunResult plan = Tessera(plan_, args);
    EXPECT_EQ(real.exitCode, c.exitCode) << real.err;
    EXPECT_EQ(plan.exitCode, c.exitCode) << plan.err;
    EXPECT_NE(plan.err.find(c.message), std::string::npos) << plan.err;
    EXPECT_EQ(plan.err, real.err);
    EXPECT_NE(plan.out.find(kWouldStop), std::string::npos) << plan.out;
    EXPECT_EQ(State(plan_), before) << c.file;
    const std::string log = RunLog(plan_);
    EXPECT_NE(log.find("# " + kWouldStop), std::string::npos) << log;
    EXPECT_NE(log.find("# Exit code = " + std::to_string(c.exitCode) + "\n"), std::string::npos) << log;
  }
  // The package section refuses an unregistration of a patch that is not installed before
  // it changes anything: the plan ends as the real run does, with exit code 6.
  const std::string undo = dir_ / "riscv.undo";
  ASSERT_EQ(Tessera(plan_, {"-reg", kExample, "-patch", "VRPATCH_RISCV_01", "-log", undo}).exitCode, 0);
  const std::string registered = State(plan_);
  const RunResult refused = Tessera(plan_, {"-unreg", undo, "-whatif"});
  EXPECT_EQ(refused.exitCode, 6) << refused.err;
  EXPECT_EQ(refused.out, "(TESSERA1021) Patch VRPATCH_RISCV_01 is not registered\n\nPatch VRPATCH_RISCV_01 was not "
                         "unregistered.\n" + kWouldStop);
  EXPECT_EQ(State(plan_), registered);
  const RunResult realRefusal = Tessera(plan_, {"-unreg", undo});
  EXPECT_EQ(realRefusal.exitCode, 6);
  EXPECT_EQ(refused.out, realRefusal.out + kWouldStop);

  // An undo file that is not there: the unregistration's own message and code.
  const RunResult unreg = Tessera(plan_, {"-unreg", dir_ / "none.undo", "-whatif"});
  EXPECT_EQ(unreg.exitCode, 52);
  EXPECT_NE(unreg.err.find("(TESSERA207)"), std::string::npos) << unreg.err;
  EXPECT_NE(unreg.out.find(kWouldStop), std::string::npos) << unreg.out;
}

// A plan puts right nothing a killed run left: it says that the real run would, and leaves the
// journal for that run.
TEST_F(WhatIfE2e, APlanWarnsOfAKilledRunAndLeavesItToTheRealRun) {
  Init(plan_);
  const RunResult killed = Tessera(plan_, {"-reg", kExample, "-patch", "KILLED_01", "-log", dir_ / "killed.undo"},
                                   {"VR_FAULTS=wmi.PutClass#1=exit"});
  ASSERT_NE(killed.exitCode, 0);
  ASSERT_TRUE(fs::exists(plan_ + "/journal"));
  const std::string before = State(plan_);
  const RunResult plan = Tessera(plan_, {"-reg", kExample, "-patch", "P1", "-whatif"});
  EXPECT_EQ(plan.exitCode, 0) << plan.err;
  EXPECT_EQ(plan.err.rfind("WARNING:  (TESSERA277) A run of tessera for patch 'KILLED_01' was interrupted", 0), 0u)
      << plan.err;
  EXPECT_NE(RunLog(plan_).find("# (TESSERA277)"), std::string::npos);
  EXPECT_EQ(State(plan_), before);
  const RunResult real = Tessera(plan_, {"-reg", kExample, "-patch", "P1"});
  EXPECT_EQ(real.exitCode, 0) << real.err;
  EXPECT_NE(real.err.find("(TESSERA262)"), std::string::npos) << real.err;
}

TEST_F(WhatIfE2e, WhatIfIsAUsageErrorWhereItMakesNoSense) {
  Init(plan_);
  const std::string before = State(plan_);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"-unreg", dir_ / "x.undo", "-whatif", "-delundo"}, "(CMDL107) Cannot combine options '-whatif, -delundo'."},
      {{"-reg", kExample, "-patch", "P1", "-whatif", "yes"}, "(CMDL100) Incorrect number of arguments for '-whatif'."},
      {{"-whatif"}, "(CMDL104) One of '-reg, -unreg' options must be specified."},
  };
  for (const Case& c : cases) {
    const RunResult r = Tessera(plan_, c.args);
    EXPECT_EQ(r.exitCode, 50) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("Usage:"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(kWouldStop), std::string::npos) << r.out;
  }
  EXPECT_EQ(State(plan_), before);
}

}  // namespace
