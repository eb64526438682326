// CDepotData on an SQLite Depot database: the queries, the guarded removals, the logical-id
// repair, and values that would break a statement if they were spliced into it.
#include "tessera/Database/DepotData.h"

#include <gtest/gtest.h>

#include "platform/ado/ado.h"
#include "platform/depot/testing/depot_host.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"

namespace {

WString N(int n) { return vr::text::Utf8ToWide(std::to_string(n)); }

class DepotDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vr::fault::Reset();
    ASSERT_TRUE(SUCCEEDED(ADODB::CreateConnection(&admin_)));
    ASSERT_TRUE(SUCCEEDED(admin_->Open(Connection())));
    // The settings of the host: the DBAccess values and the enciphered password.
    ASSERT_TRUE(db_.ConnectToDB());
  }
  void TearDown() override { vr::fault::Reset(); }
  void Run(const WString& sql, const std::vector<Variant>& values = {}) {
    ASSERT_TRUE(SUCCEEDED(admin_->Execute(sql, values))) << vr::text::WideToUtf8(sql);
  }
  long Count(const WString& table) {
    ADODB::RecordsetPtr rs;
    EXPECT_TRUE(SUCCEEDED(ADODB::CreateRecordset(&rs)));
    EXPECT_TRUE(SUCCEEDED(rs->Open(u"SELECT * FROM " + table, {}, admin_)));
    return rs->RecordCount();
  }
  void AddPackage(int id, const WString& name, const WString& version, const WString& logicalId = u"{L}") {
    Run(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES (?, ?, ?, ?)",
        {Variant(N(id)), Variant(name), Variant(version), Variant(logicalId)});
  }
  void AddModule(const WString& policyType, int id, int systemType, int osType) {
    Run(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType) VALUES (?, ?, ?, ?)",
        {Variant(policyType), Variant(N(id)), Variant(N(systemType)), Variant(N(osType))});
  }

  WString Connection() const {
    return u"Provider=MSDASQL;DSN=VrDepot;User Id=vrdepot;Password=" + host_.password() + u";";
  }

  vr::depot::testing::DepotHost host_{false};  // the schema without demo rows
  ADODB::ConnectionPtr admin_;
  CDepotData db_;
};

}  // namespace

TEST_F(DepotDataTest, PackageIdsAndNodes) {
  WString id = u"unchanged";
  EXPECT_FALSE(db_.GetDeplPackId(u"P", u"1.0", id));
  EXPECT_EQ(id, u"unchanged");
  AddPackage(7, u"P", u"1.0");
  AddPackage(9, u"P", u"1.0");
  ASSERT_TRUE(db_.GetDeplPackId(u"P", u"1.0", id));
  EXPECT_EQ(id, u"7");  // the first row, read as text

  std::vector<WString> nodes{u"kept"};
  ASSERT_TRUE(db_.GetDeployedNodeNames(u"7", nodes));
  EXPECT_EQ(nodes.size(), 1u);
  for (const char16_t* node : {u"c.example", u"a.example", u"b.example"})
    Run(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES ('7', ?)", {Variant(node)});
  ASSERT_TRUE(db_.GetDeployedNodeNames(u"7", nodes));
  EXPECT_EQ(nodes, (std::vector<WString>{u"kept", u"c.example", u"a.example", u"b.example"}));
  bool found = false;
  ASSERT_TRUE(db_.IsPackageDeployed(u"7", found));
  EXPECT_TRUE(found);
  found = false;
  ASSERT_TRUE(db_.IsPackageDeployed(u"9", found));
  EXPECT_FALSE(found);
}

TEST_F(DepotDataTest, GuardedRemovalsAndDependencies) {
  WString message;
  ASSERT_TRUE(db_.RemovePackageFromDEPOT(u"42", message));
  EXPECT_EQ(message, u"Package not registered and cannot be removed [DeplPackId='42']");
  AddPackage(3, u"W", u"2.0");
  AddModule(u"{P1}", 3, 2, 11);
  AddModule(u"{P2}", 3, 2, 11);
  AddModule(u"{P1}", 3, 3, 6);
  bool found = false;
  ASSERT_TRUE(db_.CheckFunctionalityModule(u"{P1}", u"3", u"2", u"11", u"", found));
  EXPECT_TRUE(found);
  found = false;
  ASSERT_TRUE(db_.HasPackageDependency(u"{P2}", u"3", u"3", u"6", found));
  EXPECT_FALSE(found);
  ASSERT_TRUE(db_.RemovePackageFromDEPOT(u"{P2}", u"3", u"3", u"6", u"", message));
  EXPECT_EQ(message, u"Functionality module not registered and cannot be removed [PolTypeId='{P2}', DeplPackId='3', "
                     u"SystemType='3', OsType='6']");
  ASSERT_TRUE(db_.RemovePackageFromDEPOT(u"{P2}", u"3", u"2", u"11", u"", message));
  EXPECT_EQ(message, u"Functionality module removed [PolTypeId='{P2}', DeplPackId='3', SystemType='2', OsType='11']");
  ASSERT_TRUE(db_.RemoveDependencyFromDEPOT(u"3", u"2", u"11", message));
  EXPECT_EQ(message, u"Functionality modules removed [DeplPackId='3', SystemType='2', OsType='11']");
  ASSERT_TRUE(db_.RemoveDependencyFromDEPOT(u"3", u"2", u"11", message));
  EXPECT_EQ(message, u"Functionality modules not registered and cannot be removed [DeplPackId='3', SystemType='2', "
                     u"OsType='11']");
  ASSERT_TRUE(db_.HasPackageDependency(u"3", found));
  EXPECT_TRUE(found);  // the Itanium module is left
  EXPECT_EQ(Count(u"VR_PM_FunctionalityModule"), 1);
  ASSERT_TRUE(db_.RemovePackageFromDEPOT(u"3", message));
  EXPECT_EQ(message, u"Package removed [DeplPackId='3']");
  EXPECT_EQ(Count(u"VR_PM_DeplPack"), 0);
}

TEST_F(DepotDataTest, ValuesAreComparedAndRemovedExactly) {
  const WString name = u"O'Brien \"Agent\"; DROP TABLE VR_PM_DeplPack; -- ü日本";
  AddPackage(1, name, u"1'0", u"{X}");
  AddPackage(2, u"O", u"1'0", u"{X}");
  WString id;
  ASSERT_TRUE(db_.GetDeplPackId(name, u"1'0", id));
  EXPECT_EQ(id, u"1");
  EXPECT_FALSE(db_.GetDeplPackId(u"O' OR '1'='1", u"1'0", id));
  ASSERT_TRUE(db_.RemovePackageFromDEPOT(u"{X}", u"x' OR 'a'='a", u"1'0"));
  EXPECT_EQ(Count(u"VR_PM_DeplPack"), 2);
  ASSERT_TRUE(db_.RemovePackageFromDEPOT(u"{X}", name, u"1'0"));
  EXPECT_EQ(Count(u"VR_PM_DeplPack"), 1);
}

TEST_F(DepotDataTest, LogicalIdRepairAndFailures) {
  ASSERT_TRUE(db_.UpdateLogicalId());  // nothing to repair
  AddPackage(1, u"A", u"1", CDepotData::kLogicalIdMixed);
  AddPackage(2, u"B", u"1", u"{other}");
  ASSERT_TRUE(db_.UpdateLogicalId());
  ADODB::RecordsetPtr rs;
  ASSERT_TRUE(SUCCEEDED(ADODB::CreateRecordset(&rs)));
  ASSERT_TRUE(SUCCEEDED(rs->Open(u"SELECT LogicalId FROM VR_PM_DeplPack ORDER BY DeplPackId", {}, admin_)));
  WString text;
  ASSERT_TRUE(SUCCEEDED(rs->GetText(u"LogicalId", &text)));
  EXPECT_EQ(text, CDepotData::kLogicalIdUpper);
  rs->MoveNext();
  ASSERT_TRUE(SUCCEEDED(rs->GetText(u"LogicalId", &text)));
  EXPECT_EQ(text, u"{other}");

  // A statement that fails is reported as such, and the out values stay.
  vr::fault::Configure("ado.Execute#1");
  bool found = false;
  EXPECT_FALSE(db_.IsPackageInstalled(u"1", found));
  EXPECT_FALSE(found);
  vr::fault::Configure("ado.CreateInstance#1");
  EXPECT_FALSE(db_.HasPackageDependency(u"1", found));
  vr::fault::Reset();
  ASSERT_TRUE(db_.IsPackageInstalled(u"1", found));
  EXPECT_TRUE(found);
  db_.CloseDBConnection();
  EXPECT_FALSE(db_.IsConnected());
  EXPECT_FALSE(db_.IsPackageInstalled(u"1", found));
  CDepotData unreachable;
  EXPECT_FALSE(unreachable.ConnectWith(u"Provider=MSDASQL;DSN=NoSuchDsn;User Id=u;Password=p;"));
}
