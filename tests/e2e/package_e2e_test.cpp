// End to end: the package section of the installed tessera on demo hosts made by vrhost init.
// Registration and unregistration of the example packages, the refusals of an unregistration,
// texts that would break a spliced statement, an unreachable Depot database, and the sweep of
// every fault point of a registration. Every case runs with the Depot on the embedded SQLite
// database and again on a PostgreSQL server of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/PgServer.h"
#include "tests/support/SweepParts.h"

namespace fs = std::filesystem;
using vr::testing::ReadFileBytes;
using vr::testing::RunResult;
using vr::testing::WriteFileBytes;

namespace {

const std::string kToolFolder = fs::path(CLUSTER_INFO_TOOL).parent_path().string();
const std::string kPatchesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Patches\\";
constexpr const char* kPatch = "VRPATCH_PKG_01";

enum class Engine { kSqlite, kPostgres };

class PackageE2e : public vr::testing::ProgramFixture, public ::testing::WithParamInterface<Engine> {
 protected:
  PackageE2e() {
    programEnv_.insert(programEnv_.end(), {"VR_COMPUTER_NAME=THISNODE", "PATH=" + kToolFolder + ":/usr/bin:/bin",
                                           "VR_DATA_DIR=" + std::string(VR_SOURCE_ROOT) + "/data"});
  }
  void SetUp() override {
    RunResult r = Vrhost({"init", "--force"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    if (GetParam() == Engine::kPostgres) {
      r = Vrhost(vr::testing::PgServer::Shared().UsePostgresArgs());
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    }
    Installed(kPatch);
    policyTypes_ = PolicyTypes();
    ASSERT_GE(policyTypes_.size(), 3u) << "the demo Depot needs policy types";
  }
  RunResult Vrhost(std::vector<std::string> args) { return Run(VRHOST, args); }
  // For a test that stops the server or changes its role, which the program's other tests
  // share: a server of the test's own, with the host's Depot moved onto a new database of it.
  vr::testing::PgServer& OwnServer() {
    own_ = std::make_unique<vr::testing::PgServer>();
    const RunResult r = Vrhost(own_->UsePostgresArgs());
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    return *own_;
  }
  RunResult Tessera(std::vector<std::string> args, std::vector<std::string> extra = {}) {
    return Run(TESSERA, args, extra);
  }
  void Installed(const std::string& patch) {
    const RunResult r = Vrhost({"reg", "set", kPatchesKey + patch, "Installed", "REG_DWORD", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::string Query(const std::string& sql) {
    const RunResult r = Vrhost({"db", "query", sql});
    EXPECT_EQ(r.exitCode, 0) << sql << "\n" << r.err;
    return r.out;
  }
  std::vector<std::string> PolicyTypes() {
    std::istringstream rows(Query("SELECT PolTypeId FROM VR_PM_PolicyType ORDER BY PolTypeId"));
    std::vector<std::string> ids;
    std::string line;
    std::getline(rows, line);  // header
    while (std::getline(rows, line))
      if (!line.empty()) ids.push_back(line);
    return ids;
  }
  // The stores the package section changes: the registry and the Depot tables.
  std::string State() {
    const RunResult r = Vrhost({"snapshot", "--section", "registry", "--section", "depot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  std::string Example() const { return std::string(VR_SOURCE_ROOT) + "/examples/AgentPackages.xml"; }
  std::string Undo(const std::string& name = "packages.undo") const { return dir_ / name; }
  std::string Register(const std::string& file, const std::string& undo, std::vector<std::string> extra = {},
                       int expected = 0, const std::string& patch = kPatch) {
    const RunResult r = Tessera({"-reg", file, "-patch", patch, "-sections", "package", "-log", undo}, extra);
    EXPECT_EQ(r.exitCode, expected) << r.out << r.err;
    return r.out + r.err;
  }
  // A registration file with the packages given as XML text.
  std::string WriteFile(const std::string& name, const std::string& packages) {
    const std::string path = dir_ / name;
    WriteFileBytes(path,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
                   "<VrNPConfig version=\"A.07.50\">\n"
                   "<OsTypeForReg string=\"Windows_2000\"><systemtype>2</systemtype><ostype>11</ostype></OsTypeForReg>\n"
                   "<OsTypeForReg string=\"Linux\"><ostype>6</ostype></OsTypeForReg>\n<PackageList>\n" +
                       packages + "</PackageList>\n</VrNPConfig>\n");
    fs::copy_file(std::string(VR_SOURCE_ROOT) + "/data/VrNPConfig.dtd", dir_ / "VrNPConfig.dtd",
                  fs::copy_options::skip_existing);
    return path;
  }
  static std::string Package(const std::string& type, const std::string& name, const std::string& version,
                             const std::string& description, const std::string& platforms, bool unregister = true) {
    return "<Package>" + (type.empty() ? std::string() : "<type>" + type + "</type>") +
           "<pkgname><text L=\"1033\">" + name + "</text></pkgname><version>" + version +
           "</version><logicalid>{5A1B2C3D-0000-4000-8000-00000000000A}</logicalid><unregister>" +
           (unregister ? "yes" : "no") + "</unregister><description><text L=\"1033\">" + description +
           "</text></description><deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6</deployerid>" + platforms +
           "</Package>\n";
  }
  static std::string Platform(int systemType, int osType, const std::vector<std::string>& policyTypes) {
    std::string p = "<PlatformAndPolicyTypes><systemtype>" + std::to_string(systemType) + "</systemtype><ostype>" +
                    std::to_string(osType) + "</ostype><PolicyTypes>";
    for (const auto& t : policyTypes) p += "<policytype>" + t + "</policytype>";
    return p + "</PolicyTypes></PlatformAndPolicyTypes>";
  }

  std::vector<std::string> policyTypes_;
  std::unique_ptr<vr::testing::PgServer> own_;  // see OwnServer

  // One third of the fault sweep of a registration (FaultSweepOfARegistration...Third).
  void FaultSweepPart(int part);
};

}  // namespace

TEST_P(PackageE2e, ExampleRegistersAndUnregistersToTheSameState) {
  const std::string before = State();
  const std::string out = Register(Example(), Undo());
  // The example names one policy type the demo server does not know: information only.
  EXPECT_NE(out.find("\n(TESSERA2022) Policy type '{F0E1D2C3-B4A5-4697-8879-6A5B4C3D2E1F}' was not found (most "
                     "likely not registered on this server). This is an information only. Proceeding with "
                     "installation...\n"),
            std::string::npos)
      << out;
  const std::string packages = Query("SELECT Name, Version FROM VR_PM_DeplPack ORDER BY Name");
  EXPECT_NE(packages.find("Vorant Agent for Linux\t12.05.002"), std::string::npos) << packages;
  EXPECT_NE(packages.find("Vorant Shared Scripts\t1.0"), std::string::npos) << packages;
  EXPECT_NE(packages.find("Vorant Windows Event Monitor\t12.05.002"), std::string::npos) << packages;
  const RunResult reg = Vrhost({"reg", "query", kPatchesKey + kPatch});
  EXPECT_NE(reg.out.find("Windows_2000"), std::string::npos) << reg.out;
  EXPECT_NE(reg.out.find("12.05.002|Linux_x86"), std::string::npos) << reg.out;
  const std::string undo = ReadFileBytes(Undo());
  EXPECT_NE(undo.find("P\0A\0C\0K\0A\0G\0E\0_\0U\0N\0I\0X\0", 0, 24), std::string::npos);

  const RunResult unreg = Tessera({"-unreg", Undo()});
  EXPECT_EQ(unreg.exitCode, 0) << unreg.out << unreg.err;
  // The "other" package cannot be uninstalled: it stays with its module, the rest is as before.
  const std::string after = State();
  EXPECT_NE(after.find("Vorant Shared Scripts"), std::string::npos);
  EXPECT_EQ(after.find("Vorant Windows Event Monitor"), std::string::npos);
  EXPECT_EQ(after.find("Vorant Agent for Linux\t12.05.002"), std::string::npos);
  Query("DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT DeplPackId FROM VR_PM_DeplPack WHERE "
        "Name = 'Vorant Shared Scripts')");
  Query("DELETE FROM VR_PM_DeplPack WHERE Name = 'Vorant Shared Scripts'");
  EXPECT_EQ(State(), before);
}

TEST_P(PackageE2e, UnregistrationRefusals) {
  const std::string file = WriteFile(
      "win.xml", Package("WindowsPackage", "Win Pkg", "1.0", "d", Platform(2, 11, {policyTypes_[0]})) +
                     Package("UnixPackage", "Ux Pkg", "1.0", "d", Platform(2, 6, {policyTypes_[1]})));
  const std::string before = State();
  Register(file, Undo());
  const std::string registered = State();

  // Deployed on a Windows node (mgmt01 runs Windows 2000): refused with 1011 and exit 3.
  Query("INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) SELECT DeplPackId, 'mgmt01.corp.example.com' "
        "FROM VR_PM_DeplPack WHERE Name = 'Win Pkg'");
  const std::string deployed = State();
  RunResult r = Tessera({"-unreg", Undo()});
  EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
  EXPECT_NE(r.out.find("is still deployed on node(s) and cannot be removed from DEPOT"), std::string::npos) << r.out;
  EXPECT_EQ(State(), deployed);
  Query("DELETE FROM VR_PM_InstalledDeplPack WHERE DeplPackId IN (SELECT DeplPackId FROM VR_PM_DeplPack WHERE "
        "Name = 'Win Pkg')");

  // The patch is not installed: 1021 and exit 6, nothing removed.
  ASSERT_EQ(Vrhost({"reg", "delete", kPatchesKey + kPatch, "Installed"}).exitCode, 0);
  const std::string notInstalled = State();
  r = Tessera({"-unreg", Undo()});
  EXPECT_EQ(r.exitCode, 6) << r.out << r.err;
  EXPECT_NE(r.out.find("(TESSERA1021) Patch VRPATCH_PKG_01 is not registered"), std::string::npos) << r.out;
  EXPECT_EQ(State(), notInstalled);

  Installed(kPatch);
  EXPECT_EQ(State(), registered);
  r = Tessera({"-unreg", Undo()});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(State(), before);
}

// The deployed-on-Windows check finds a node whose name holds a backslash or a quote.
TEST_P(PackageE2e, WindowsNodeNamesWithBackslashOrQuote) {
  const std::string file =
      WriteFile("win.xml", Package("WindowsPackage", "Win Pkg", "1.0", "d", Platform(2, 11, {policyTypes_[0]})));
  Register(file, Undo());
  WriteFileBytes(dir_ / "nodes.mof",
                 "#pragma namespace(\"\\\\\\\\.\\\\root\\\\Tamberlin\\\\Vorant\\\\data\")\n"
                 "instance of VR_ManagedNode { Name = \"CORP\\\\win01\"; SystemType = 2; OsType = 11; };\n"
                 "instance of VR_ManagedNode { Name = \"o'brien \\\"pc\\\"\"; SystemType = 2; OsType = 11; };\n");
  const RunResult imported = Vrhost({"wmi", "import", dir_ / "nodes.mof"});
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  for (const std::string node : {"CORP\\win01", "o''brien \"pc\""}) {
    Query("DELETE FROM VR_PM_InstalledDeplPack WHERE SystemId LIKE 'CORP%' OR SystemId LIKE 'o''brien%'");
    Query("INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) SELECT DeplPackId, '" + node +
          "' FROM VR_PM_DeplPack WHERE Name = 'Win Pkg'");
    const std::string deployed = State();
    const RunResult r = Tessera({"-unreg", Undo()});
    EXPECT_EQ(r.exitCode, 3) << node << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find("is still deployed on node(s) and cannot be removed from DEPOT"), std::string::npos) << r.out;
    EXPECT_EQ(State(), deployed) << node;
  }
}

// A Depot password holding the characters of a connection string connects tessera as it
// connects vrhost, and no part of it reaches a trace.
TEST_P(PackageE2e, PasswordWithConnectionStringCharacters) {
  const std::string password = "Pw;tail-part;k=v{z}}w";
  struct Restore {
    std::function<void()> back;
    ~Restore() {
      if (back) back();
    }
  } restore;
  if (GetParam() == Engine::kPostgres) {
    OwnServer();
    Query("ALTER ROLE vrtest PASSWORD '" + password + "'");
    restore.back = [this] {
      Query("ALTER ROLE vrtest PASSWORD '" + std::string(vr::testing::PgServer::kPassword) + "'");
      Vrhost({"dbaccess", "set-password", vr::testing::PgServer::kPassword});
    };
  }
  ASSERT_EQ(Vrhost({"dbaccess", "set-password", password}).exitCode, 0);
  const std::string file =
      WriteFile("pw.xml", Package("WindowsPackage", "Pw Pkg", "1.0", "d", Platform(2, 11, {policyTypes_[0]})));
  const std::string before = State();
  const std::string trace = dir_ / "trace.txt";
  Register(file, Undo(), {"VR_TRACE=" + trace, "VR_TRACE_MASK=0xFFFFFFFF"});
  EXPECT_NE(Query("SELECT Name FROM VR_PM_DeplPack").find("Pw Pkg"), std::string::npos);
  const RunResult r = Tessera({"-unreg", Undo()}, {"VR_TRACE=" + trace, "VR_TRACE_MASK=0xFFFFFFFF"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(State(), before);
  const std::string traced = ReadFileBytes(trace);
  EXPECT_FALSE(traced.empty());
  for (const char* part : {"Pw;", "tail-part", "k=v", "{z}"}) EXPECT_EQ(traced.find(part), std::string::npos) << part;
}

// The same file behaves the same on both engines: texts at the Depot's limits register and
// unregister exactly (characters, not bytes, are counted), one character more is refused before
// any change, and policy type ids in another letter case name the Depot's policy types.
TEST_P(PackageE2e, LimitsAndLetterCaseAlikeOnBothEngines) {
  std::string name(250, 'n');
  name += "\xC3\xA9\xE7\x9B\xA3\xF0\x9F\x98\x80" "ab";  // 255 characters, 262 bytes
  std::string lower = policyTypes_[0];
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string fits = WriteFile(
      "fits.xml", Package("WindowsPackage", name, std::string(64, 'v'), std::string(1024, 'd'), Platform(2, 11, {lower})));
  const std::string before = State();
  Register(fits, Undo());
  const std::string modules = Query("SELECT PolTypeId FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT "
                                    "DeplPackId FROM VR_PM_DeplPack WHERE Version = '" + std::string(64, 'v') + "')");
  EXPECT_NE(modules.find("\n" + policyTypes_[0] + "\n"), std::string::npos) << modules;  // the Depot's form
  EXPECT_NE(Query("SELECT Name FROM VR_PM_DeplPack").find(name), std::string::npos);
  RunResult r = Tessera({"-unreg", Undo()});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(State(), before);

  const std::string over = WriteFile(
      "over.xml", Package("WindowsPackage", name + "x", "1.0", "d", Platform(2, 11, {policyTypes_[0]})));
  // Refused by the run before any section starts: no rollback to perform, no undo file.
  const std::string out = Register(over, Undo("over.undo"), {}, 100);
  EXPECT_NE(out.find("(TESSERA1024) Package 1 of the registration file cannot be registered:"), std::string::npos) << out;
  EXPECT_NE(out.find("name has 256 characters, more than the 255"), std::string::npos) << out;
  EXPECT_EQ(out.find("Performing rollback"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(Undo("over.undo")));
  EXPECT_EQ(State(), before);
}

TEST_P(PackageE2e, UnixPackageSharedByTwoPatches) {
  const std::string unix = Package("UnixPackage", "Shared Agent", "3.1", "shared",
                                   Platform(2, 6, {policyTypes_[0], policyTypes_[1]}) + Platform(3, 6, {policyTypes_[2]}));
  const std::string file = WriteFile("ux.xml", unix);
  const std::string before = State();
  Register(file, Undo("a.undo"));
  Installed("VRPATCH_PKG_02");
  const std::string afterFirst = State();
  Register(file, Undo("b.undo"), {}, 0, "VRPATCH_PKG_02");
  RunResult r = Tessera({"-unreg", Undo("a.undo")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string rows = Query("SELECT Name FROM VR_PM_DeplPack");
  EXPECT_NE(rows.find("Shared Agent"), std::string::npos) << rows;
  EXPECT_EQ(Query("SELECT COUNT(*) AS n FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT DeplPackId FROM "
                  "VR_PM_DeplPack WHERE Name = 'Shared Agent')"),
            "n\n3\n");
  r = Tessera({"-unreg", Undo("b.undo")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_EQ(Vrhost({"reg", "delete", kPatchesKey + "VRPATCH_PKG_02"}).exitCode, 0);
  EXPECT_EQ(State(), before);
  (void)afterFirst;
}

TEST_P(PackageE2e, QuotesSemicolonsAndNonAsciiAreStoredAndRemovedExactly) {
  const std::string name = "O'Neil \"Agent\"; DROP TABLE VR_PM_DeplPack; -- Überwachung 監視";
  const std::string version = "1.0'; --";
  const std::string description = "It's \"quoted\"; -- and ünïcödé";
  const std::string file = WriteFile(
      "q.xml", Package("WindowsPackage", name, version, description, Platform(2, 11, {policyTypes_[0]})) +
                   Package("", name + " other", version, description, Platform(2, 11, {policyTypes_[1]})));
  const std::string before = State();
  Register(file, Undo());
  const std::string rows = Query("SELECT Name, Version FROM VR_PM_DeplPack ORDER BY Name");
  EXPECT_NE(rows.find(name + "\t" + version + "\n"), std::string::npos) << rows;
  RunResult r = Tessera({"-unreg", Undo()});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(State(), before);
}

TEST_P(PackageE2e, UnreachableDepotFailsInitWithNothingChanged) {
  if (GetParam() == Engine::kPostgres) OwnServer();  // stopped below
  const std::string dbAccess = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess";
  const std::string before = State();
  auto refused = [&](const char* what) {
    const std::string out = Register(Example(), Undo(), {}, 100);
    EXPECT_NE(out.find("(TESSERA1010) Connect to DEPOT database failed"), std::string::npos) << what << "\n" << out;
    EXPECT_FALSE(fs::exists(Undo())) << what;
  };
  const std::string source = Vrhost({"reg", "query", dbAccess, "Source"}).out;
  ASSERT_EQ(Vrhost({"reg", "set", dbAccess, "Source", "REG_SZ", "NoSuchDataSource"}).exitCode, 0);
  refused("unknown data source");
  // Back to the data source the host had ("Source"="name").
  const size_t from = source.find("=\"") + 2;
  ASSERT_EQ(Vrhost({"reg", "set", dbAccess, "Source", "REG_SZ", source.substr(from, source.rfind('"') - from)}).exitCode,
            0);
  EXPECT_EQ(State(), before);
  if (GetParam() == Engine::kPostgres) {
    const RunResult password = Vrhost({"reg", "query", dbAccess, "Password"});
    ASSERT_EQ(Vrhost({"dbaccess", "set-password", "not-the-password"}).exitCode, 0);
    refused("wrong password");
    ASSERT_EQ(Vrhost({"dbaccess", "set-password", vr::testing::PgServer::kPassword}).exitCode, 0);
    own_->Stop();
    refused("server down");
    own_->Start();
    EXPECT_EQ(State(), before);
  }
}

// Every database and Depot fault point a registration reaches (ado.*, depot.*) fails in turn;
// a run that ends with exit 1 must leave the registry and the Depot database exactly as they
// were. (The in-process sweep of the package section goes through every point of every layer.)
// In parts that the test run spreads over the processors (tests/support/SweepParts.h); each
// part is a test of its own on each engine.
constexpr int kFaultSweepParts = 3;

void PackageE2e::FaultSweepPart(int part) {
  const std::string before = State();
  const std::string log = dir_ / "faults.log";
  Register(Example(), Undo(), {"VR_FAULTS_LOG=" + log});
  ASSERT_EQ(Tessera({"-unreg", Undo()}).exitCode, 0);
  Query("DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT DeplPackId FROM VR_PM_DeplPack WHERE "
        "Name = 'Vorant Shared Scripts')");
  Query("DELETE FROM VR_PM_DeplPack WHERE Name = 'Vorant Shared Scripts'");
  ASSERT_EQ(State(), before);

  std::vector<std::string> points;
  {
    std::istringstream lines(ReadFileBytes(log));
    std::set<std::string> seen;
    std::string p;
    while (std::getline(lines, p))
      if ((p.rfind("ado.", 0) == 0 || p.rfind("depot.", 0) == 0) && seen.insert(p).second) points.push_back(p);
  }
  ASSERT_GT(points.size(), 20u);
  std::map<int, int> outcomes;
  for (const std::string& point : vr::testing::SweepPart(points, part, kFaultSweepParts)) {
    RunResult r = Tessera({"-reg", Example(), "-patch", kPatch, "-sections", "package", "-log", Undo()},
                          {"VR_FAULTS=" + point});
    ++outcomes[r.exitCode];
    if (r.exitCode == 1) {
      EXPECT_EQ(State(), before) << point << "\n" << r.out << r.err;
      continue;
    }
    // Any other outcome: put the host back for the next point.
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 100) << point << " exit " << r.exitCode << "\n" << r.out << r.err;
    SetUp();
  }
  std::string figures;
  for (const auto& [code, count] : outcomes) figures += " exit " + std::to_string(code) + ": " + std::to_string(count);
  std::cout << "fault points: " << points.size() << ", part " << part << " swept;" << figures << "\n";
  EXPECT_EQ(outcomes[2], 0);
}

TEST_P(PackageE2e, FaultSweepOfARegistrationFirstThird) { FaultSweepPart(0); }
TEST_P(PackageE2e, FaultSweepOfARegistrationSecondThird) { FaultSweepPart(1); }
TEST_P(PackageE2e, FaultSweepOfARegistrationLastThird) { FaultSweepPart(2); }

INSTANTIATE_TEST_SUITE_P(Depot, PackageE2e, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const ::testing::TestParamInfo<Engine>& i) {
                           return i.param == Engine::kSqlite ? "SQLite" : "PostgreSQL";
                         });
