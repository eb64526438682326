// Tests: a temporary host root whose odbc.ini and odbcinst.ini define the data source
// "VrDepot" on an SQLite database file inside it, as `vrhost init` defines it, with
// VR_HOST_ROOT pointing there for the life of the object.
//
// Folder platform/ado/testing, library vr_ado_testing: for tests only; uses platform/ado and
// tests/support.
#pragma once
#include <string>

#include "tests/support/HostTestSupport.h"

namespace vr::ado::testing {

class SqliteDataSource {
 public:
  SqliteDataSource();
  const std::string& root() const { return dir_.path(); }
  std::string databaseFile() const { return dir_ / "depot.db"; }
  // "Provider=MSDASQL;DSN=VrDepot;User Id=vrdepot;Password=...;"
  std::u16string ConnectionString() const;

 private:
  vr::testing::TempDir dir_{"vrado"};
  vr::testing::ScopedEnv root_;
};

}  // namespace vr::ado::testing
