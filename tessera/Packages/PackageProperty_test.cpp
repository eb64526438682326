// The central property on files no test wrote by hand: generated registration files with
// package entries over the demo host's own Depot values are registered, then unregistered, and
// the host ends exactly as it began (apart from the new packages that cannot be uninstalled,
// which are meant to stay); a registration that fails, refused or with a fault injected,
// leaves the host as it was. The Depot is the embedded SQLite database, then a PostgreSQL
// server. VR_PROPERTY_FILES sets the number of files on SQLite (a third of it on PostgreSQL).
#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "tessera/Packages/PackageFileGenerator.h"
#include "tessera/Packages/PackageTestHost.h"
#include "tests/support/PgServer.h"

namespace {

class PackageProperty : public PackageTestHost, public ::testing::WithParamInterface<bool> {
 public:
  PackageProperty() { keepDemoRows_ = true; }
  void SetUp() override {
    PackageTestHost::SetUp();
    if (!GetParam() || HasFatalFailure()) return;
    // The same demo Depot on a PostgreSQL server (a new database of the test's own server).
    admin_.reset();
    const vr::testing::RunResult moved = vr::testing::RunProgram(vrhost_, vr::testing::PgServer::Shared().UsePostgresArgs());
    ASSERT_EQ(moved.exitCode, 0) << moved.err;
    ASSERT_TRUE(SUCCEEDED(ADODB::CreateConnection(&admin_)));
    ASSERT_TRUE(SUCCEEDED(admin_->Open(ADODB::MakeConnectionString(u"VrDepot", Utf8ToWide(vr::testing::PgServer::kUser),
                                                                   Utf8ToWide(vr::testing::PgServer::kPassword)))));
  }
};

int FileCount(bool postgres) {
  const char* n = std::getenv("VR_PROPERTY_FILES");
  const int files = n && *n ? std::atoi(n) : 120;
  return postgres ? std::max(1, files / 3) : files;
}

}  // namespace

TEST_P(PackageProperty, GeneratedFilesRegisterAndUnregisterExactly) {
  const char* faults[] = {"depot.AddFunctionalityModule#2", "depot.RegisterPackage#2", "registry.SetValue#1",
                          "ado.Execute#5",                  "depot.CommitTransaction#1", "registry.CreateKey#2"};
  int registered = 0, refused = 0, faulted = 0;
  const int files = FileCount(GetParam());
  for (int seed = 1; seed <= files; ++seed) {
    const WString patch = Utf8ToWide("VRPATCH_GEN_" + std::to_string(seed));
    SetValue(PatchKey(0, patch), kInstalledValue, u"1");
    const std::string before = State();
    const vr::testing::GeneratedPackages generated = vr::testing::PackageFileGenerator(static_cast<unsigned>(seed)).Make();
    const std::string file = (base_ / "gen.xml").string();
    {
      FILE* f = std::fopen(file.c_str(), "wb");
      ASSERT_TRUE(f);
      std::fwrite(generated.xml.data(), 1, generated.xml.size(), f);
      std::fclose(f);
      fs::copy_file(std::string(std::getenv("VR_SOURCE_DIR")) + "/data/VrNPConfig.dtd", base_ / "VrNPConfig.dtd",
                    fs::copy_options::skip_existing);
    }
    const std::string undo = (base_ / ("gen" + std::to_string(seed) + ".undo")).string();
    const bool fault = seed % 4 == 0;
    if (fault) vr::fault::Configure(faults[(seed / 4) % (sizeof faults / sizeof *faults)]);
    error_.clear();
    console_.clear();
    const int code = RegisterLedgered(file, undo, patch);
    vr::fault::Reset();
    if (code == 0) {
      ++registered;
      ASSERT_EQ(UnregisterLedgered(undo), 0) << "seed " << seed << ": " << error_ << console_;
      for (const std::string& name : generated.staying) {
        Sql(u"DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT DeplPackId FROM VR_PM_DeplPack WHERE "
            u"Name = ?)",
            {Variant(Utf8ToWide(name))});
        Sql(u"DELETE FROM VR_PM_DeplPack WHERE Name = ?", {Variant(Utf8ToWide(name))});
      }
    } else {
      (fault ? faulted : refused) += 1;
      // A failed run rolls back (1); a file the run refuses before any section starts gives 100.
      ASSERT_TRUE(code == 1 || code == 100) << "seed " << seed << ": " << code << " " << error_ << console_;
    }
    ASSERT_EQ(State(), before) << "seed " << seed << (fault ? " (fault)" : "") << "\n" << generated.xml;
  }
  std::cout << (GetParam() ? "PostgreSQL" : "SQLite") << ": generated package files: " << files << "; registered and unregistered: " << registered
            << "; refused: " << refused << "; failed by an injected fault: " << faulted << "\n";
  EXPECT_GT(registered, files / 3);
}

INSTANTIATE_TEST_SUITE_P(Depot, PackageProperty, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "PostgreSQL" : "SQLite"; });
