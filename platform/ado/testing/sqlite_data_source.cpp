#include "platform/ado/testing/sqlite_data_source.h"

#include <fstream>
#include <stdexcept>

#include "platform/ado/drivers.h"

namespace vr::ado::testing {

SqliteDataSource::SqliteDataSource() : root_("VR_HOST_ROOT", dir_.path()) {
  const std::string driver = SqliteOdbcDriverPath();
  if (driver.empty()) throw std::runtime_error("the SQLite ODBC driver (libsqliteodbc) is not installed");
  std::ofstream(dir_ / "odbcinst.ini") << "[VrSQLite3]\nDescription=SQLite3 ODBC driver\nDriver=" << driver << "\n";
  std::ofstream(dir_ / "odbc.ini") << "[VrDepot]\nDescription=Depot database\nDriver=VrSQLite3\nDatabase="
                                   << databaseFile() << "\nTimeout=10000\nSyncPragma=FULL\n";
}

std::u16string SqliteDataSource::ConnectionString() const {
  return u"Provider=MSDASQL;DSN=VrDepot;User Id=vrdepot;Password=\"Se;cr{e}t'1\";";
}

}  // namespace vr::ado::testing
