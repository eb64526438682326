// Tests: a temporary host root whose odbc.ini defines the data source "VrDepot" on a new
// database of the test program's PostgreSQL server (tests/support/PgServer.h), or of a server
// of its own for a test that stops it, reached through the PostgreSQL ODBC driver on the
// server's Unix socket, with VR_HOST_ROOT pointing there.
#pragma once
#include <memory>
#include <string>

#include "tests/support/HostTestSupport.h"
#include "tests/support/PgServer.h"

namespace vr::ado::testing {

class PgDataSource {
 public:
  enum class Server { kShared, kOwn };
  explicit PgDataSource(Server server = Server::kShared);
  const std::string& root() const { return dir_.path(); }
  // "Provider=MSDASQL;DSN=VrDepot;User Id=vrtest;Password=...;"
  std::u16string ConnectionString() const;
  vr::testing::PgServer& server() { return own_ ? *own_ : vr::testing::PgServer::Shared(); }

 private:
  std::unique_ptr<vr::testing::PgServer> own_;
  vr::testing::TempDir dir_{"vradopg"};
  vr::testing::ScopedEnv root_;
};

}  // namespace vr::ado::testing
