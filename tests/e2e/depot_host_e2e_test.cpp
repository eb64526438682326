// The Depot database of a host made by vrhost init: vrhost db query, vrhost dbaccess, the
// depot snapshot section, the enciphered password, and the same host on a PostgreSQL server.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/PgServer.h"

namespace {

namespace fs = std::filesystem;
using vr::testing::RunResult;

class DepotHostE2e : public vr::testing::ProgramFixture {
 protected:
  void SetUp() override {
    const RunResult r = Vrhost({"init"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  RunResult Vrhost(std::vector<std::string> args, const std::vector<std::string>& extraEnv = {}) {
    args.insert(args.end(), {"--root", host_});
    return Run(VRHOST, args, extraEnv);
  }
  std::string Query(const std::string& sql) {
    const RunResult r = Vrhost({"db", "query", sql});
    EXPECT_EQ(r.exitCode, 0) << sql << ": " << r.err;
    return r.out;
  }
  std::string DepotSnapshot() {
    const RunResult r = Vrhost({"snapshot", "--section", "depot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  // Every byte below the host root, for a search.
  std::string AllFiles() {
    std::string all;
    for (const auto& e : fs::recursive_directory_iterator(host_))
      if (e.is_regular_file()) all += vr::testing::ReadFileBytes(e.path().string());
    return all;
  }

};

TEST_F(DepotHostE2e, DemoDepotMatchesTheDemoModelAndQueriesPrintTabSeparatedRows) {
  EXPECT_EQ(Query("SELECT DeplPackId, SystemId FROM VR_PM_InstalledDeplPack WHERE DeplPackId = '1' ORDER BY SystemId"),
            "DeplPackId\tSystemId\n1\tfiles02.corp.example.com\n1\tmgmt01.corp.example.com\n");
  // Every deployed-on node is a managed node of the WMI model, with the platform of its package.
  const std::string nodes = Query("SELECT i.SystemId, m.SystemType, m.OsType FROM VR_PM_InstalledDeplPack i JOIN "
                                  "VR_PM_FunctionalityModule m ON m.DeplPackId = i.DeplPackId GROUP BY i.SystemId, "
                                  "m.SystemType, m.OsType ORDER BY i.SystemId, m.OsType");
  EXPECT_EQ(nodes,
            "SystemId\tSystemType\tOsType\nbilling.corp.example.com\t5\t3\nfiles02.corp.example.com\t2\t10\n"
            "files02.corp.example.com\t2\t11\nldap1.corp.example.com\t4\t4\nmgmt01.corp.example.com\t2\t10\n"
            "mgmt01.corp.example.com\t2\t11\nwarehouse.corp.example.com\t6\t5\nweb03.corp.example.com\t2\t6\n");
  const RunResult wmi = Vrhost({"wmi", "query", "SELECT * FROM VR_ManagedNode WHERE Name = \"files02.corp.example.com\""});
  ASSERT_EQ(wmi.exitCode, 0) << wmi.err;
  EXPECT_NE(wmi.out.find("OsType = 10"), std::string::npos) << wmi.out;

  // Statements of any kind; values with tabs and line ends stay on their line; NULL is \N.
  EXPECT_EQ(Query("INSERT INTO VR_PM_PolicyType (PolTypeId, Name) VALUES ('{X}', 'a' || char(9) || 'b' || char(10) || 'c\\d')"),
            "");
  EXPECT_EQ(Query("SELECT Name, NULL AS Missing, Description FROM VR_PM_PolicyType WHERE PolTypeId = '{X}'"),
            "Name\tMissing\tDescription\na\\tb\\nc\\\\d\t\\N\t\n");
  EXPECT_EQ(Query("DELETE FROM VR_PM_PolicyType WHERE PolTypeId = '{X}'"), "");

  const RunResult bad = Vrhost({"db", "query", "SELECT * FROM NoSuchTable"});
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("no such table"), std::string::npos) << bad.err;
  EXPECT_EQ(Vrhost({"db", "query"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"db", "query", "SELECT 1", "SELECT 2"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"db", "frobnicate"}).exitCode, 2);
}

TEST_F(DepotHostE2e, SnapshotShowsDepotRowsCanonically) {
  const std::string before = DepotSnapshot();
  EXPECT_NE(before.find("table VR_PM_DeplPack (6 rows)\n"), std::string::npos) << before;
  EXPECT_NE(before.find("host key host.key (32 bytes, mode owner only)\n"), std::string::npos) << before;
  Query("INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES ('6', 'legacy-alpha.corp.example.com')");
  const std::string changed = DepotSnapshot();
  EXPECT_NE(changed, before);
  EXPECT_NE(changed.find("  6\tlegacy-alpha.corp.example.com\t\n"), std::string::npos) << changed;
  Query("DELETE FROM VR_PM_InstalledDeplPack WHERE SystemId = 'legacy-alpha.corp.example.com'");
  EXPECT_EQ(DepotSnapshot(), before);
  // The database file and the key are the section's, not the files section's.
  const RunResult files = Vrhost({"snapshot", "--section", "files"});
  EXPECT_EQ(files.out.find("\nf depot.db "), std::string::npos) << files.out;
  EXPECT_EQ(files.out.find("host.key"), std::string::npos);
  EXPECT_NE(files.out.find("\nf odbc.ini "), std::string::npos);
}

TEST_F(DepotHostE2e, PasswordIsNeverStoredOrShownInClear) {
  const std::string password = "Clear-Text-Pw-123";
  const RunResult set = Vrhost({"dbaccess", "set-password", password});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(AllFiles().find(password), std::string::npos);
  const std::string trace = dir_ / "trace.txt";
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"snapshot"}, {"reg", "export"}, {"dbaccess", "show"}, {"db", "query", "SELECT 1"}}) {
    const RunResult r = Vrhost(command, {"VR_TRACE=" + trace});
    EXPECT_EQ(r.exitCode, 0) << command[0] << ": " << r.err;
    EXPECT_EQ((r.out + r.err).find(password), std::string::npos) << command[0];
  }
  EXPECT_EQ(vr::testing::ReadFileBytes(trace).find(password), std::string::npos);
  const RunResult export_ = Vrhost({"reg", "export"});
  EXPECT_NE(export_.out.find("\"Password\"=\"VRSB1:"), std::string::npos) << export_.out;

  // A password read from standard input; an empty one is refused.
  const RunResult piped = Run(VRHOST, {"dbaccess", "set-password", "-", "--root", host_}, {}, "Piped-Pw\n");
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(AllFiles().find("Piped-Pw"), std::string::npos);
  EXPECT_EQ(Vrhost({"dbaccess", "set-password", ""}).exitCode, 1);
  EXPECT_EQ(Vrhost({"dbaccess", "set-password"}).exitCode, 2);

  // A host whose key is gone cannot decipher its password, and says so.
  fs::remove(host_ + "/host.key");
  const RunResult lost = Vrhost({"db", "query", "SELECT 1"});
  EXPECT_EQ(lost.exitCode, 1);
  EXPECT_NE(lost.err.find("password"), std::string::npos) << lost.err;
}

// The embedded database and its write-ahead files are its owner's only, from the start and
// after every later open, whatever mode they had.
TEST_F(DepotHostE2e, EmbeddedDatabaseIsReadableByItsOwnerOnly) {
  auto mode = [](const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  };
  const std::string db = host_ + "/depot.db";
  EXPECT_EQ(mode(db), 0600);
  ::chmod(db.c_str(), 0644);
  for (const char* suffix : {"-wal", "-shm"}) {
    if (fs::exists(db + suffix)) ::chmod((db + suffix).c_str(), 0644);
  }
  Query("INSERT INTO VR_PM_PolicyType (PolTypeId, Name) VALUES ('{M}', 'mode')");
  EXPECT_EQ(mode(db), 0600);
  for (const char* suffix : {"-wal", "-shm"}) {
    if (fs::exists(db + suffix)) {
      EXPECT_EQ(mode(db + suffix), 0600) << suffix;
    }
  }
}

TEST_F(DepotHostE2e, UnknownDataSourceFailsClearly) {
  ASSERT_EQ(Vrhost({"reg", "set", "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess", "Source", "REG_SZ",
                    "NoSuchSource"})
                .exitCode,
            0);
  const RunResult r = Vrhost({"db", "query", "SELECT 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("NoSuchSource"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("IM002"), std::string::npos) << r.err;
}

// A change of data source keeps the previous one to put back when the new one does not work;
// when the previous files cannot be read, nothing is changed at all.
TEST_F(DepotHostE2e, AChangeOfDataSourceThatCannotKeepThePreviousOneChangesNothing) {
  const std::string ini = vr::testing::ReadFileBytes(host_ + "/odbc.ini");
  const std::string before = DepotSnapshot();
  for (const std::vector<std::string>& change :
       {std::vector<std::string>{"dbaccess", "use-embedded"},
        std::vector<std::string>{"dbaccess", "use-postgresql", "--server", "localhost", "--database", "d", "--user",
                                 "u", "--password", "p"}}) {
    const RunResult r = Vrhost(change, {"VR_FAULTS=file.ReadWhole#1=30"});
    EXPECT_EQ(r.exitCode, 1) << change[1];
    EXPECT_NE(r.err.find("cannot read " + host_ + "/odbc.ini: error 30"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("keeps its previous data source"), std::string::npos) << r.err;
    EXPECT_EQ(vr::testing::ReadFileBytes(host_ + "/odbc.ini"), ini);
    EXPECT_EQ(DepotSnapshot(), before);
  }
}

// The same host with its Depot on a PostgreSQL server, as a site points one at its server.
TEST_F(DepotHostE2e, HostOnPostgresql) {
  vr::testing::PgServer pg;  // of its own: the test stops it
  // A server the host cannot use leaves the host on its embedded database.
  std::vector<std::string> refused = pg.UsePostgresArgs();
  std::replace(refused.begin(), refused.end(), std::string(vr::testing::PgServer::kPassword), std::string("Nope-7"));
  RunResult r = Vrhost(refused);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("keeps its previous data source"), std::string::npos) << r.err;
  EXPECT_EQ(Query("SELECT COUNT(*) AS n FROM VR_PM_DeplPack"), "n\n6\n");
  EXPECT_EQ(vr::testing::ReadFileBytes(host_ + "/odbc.ini").find("Servername"), std::string::npos);
  std::vector<std::string> empty = pg.UsePostgresArgs();
  empty.resize(empty.size() - 2);  // without --create-tables --demo-data: a database without tables
  r = Vrhost(empty);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("--create-tables"), std::string::npos) << r.err;

  std::vector<std::string> args = pg.UsePostgresArgs();
  const RunResult use = Vrhost(args);
  ASSERT_EQ(use.exitCode, 0) << use.err;
  EXPECT_NE(vr::testing::ReadFileBytes(host_ + "/odbc.ini").find("Servername=" + pg.socketFolder()), std::string::npos);
  EXPECT_EQ(AllFiles().find(vr::testing::PgServer::kPassword), std::string::npos);
  EXPECT_EQ(Query("SELECT DeplPackId, SystemId FROM VR_PM_InstalledDeplPack WHERE DeplPackId = '1' ORDER BY SystemId"),
            "deplpackid\tsystemid\n1\tfiles02.corp.example.com\n1\tmgmt01.corp.example.com\n");
  EXPECT_NE(DepotSnapshot().find("table VR_PM_DeplPack (6 rows)\n"), std::string::npos);

  // A wrong password and a server that is down give clear errors without the password.
  ASSERT_EQ(Vrhost({"dbaccess", "set-password", "Wrong-Pg-Pw"}).exitCode, 0);
  r = Vrhost({"db", "query", "SELECT 1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("password authentication failed"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Wrong-Pg-Pw"), std::string::npos);
  ASSERT_EQ(Vrhost({"dbaccess", "set-password", vr::testing::PgServer::kPassword}).exitCode, 0);
  pg.Stop();
  r = Vrhost({"db", "query", "SELECT 1"});
  pg.Start();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot connect to the Depot database"), std::string::npos) << r.err;
  EXPECT_EQ(Query("SELECT COUNT(*) AS n FROM VR_PM_PolicyType"), "n\n7\n");

  // And back to the embedded database.
  ASSERT_EQ(Vrhost({"dbaccess", "use-embedded"}).exitCode, 0);
  EXPECT_EQ(Query("SELECT COUNT(*) AS n FROM VR_PM_PolicyType"), "n\n7\n");
}

}  // namespace
