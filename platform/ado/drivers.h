// Where the ODBC drivers of the Debian packages live: libsqliteodbc (libsqlite3odbc.so) and
// odbc-postgresql (psqlodbcw.so). VR_SQLITE_ODBC_DRIVER and VR_PGSQL_ODBC_DRIVER name another
// file. Empty when none is found.
#pragma once
#include <string>

namespace vr::ado {

std::string SqliteOdbcDriverPath();
std::string PostgresOdbcDriverPath();

}  // namespace vr::ado
