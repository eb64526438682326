#include "platform/depot/depot.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/com/errorinfo.h"
#include "platform/com/runtime.h"
#include "platform/depot/depot_connection.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/depot/testing/depot_host.h"
#include "platform/fault/fault.h"
#include "platform/registry/registry.h"
#include "platform/text/convert.h"

namespace vr::depot::testing {
// Test names and messages show the engine by name.
void PrintTo(Engine engine, std::ostream* os) { *os << (engine == Engine::sqlite ? "sqlite" : "postgresql"); }
}  // namespace vr::depot::testing

namespace {

using vr::text::WideToUtf8;

std::string LastError() {
  std::shared_ptr<ErrorInfo> info;
  GetErrorInfo(0, &info);
  return info ? WideToUtf8(info->description) : std::string();
}

// Every test on the embedded database and on a PostgreSQL server.
class DepotTest : public ::testing::TestWithParam<vr::depot::testing::Engine> {
 protected:
  void SetUp() override {
    vr::fault::Reset();
    host_ = std::make_unique<vr::depot::testing::DepotHost>(true, GetParam());
    CoInitialize(nullptr);
    depot_ = Create();
    ASSERT_TRUE(depot_);
  }
  void TearDown() override {
    depot_.reset();
    CoUninitialize();
    vr::fault::Reset();
  }

  static std::shared_ptr<IVrDepotServer> Create() {
    std::shared_ptr<IUnknown> unknown;
    EXPECT_EQ(CoCreateInstance(CLSID_VrDepotServer, nullptr, CLSCTX_ALL, IID_IVrDepotServer, &unknown), S_OK);
    return std::dynamic_pointer_cast<IVrDepotServer>(unknown);
  }

  // Rows of a query on a connection of the test's own, "a|b" per row.
  std::string Rows(const std::u16string& sql) {
    ADODB::ConnectionPtr c;
    std::string why;
    EXPECT_EQ(vr::depot::OpenDepotDatabase(&c, why), S_OK) << why;
    if (!c) return "";
    ADODB::RecordsetPtr rs;
    ADODB::CreateRecordset(&rs);
    EXPECT_EQ(rs->Open(sql, {}, c), S_OK) << vr::depot::DescribeErrors(c);
    std::string out;
    for (; !rs->EndOfFile(); rs->MoveNext()) {
      for (long i = 0; i < rs->FieldCount(); ++i) {
        WString t;
        Variant v;
        rs->GetValue(i, &v);
        Variant s;
        VariantChangeType(&s, &v, 0, VT_BSTR);
        out += (i ? "|" : "") + WideToUtf8(s.bstrVal);
      }
      out += "\n";
    }
    return out;
  }

  std::unique_ptr<vr::depot::testing::DepotHost> host_;
  std::shared_ptr<IVrDepotServer> depot_;
};

INSTANTIATE_TEST_SUITE_P(Engines, DepotTest,
                         ::testing::Values(vr::depot::testing::Engine::sqlite, vr::depot::testing::Engine::postgresql),
                         [](const ::testing::TestParamInfo<vr::depot::testing::Engine>& p) {
                           return p.param == vr::depot::testing::Engine::sqlite ? "sqlite" : "postgresql";
                         });

TEST_P(DepotTest, CreatedThroughItsClassAndNeedsAConnection) {
  std::shared_ptr<IUnknown> unknown;
  const IID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(CoCreateInstance(CLSID_VrDepotServer, nullptr, CLSCTX_ALL, other, &unknown), E_NOINTERFACE);
  VARIANT_BOOL connected = VARIANT_TRUE;
  ASSERT_EQ(depot_->IsConnected(&connected), S_OK);
  EXPECT_EQ(connected, VARIANT_FALSE);
  std::shared_ptr<IVrDepotPackage> package;
  EXPECT_EQ(depot_->GetPackage(u"Vorant Agent for Linux", u"11.00.010", &package), DEPOT_E_NOTCONNECTED);
  EXPECT_NE(LastError().find("not connected"), std::string::npos);
  ASSERT_EQ(depot_->Connect(), S_OK) << LastError();
  ASSERT_EQ(depot_->IsConnected(&connected), S_OK);
  EXPECT_EQ(connected, VARIANT_TRUE);
  ASSERT_EQ(depot_->Disconnect(), S_OK);
  ASSERT_EQ(depot_->IsConnected(&connected), S_OK);
  EXPECT_EQ(connected, VARIANT_FALSE);
}

TEST_P(DepotTest, PackagesAndModulesRegisterWithIdsThatComeBack) {
  ASSERT_EQ(depot_->Connect(), S_OK) << LastError();
  std::shared_ptr<IVrDepotPackage> known;
  ASSERT_EQ(depot_->GetPackage(u"Vorant Agent for Linux", u"11.00.010", &known), S_OK);
  WString id;
  known->GetDeplPackId(&id);
  EXPECT_EQ(id, u"5");
  EXPECT_EQ(depot_->GetPackage(u"Vorant Agent for Linux", u"99", &known), S_FALSE);
  EXPECT_EQ(known, nullptr);

  // A name that would end a quoted SQL text is only a name.
  const WString name = u"Agent'); DELETE FROM VR_PM_DeplPack; --";
  std::shared_ptr<IVrDepotPackage> added;
  ASSERT_EQ(depot_->RegisterPackage(u"{3F9A1B27-6C4D-4E8F-B0A2-7D5E9C1F3B48}", name, u"12.05.002",
                                    u"657AF3A3-BCFD-11D2-8608-080009D961F6", u"local", u"A \"quoted\" description", &added),
            S_OK)
      << LastError();
  added->GetDeplPackId(&id);
  EXPECT_EQ(id, u"7");
  std::shared_ptr<IVrDepotPackage> refused;
  EXPECT_EQ(depot_->RegisterPackage(u"{X}", name, u"12.05.002", u"", u"local", u"", &refused), DEPOT_E_PACKAGEEXISTS);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(depot_->RegisterPackage(u"{X}", u"", u"1", u"", u"local", u"", &refused), DEPOT_E_INVALIDARG);
  EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM VR_PM_DeplPack"), "7\n");
  EXPECT_EQ(Rows(u"SELECT Name, LogicalId, Location, Description FROM VR_PM_DeplPack WHERE DeplPackId = '7'"),
            WideToUtf8(name) + "|{3F9A1B27-6C4D-4E8F-B0A2-7D5E9C1F3B48}|local|A \"quoted\" description\n");

  // Policy types are found without regard to the letter case of their id.
  std::shared_ptr<IVrDepotPolicyType> policy;
  ASSERT_EQ(depot_->GetPolicyType(u"{a1e2f4c0-5b6d-4e7f-8091-a2b3c4d5e6f7}", &policy), S_OK) << LastError();
  WString policyId, policyName;
  policy->GetPolTypeId(&policyId);
  policy->GetName(&policyName);
  EXPECT_EQ(policyId, u"{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}");
  EXPECT_EQ(policyName, u"Logfile Entry");
  EXPECT_EQ(depot_->GetPolicyType(u"{00000000-0000-0000-0000-000000000000}", &policy), DEPOT_E_POLICYTYPENOTFOUND);
  EXPECT_NE(LastError().find("{00000000-0000-0000-0000-000000000000}"), std::string::npos);
  ASSERT_EQ(depot_->GetPolicyType(u"{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}", &policy), S_OK);

  ASSERT_EQ(policy->AddFunctionalityModule(2, 6, u"", u"013900FA-AB7F-11D2-9740-080009EF8C2A", u"local", added), S_OK)
      << LastError();
  EXPECT_EQ(policy->AddFunctionalityModule(2, 6, u"", u"013900FA-AB7F-11D2-9740-080009EF8C2A", u"local", added),
            DEPOT_E_MODULEEXISTS);
  EXPECT_EQ(policy->AddFunctionalityModule(2, 6, u"", u"", u"local", nullptr), E_POINTER);
  EXPECT_EQ(Rows(u"SELECT PolTypeId, SystemType, OsType, OsVersion, ModuleTypeId FROM VR_PM_FunctionalityModule WHERE "
                 u"DeplPackId = '7'"),
            "{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}|2|6||013900FA-AB7F-11D2-9740-080009EF8C2A\n");

  // Removing the newest package frees its id again, so register-unregister leaves no trace.
  Rows(u"DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId = '7'");
  Rows(u"DELETE FROM VR_PM_DeplPack WHERE DeplPackId = '7'");
  ASSERT_EQ(depot_->RegisterPackage(u"{L}", u"Again", u"1", u"", u"local", u"", &added), S_OK);
  added->GetDeplPackId(&id);
  EXPECT_EQ(id, u"7");
  // Deployment rows of a package that is gone keep its id in use: a new package does not
  // inherit those deployments.
  Rows(u"INSERT INTO VR_PM_InstalledDeplPack (DeplPackId, SystemId) VALUES ('8', 'node.example.com')");
  ASSERT_EQ(depot_->RegisterPackage(u"{L}", u"Fourth", u"1", u"", u"local", u"", &added), S_OK);
  added->GetDeplPackId(&id);
  EXPECT_EQ(id, u"9");
  // Ids beyond one digit count on as numbers, not as texts.
  Rows(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES ('99', 'n', 'v', 'l')");
  Rows(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES ('abc', 'n2', 'v', 'l')");
  ASSERT_EQ(depot_->RegisterPackage(u"{L}", u"Third", u"1", u"", u"local", u"", &added), S_OK);
  added->GetDeplPackId(&id);
  EXPECT_EQ(id, u"100");
}

TEST_P(DepotTest, UnreachableDatabasesFailWithClearErrors) {
  auto setSource = [](const char16_t* value) {
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vr::depot::kDbAccessKey, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    const WString v(value);
    RegSetValueExW(h, u"Source", 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                   static_cast<DWORD>((v.size() + 1) * sizeof(WChar)));
    RegCloseKey(h);
  };
  setSource(u"NoSuchSource");
  EXPECT_TRUE(FAILED(depot_->Connect()));
  const std::string why = LastError();
  EXPECT_NE(why.find("NoSuchSource"), std::string::npos) << why;
  EXPECT_NE(why.find("IM002"), std::string::npos) << why;
  EXPECT_EQ(LastError().find(WideToUtf8(host_->password())), std::string::npos);
  setSource(u"VrDepot");

  // A password that does not decipher (written in clear by hand) stops the connection.
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vr::depot::kDbAccessKey, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
  const WString clear = u"InClearText";
  RegSetValueExW(h, u"Password", 0, REG_SZ, reinterpret_cast<const BYTE*>(clear.c_str()),
                 static_cast<DWORD>((clear.size() + 1) * sizeof(WChar)));
  RegCloseKey(h);
  EXPECT_EQ(depot_->Connect(), DEPOT_E_NOCONFIGURATION);
  EXPECT_NE(LastError().find("password"), std::string::npos) << LastError();
  EXPECT_EQ(LastError().find("InClearText"), std::string::npos);
  std::string error;
  ASSERT_TRUE(vr::depot::WriteDbPassword(u"other", error)) << error;
  if (GetParam() == vr::depot::testing::Engine::sqlite) {
    EXPECT_EQ(depot_->Connect(), S_OK) << LastError();  // SQLite has no users: any password opens it
  } else {
    EXPECT_TRUE(FAILED(depot_->Connect()));
    const std::string refused = LastError();
    EXPECT_NE(refused.find("password authentication failed"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("other"), std::string::npos) << refused;
    ASSERT_TRUE(vr::depot::WriteDbPassword(host_->password(), error)) << error;
    EXPECT_EQ(depot_->Connect(), S_OK) << LastError();
  }
}

TEST_P(DepotTest, FailuresInsideARegistrationLeaveNoRow) {
  ASSERT_EQ(depot_->Connect(), S_OK);
  std::shared_ptr<IVrDepotPackage> added;
  // The insert is the third statement of a registration (lookup, next id, insert).
  vr::fault::Configure("ado.Execute#3=0x80004005");
  EXPECT_EQ(depot_->RegisterPackage(u"{L}", u"Faulty", u"1", u"", u"local", u"", &added), E_FAIL);
  EXPECT_NE(LastError().find("Cannot add the package"), std::string::npos) << LastError();
  // Inside the component's transaction: a commit that fails leaves none of its additions.
  ASSERT_EQ(depot_->BeginTransaction(), S_OK);
  EXPECT_EQ(depot_->BeginTransaction(), E_FAIL);  // no nesting
  ASSERT_EQ(depot_->RegisterPackage(u"{L}", u"Faulty", u"1", u"", u"local", u"", &added), S_OK);
  ASSERT_EQ(depot_->RegisterPackage(u"{L}", u"Faulty", u"2", u"", u"local", u"", &added), S_OK);
  WString second;
  added->GetDeplPackId(&second);
  vr::fault::Configure("ado.CommitTrans#1");
  EXPECT_EQ(depot_->CommitTransaction(), E_FAIL);
  vr::fault::Reset();
  EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM VR_PM_DeplPack WHERE Name = 'Faulty'"), "0\n");
  ASSERT_EQ(depot_->BeginTransaction(), S_OK);
  ASSERT_EQ(depot_->RegisterPackage(u"{L}", u"Faulty", u"1", u"", u"local", u"", &added), S_OK);
  ASSERT_EQ(depot_->RollbackTransaction(), S_OK);
  EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM VR_PM_DeplPack WHERE Name = 'Faulty'"), "0\n");
  vr::fault::Configure("depot.RegisterPackage#1=5;depot.GetPolicyType#1;depot.GetPackage#1=0x80040E4D");
  EXPECT_EQ(depot_->RegisterPackage(u"{L}", u"Faulty", u"1", u"", u"local", u"", &added), HRESULT_FROM_WIN32(5));
  std::shared_ptr<IVrDepotPolicyType> policy;
  EXPECT_EQ(depot_->GetPolicyType(u"{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}", &policy), E_FAIL);
  EXPECT_EQ(depot_->GetPackage(u"Faulty", u"1", &added), MakeHr(0x80040E4D));
  vr::fault::Reset();
  EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM VR_PM_DeplPack WHERE Name = 'Faulty'"), "0\n");
  EXPECT_EQ(depot_->RegisterPackage(u"{L}", u"Faulty", u"1", u"", u"local", u"", &added), S_OK);
  vr::fault::Configure("depot.Connect#1");
  EXPECT_EQ(depot_->Connect(), E_FAIL);
  VARIANT_BOOL connected = VARIANT_TRUE;
  depot_->IsConnected(&connected);
  EXPECT_EQ(connected, VARIANT_FALSE);
}

// Every fault point a registration reaches, failed in turn: the call that meets it fails, and
// the database holds the package exactly when its registration succeeded and the module
// exactly when adding it did; nothing is left half-made.
TEST_P(DepotTest, FaultSweepOfARegistrationLeavesNoHalfState) {
  auto registration = [](bool& registered, bool& added) {
    registered = added = false;
    std::shared_ptr<IUnknown> unknown;
    if (FAILED(CoCreateInstance(CLSID_VrDepotServer, nullptr, CLSCTX_ALL, IID_IVrDepotServer, &unknown))) return;
    auto depot = std::dynamic_pointer_cast<IVrDepotServer>(unknown);
    if (!depot || FAILED(depot->Connect())) return;
    std::shared_ptr<IVrDepotPackage> package;
    if (depot->GetPackage(u"Swept", u"2.0", &package) != S_FALSE) return;
    if (FAILED(depot->RegisterPackage(u"{L}", u"Swept", u"2.0", u"", u"local", u"", &package))) return;
    registered = true;
    std::shared_ptr<IVrDepotPolicyType> policy;
    if (FAILED(depot->GetPolicyType(u"{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}", &policy))) return;
    added = SUCCEEDED(policy->AddFunctionalityModule(2, 6, u"", u"M", u"local", package));
    depot->Disconnect();
  };
  auto cleanUp = [this] {
    Rows(u"DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId = '7'");
    Rows(u"DELETE FROM VR_PM_DeplPack WHERE Name = 'Swept'");
  };
  vr::testing::TempDir logDir("vrdepotsweep");
  const std::string log = logDir / "points";
  vr::fault::SetLogFile(log);
  bool registered = false, added = false;
  registration(registered, added);
  vr::fault::SetLogFile("");
  ASSERT_TRUE(registered && added);
  cleanUp();
  std::vector<std::string> points;
  std::istringstream in(vr::testing::ReadFileBytes(log));
  for (std::string line; std::getline(in, line);) points.push_back(line);
  ASSERT_GE(points.size(), 10u);
  for (const std::string& point : points) {
    vr::fault::Configure(point);
    registration(registered, added);
    vr::fault::Reset();
    // Closing a key or the connection after the work may fail without undoing it.
    if (point.find("Close") == std::string::npos) {
      EXPECT_FALSE(registered && added) << point << " was reached but did not fail";
    }
    EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM VR_PM_DeplPack WHERE Name = 'Swept'"), registered ? "1\n" : "0\n") << point;
    EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM VR_PM_FunctionalityModule WHERE ModuleTypeId = 'M'"), added ? "1\n" : "0\n")
        << point;
    cleanUp();
  }
}

TEST(DepotScripts, StatementsSplitAtLineEndSemicolons) {
  const auto s = vr::depot::SplitSqlScript("-- comment\nCREATE TABLE A (\n  x VARCHAR(4) DEFAULT ';'\n);\n\n  -- more\n"
                                           "INSERT INTO A VALUES ('a;b');\nSELECT 1");
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(WideToUtf8(s[0]), "CREATE TABLE A (\n  x VARCHAR(4) DEFAULT ';'\n)");
  EXPECT_EQ(WideToUtf8(s[1]), "INSERT INTO A VALUES ('a;b')");
  EXPECT_EQ(WideToUtf8(s[2]), "SELECT 1");
}

}  // namespace
