// Tests: a temporary host root whose odbc.ini defines the data source "VrDepot" on the test
// program's own PostgreSQL server (tests/support/PgServer.h), reached through the PostgreSQL
// ODBC driver on the server's Unix socket, with VR_HOST_ROOT pointing there.
#pragma once
#include <string>

#include "tests/support/HostTestSupport.h"
#include "tests/support/PgServer.h"

namespace vr::ado::testing {

class PgDataSource {
 public:
  PgDataSource();
  const std::string& root() const { return dir_.path(); }
  // "Provider=MSDASQL;DSN=VrDepot;User Id=vrtest;Password=...;"
  std::u16string ConnectionString() const;
  vr::testing::PgServer& server() { return vr::testing::PgServer::Shared(); }

 private:
  vr::testing::TempDir dir_{"vradopg"};
  vr::testing::ScopedEnv root_;
};

}  // namespace vr::ado::testing
