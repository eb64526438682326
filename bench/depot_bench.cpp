// Speed of the Depot database through the ADO layer and the Depot component, the way the
// package section uses them: registering N packages with 10 policy types each (package lookup,
// registration, id lookup, and for every policy type: lookup, module check, module insert), and
// unregistering them again (module check and delete for each, dependency and package checks,
// package delete). N = 10, 100, 1000, on the embedded SQLite database and on a PostgreSQL
// server of the benchmark's own (skipped with --sqlite-only, or when PostgreSQL is missing).
// Target: 1000 packages register in under 10 s and unregister in under 10 s on SQLite; the
// program exits with 1 when one misses it.
//
// Usage: depot_bench [--sqlite-only]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "platform/com/runtime.h"
#include "platform/crypto/host_secret.h"
#include "platform/depot/depot.h"
#include "platform/depot/depot_connection.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/os/datadir.h"
#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/PgServer.h"

using Clock = std::chrono::steady_clock;
using vr::text::Utf8ToWide;

namespace {

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

const char16_t* kPolicyTypes[] = {
    u"{B7A8C9D0-1E2F-4031-8425-36475869708A}", u"{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}",
    u"{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}", u"{D2C4E6F8-0A1B-4C3D-9E5F-718293A4B5C6}",
    u"{E3F5A7B9-1C2D-4E3F-8A5B-6C7D8E9FA0B1}", u"{F4A6B8CA-2D3E-4F40-9B6C-7D8E9FA0B1C2}",
    u"{0A1B2C3D-4E5F-4607-8819-2A3B4C5D6E7F}", u"{B7A8C9D0-1E2F-4031-8425-36475869708A}",
    u"{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}", u"{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}"};

bool Check(HRESULT hr, const char* what) {
  if (SUCCEEDED(hr)) return true;
  std::fprintf(stderr, "depot_bench: %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
  return false;
}

bool Exists(const ADODB::ConnectionPtr& c, const std::u16string& sql, const std::vector<Variant>& params, bool& found) {
  ADODB::RecordsetPtr rs;
  ADODB::CreateRecordset(&rs);
  rs->PutCursorLocation(ADODB::adUseClient);
  if (!Check(rs->Open(sql, params, c), "a query")) return false;
  found = rs->State() == ADODB::adStateOpen && !rs->EndOfFile();
  if (rs->State() == ADODB::adStateOpen) rs->Close();
  return true;
}

// Registers n packages (10 modules each, on two platforms) and unregisters them; false on a failure.
bool Run(int n, const char* engine, double& reg, double& unreg) {
  std::shared_ptr<IUnknown> unknown;
  if (!Check(CoCreateInstance(CLSID_VrDepotServer, nullptr, CLSCTX_ALL, IID_IVrDepotServer, &unknown), "CoCreateInstance"))
    return false;
  auto depot = std::dynamic_pointer_cast<IVrDepotServer>(unknown);
  if (!Check(depot->Connect(), "Connect")) return false;
  ADODB::ConnectionPtr c;
  std::string why;
  if (FAILED(vr::depot::OpenDepotDatabase(&c, why))) {
    std::fprintf(stderr, "depot_bench: %s\n", why.c_str());
    return false;
  }
  std::vector<std::u16string> ids(n);
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < n; ++i) {
    const std::u16string name = Utf8ToWide(std::string("Bench package ") + engine + " " + std::to_string(i));
    std::shared_ptr<IVrDepotPackage> package;
    if (!Check(depot->GetPackage(name, u"1.0", &package), "GetPackage")) return false;
    if (!Check(depot->RegisterPackage(u"{LOGICAL}", name, u"1.0", u"657AF3A3-BCFD-11D2-8608-080009D961F6", u"local",
                                      u"bench", &package),
               "RegisterPackage"))
      return false;
    bool found = false;
    if (!Exists(c, u"SELECT * FROM VR_PM_DeplPack WHERE Name=? AND Version=?", {Variant(name), Variant(u"1.0")}, found))
      return false;
    package->GetDeplPackId(&ids[i]);
    for (int p = 0; p < 10; ++p) {
      std::shared_ptr<IVrDepotPolicyType> policy;
      if (!Check(depot->GetPolicyType(kPolicyTypes[p], &policy), "GetPolicyType")) return false;
      const int32_t systemType = p < 7 ? 2 : 4;
      const std::u16string s = Utf8ToWide(std::to_string(systemType)), o = systemType == 2 ? u"6" : u"4";
      if (!Exists(c, u"SELECT * FROM VR_PM_FunctionalityModule WHERE PolTypeId=? AND DeplPackId=? AND SystemType=? AND "
                     u"OsType=? AND OsVersion=?",
                  {Variant(kPolicyTypes[p]), Variant(ids[i]), Variant(s), Variant(o), Variant(u"")}, found))
        return false;
      if (found) continue;
      if (!Check(policy->AddFunctionalityModule(systemType, systemType == 2 ? 6 : 4, u"",
                                                u"013900FA-AB7F-11D2-9740-080009EF8C2A", u"local", package),
                 "AddFunctionalityModule"))
        return false;
    }
  }
  reg = Seconds(start);
  const Clock::time_point second = Clock::now();
  for (int i = 0; i < n; ++i) {
    bool found = false;
    for (int p = 0; p < 10; ++p) {
      const std::u16string s = p < 7 ? u"2" : u"4", o = p < 7 ? u"6" : u"4";
      const std::vector<Variant> key = {Variant(kPolicyTypes[p]), Variant(ids[i]), Variant(s), Variant(o)};
      if (!Exists(c, u"SELECT * FROM VR_PM_FunctionalityModule WHERE PolTypeId=? AND DeplPackId=? AND SystemType=? AND OsType=?",
                  key, found))
        return false;
      if (found && !Check(c->Execute(u"DELETE FROM VR_PM_FunctionalityModule WHERE PolTypeId=? AND DeplPackId=? AND "
                                     u"SystemType=? AND OsType=? AND OsVersion=?",
                                     {key[0], key[1], key[2], key[3], Variant(u"")}),
                          "DELETE module"))
        return false;
    }
    if (!Exists(c, u"SELECT * FROM VR_PM_FunctionalityModule WHERE DeplPackId=?", {Variant(ids[i])}, found)) return false;
    if (!Exists(c, u"SELECT * FROM VR_PM_DeplPack WHERE DeplPackId=?", {Variant(ids[i])}, found)) return false;
    if (!Check(c->Execute(u"DELETE FROM VR_PM_DeplPack WHERE DeplPackId=?", {Variant(ids[i])}), "DELETE package")) return false;
  }
  unreg = Seconds(second);
  return true;
}

bool SetUpHost(const std::string& root, bool postgres, std::string& error) {
  vr::depot::DataSource source;
  std::u16string user = u"vrdepot", password = u"bench";
  bool defined;
  if (!postgres) {
    defined = vr::depot::SqliteDataSource(root, source, error);
  } else {
    auto& pg = vr::testing::PgServer::Shared();
    defined = vr::depot::PostgresDataSource(vr::depot::kDefaultDataSource, pg.socketFolder(), vr::testing::PgServer::kPort,
                                            pg.NewDatabase(), source, error);
    user = Utf8ToWide(vr::testing::PgServer::kUser);
    password = Utf8ToWide(vr::testing::PgServer::kPassword);
  }
  const std::string data = vr::os::DataDir();
  return vr::crypto::CreateHostKey(root, error) && defined && vr::depot::WriteDataSource(root, source, error) &&
         vr::depot::WriteDbAccess(Utf8ToWide(source.name), user, password, error) &&
         vr::depot::CreateDepotTables(data + "/" + vr::depot::kSchemaFile, data + "/" + vr::depot::kDemoDataFile, error);
}

}  // namespace

int main(int argc, char** argv) {
  const bool sqliteOnly = argc > 1 && std::strcmp(argv[1], "--sqlite-only") == 0;
  CoInitialize(nullptr);
  bool ok = true;
  for (const bool postgres : {false, true}) {
    if (postgres && sqliteOnly) break;
    const char* engine = postgres ? "postgresql" : "sqlite";
    for (const int n : {10, 100, 1000}) {
      vr::testing::TempDir root("vrdepotbench");
      vr::testing::ScopedEnv env("VR_HOST_ROOT", root.path());
      std::string error;
      try {
        if (!SetUpHost(root.path(), postgres, error)) {
          std::fprintf(stderr, "depot_bench: %s\n", error.c_str());
          return 1;
        }
      } catch (const std::exception& e) {
        std::printf("%-10s skipped: %s\n", engine, e.what());
        break;
      }
      double reg = 0, unreg = 0;
      if (!Run(n, engine, reg, unreg)) return 1;
      const bool target = !postgres && n == 1000;
      const bool met = !target || (reg < 10 && unreg < 10);
      ok = ok && met;
      std::printf("%-10s %5d packages x 10 policy types: register %7.3f s (%6.2f ms/package), unregister %7.3f s "
                  "(%6.2f ms/package)%s\n",
                  engine, n, reg, 1000 * reg / n, unreg, 1000 * unreg / n,
                  target ? (met ? "   target < 10 s each: ok" : "   target < 10 s each: MISSED") : "");
    }
  }
  CoUninitialize();
  return ok ? 0 : 1;
}
