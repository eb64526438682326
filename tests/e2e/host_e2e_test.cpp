// End to end: vrhost builds and administers fresh hosts in temporary folders; tessera and
// VrMsClusterInfo run against them as installed programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "platform/text/convert.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/Files/VrCrc32.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/SweepParts.h"

using vr::testing::RunProgram;
using vr::testing::RunResult;
namespace fs = std::filesystem;

namespace {

const std::string kToolFolder = fs::path(CLUSTER_INFO_TOOL).parent_path().string();

class HostE2e : public vr::testing::ProgramFixture {
 protected:
  // Programs see this root, this computer name and the cluster tool on their path.
  HostE2e() { programEnv_.insert(programEnv_.end(), {"VR_COMPUTER_NAME=THISNODE", "PATH=" + kToolFolder + ":/usr/bin:/bin"}); }
  std::vector<std::string> Env(const std::string& root) const { return ProgramEnv({"VR_HOST_ROOT=" + root}); }
  RunResult Vrhost(std::vector<std::string> args, const std::string& root, std::vector<std::string> extra = {},
                   const std::string& input = {}) {
    extra.insert(extra.begin(), "VR_HOST_ROOT=" + root);
    return Run(VRHOST, args, extra, input);
  }
  RunResult Vrhost(std::vector<std::string> args) { return Vrhost(std::move(args), host_); }
  RunResult Tessera(std::vector<std::string> args, const std::string& root) { return RunProgram(TESSERA, args, Env(root)); }
  void Init(std::vector<std::string> options = {}) {
    options.insert(options.begin(), {"init", "--force"});
    const RunResult r = Vrhost(options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::string Snapshot(const std::string& root, std::vector<std::string> options = {}) {
    options.insert(options.begin(), "snapshot");
    const RunResult r = Vrhost(options, root);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
};

TEST_F(HostE2e, InitBuildsACompleteDemoServer) {
  Init();
  const RunResult vorant = Vrhost({"reg", "query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\TB Vorant"});
  ASSERT_EQ(vorant.exitCode, 0) << vorant.err;
  std::string windowsRoot = host_;
  std::replace(windowsRoot.begin(), windowsRoot.end(), '/', '\\');
  std::string escaped;
  for (char c : windowsRoot) escaped += c == '\\' ? "\\\\" : std::string(1, c);
  EXPECT_NE(vorant.out.find("\"DataDir\"=\"" + escaped + "\\\\server\\\\data\\\\\""), std::string::npos) << vorant.out;
  EXPECT_NE(vorant.out.find("\"VrMsShareInstallDir\"=\"" + escaped + "\\\\server\\\\share\\\\install\\\\\""),
            std::string::npos);
  EXPECT_NE(vorant.out.find("\"InstallDir\""), std::string::npos);
  EXPECT_NE(vorant.out.find("\"ShareDir\""), std::string::npos);
  const RunResult version = Vrhost({"reg", "query", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server", "Version"});
  EXPECT_EQ(version.out, "\"Version\"=\"A.07.50\"\n");
  const RunResult depot = Vrhost({"reg", "query", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\Depot"});
  EXPECT_NE(depot.out.find("\"PackagesPath\"=\"" + escaped + "\\\\server\\\\install\\\\Packages\\\\\""), std::string::npos);
  EXPECT_NE(depot.out.find("\"InstrumentationPath\"=\"" + escaped + "\\\\server\\\\share\\\\instrumentation\"\n"),
            std::string::npos);
  EXPECT_EQ(Vrhost({"reg", "query", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess"}).exitCode, 0);

  for (const char* folder : {"server/data/log", "server/share/install/log", "server/share/instrumentation",
                             "server/install/Packages", "server/share/install/conf/PrereqCheck"})
    EXPECT_TRUE(fs::is_directory(dir_ / ("host/" + std::string(folder)))) << folder;
  // The prerequisite file has a valid frame and CRC line, and the packages tree holds copies.
  const std::string main = dir_ / "host/server/share/install/conf/PrereqCheck/vroreqcheck.cfg";
  VrConfigFile config(vr::text::Utf8ToWide(main).c_str());
  EXPECT_EQ(config.LoadFile(), S_OK);
  const std::string bytes = vr::testing::ReadFileBytes(main);
  const size_t crcLine = bytes.rfind("CONFIG FILE CRC: ");
  ASSERT_NE(crcLine, std::string::npos);
  uint32_t crc = 0;
  ASSERT_TRUE(VrCrc32().Update(std::string_view(bytes).substr(0, crcLine), crc));
  char expected[16];
  std::snprintf(expected, sizeof expected, "%.8X", crc);
  EXPECT_EQ(bytes.substr(crcLine + 17), expected);
  int copies = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir_ / "host/server/install/Packages"))
    if (e.path().filename() == "vroreqcheck.cfg") {
      ++copies;
      EXPECT_EQ(vr::testing::ReadFileBytes(e.path()), bytes);
    }
  EXPECT_GE(copies, 2);
}

TEST_F(HostE2e, InitReplacesOnlyHostsAndOnlyWhenForced) {
  Init();
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Custom", "v", "REG_SZ", "mine"}).exitCode, 0);
  const RunResult again = Vrhost({"init"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("is not empty; use --force"), std::string::npos) << again.err;
  EXPECT_EQ(Vrhost({"reg", "query", "SOFTWARE\\Custom", "v"}).exitCode, 0);  // untouched
  Init({"--server-version", "00.00.94"});
  EXPECT_EQ(Vrhost({"reg", "query", "SOFTWARE\\Custom"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "query", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server", "Version"}).out,
            "\"Version\"=\"00.00.94\"\n");

  // A folder of something else is never cleared.
  const std::string other = dir_ / "other";
  fs::create_directory(other);
  vr::testing::WriteFileBytes(other + "/precious.txt", "keep me");
  const RunResult refused = Vrhost({"init", "--force"}, other);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("is not a host root made by vrhost init"), std::string::npos);
  EXPECT_EQ(vr::testing::ReadFileBytes(other + "/precious.txt"), "keep me");

  EXPECT_EQ(Vrhost({"init", "--cluster", "both"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"init", "--root", dir_ / "a*b"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"frobnicate"}).exitCode, 2);
}

// Every fault point that init reaches, failed in turn: init reports the failure and leaves
// no half-made host behind (or, for a handle that cannot be closed, succeeds).
// In parts that the test run spreads over the processors (tests/support/SweepParts.h).
constexpr int kInitSweepParts = 4;
class HostE2eSweep : public HostE2e, public ::testing::WithParamInterface<int> {};

TEST_P(HostE2eSweep, AFailedInitLeavesNothingBehind) {
  const std::string log = dir_ / "faults.log";
  ASSERT_EQ(Vrhost({"init", "--cluster", "active"}, host_, {"VR_FAULTS_LOG=" + log}).exitCode, 0);
  std::vector<std::string> points;
  std::istringstream in(vr::testing::ReadFileBytes(log));
  for (std::string line; std::getline(in, line);) points.push_back(line);
  ASSERT_GT(points.size(), 20u);
  for (size_t i = 0; i < points.size(); ++i) {
    if (!vr::testing::InSweepPart(i, GetParam(), kInitSweepParts)) continue;
    const std::string& point = points[i];
    const std::string root = dir_ / "swept";
    const RunResult r = Vrhost({"init", "--cluster", "active"}, root, {"VR_FAULTS=" + point + "=5"});
    // A registry handle, or a file read to its end, that cannot be closed loses nothing.
    const bool readClose = point.rfind("file.Close", 0) == 0 && i > 0 && points[i - 1].rfind("file.Read#", 0) == 0;
    if ((point.find("CloseKey") != std::string::npos || readClose) && r.exitCode == 0) {
      fs::remove_all(root);
      continue;
    }
    EXPECT_EQ(r.exitCode, 1) << point;
    EXPECT_NE(r.err.find("vrhost: "), std::string::npos) << point << ": " << r.err;
    EXPECT_FALSE(fs::exists(root)) << point;
    fs::remove_all(root);
  }
}
INSTANTIATE_TEST_SUITE_P(Part, HostE2eSweep, ::testing::Range(0, kInitSweepParts));

TEST_F(HostE2e, SnapshotsAreCanonical) {
  Init({"--cluster", "passive"});
  const std::string first = Snapshot(host_);
  EXPECT_EQ(Snapshot(host_), first);
  EXPECT_EQ(first.rfind("== registry ==\n[HKEY_LOCAL_MACHINE]\n", 0), 0u);
  EXPECT_NE(first.find("== files ==\n"), std::string::npos);
  EXPECT_EQ(first.find("registry.db"), std::string::npos);
  // Two hosts in different folders in the same state compare equal once the root is set aside.
  const std::string second = dir_ / "second";
  ASSERT_EQ(Vrhost({"init", "--cluster", "passive"}, second).exitCode, 0);
  EXPECT_NE(Snapshot(second), first);
  EXPECT_EQ(Snapshot(second, {"--relative"}), Snapshot(host_, {"--relative"}));
  // Values set in another order give the same text; any change shows.
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\K", "b", "REG_DWORD", "2"}).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\K", "a", "REG_DWORD", "1"}).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "software\\k", "A", "REG_DWORD", "1"}, second).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "software\\k", "B", "REG_DWORD", "2"}, second).exitCode, 0);
  EXPECT_NE(Snapshot(host_, {"--relative"}), Snapshot(second, {"--relative"}));  // key spelled otherwise
  ASSERT_EQ(Vrhost({"reg", "delete", "software\\k"}, second).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\K", "b", "REG_DWORD", "2"}, second).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\K", "a", "REG_DWORD", "1"}, second).exitCode, 0);
  EXPECT_EQ(Snapshot(host_, {"--relative"}), Snapshot(second, {"--relative"}));
  vr::testing::WriteFileBytes(second + "/server/data/log/tessera.log", "x");
  EXPECT_NE(Snapshot(host_, {"--relative"}), Snapshot(second, {"--relative"}));
  EXPECT_EQ(Vrhost({"snapshot", "--section", "nothing"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"snapshot"}, dir_ / "absent").exitCode, 1);
}

TEST_F(HostE2e, RegImportTakesRegedit4AndPassesOverValuesOfADeletedKey) {
  Init();
  const std::string file = dir_ / "old.reg";
  vr::testing::WriteFileBytes(file, "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n\"Name\"=\"\xE9t\xE9\"\r\n"
                                    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Custom]\r\n\"stale\"=\"x\"\r\n");
  RunResult r = Vrhost({"reg", "import", file});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "vrhost: warning: " + file + ": line 6: the value is ignored: its key is being deleted\n");
  r = Vrhost({"reg", "query", "SOFTWARE\\Caf\xC3\xA9", "Name"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\xC3\xA9t\xC3\xA9"), std::string::npos) << r.out;
  // Another hive by its short name changes nothing.
  const std::string before = Snapshot(host_);
  r = Vrhost({"reg", "import", "-"}, host_, {}, "Windows Registry Editor Version 5.00\n[HKCU\\Software\\X]\n\"a\"=\"b\"\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "vrhost: -: line 2: only keys of HKEY_LOCAL_MACHINE can be imported; nothing was imported\n");
  EXPECT_EQ(Snapshot(host_), before);
}

// The ledger of registrations outlives what it records: the whole snapshot leaves it out (with
// anything a killed save left beside it), and it is shown when asked for by name.
TEST_F(HostE2e, TheLedgerIsShownOnlyWhenAskedFor) {
  Init();
  const std::string before = Snapshot(host_);
  EXPECT_EQ(Vrhost({"snapshot", "--section", "ledger"}).out, "== ledger ==\n");
  fs::create_directories(host_ + "/ledger");
  vr::testing::WriteFileBytes(host_ + "/ledger/ledger.txt", "vorant-ledger 1\nend\n");
  vr::testing::WriteFileBytes(host_ + "/ledger/.ledger.txt.abcdef.tmp", "x");
  EXPECT_EQ(Snapshot(host_), before);
  const RunResult ledger = Vrhost({"snapshot", "--section", "ledger"});
  EXPECT_EQ(ledger.exitCode, 0) << ledger.err;
  EXPECT_EQ(ledger.out, "== ledger ==\nvorant-ledger 1\nend\n");
  // A file of that name elsewhere is no ledger.
  vr::testing::WriteFileBytes(host_ + "/server/ledger", "x");
  EXPECT_NE(Snapshot(host_), before);
}

TEST_F(HostE2e, ExportThenImportIntoAFreshRootGivesAnIdenticalSnapshot) {
  Init({"--cluster", "active"});
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Odd", "multi", "REG_MULTI_SZ", "one\\0two"}).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Odd", "", "REG_BINARY", "00ff10"}).exitCode, 0);
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Odd", "path", "REG_EXPAND_SZ", "%TEMP%\\x"}).exitCode, 0);
  const RunResult exported = Vrhost({"reg", "export"});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  const std::string file = dir_ / "all.reg";
  vr::testing::WriteFileBytes(file, exported.out);

  // The fresh root gets the host's files, then its registry from the export.
  const std::string fresh = dir_ / "fresh";
  fs::create_directory(fresh);
  for (const auto& e : fs::directory_iterator(host_))
    if (e.path().filename() != "registry.db") fs::copy(e.path(), fresh + "/" + e.path().filename().string(), fs::copy_options::recursive);
  const RunResult imported = Vrhost({"reg", "import", file}, fresh);
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  EXPECT_EQ(Snapshot(fresh), Snapshot(host_));

  // Standard input, and the registry section alone on an empty root.
  const std::string bare = dir_ / "bare";
  fs::create_directory(bare);
  ASSERT_EQ(Vrhost({"reg", "import", "-"}, bare, {}, exported.out).exitCode, 0);
  EXPECT_EQ(Snapshot(bare, {"--section", "registry"}), Snapshot(host_, {"--section", "registry"}));
}

TEST_F(HostE2e, RegCommandsSetDeleteAndRefuse) {
  Init();
  EXPECT_EQ(Vrhost({"reg", "set", "HKLM\\SOFTWARE\\T", "s", "sz", "text"}).exitCode, 0);
  EXPECT_EQ(Vrhost({"reg", "set", "SOFTWARE\\T", "d", "REG_DWORD", "0x10"}).exitCode, 0);
  EXPECT_EQ(Vrhost({"reg", "set", "SOFTWARE\\T", "n", "REG_DWORD", "-1"}).exitCode, 0);
  const RunResult q = Vrhost({"reg", "query", "SOFTWARE\\T"});
  EXPECT_EQ(q.out, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\T]\n\"s\"=\"text\"\n\"d\"=dword:00000010\n\"n\"=dword:ffffffff\n");
  EXPECT_EQ(Vrhost({"reg", "delete", "SOFTWARE\\T", "s"}).exitCode, 0);
  EXPECT_EQ(Vrhost({"reg", "query", "SOFTWARE\\T", "s"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "delete", "SOFTWARE\\T", "s"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "delete", "SOFTWARE\\T"}).exitCode, 0);
  const RunResult gone = Vrhost({"reg", "delete", "SOFTWARE\\T"});
  EXPECT_EQ(gone.exitCode, 1);
  EXPECT_NE(gone.err.find("error 2"), std::string::npos) << gone.err;

  EXPECT_EQ(Vrhost({"reg", "set", "SOFTWARE\\T", "d", "REG_DWORD", "lots"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "set", "SOFTWARE\\T", "d", "REG_QWORD", "1"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "set", "SOFTWARE\\T", "d", "REG_BINARY", "abc"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "set", "HKEY_CURRENT_USER\\X", "d", "REG_SZ", "x"}).exitCode, 1);
  EXPECT_EQ(Vrhost({"reg", "set", "SOFTWARE\\T", "d"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"reg", "export", "SOFTWARE\\Nothing"}).exitCode, 1);

  const std::string before = Snapshot(host_);
  const std::string bad = dir_ / "bad.reg";
  vr::testing::WriteFileBytes(bad, "Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\n[HKLM\\New]\n\"x\"=dword:xyz\n");
  const RunResult refused = Vrhost({"reg", "import", bad});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("line 5"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("nothing was imported"), std::string::npos);
  EXPECT_EQ(Snapshot(host_), before);
  EXPECT_EQ(Vrhost({"reg", "query", "SOFTWARE"}, dir_ / "absent").exitCode, 1);
}

TEST_F(HostE2e, ProgramsWritingAtOnceLoseNothing) {
  Init();
  constexpr int kWriters = 12;
  std::vector<pid_t> pids;
  for (int i = 0; i < kWriters; ++i)
    pids.push_back(vr::testing::StartProgram(VRHOST, {"reg", "set", "SOFTWARE\\Busy", "v" + std::to_string(i), "REG_DWORD",
                                                      std::to_string(i)},
                                             Env(host_)));
  for (pid_t p : pids) EXPECT_EQ(vr::testing::WaitProgram(p), 0);
  const RunResult q = Vrhost({"reg", "query", "SOFTWARE\\Busy"});
  for (int i = 0; i < kWriters; ++i) EXPECT_NE(q.out.find("\"v" + std::to_string(i) + "\"="), std::string::npos) << i;
}

TEST_F(HostE2e, ClusterInfoToolAnswersFromTheHost) {
  Init();
  const auto tool = [&](const char* option) { return RunProgram(CLUSTER_INFO_TOOL, {option}, Env(host_)); };
  EXPECT_EQ(tool("-getInstallationStatus").exitCode, 0);
  ASSERT_EQ(Vrhost({"cluster", "passive"}).exitCode, 0);
  EXPECT_EQ(tool("-getInstallationStatus").exitCode, 5);
  EXPECT_EQ(tool("-getResourceGroupName").out, "VRMS Resource Group");
  const RunResult show = Vrhost({"cluster"});
  EXPECT_NE(show.out.find("owner node: VRMSNODE2"), std::string::npos) << show.out;
  ASSERT_EQ(Vrhost({"cluster", "none"}).exitCode, 0);
  EXPECT_EQ(tool("-getInstallationStatus").exitCode, 0);
  EXPECT_EQ(Vrhost({"cluster", "sideways"}).exitCode, 2);
}

// tessera's discovery as a user sees it: messages, usage and exit codes.
TEST_F(HostE2e, TesseraRefusesClusterModeOffACluster) {
  Init({"--server-version", "00.00.94"});
  const RunResult r = Tessera({"-reg", dir_ / "none.xml", "-patch", "VRMS_0100", "-cluster", "full"}, host_);
  EXPECT_EQ(r.exitCode, 50);
  EXPECT_EQ(r.err, "ERROR:    (TESSERA816) Option -cluster is not valid on non-cluster system.\n");
  EXPECT_NE(r.out.find("Usage:"), std::string::npos);

  // Installation status 3 on a 7.5 server: no cluster node either.
  Init();
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\ClusterInstallation",
                    "Status", "REG_DWORD", "3"})
                .exitCode,
            0);
  EXPECT_EQ(Tessera({"-unreg", dir_ / "undo.txt", "-cluster", "local"}, host_).exitCode, 50);
  // Without "-cluster" the discovery succeeds and the run itself is reached.
  const RunResult plain = Tessera({"-unreg", dir_ / "undo.txt"}, host_);
  EXPECT_EQ(plain.exitCode, 52);  // the run reads the (missing) undo file
  EXPECT_NE(plain.err.find("(TESSERA207)"), std::string::npos) << plain.err;
}

TEST_F(HostE2e, TesseraReportsDiscoveryFailures) {
  Init({"--cluster", "active"});
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\ClusterInstallation",
                    "ResourceGroup", "REG_SZ", ""})
                .exitCode,
            0);
  const RunResult empty = Tessera({"-reg", dir_ / "none.xml", "-patch", "VRMS_0100"}, host_);
  EXPECT_EQ(empty.exitCode, 100);
  EXPECT_EQ(empty.err,
            "ERROR:    (TESSERA251) Name of cluster resource group is empty.\n\n"
            "Registration of patch VRMS_0100 failed. Errors during initialization. No changes done.\n");

  const std::string version =
      "ERROR:    (TESSERA810) VRM/S version cannot be determined from registry value\n"
      "          'HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Management\n"
      "          Server\\Version'.\n";
  // A missing host root (its own message, nothing made there), a value of the wrong type, a
  // damaged store.
  const RunResult missing = Tessera({"-unreg", dir_ / "u.txt"}, dir_ / "absent");
  EXPECT_EQ(missing.exitCode, 100);
  EXPECT_EQ(missing.err.rfind("ERROR:    (TESSERA270) No management server host at", 0), 0u) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "absent"));
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server", "Version", "REG_DWORD", "750"})
                .exitCode,
            0);
  const RunResult wrongType = Tessera({"-unreg", dir_ / "u.txt"}, host_);
  EXPECT_EQ(wrongType.exitCode, 100);
  EXPECT_EQ(wrongType.err.substr(0, version.size()), version);
  const std::string before = Snapshot(host_);
  const std::string db = host_ + "/registry.db";
  std::string damaged = vr::testing::ReadFileBytes(db);
  for (size_t i = 100; i < damaged.size(); i += 7) damaged[i] = static_cast<char>(~damaged[i]);
  vr::testing::WriteFileBytes(db, damaged);
  const RunResult broken = Tessera({"-unreg", dir_ / "u.txt"}, host_);
  EXPECT_EQ(broken.exitCode, 100);
  EXPECT_EQ(broken.err.substr(0, version.size()), version);
  EXPECT_EQ(vr::testing::ReadFileBytes(db), damaged);
  EXPECT_NE(before, "");
  const RunResult snapshot = Vrhost({"snapshot"});
  EXPECT_EQ(snapshot.exitCode, 1);
  EXPECT_NE(snapshot.err.find("error 1009"), std::string::npos) << snapshot.err;

  // A registry call that fails by fault injection ends the same way.
  Init();
  const RunResult injected = RunProgram(TESSERA, {"-unreg", dir_ / "u.txt"},
                                        {"VR_HOST_ROOT=" + host_, "VR_FAULTS=registry.QueryValue#2=5",
                                         "PATH=" + kToolFolder + ":/usr/bin:/bin"});
  EXPECT_EQ(injected.exitCode, 100);
  EXPECT_EQ(injected.err.substr(0, version.size()), version);
}

}  // namespace
