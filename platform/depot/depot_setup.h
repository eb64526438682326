// Setting up a host's Depot database: the ODBC data source inside the host root, the DBAccess
// registry values with the enciphered password, and the tables. `vrhost init` and
// `vrhost dbaccess` use these, and so do the tests that need a Depot database.
//
// The host root's ODBC files are the ones unixODBC reads when ODBCSYSINI names the root:
//   ROOT/odbcinst.ini   [VrSQLite3] Driver=<path of libsqlite3odbc.so>
//   ROOT/odbc.ini       [VrDepot] Driver=VrSQLite3, Database=ROOT/depot.db, Timeout, JournalMode, SyncPragma
// The ADO layer reads them itself (platform/ado/ado.h), so no environment needs setting.
#pragma once
#include <string>
#include <vector>

#include "platform/text/wstring.h"

namespace vr::depot {

inline constexpr const char* kDefaultDataSource = "VrDepot";
inline constexpr const char* kDefaultUser = "vrdepot";
inline constexpr const char* kSqliteDriverName = "VrSQLite3";
inline constexpr const char* kPostgresDriverName = "VrPostgreSQL";
inline constexpr const char* kDatabaseFile = "depot.db";

// One data source of the host root's odbc.ini: its name and "key=value" settings besides Driver.
struct DataSource {
  std::string name;
  std::string driverName;  // a section of the host root's odbcinst.ini
  std::string driverPath;  // the shared object
  std::vector<std::pair<std::string, std::string>> settings;
};

// The embedded data source: SQLite, the database file in the root. False when the SQLite ODBC
// driver is not installed.
bool SqliteDataSource(const std::string& root, DataSource& source, std::string& error);
// A PostgreSQL server: host (a name, an address, or a socket folder), port, database.
bool PostgresDataSource(const std::string& name, const std::string& host, const std::string& port,
                        const std::string& database, DataSource& source, std::string& error);

// Writes the data source into root/odbc.ini and its driver into root/odbcinst.ini (atomically,
// replacing a section of the same name, keeping the others).
bool WriteDataSource(const std::string& root, const DataSource& source, std::string& error);

// The DBAccess values "Source", "User" and the enciphered "Password" (host key of the current
// host root), in one registry transaction.
bool WriteDbAccess(const WString& source, const WString& user, const WString& password, std::string& error);
// Replaces the enciphered "Password" only.
bool WriteDbPassword(const WString& password, std::string& error);

// A fresh random password of letters and digits (nothing an unquoted connection string misreads).
WString GeneratePassword();

// Connects through DBAccess and runs the schema and, when given, the demo data scripts.
bool CreateDepotTables(const std::string& schemaFile, const std::string& demoFile, std::string& error);

}  // namespace vr::depot
