// The fixture of the package section tests: a demo host made by vrhost with a Depot database
// on SQLite, the run of tessera's registration object in this process, and the state of the
// Depot tables and the patch bookkeeping.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/ado/ado.h"
#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/depot/testing/depot_host.h"
#include "platform/fault/fault.h"
#include "platform/registry/regtools.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/RunLedger.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostFixture.h"


namespace fs = std::filesystem;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace vr::pkg;

namespace {

inline constexpr const char16_t* kDbAccess = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess";

class PackageTestHost : public vr::testing::HostFixture {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    ASSERT_EQ(::chdir("/"), 0);  // the runs walk folders; none of them is the test's own
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    PrepareDepotDatabase();
    CaptureConsole(vr::console::SetConsoleWriter);
  }
  void TearDown() override {
    vr::fault::Reset();  // before the hive closes
    admin_.reset();
    vr::registry::CloseHive();
    CoUninitialize();
    HostFixture::TearDown();
  }

  // The Depot database vrhost made (SQLite; its password is not checked), emptied: the tests
  // bring their own rows.
  void PrepareDepotDatabase() {
    if (!fs::exists(root_ / "odbc.ini")) {  // a vrhost without the Depot step
      std::string error;
      vr::depot::DataSource source;
      ASSERT_TRUE(vr::crypto::CreateHostKey(root_.string(), error) &&
                  vr::depot::SqliteDataSource(root_.string(), source, error) &&
                  vr::depot::WriteDataSource(root_.string(), source, error) &&
                  vr::depot::WriteDbAccess(u"VrDepot", u"vrdepot", u"depot-secret", error) &&
                  vr::depot::CreateDepotTables(vr::depot::testing::SourceDataFile(vr::depot::kSchemaFile),
                                               vr::depot::testing::SourceDataFile(vr::depot::kDemoDataFile), error))
          << error;
    }
    ASSERT_TRUE(SUCCEEDED(ADODB::CreateConnection(&admin_)));
    ASSERT_TRUE(SUCCEEDED(admin_->Open(u"Provider=MSDASQL;DSN=VrDepot;User Id=vrdepot;Password=unused;")));
    if (keepDemoRows_) return;
    for (const char16_t* table : {u"VR_PM_InstalledDeplPack", u"VR_PM_FunctionalityModule", u"VR_PM_DeplPack"})
      Sql(WString(u"DELETE FROM ") + table);
  }
  void Sql(const WString& sql, const std::vector<Variant>& values = {}) {
    ASSERT_TRUE(SUCCEEDED(admin_->Execute(sql, values))) << WideToUtf8(sql);
  }
  void SetValue(const WString& key, const WString& name, const WString& value) {
    HKEY h = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, &disposition),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WChar))),
              ERROR_SUCCESS);
    RegCloseKey(h);
  }
  WString Value(const WString& key, const WString& name) {
    WString text;
    return HKLMGetRegistryKeyValue(key, name, text) ? text : u"<none>";
  }
  // Every row of the three tables, sorted.
  std::string Rows() {
    std::string out;
    for (const char16_t* sql : {u"SELECT DeplPackId, Name, Version, LogicalId FROM VR_PM_DeplPack ORDER BY 1",
                                u"SELECT PolTypeId, DeplPackId, SystemType, OsType FROM VR_PM_FunctionalityModule "
                                u"ORDER BY 1, 2, 3, 4",
                                u"SELECT DeplPackId, SystemId FROM VR_PM_InstalledDeplPack ORDER BY 1, 2"}) {
      ADODB::RecordsetPtr rs;
      EXPECT_TRUE(SUCCEEDED(ADODB::CreateRecordset(&rs)));
      EXPECT_TRUE(SUCCEEDED(rs->Open(sql, {}, admin_)));
      for (; !rs->EndOfFile(); rs->MoveNext()) {
        for (long i = 0; i < rs->FieldCount(); ++i) {
          Variant v, t;
          rs->GetValue(i, &v);
          VariantChangeType(&t, &v, 0, VT_BSTR);
          out += WideToUtf8(t.bstrVal) + "|";
        }
        out += "\n";
      }
      out += "--\n";
    }
    return out;
  }

  // The demo content: a Windows package (5) with two modules, a Unix package (6) on two
  // platforms, a package of another kind (7) of which one module is this patch's.
  void AddDemoRows() {
    Sql(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId) VALUES (5, 'Win Agent', '1.0', '{W}'), (6, 'Ux Agent', '2.0', '{U}'), "
        u"(7, 'Scripts', '1.0', '{S}'), (8, 'Unrelated', '1.0', '{R}')");
    Sql(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, OsVersion) VALUES ('{P1}', 5, 2, 11, ''), ('{P2}', 5, 2, 11, ''), "
        u"('{P3}', 6, 2, 6, ''), ('{P3}', 6, 3, 6, ''), ('{P4}', 7, 2, 11, ''), ('{P5}', 7, 2, 11, ''), "
        u"('{P1}', 8, 2, 11, '')");
  }
  std::vector<WString> DemoLines() {
    return {u"PACKAGE WindowsPackage 5 \"Win Agent\" 1.0 {W} D \"Windows agent\"",
            u"PLAT_POLICY 5 {W} 2 11 {P1}",
            u"PLAT_POLICY 5 {W} 2 11 {P2}",
            u"PACKAGE_UNIX 6 \"Ux Agent\" 2.0 {U} D \"Unix agent\" 2 6 3",
            u"PACKAGE 657AF3A3-BCFD-11D2-8608-080009D961F6 7 \"Scripts\" 1.0 {S} D \"\"",
            u"PLAT_POLICY 7 {S} 2 11 {P4}"};
  }
  void Bookkeep(const WString& patch, bool installed = true, const WString& unixInfo = u"2.0|Linux") {
    if (installed) SetValue(PatchKey(0, patch), kInstalledValue, u"1");
    SetValue(PatchKey(0, patch), kWinPkgInfoValue, u"1.0|Windows_2000");
    SetValue(PatchKey(0, patch), kUxAgtInfoValue, unixInfo);
  }
  std::string WriteUndo(const WString& patch, const std::vector<WString>& lines, bool terminated = true) {
    const std::string path = (base_ / (WideToUtf8(patch) + ".undo")).string();
    VrLogFile undo(Utf8ToWide(path).c_str(), true);
    vr::undo::AppendHeader(undo, {patch, u"01/02/2026 10:00:00 +00:00", u"C:\\p.xml", u"A.07.50"});
    undo.AppendLine(u"", true);
    undo.AppendLine(vr::undo::kPackagesBegin, true);
    for (const auto& l : lines) undo.AppendLine(l, true);
    if (terminated) undo.AppendLine(vr::undo::kPackagesEnd, true);
    EXPECT_TRUE(SUCCEEDED(undo.SaveFile()));
    return path;
  }
  int Unregister(const std::string& undo) {
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    if (status != 0) {
      error_ = WideToUtf8(message);
      return status;
    }
    try {
      return r.UnregisterPlatform(Utf8ToWide(undo), false);
    } catch (const CApp_error& e) {
      error_ = WideToUtf8(e.Message());
      return e.ExitCode();
    } catch (const _com_error&) {
      return 100;
    }
  }

  int Register(const std::string& file, const std::string& undo, const WString& patch = u"VRPATCH_PKG_01") {
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    if (status != 0) {
      error_ = WideToUtf8(message);
      return status;
    }
    try {
      return r.RegisterPlatform(Utf8ToWide(file), patch, false, Utf8ToWide(undo), 1 | vr::undo::kSectionPackages);
    } catch (const CApp_error& e) {
      error_ = WideToUtf8(e.Message());
      return e.ExitCode();
    } catch (const _com_error&) {
      return 100;
    }
  }
  // The run keeps the ledger itself: loaded under its lock, the registration made (or found by
  // the undo header), saved when the run succeeds. These name the tests that rely on it.
  int RegisterLedgered(const std::string& file, const std::string& undo, const WString& patch) {
    return Register(file, undo, patch);
  }
  int UnregisterLedgered(const std::string& undo) { return Unregister(undo); }

  static vr::undo::UndoHeader Header(const std::string& undo) {
    VrLogFile file(Utf8ToWide(undo).c_str(), true);
    vr::undo::UndoHeader header;
    int sections = 0;
    WString message;
    EXPECT_TRUE(SUCCEEDED(file.LoadFile()));
    EXPECT_EQ(vr::undo::ValidateUndoFile(file, header, sections, message), 0);
    return header;
  }

  // Every row of the Depot tables and the registry below the product key, as text.
  std::string State() {
    std::string out;
    for (const char16_t* sql :
         {u"SELECT * FROM VR_PM_DeplPack ORDER BY DeplPackId",
          u"SELECT * FROM VR_PM_FunctionalityModule ORDER BY PolTypeId, DeplPackId, SystemType, OsType",
          u"SELECT * FROM VR_PM_InstalledDeplPack ORDER BY DeplPackId, SystemId",
          u"SELECT * FROM VR_PM_PolicyType ORDER BY PolTypeId"}) {
      ADODB::RecordsetPtr rs;
      EXPECT_TRUE(SUCCEEDED(ADODB::CreateRecordset(&rs)));
      EXPECT_TRUE(SUCCEEDED(rs->Open(sql, {}, admin_)));
      for (; !rs->EndOfFile(); rs->MoveNext()) {
        for (long i = 0; i < rs->FieldCount(); ++i) {
          WString text;
          rs->GetText(rs->FieldName(i), &text);
          out += WideToUtf8(text) + "|";
        }
        out += "\n";
      }
      out += "--\n";
    }
    // The registry as `vrhost reg export` writes it, read here rather than by starting vrhost:
    // the sweeps take the state after every fault point.
    std::string registry;
    EXPECT_EQ(vr::registry::ExportRegText(u"HKEY_LOCAL_MACHINE\\SOFTWARE", registry), ERROR_SUCCESS);
    return out + registry;
  }
  // A registration file with the packages given as XML text, beside a copy of the DTD.
  std::string WriteRegistration(const std::string& name, const std::string& packages) {
    const fs::path path = base_ / name;
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
        "<VrNPConfig version=\"A.07.50\">\n"
        "<OsTypeForReg string=\"Windows_2000\"><systemtype>2</systemtype><ostype>11</ostype></OsTypeForReg>\n"
        "<OsTypeForReg string=\"Linux\"><ostype>6</ostype></OsTypeForReg>\n<PackageList>\n" +
        packages + "</PackageList>\n</VrNPConfig>\n";
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_TRUE(f);
    if (!f) return path.string();
    std::fwrite(xml.data(), 1, xml.size(), f);
    std::fclose(f);
    fs::copy_file(std::string(std::getenv("VR_SOURCE_DIR")) + "/data/VrNPConfig.dtd", base_ / "VrNPConfig.dtd",
                  fs::copy_options::skip_existing);
    return path.string();
  }
  static std::string PackageXml(const std::string& type, const std::string& name, const std::string& version,
                                const std::string& platforms, const std::string& description = "d") {
    return "<Package><type>" + type + "</type><pkgname><text L=\"1033\">" + name + "</text></pkgname><version>" +
           version + "</version><logicalid>{5A1B2C3D-0000-4000-8000-00000000000A}</logicalid><unregister>yes"
           "</unregister><description><text L=\"1033\">" + description +
           "</text></description><deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6</deployerid>" + platforms +
           "</Package>\n";
  }
  static std::string PlatformXml(int systemType, int osType, const std::vector<std::string>& policyTypes) {
    std::string p = "<PlatformAndPolicyTypes><systemtype>" + std::to_string(systemType) + "</systemtype><ostype>" +
                    std::to_string(osType) + "</ostype><PolicyTypes>";
    for (const auto& t : policyTypes) p += "<policytype>" + t + "</policytype>";
    return p + "</PolicyTypes></PlatformAndPolicyTypes>";
  }
  std::string Example() const {
    return std::string(std::getenv("VR_SOURCE_DIR")) + "/examples/AgentPackages.xml";
  }

  bool keepDemoRows_ = false;  // the demo Depot's rows stay for the test
  ADODB::ConnectionPtr admin_;
  std::string error_;
};

}  // namespace
