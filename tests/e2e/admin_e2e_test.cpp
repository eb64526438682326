// End to end: what an administrator meets first. Help and version requests that change
// nothing, programs that say when there is no host at the root, and vrhost's usage errors that
// name what is wrong.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"
#include "vr_version.h"

using vr::testing::RunProgram;
using vr::testing::RunResult;

namespace {

class AdminE2e : public vr::testing::ProgramFixture {
 protected:
  AdminE2e() { programEnv_.insert(programEnv_.end(), {"VR_FAULTS=", "VR_FAULTS_LOG=", "PATH=/usr/bin:/bin"}); }
  void SetUp() override {
    const RunResult r = Vrhost({"init"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  // The fixture's environment with another host root.
  std::vector<std::string> Env(const std::string& root) const { return ProgramEnv({"VR_HOST_ROOT=" + root}); }
  RunResult Vrhost(std::vector<std::string> args) { return Run(VRHOST, std::move(args)); }
  // The state of the whole host, to show that a run changed nothing.
  std::string Snapshot() {
    const RunResult r = Vrhost({"snapshot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
};

TEST_F(AdminE2e, EveryProgramNamesItsVersion) {
  const struct {
    const char* program;
    std::string expected;
  } programs[] = {{TESSERA, std::string("tessera ") + VR_PACKAGE_VERSION + "\n"},
                  {MORDANT, "mordant 1.1.0.2\n"},
                  {REVENANT, "revenant 1.0.0.1\n"},
                  {VRHOST, std::string("vrhost ") + VR_PACKAGE_VERSION + "\n"},
                  {CLUSTER_INFO_TOOL, std::string("VrMsClusterInfo ") + VR_PACKAGE_VERSION + "\n"}};
  const std::string before = Snapshot();
  for (const auto& p : programs) {
    const RunResult r = Run(p.program, {"--version"});
    EXPECT_EQ(r.exitCode, 0) << p.program;
    EXPECT_EQ(r.out, p.expected);
    EXPECT_EQ(r.err, "") << p.program;
  }
  EXPECT_EQ(Snapshot(), before);
}

// revenant rewrites every registration when it runs; asked for help it must not run.
TEST_F(AdminE2e, RevenantHelpChangesNothing) {
  const std::string before = Snapshot();
  for (const char* help : {"--help", "-?", "/?", "-h"}) {
    const RunResult r = Run(REVENANT, {help});
    EXPECT_EQ(r.exitCode, 0) << help;
    EXPECT_EQ(r.out.rfind("usage: revenant\n", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("Restoring"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(Snapshot(), before);
  // Any other argument is still ignored: the restoration runs.
  const RunResult other = Run(REVENANT, {"--restore-please"});
  EXPECT_EQ(other.exitCode, 0) << other.err;
  EXPECT_NE(other.out.find("Restoring: "), std::string::npos) << other.out;
}

// No host at the root: one line naming the root and `vrhost init`, the usual failure code,
// and nothing made there, whether the folder is missing or empty.
TEST_F(AdminE2e, ProgramsSayWhenThereIsNoHost) {
  const std::string empty = dir_ / "empty";
  std::filesystem::create_directory(empty);
  const std::string absent = dir_ / "absent";
  for (const std::string& root : {empty, absent}) {
    const RunResult m = RunProgram(MORDANT, {"--dump"}, Env(root));
    EXPECT_EQ(m.exitCode, 1);
    EXPECT_EQ(m.out, "");
    EXPECT_EQ(m.err, "\nERROR: No management server host at '" + root + "'; make one with 'vrhost init'.\n");
    const RunResult t = RunProgram(TESSERA, {"-unreg", dir_ / "u.undo"}, Env(root));
    EXPECT_EQ(t.exitCode, 100);
    EXPECT_EQ(t.out, "");
    EXPECT_NE(t.err.find("(TESSERA270) No management server host at"), std::string::npos) << t.err;
    EXPECT_NE(t.err.find("'vrhost init'"), std::string::npos) << t.err;
    const RunResult r = RunProgram(REVENANT, {}, Env(root));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "\nERROR: No management server host at '" + root + "'; make one with 'vrhost init'.\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(empty));
  EXPECT_FALSE(std::filesystem::exists(absent));
  // Help and usage need no host.
  EXPECT_EQ(RunProgram(MORDANT, {"--help"}, Env(absent)).exitCode, 0);
  EXPECT_EQ(RunProgram(TESSERA, {"-help"}, Env(absent)).exitCode, 0);
  EXPECT_EQ(RunProgram(REVENANT, {"--help"}, Env(absent)).exitCode, 0);
  EXPECT_FALSE(std::filesystem::exists(absent));
}

TEST_F(AdminE2e, VrhostCommandHelpAndUsageErrors) {
  const std::string before = Snapshot();
  for (const char* command : {"init", "reg", "wmi", "db", "dbaccess", "cluster", "snapshot"}) {
    const RunResult r = Vrhost({command, "--help"});
    EXPECT_EQ(r.exitCode, 0) << command << ": " << r.err;
    EXPECT_EQ(r.out.rfind(std::string("usage: vrhost ") + command, 0), 0u) << r.out;
    EXPECT_EQ(r.err, "");
  }
  // `init --help` on an existing host neither refuses nor replaces it.
  EXPECT_EQ(Vrhost({"init", "--force", "--help"}).exitCode, 0);
  EXPECT_EQ(Snapshot(), before);

  const RunResult type = Vrhost({"reg", "set", "SOFTWARE\\K", "N", "REG_DWROD", "1"});
  EXPECT_EQ(type.exitCode, 1);
  EXPECT_EQ(type.err,
            "vrhost: there is no value type 'REG_DWROD'; the types are REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD "
            "and REG_BINARY\n");
  const RunResult data = Vrhost({"reg", "set", "SOFTWARE\\K", "N", "dword", "one"});
  EXPECT_EQ(data.exitCode, 1);
  EXPECT_EQ(data.err, "vrhost: 'one' is no dword value\n");

  const RunResult section = Vrhost({"snapshot", "--section", "registri"});
  EXPECT_EQ(section.exitCode, 2);
  EXPECT_NE(section.err.find("there is no snapshot section 'registri'; the sections are registry, "), std::string::npos)
      << section.err;
  for (const char* name : {"wmi", "depot", "files"}) EXPECT_NE(section.err.find(name), std::string::npos) << name;
  EXPECT_EQ(Snapshot(), before);
}

}  // namespace
