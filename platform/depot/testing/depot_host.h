// Tests: a temporary host root with a Depot database, as `vrhost init` makes it: host key,
// DBAccess registry values with the enciphered password, the SQLite data source in the root,
// the tables and (optionally) the demo data. VR_HOST_ROOT points there for the object's life.
// With Engine::postgresql the data source is a new database of the test program's own
// PostgreSQL server instead (tests/support/PgServer.h).
//
// Folder platform/depot/testing, library vr_depot_testing: for tests only; uses platform/depot,
// crypto, registry, os and tests/support.
#pragma once
#include <string>

#include "tests/support/HostTestSupport.h"

namespace vr::depot::testing {

enum class Engine { sqlite, postgresql };

class DepotHost {
 public:
  explicit DepotHost(bool demoData = true, Engine engine = Engine::sqlite);
  ~DepotHost();
  const std::string& root() const { return dir_.path(); }
  const std::u16string& password() const { return password_; }

 private:
  vr::testing::TempDir dir_{"vrdepot"};
  vr::testing::ScopedEnv env_;
  std::u16string password_;
};

// The data folder of the source tree (schema and demo scripts).
std::string SourceDataFile(const std::string& name);

}  // namespace vr::depot::testing
