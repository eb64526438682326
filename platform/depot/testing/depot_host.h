// Tests: a temporary host root with a Depot database, as `vrhost init` makes it: host key,
// DBAccess registry values with the enciphered password, the SQLite data source in the root,
// the tables and (optionally) the demo data. VR_HOST_ROOT points there for the object's life.
#pragma once
#include <string>

#include "tests/support/HostTestSupport.h"

namespace vr::depot::testing {

class DepotHost {
 public:
  explicit DepotHost(bool demoData = true);
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
