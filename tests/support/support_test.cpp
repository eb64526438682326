// The one test support itself: a sweep's parts cover every point once, the run-lock holder
// holds the lock exactly while it says so, scratch paths stay in the process's own folder,
// the host fixture restores what it changed, and a test program finds the PostgreSQL server
// its test run started and may not stop it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numeric>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/fault/fault.h"
#include "tests/support/FolderFixture.h"
#include "tests/support/HostFixture.h"
#include "tests/support/FileTextWait.h"
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

TEST(ScopedEnvironment, UndoesEveryChangeNewestFirst) {
  vr::testing::ScopedEnv mine("VR_SUPPORT_ENV", "before");
  vr::testing::ScopedEnv gone("VR_SUPPORT_GONE", std::nullopt);
  {
    vr::testing::ScopedEnvironment env;
    env.Set("VR_SUPPORT_ENV", "first");
    env.Set("VR_SUPPORT_ENV", "second");
    env.Set("VR_SUPPORT_GONE", "made");
    EXPECT_EQ(std::string(std::getenv("VR_SUPPORT_ENV")), "second");
    env.Restore();
    EXPECT_EQ(std::string(std::getenv("VR_SUPPORT_ENV")), "before");
    EXPECT_EQ(std::getenv("VR_SUPPORT_GONE"), nullptr);
    env.Set("VR_SUPPORT_ENV", std::nullopt);
    EXPECT_EQ(std::getenv("VR_SUPPORT_ENV"), nullptr);
  }  // and at destruction
  EXPECT_EQ(std::string(std::getenv("VR_SUPPORT_ENV")), "before");
}

TEST(MergeEnv, AnExtraEntryReplacesTheOneOfItsNameOnly) {
  using V = std::vector<std::string>;
  EXPECT_EQ(vr::testing::MergeEnv({"A=1", "AB=2", "C=3"}, {"A=9", "D=4"}), (V{"AB=2", "C=3", "A=9", "D=4"}));
  EXPECT_EQ(vr::testing::MergeEnv({"A=1", "B="}, {"B=x"}), (V{"A=1", "B=x"}));
  // An entry without '=' takes its name away, and nothing else; so does the program runner.
  EXPECT_EQ(vr::testing::MergeEnv({"A=1", "B=2", "BC=3"}, {"B"}), (V{"A=1", "BC=3", "B"}));
  vr::testing::ScopedEnv ours("VR_SUPPORT_TAKEN", "ours");
  vr::testing::ScopedEnv kept("VR_SUPPORT_TAKEN_NOT", "kept");
  const vr::testing::RunResult r = RunProgram("/usr/bin/env", {}, {"VR_SUPPORT_TAKEN", "VR_SUPPORT_NEW=new"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.find("VR_SUPPORT_TAKEN="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("VR_SUPPORT_TAKEN_NOT=kept\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("VR_SUPPORT_NEW=new\n"), std::string::npos) << r.out;
}

TEST(WaitForFileText, EndsWhenTheOtherSideHasWrittenAndNotBefore) {
  vr::testing::TempDir dir("vrwaittext");
  const std::string file = dir / "run.log";
  vr::testing::WriteFileBytes(file, "start\n");
  // Text before `from` does not count; a text that never comes ends in the time given.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(vr::testing::WaitForFileText(file, "start", 1, std::chrono::milliseconds(200)));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200));
  // Another thread makes the file and writes the text a little after the wait began (its
  // pauses stand for the work of the other side): the wait ends with it, not at the time-out.
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ofstream(dir / "later.log", std::ios::binary) << "one\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ofstream(dir / "later.log", std::ios::binary | std::ios::app) << "marker\n";
  });
  const auto before = std::chrono::steady_clock::now();
  EXPECT_TRUE(vr::testing::WaitForFileText(dir / "later.log", "marker", 0, std::chrono::seconds(60)));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(30));
  writer.join();
  EXPECT_TRUE(vr::testing::WaitForFileText(file, "start", 0, std::chrono::milliseconds(0)));
  EXPECT_THROW(vr::testing::WaitForFileText(dir / "absent/x.log", "x", 0, std::chrono::milliseconds(1)),
               std::runtime_error);
}

// FolderFixture run by hand inside a test, to look at what it leaves.
class FolderProbe : public vr::testing::FolderFixture {
 public:
  void TestBody() override {}
  using FolderFixture::base_;
  using FolderFixture::SetEnv;
  using FolderFixture::SetUp;
  using FolderFixture::TearDown;
  using FolderFixture::WriteFile;
};

TEST(FolderFixture, GivesEachTestAFolderAndPutsBackTheEnvironmentAndTheFaults) {
  vr::testing::ScopedEnv mine("VR_SUPPORT_PROBE", "before");
  FolderProbe a, b;
  vr::fault::Configure("support.Left#1=5");
  a.SetUp();
  EXPECT_FALSE(vr::fault::Hit("support.Left").has_value());  // nothing left over from before
  b.SetUp();
  EXPECT_NE(a.base_, b.base_);
  EXPECT_TRUE(fs::is_directory(a.base_));
  const fs::path file = a.WriteFile("x.txt", "bytes");
  EXPECT_EQ(file, a.base_ / "x.txt");
  EXPECT_EQ(vr::testing::ReadFileBytes(file), "bytes");
  a.SetEnv("VR_SUPPORT_PROBE", "during");
  vr::fault::Configure("support.Probe#1=5");
  a.TearDown();
  EXPECT_FALSE(fs::exists(a.base_));
  EXPECT_TRUE(fs::is_directory(b.base_));
  EXPECT_EQ(std::string(std::getenv("VR_SUPPORT_PROBE")), "before");
  EXPECT_FALSE(vr::fault::Hit("support.Probe").has_value());
  b.TearDown();
  EXPECT_FALSE(fs::exists(b.base_));
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
