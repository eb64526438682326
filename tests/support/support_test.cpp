// The one test support itself: a sweep's parts cover every point once, the run-lock holder
// holds the lock exactly while it says so, scratch paths stay in the process's own folder,
// the host fixture restores what it changed, and a test program finds the PostgreSQL server
// its test run started and may not stop it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault/fault.h"
#include "tests/support/HostFixture.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/PgServer.h"
#include "tests/support/SweepParts.h"

namespace fs = std::filesystem;
using vr::testing::RunProgram;

namespace {

TEST(SweepParts, ThePartsCoverEveryPointOnceAndEachReachesAcrossTheRun) {
  for (const size_t count : {0u, 1u, 5u, 97u}) {
    std::vector<int> points(count);
    std::iota(points.begin(), points.end(), 0);
    for (const int parts : {1, 3, 6}) {
      std::multiset<int> seen;
      for (int part = 0; part < parts; ++part) {
        const std::vector<int> share = vr::testing::SweepPart(points, part, parts);
        for (const int p : share) {
          seen.insert(p);
          EXPECT_TRUE(vr::testing::InSweepPart(static_cast<size_t>(p), part, parts));
        }
        if (count >= static_cast<size_t>(parts) * 2) {
          EXPECT_GE(share.back(), static_cast<int>(count) - parts);
        }
      }
      EXPECT_EQ(seen, std::multiset<int>(points.begin(), points.end())) << count << " points, " << parts << " parts";
    }
  }
  EXPECT_TRUE(vr::testing::SweepPart(std::vector<int>{1, 2}, 3, 3).empty());
  EXPECT_EQ(vr::testing::PathSafe("Sweep.Name/2"), "Sweep.Name_2");
}

// flock -n: whether another program could take the lock now.
bool LockFree(const std::string& file) { return RunProgram("/usr/bin/flock", {"-n", file, "true"}).exitCode == 0; }

TEST(RunLockHolder, HoldsTheLockFromItsConstructionToItsRelease) {
  vr::testing::TempDir dir("vrlockholder");
  const std::string lock = dir / "run.lock";
  {
    vr::testing::RunLockHolder holder(lock);
    EXPECT_FALSE(LockFree(lock));  // held on return, without any wait of ours
    EXPECT_FALSE(LockFree(lock));
    EXPECT_EQ(holder.Release(), 0);
    EXPECT_TRUE(LockFree(lock));
  }
  // With a command: held while it runs, free once it has ended.
  vr::testing::RunLockHolder busy(lock, "echo done > '" + dir / "then.txt" + "'; exit 3");
  EXPECT_EQ(busy.Release(), 3);
  EXPECT_EQ(vr::testing::ReadFileBytes(dir / "then.txt"), "done\n");
  EXPECT_TRUE(LockFree(lock));
  // A lock file that cannot be made is reported, not waited for.
  EXPECT_THROW(vr::testing::RunLockHolder(dir / "absent/run.lock"), std::runtime_error);
}

TEST(ScratchPath, OneFolderOfTheProcessOwn) {
  const fs::path a = vr::testing::ScratchPath("a.txt"), b = vr::testing::ScratchPath("b.txt");
  EXPECT_EQ(a.parent_path(), b.parent_path());
  EXPECT_TRUE(fs::is_directory(a.parent_path()));
  EXPECT_EQ(a.filename(), "a.txt");
  EXPECT_NE(a.parent_path().filename().string().find("vrscratch-"), std::string::npos);
}

// The fixture run by hand inside a test, to look at what it leaves.
class Probe : public vr::testing::HostFixture {
 public:
  void TestBody() override {}
  using HostFixture::base_;
  using HostFixture::CaptureConsole;
  using HostFixture::console_;
  using HostFixture::root_;
  using HostFixture::SetEnv;
  using HostFixture::SetUp;
  using HostFixture::TearDown;
};

std::function<void(bool, std::string_view)> g_console;
void SetWriter(std::function<void(bool, std::string_view)> w) { g_console = std::move(w); }

TEST(HostFixture, MakesAHostAndPutsBackTheEnvironmentTheFaultsAndTheConsole) {
  vr::testing::ScopedEnv mine("VR_SUPPORT_PROBE", "before");
  const char* oldRoot = std::getenv("VR_HOST_ROOT");
  const std::string rootBefore = oldRoot ? oldRoot : "<unset>";
  const std::string pathBefore = std::getenv("PATH");
  fs::path base;
  {
    Probe probe;
    probe.SetUp();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    base = probe.base_;
    EXPECT_TRUE(fs::exists(probe.root_ / ".vrhost"));
    EXPECT_EQ(std::string(std::getenv("VR_HOST_ROOT")), probe.root_.string());
    EXPECT_EQ(std::string(std::getenv("PATH")).rfind("/tools/VrMsClusterInfo:" + pathBefore),
              std::string(std::getenv("PATH")).size() - pathBefore.size() - std::string("/tools/VrMsClusterInfo:").size());
    probe.SetEnv("VR_SUPPORT_PROBE", "during");
    probe.SetEnv("VR_SUPPORT_PROBE", std::nullopt);
    EXPECT_EQ(std::getenv("VR_SUPPORT_PROBE"), nullptr);
    probe.CaptureConsole(SetWriter);
    ASSERT_TRUE(g_console);
    g_console(false, "out ");
    g_console(true, "err");
    EXPECT_EQ(probe.console_, "out err");
    vr::fault::Configure("support.Probe#1=5");
    // TearDown itself puts everything back, not only the fixture's destruction.
    probe.TearDown();
    EXPECT_FALSE(g_console);  // the console writer was taken back
    EXPECT_FALSE(vr::fault::Hit("support.Probe").has_value());  // the fault state was reset
    EXPECT_FALSE(fs::exists(base));
    EXPECT_EQ(std::string(std::getenv("VR_SUPPORT_PROBE")), "before");
    EXPECT_EQ(std::getenv("VR_HOST_ROOT") ? std::string(std::getenv("VR_HOST_ROOT")) : "<unset>", rootBefore);
    EXPECT_EQ(std::string(std::getenv("PATH")), pathBefore);
  }
}

// A program of the test run finds the server the run started for it (the pointer in
// VR_BINARY_DIR/test-postgres/PROGRAM), creates databases there, and may not stop it; the
// fixture's stop takes server and pointer away.
TEST(PgServer, ATestProgramUsesTheServerItsRunStartedAndCannotStopIt) {
  vr::testing::TempDir bin("vrpgsupport");
  vr::testing::ScopedEnv binaryDir("VR_BINARY_DIR", bin.path());
  const std::string program = fs::read_symlink("/proc/self/exe").filename().string();
  const std::string pointer = vr::testing::PgServer::PointerFile(bin.path(), program);
  vr::testing::PgServer::StartFor(pointer);
  const std::string folder = vr::testing::ReadFileBytes(pointer);
  ASSERT_TRUE(fs::exists(folder + "/data/postmaster.pid"));
  vr::testing::PgServer& shared = vr::testing::PgServer::Shared();
  EXPECT_EQ(shared.socketFolder(), folder + "/socket");
  const std::string a = shared.NewDatabase(), b = shared.NewDatabase();
  EXPECT_NE(a, b);
  EXPECT_THROW(shared.Stop(), std::logic_error);
  vr::testing::PgServer::StopFor(pointer);
  EXPECT_FALSE(fs::exists(pointer));
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_THROW(shared.NewDatabase(), std::runtime_error);  // the server is gone
  vr::testing::PgServer::StopFor(pointer);                 // nothing left to stop
}

}  // namespace
