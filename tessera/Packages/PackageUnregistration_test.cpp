// Unregistration of packages from undo files on demo hosts made by vrhost: what the lines
// describe is removed from the Depot database and the patch bookkeeping; a package deployed on
// a Windows node, a patch that is not installed, lines that do not parse and a database that
// cannot be reached stop the run before anything is removed.
#include "tessera/Packages/PackageTestHost.h"

namespace {
using PackageUnregistration = PackageTestHost;
}  // namespace

TEST_F(PackageUnregistration, RemovesWhatTheLinesDescribeAndKeepsWhatOthersUse) {
  AddDemoRows();
  Bookkeep(u"P1");
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES (6, 'billing.corp.example.com')");
  ASSERT_EQ(Unregister(WriteUndo(u"P1", DemoLines())), 0) << error_ << console_;
  // Package 6 is deployed on an HP-UX node: its modules go, the package stays; package 7
  // keeps the module that is not this patch's.
  EXPECT_EQ(Rows(),
            "6|Ux Agent|2.0|{U}|\n7|Scripts|1.0|{S}|\n8|Unrelated|1.0|{R}|\n--\n"
            "{P1}|8|2|11|\n{P5}|7|2|11|\n--\n6|billing.corp.example.com|\n--\n");
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kWinPkgInfoValue), u"<none>");
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kUxAgtInfoValue), u"<none>");
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kInstalledValue), u"1");
}

TEST_F(PackageUnregistration, RefusalsChangeNothing) {
  AddDemoRows();
  Bookkeep(u"P1");
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES (5, 'billing.corp.example.com'), (5, 'mgmt01.corp.example.com')");
  const std::string before = Rows();
  const std::string undo = WriteUndo(u"P1", DemoLines());
  EXPECT_EQ(Unregister(undo), 3);
  EXPECT_NE(console_.find("(TESSERA1011) Package '5' is still deployed on node(s) and cannot be removed from DEPOT"),
            std::string::npos) << console_;
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kWinPkgInfoValue), u"1.0|Windows_2000");

  // A patch without "Installed".
  console_.clear();
  Bookkeep(u"P2", false);
  EXPECT_EQ(Unregister(WriteUndo(u"P2", DemoLines())), 6);
  EXPECT_NE(console_.find("(TESSERA1021) Patch P2 is not registered"), std::string::npos) << console_;
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Value(PatchKey(0, u"P2"), kUxAgtInfoValue), u"2.0|Linux");

  // The node list cannot be read: no answer, nothing removed.
  vr::fault::Configure("ado.Execute#1");
  EXPECT_EQ(Unregister(undo), 4);
  EXPECT_NE(error_.find("(TESSERA1023) Cannot get information if package '5' is deployed on node(s)"),
            std::string::npos) << error_;
  vr::fault::Reset();
  EXPECT_EQ(Rows(), before);
}

TEST_F(PackageUnregistration, LinesThatDoNotParseStopBeforeAnyRemoval) {
  AddDemoRows();
  Bookkeep(u"P1");
  const std::string before = Rows();
  std::vector<WString> lines = DemoLines();
  lines.push_back(u"PLAT_POLICY 5 {W} 2 11");
  EXPECT_EQ(Unregister(WriteUndo(u"P1", lines)), 4);
  EXPECT_NE(error_.find("(TESSERA1020) Illegal number of tokens in undo line:\nPLAT_POLICY 5 {W} 2 11\n"),
            std::string::npos) << error_;
  lines.back() = u"PACKAGE_PLUS 5";
  EXPECT_EQ(Unregister(WriteUndo(u"P1", lines)), 53);
  EXPECT_NE(error_.find("(TESSERA303) Syntax error in line 13 section PACKAGES of undo file"), std::string::npos)
      << error_;
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kUxAgtInfoValue), u"2.0|Linux");

  // Only the markers: nothing to do.
  EXPECT_EQ(Unregister(WriteUndo(u"P1", {})), 0) << error_;
  EXPECT_EQ(Rows(), before);
}

TEST_F(PackageUnregistration, SharedUnixPackageStaysUntilItsLastPatchGoes) {
  AddDemoRows();
  Bookkeep(u"PA");
  Bookkeep(u"PB", true, u"2.0|Linux|1");
  Bookkeep(u"PC", true, u"2.0|Linux5");  // another platform text: not the same package
  const std::vector<WString> unix{DemoLines()[3]};
  const std::string before = Rows();
  ASSERT_EQ(Unregister(WriteUndo(u"PA", unix)), 0) << error_;
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Value(PatchKey(0, u"PA"), kUxAgtInfoValue), u"<none>");
  ASSERT_EQ(Unregister(WriteUndo(u"PB", unix)), 0) << error_;
  EXPECT_EQ(Rows().find("6|Ux Agent"), std::string::npos);
  EXPECT_EQ(Rows().find("{P3}"), std::string::npos);
  EXPECT_EQ(Value(PatchKey(0, u"PC"), kUxAgtInfoValue), u"2.0|Linux5");
}

TEST_F(PackageUnregistration, UnreachableDatabaseFailsInit) {
  AddDemoRows();
  Bookkeep(u"P1");
  const std::string before = Rows();
  const std::string undo = WriteUndo(u"P1", DemoLines());
  SetValue(kDbAccess, u"Source", u"NoSuchDsn");
  EXPECT_EQ(Unregister(undo), 100);
  EXPECT_NE(error_.find("(TESSERA1010) Connect to DEPOT database failed"), std::string::npos) << error_;
  SetValue(kDbAccess, u"Source", u"VrDepot");
  SetValue(kDbAccess, u"Password", u"VRSB1:bm90IGEgYm94");  // no stored form of this host
  EXPECT_EQ(Unregister(undo), 100);
  EXPECT_NE(error_.find("(RGST100) Cannot get db password."), std::string::npos) << error_;
  EXPECT_EQ(Rows(), before);
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kWinPkgInfoValue), u"1.0|Windows_2000");
}

TEST_F(PackageUnregistration, AFailedRemovalLeavesEveryRowAndValue) {
  AddDemoRows();
  Bookkeep(u"P1");
  const std::string before = Rows();
  const std::string undo = WriteUndo(u"P1", DemoLines());
  // The second module's DELETE (the first one has run), then the commit of all removals.
  for (const char* fault : {"ado.Execute#6", "ado.CommitTrans#1", "ado.BeginTrans#1"}) {
    vr::fault::Configure(fault);
    EXPECT_EQ(Unregister(undo), 4) << fault;
    vr::fault::Reset();
    EXPECT_EQ(Rows(), before) << fault;
    EXPECT_EQ(Value(PatchKey(0, u"P1"), kWinPkgInfoValue), u"1.0|Windows_2000") << fault;
    EXPECT_EQ(Value(PatchKey(0, u"P1"), kUxAgtInfoValue), u"2.0|Linux") << fault;
  }
  EXPECT_EQ(Unregister(undo), 0) << error_;
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kUxAgtInfoValue), u"<none>");
}
