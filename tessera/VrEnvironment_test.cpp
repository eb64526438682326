// The installation environment of tessera, discovered on fresh demo hosts made by vrhost.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/qkit/qkit.h"
#include "platform/registry/registry.h"
#include "platform/registry/regtools.h"
#include "platform/text/convert.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ScopedEnv;
using vr::testing::TempDir;

namespace {

const std::string kToolFolder = std::filesystem::path(CLUSTER_INFO_TOOL).parent_path().string();
constexpr const WChar* kServerKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server";
constexpr const WChar* kInstallationKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\ClusterInstallation";
constexpr const WChar* kVorantKey = u"SOFTWARE\\Tamberlin\\TB Vorant";

std::string U8(const WString& s) { return vr::text::WideToUtf8(s); }

class Environment : public ::testing::Test {
 protected:
  Environment() { vr::fault::Reset(); }
  ~Environment() override {
    vr::fault::Reset();
    vr::registry::CloseHive();
  }

  // A fresh host: vrhost init with the given options.
  void Init(std::vector<std::string> options = {}) {
    vr::registry::CloseHive();
    options.insert(options.begin(), {"init", "--force", "--root", root_.path()});
    const auto r = vr::testing::RunProgram(VRHOST, options, {"VR_COMPUTER_NAME=THISNODE"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  void SetString(const WChar* key, const WChar* name, const WString& text) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * 2)),
              ERROR_SUCCESS);
    RegCloseKey(h);
  }
  void SetDword(const WChar* key, const WChar* name, DWORD value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
    RegCloseKey(h);
  }
  void DeleteValue(const WChar* key, const WChar* name) {
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueW(h, name), ERROR_SUCCESS);
    RegCloseKey(h);
  }
  void SetVersion(const WString& v) { SetString(kServerKey, u"Version", v); }

  // Constructs the registration object as main does and keeps it for the checks.
  int Construct(int clusterMode = 0) {
    message_.clear();
    int status = -1;
    object_ = std::make_unique<CVrPlatformRegistration>(clusterMode, nullptr, message_, status);
    return status;
  }
  std::string Message() const { return U8(message_); }

  TempDir root_{"vrenv"};
  ScopedEnv rootEnv_{"VR_HOST_ROOT", root_.path()};
  ScopedEnv nameEnv_{"VR_COMPUTER_NAME", "THISNODE"};
  ScopedEnv pathEnv_{"PATH", kToolFolder + ":/usr/bin:/bin"};
  WString message_;
  std::unique_ptr<CVrPlatformRegistration> object_;
};

TEST_F(Environment, ServerVersionTextsAndNumbers) {
  Init();
  struct Case {
    const char16_t* stored;
    const char16_t* text;
    double number;
  };
  const Case cases[] = {
      {u"00.00.94", u"00.00.94", 7.0},  {u"A.07.50", u"A.07.50", 7.5},     {u"a.07.50", u"a.07.50", 7.5},
      {u"A.07.50a", u"A.07.50a", 0},    {u"x.07.51.0100", u"A.07.51", 7.51}, {u"X.08", u"A.08", 8.0},
      {u"X.07.5", u"A.07.5", 7.5},      {u"A.", u"A.", 0},                 {u"A.+7.5", u"A.+7.5", 0},
      {u"B.07.50", u"B.07.50", 0},      {u"07.50", u"07.50", 0},           {u"A.07.499", u"A.07.499", 7.499},
  };
  for (const Case& c : cases) {
    SetVersion(c.stored);
    ASSERT_EQ(Construct(), 0) << U8(c.stored) << ": " << Message();
    EXPECT_EQ(object_->GetServerVersion(), c.text) << U8(c.stored);
    EXPECT_DOUBLE_EQ(object_->GetServerVersionNumber(), c.number) << U8(c.stored);
    EXPECT_EQ(object_->GetComputerName(), u"THISNODE");
    EXPECT_EQ(object_->GetClusterNodeState(), 0);
  }
}

TEST_F(Environment, RunLogFolderFollowsVersionAndRole) {
  Init({"--server-version", "00.00.94"});
  WString message;
  ASSERT_EQ(Construct(), 0) << Message();
  EXPECT_EQ(object_->GetInstallationStatus(), 0u);  // no cluster detection below 7.499
  ASSERT_TRUE(object_->InitTesseraLog(message)) << U8(message);
  object_->GetRunLog()->AppendLine(u"first run", true);
  object_.reset();
  EXPECT_TRUE(std::filesystem::exists(root_ / "server/data/log/tessera.log"));
  EXPECT_FALSE(std::filesystem::exists(root_ / "server/share/install/log/tessera.log"));

  SetVersion(u"A.07.50");
  ASSERT_EQ(Construct(), 0) << Message();
  ASSERT_TRUE(object_->InitTesseraLog(message)) << U8(message);
  object_.reset();
  EXPECT_TRUE(std::filesystem::exists(root_ / "server/share/install/log/tessera.log"));

  // A passive node of a 7.5 server logs below DataDir; the log is appended to.
  Init({"--cluster", "passive"});
  ASSERT_EQ(Construct(), 0) << Message();
  EXPECT_EQ(object_->GetClusterNodeState(), -1);
  EXPECT_EQ(object_->GetActiveNodeName(), u"VRMSNODE2");
  EXPECT_EQ(object_->GetClusterGroupName(), u"VRMS Resource Group");
  ASSERT_TRUE(object_->InitTesseraLog(message)) << U8(message);
  object_->GetRunLog()->AppendLine(u"one", true);
  object_.reset();
  ASSERT_EQ(Construct(), 0);
  ASSERT_TRUE(object_->InitTesseraLog(message));
  object_->GetRunLog()->AppendLine(u"two", true);
  object_.reset();
  EXPECT_FALSE(std::filesystem::exists(root_ / "server/share/install/log/tessera.log"));
  const std::string log = vr::testing::ReadFileBytes(root_ / "server/data/log/tessera.log");
  const std::u16string expected = u"\uFEFFone\r\n\r\ntwo\r\n";
  EXPECT_EQ(log, std::string(reinterpret_cast<const char*>(expected.data()), expected.size() * 2));
}

TEST_F(Environment, RunLogFailuresHaveTheirMessages) {
  Init({"--server-version", "00.00.94"});
  DeleteValue(kVorantKey, u"DataDir");
  WString message;
  ASSERT_EQ(Construct(), 0);
  EXPECT_FALSE(object_->InitTesseraLog(message));
  EXPECT_EQ(U8(message),
            "(TESSERA800) VRM/S DataDir cannot be determined from registry value "
            "'HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\TB Vorant\\DataDir'.\n");

  SetVersion(u"A.07.50");
  SetDword(kVorantKey, u"VrMsShareInstallDir", 7);  // not a string
  ASSERT_EQ(Construct(), 0);
  EXPECT_FALSE(object_->InitTesseraLog(message));
  EXPECT_EQ(U8(message),
            "(TESSERA803) VRM/S ShareInstallDir cannot be determined from registry value "
            "'HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\TB Vorant\\VrMsShareInstallDir'.\n");

  SetString(kVorantKey, u"VrMsShareInstallDir", u"\\nowhere\\at\\all\\");
  ASSERT_EQ(Construct(), 0);
  EXPECT_FALSE(object_->InitTesseraLog(message));
  EXPECT_EQ(U8(message), "(TESSERA201) Cannot create log file '\\nowhere\\at\\all\\log\\tessera.log'.\n");
}

TEST_F(Environment, ClusterOptionMustFitTheSystem) {
  Init({"--server-version", "00.00.94"});
  EXPECT_EQ(Construct(1), 50);
  EXPECT_EQ(Message(), "(TESSERA816) Option -cluster is not valid on non-cluster system.\n");
  EXPECT_EQ(object_->GetClusterNodeState(), 0);

  Init();  // 7.5, standalone
  EXPECT_EQ(Construct(2), 50);
  EXPECT_EQ(Construct(0), 0);

  // Installation status 3: not a cluster node; "-cluster" is refused, a run without it goes on.
  SetDword(kInstallationKey, u"Status", 3);
  EXPECT_EQ(Construct(1), 50);
  EXPECT_EQ(object_->GetInstallationStatus(), 3u);
  EXPECT_EQ(Construct(0), 0);

  Init({"--cluster", "active"});
  EXPECT_EQ(Construct(1), 0) << Message();
  EXPECT_EQ(object_->GetClusterNodeState(), 1);
  EXPECT_EQ(object_->GetInstallationStatus(), 5u);
  EXPECT_EQ(object_->GetClusterMode(), 1);
  EXPECT_TRUE(object_->GetActiveNodeName().empty());
  Init({"--cluster", "passive"});
  EXPECT_EQ(Construct(2), 0) << Message();
  EXPECT_EQ(object_->GetClusterNodeState(), -1);
}

TEST_F(Environment, ClusterDiscoveryFailures) {
  Init({"--cluster", "active"});
  SetString(kInstallationKey, u"ResourceGroup", u"");
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), "(TESSERA251) Name of cluster resource group is empty.\n");

  SetString(kInstallationKey, u"ResourceGroup", u"Another Group");
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), "(TESSERA253) Cluster resource group 'Another Group' cannot be opened.\n");

  SetString(kInstallationKey, u"ResourceGroup", u"VRMS Resource Group");
  SetDword(u"Cluster\\Groups\\VRMS Resource Group", u"State", 0xFFFFFFFF);
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), "(TESSERA254) State cannot be retrieved for resource group 'VRMS Resource Group'.\n");

  ASSERT_EQ(vr::registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, u"Cluster"), ERROR_SUCCESS);
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), "(TESSERA252) Connection to cluster cannot be openned.\n");

  // The cluster-information tool cannot be found.
  ScopedEnv noTool("PATH", "/usr/bin:/bin");
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), "(TESSERA250) Execution of command line 'VrMsClusterInfo -getInstallationStatus' failed.\n");
}

TEST_F(Environment, AFifteenCharacterOwnerIsRecognised) {
  ScopedEnv longName("VR_COMPUTER_NAME", "NODE-WITH-15-CH");
  Init({"--cluster", "active"});
  SetString(u"Cluster\\Groups\\VRMS Resource Group", u"OwnerNode", u"NODE-WITH-15-CH");
  EXPECT_EQ(Construct(1), 0) << Message();
  EXPECT_EQ(object_->GetClusterNodeState(), 1);
}

TEST_F(Environment, VersionThatCannotBeReadStopsTheDiscovery) {
  const std::string expected =
      "(TESSERA810) VRM/S version cannot be determined from registry value "
      "'HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\Version'.\n";
  {
    ScopedEnv missing("VR_HOST_ROOT", root_ / "missing");
    EXPECT_EQ(Construct(), 100);
    EXPECT_EQ(Message(), expected);
  }
  Init();
  DeleteValue(kServerKey, u"Version");
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), expected);
  SetDword(kServerKey, u"Version", 750);  // a value of the wrong type
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), expected);

  // A damaged store: the same message, and the store is left as it was.
  vr::registry::CloseHive();
  const std::string damaged = "SQLite format 3" + std::string(2000, '\x7f');
  vr::testing::WriteFileBytes(root_ / "registry.db", damaged);
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), expected);
  EXPECT_EQ(vr::testing::ReadFileBytes(root_ / "registry.db"), damaged);
}

TEST_F(Environment, ToolRunnerUsesAFreshTemporaryFileAndRemovesIt) {
  TempDir temp("vrenvtmp");
  ScopedEnv tmp("TMPDIR", temp.path());
  const std::string script = temp / "echoer";
  vr::testing::WriteFileBytes(script, "#!/bin/sh\nprintf 'Gr\\303\\274ppe 7\\r\\n'\nexit 3\n");
  ::chmod(script.c_str(), 0755);
  DWORD code = 0;
  WString output, message;
  ASSERT_TRUE(CVrPlatformRegistration::RunCmdTool(vr::text::Utf8ToWide(script), &code, &output, message));
  EXPECT_EQ(code, 3u);
  EXPECT_EQ(output, u"Gr\u00fcppe 7\r\n");
  std::filesystem::remove(script);
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));  // the output file is gone

  EXPECT_FALSE(CVrPlatformRegistration::RunCmdTool(u"no-such-tool -x", &code, &output, message));
  EXPECT_EQ(U8(message), "(TESSERA250) Execution of command line 'no-such-tool -x' failed.\n");
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
}

// A tool that never ends: the runner stops it at the time limit (VR_CLUSTER_TOOL_TIMEOUT_MS,
// 60 s without it), says so, and leaves neither the tool nor its output file behind.
TEST_F(Environment, AToolThatHangsIsStoppedAtTheTimeLimit) {
  TempDir temp("vrenvhang");
  ScopedEnv tmp("TMPDIR", temp.path());
  ScopedEnv limit("VR_CLUSTER_TOOL_TIMEOUT_MS", "300");
  const std::string pidFile = temp / "pid";
  const std::string script = temp / "hangs";
  vr::testing::WriteFileBytes(script, "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec sleep 60\n");
  ::chmod(script.c_str(), 0755);
  const WString command = vr::text::Utf8ToWide(script) + u" -getResourceGroupName";
  DWORD code = 0;
  WString output, message;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(CVrPlatformRegistration::RunCmdTool(command, &code, &output, message));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(U8(message), "(TESSERA271) Command line '" + U8(command) +
                             "' did not end within 300 ms (VR_CLUSTER_TOOL_TIMEOUT_MS) and was stopped.\n");
  const int pid = std::atoi(vr::testing::ReadFileBytes(pidFile).c_str());
  ASSERT_GT(pid, 0);
  EXPECT_NE(::kill(pid, 0), 0) << "the tool still runs";
  std::filesystem::remove(pidFile);
  std::filesystem::remove(script);
  EXPECT_TRUE(std::filesystem::is_empty(temp.path()));

  // A limit that is no positive number of milliseconds leaves the default: a quick tool ends.
  ScopedEnv bad("VR_CLUSTER_TOOL_TIMEOUT_MS", "-5");
  EXPECT_TRUE(CVrPlatformRegistration::RunCmdTool(u"true", &code, nullptr, message)) << U8(message);
  // A stop that fails is reported as the stopped run; the wait still ends at the limit.
  ScopedEnv shortLimit("VR_CLUSTER_TOOL_TIMEOUT_MS", "100");
  vr::fault::Configure("os.TerminateProcess#1=5");
  EXPECT_FALSE(CVrPlatformRegistration::RunCmdTool(u"sleep 1", &code, nullptr, message));
  EXPECT_NE(U8(message).find("(TESSERA271)"), std::string::npos) << U8(message);
  vr::fault::Reset();
}

TEST_F(Environment, WithoutATemporaryFolderTheOutputGoesToDriveC) {
  Init({"--cluster", "active"});
  TempDir work("vrenvcwd");
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(work.path());
  const std::string trace = work / "trace.txt";
  qkit_SetTraceSink(trace, 0xFFFFFFFFu);
  vr::fault::Configure("file.GetTempPath#*=3");
  // "C:\" is no folder here: no file for the output can be made and the run fails.
  EXPECT_EQ(Construct(), 100);
  EXPECT_EQ(Message(), "(TESSERA250) Execution of command line 'VrMsClusterInfo -getResourceGroupName' failed.\n");
  // With a folder of that name the output goes through a unique file on it.
  std::filesystem::create_directory(work / "C:");
  EXPECT_EQ(Construct(), 0) << Message();
  EXPECT_EQ(object_->GetClusterGroupName(), u"VRMS Resource Group");
  EXPECT_TRUE(std::filesystem::is_empty(work / "C:"));
  // When no unique name can be had either, the fixed name is used; what an earlier run left
  // in it does not reach the answer, and the file is removed.
  vr::fault::Configure("file.GetTempPath#*=3;file.GetTempFileName#*=5");
  vr::testing::WriteFileBytes(work / "C:/~t1ja.tmp", "left over from an earlier run, longer than the name");
  EXPECT_EQ(Construct(), 0) << Message();
  EXPECT_EQ(object_->GetClusterGroupName(), u"VRMS Resource Group");
  EXPECT_FALSE(std::filesystem::exists(work / "C:/~t1ja.tmp"));
  qkit_SetTraceSink("", 0);
  vr::fault::Reset();
  std::filesystem::current_path(cwd);
  const std::string t = vr::testing::ReadFileBytes(trace);
  EXPECT_NE(t.find("-> subHR failure from GetTempPathW = 0x80070003"), std::string::npos);
  EXPECT_NE(t.find("Temp file for storing tool output: \"C:/vrn"), std::string::npos);
  EXPECT_NE(t.find("Temp file for storing tool output: \"C:\\~t1ja.tmp\""), std::string::npos);
}

TEST_F(Environment, IsWindowsOSComparesTheDecimalText) {
  Init({"--server-version", "00.00.94"});
  ASSERT_EQ(Construct(), 0);
  object_->WindowsOsTypes() = {u"3"};
  EXPECT_TRUE(object_->IsWindowsOS(3));
  object_->WindowsOsTypes() = {u"03"};
  EXPECT_FALSE(object_->IsWindowsOS(3));
  object_->WindowsOsTypes() = {u"1", u"-4", u"30"};
  EXPECT_TRUE(object_->IsWindowsOS(-4));
  EXPECT_TRUE(object_->IsWindowsOS(30));
  EXPECT_FALSE(object_->IsWindowsOS(3));
  object_->WindowsOsTypes().clear();
  EXPECT_FALSE(object_->IsWindowsOS(0));
}

// Every fault point the discovery of a passive node reaches, failed in turn: the construction
// reports a failure with a message (status 100), or, for a handle or file that cannot be
// closed or deleted, goes on; no temporary file is left behind.
TEST_F(Environment, EveryFaultOfTheDiscoveryIsReported) {
  Init({"--cluster", "passive"});
  TempDir temp("vrenvsweep");
  ScopedEnv tmp("TMPDIR", temp.path());
  const std::string log = root_ / "faults.log";
  vr::fault::SetLogFile(log);
  vr::fault::Configure("");
  ASSERT_EQ(Construct(), 0);
  vr::fault::SetLogFile("");
  std::vector<std::string> points;
  std::istringstream in(vr::testing::ReadFileBytes(log));
  for (std::string line; std::getline(in, line);) points.push_back(line);
  ASSERT_GT(points.size(), 10u);
  for (const char* point : {"registry.OpenKey#1", "registry.QueryValue#2", "os.GetComputerName#1",
                                   "os.StartProcess#2", "file.GetTempFileName#1", "cluster.GetClusterGroupState#1"})
    EXPECT_NE(std::find(points.begin(), points.end(), point), points.end()) << point;
  for (const std::string& point : points) {
    vr::fault::Configure(point + "=5");
    const int status = Construct();
    vr::fault::Reset();
    // The tool's output file is gone after every run that made one, unless deleting it failed.
    if (point.rfind("file.Delete", 0) != 0) {
      EXPECT_TRUE(std::filesystem::is_empty(temp.path())) << point;
    }
    for (const auto& e : std::filesystem::directory_iterator(temp.path())) std::filesystem::remove(e.path());
    const bool closing = point.find("Close") != std::string::npos;
    const bool tolerated = closing || point.rfind("file.Delete", 0) == 0 || point.rfind("file.Close", 0) == 0;
    if (tolerated && status == 0) {
      EXPECT_EQ(object_->GetClusterNodeState(), -1) << point;
      continue;
    }
    EXPECT_EQ(status, 100) << point;
    EXPECT_FALSE(message_.empty()) << point;
  }
}

}  // namespace
