// What the Connection and the Recordset share over the ODBC API: the environment handle,
// diagnostics, and running one statement with bound parameters.
#pragma once
#include <vector>

#include "platform/ado/ado.h"

// unixODBC's headers bring Windows integer types of their own; all but ULONG (64 bits there)
// are the same types as ours. Theirs is renamed while they load, and their BOOL macro goes.
#define ULONG ODBC_ULONG
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#undef ULONG
#undef BOOL

namespace vr::ado {

static_assert(sizeof(SQLWCHAR) == sizeof(WChar), "the driver manager must use UTF-16 SQLWCHAR");

// The process's ODBC environment (ODBC 3 behaviour); nullptr when it cannot be made.
SQLHENV Environment();

// The diagnostic records of a handle. Any occurrence of `secret` (the password) in a message is
// replaced, so that no driver text can carry it into a trace or a console.
std::vector<ADODB::Error> Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const WChar* source,
                                      HRESULT number, WStringView secret);

// One failure record of our own (no ODBC diagnostics available).
ADODB::Error MakeError(WStringView description, const WChar* source, HRESULT number, WStringView sqlState = u"");

// Leaves the first error as the thread's error information and returns its number.
HRESULT Raise(const std::vector<ADODB::Error>& errors, HRESULT fallback);

// The password an ADO connection string carries ("Password=" or "PWD="), empty when none.
WString PasswordInConnectionString(WStringView adoConnectionString);

// The database file of an embedded (SQLite) data source that the host root's odbc.ini
// defines, empty for any other connection string.
WString EmbeddedDatabaseFile(WStringView adoConnectionString);

// The ODBC side of a Connection, which Recordset::Open needs.
class OdbcConnection : public ADODB::Connection {
 public:
  virtual SQLHDBC Handle() const = 0;
  virtual WStringView Secret() const = 0;
  virtual void SetErrors(std::vector<ADODB::Error> errors) = 0;
};

// Prepares and executes one statement with its parameters on a new statement handle. On
// success the handle is returned (the caller reads results and frees it); on failure the
// diagnostics are in errors and no handle is left.
HRESULT ExecuteStatement(OdbcConnection& connection, WStringView sql, const std::vector<Variant>& parameters,
                         const WChar* source, SQLHSTMT* statement, std::vector<ADODB::Error>& errors);

}  // namespace vr::ado
