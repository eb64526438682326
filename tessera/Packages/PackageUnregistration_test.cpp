// Unregistration of packages from undo files on demo hosts made by vrhost: what the lines
// describe is removed from the Depot database and the patch bookkeeping; a package deployed on
// a Windows node, a patch that is not installed, lines that do not parse and a database that
// cannot be reached stop the run before anything is removed.
#include "tessera/Packages/PackageSection.h"
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

  // The node list cannot be read (after the packages, modules and deployed ids): no answer,
  // nothing removed.
  vr::fault::Configure("ado.Execute#4");
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
  // A line of the wrong length is a syntax error of the undo file, as an unknown line is.
  EXPECT_EQ(Unregister(WriteUndo(u"P1", lines)), 53);
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

// Markers in lower case are markers: the section is read and its rows go.
TEST_F(PackageUnregistration, MarkersInAnyLetterCase) {
  AddDemoRows();
  Bookkeep(u"P1");
  const std::string path = (base_ / "lower.undo").string();
  {
    VrLogFile undo(Utf8ToWide(path).c_str(), true);
    vr::undo::AppendHeader(undo, {u"P1", u"01/02/2026 10:00:00 +00:00", u"C:\\p.xml", u"A.07.50"});
    undo.AppendLine(u"[[[packages]]]", true);
    undo.AppendLine(u"PACKAGE WindowsPackage 5 \"Win Agent\" 1.0 {W} D \"Windows agent\"", true);
    undo.AppendLine(u"PLAT_POLICY 5 {W} 2 11 {P1}", true);
    undo.AppendLine(u"PLAT_POLICY 5 {W} 2 11 {P2}", true);
    undo.AppendLine(u"[[[Packages_End]]]", true);
    ASSERT_TRUE(SUCCEEDED(undo.SaveFile()));
  }
  ASSERT_EQ(Unregister(path), 0) << error_;
  EXPECT_EQ(Rows().find("5|Win Agent"), std::string::npos) << Rows();
  EXPECT_EQ(Value(PatchKey(0, u"P1"), kWinPkgInfoValue), u"<none>");
}

// A package still deployed on nodes that are not Windows nodes keeps its row, so that the next
// new package cannot take its id and seem deployed on those nodes.
TEST_F(PackageUnregistration, DeployedPackageKeepsItsRowAndItsIdIsNotReused) {
  AddDemoRows();
  Bookkeep(u"P1");
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES (5, 'web03.corp.example.com')");
  const std::vector<WString> lines{DemoLines()[0], DemoLines()[1], DemoLines()[2]};
  ASSERT_EQ(Unregister(WriteUndo(u"P1", lines)), 0) << error_ << console_;
  const std::string rows = Rows();
  EXPECT_NE(rows.find("5|Win Agent|1.0|{W}|"), std::string::npos) << rows;
  EXPECT_EQ(rows.find("{P2}|5|"), std::string::npos) << rows;

  // Deployment rows left behind by a package that is gone (an older unregistration): a new
  // package takes an id above theirs.
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES (12, 'web03.corp.example.com')");
  SetValue(PatchKey(0, u"VRPATCH_PKG_01"), kInstalledValue, u"1");
  const std::string file = WriteRegistration(
      "new.xml", PackageXml("Scripts", "Fresh", "1.0", PlatformXml(2, 11, {"{B7A8C9D0-1E2F-4031-8425-36475869708A}"})));
  ASSERT_EQ(Register(file, (base_ / "new.undo").string()), 0) << error_;
  EXPECT_NE(Rows().find("13|Fresh|1.0|"), std::string::npos) << Rows();
}

// The deployed-on-Windows check finds nodes whose names hold a backslash or a quote.
TEST_F(PackageUnregistration, WqlTextOfNodeNames) {
  EXPECT_EQ(WqlStringText(u"CORP\\win01"), u"CORP\\\\win01");
  EXPECT_EQ(WqlStringText(u"a\"b'c"), u"a\\\"b\\'c");
  EXPECT_EQ(WqlStringText(u"plain.example.com"), u"plain.example.com");
}

// The rollback of a run from its section log, which a kill cut short before the end marker:
// the lines it has are taken back, with no refusal for a deployed package.
TEST_F(PackageUnregistration, RollbackReadsASectionLogCutShort) {
  AddDemoRows();
  Bookkeep(u"P1");
  Sql(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES (5, 'mgmt01.corp.example.com')");
  const std::string path = WriteUndo(u"P1", {DemoLines()[0], DemoLines()[1]}, false);
  WString message;
  int status = -1;
  CVrPlatformRegistration r(0, nullptr, message, status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(r.PackageRegInit(message), 0);
  VrLogFile log(Utf8ToWide(path).c_str(), true);
  ASSERT_TRUE(SUCCEEDED(log.LoadFile()));
  // A registration object of a run that registers: its rollback mode.
  ASSERT_THROW(r.RegisterPlatform(u"/nonexistent.xml", u"P1", false, u"", 1 | vr::undo::kSectionPackages), CApp_error);
  ASSERT_TRUE(r.IsRollback());
  EXPECT_TRUE(r.PackageRegRollback(log, message)) << WideToUtf8(message);
  EXPECT_EQ(Rows().find("{P1}|5|"), std::string::npos) << Rows();
  EXPECT_NE(Rows().find("{P2}|5|"), std::string::npos);
}
