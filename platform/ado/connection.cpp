// ADODB::Connection over one ODBC connection handle.
#include "platform/ado/odbc_internal.h"

#include <string>

#include "platform/fault/fault.h"
#include "platform/os/file.h"
#include "platform/text/convert.h"

using vr::fault::InjectedHresult;

namespace vr::ado {
namespace {

constexpr const WChar* kSource = u"ADODB.Connection";

class Connection final : public OdbcConnection {
 public:
  ~Connection() override { Disconnect(); }

  HRESULT Open(WStringView connectionString, WStringView userId, WStringView password, long) override {
    errors_.clear();
    if (dbc_ != SQL_NULL_HDBC)
      return Fail({MakeError(u"Operation is not allowed when the object is open.", kSource, ADODB::adErrObjectOpen)});
    if (HRESULT hr = InjectedHresult("ado.Open", E_FAIL).value_or(S_OK); FAILED(hr))
      return Fail({MakeError(u"Cannot connect to the data source (fault injected at ado.Open)", kSource, hr, u"08001")});
    WString odbc, why;
    if (HRESULT hr = ADODB::ToOdbcConnectionString(connectionString, userId, password, &odbc, &why); FAILED(hr))
      return Fail({MakeError(why, kSource, hr)});
    secret_ = PasswordOf(connectionString, password);
    // The embedded database is the server's data: its owner's only, as the host key is. It is
    // made so before the driver first creates it, and again on every open (the write-ahead
    // files take the database file's mode when the driver creates them).
    if (const WString file = EmbeddedDatabaseFile(connectionString); !file.empty()) {
      long rc = vr::os::RestrictToOwner(file, true);
      for (const char16_t* suffix : {u"-wal", u"-shm", u"-journal"})
        if (rc == 0) rc = vr::os::RestrictToOwner(file + suffix, false);
      if (rc != 0) {
        WipeSecret();
        return Fail({MakeError(u"The database file '" + file + u"' cannot be made readable by its owner only (error " +
                                   vr::text::Utf8ToWide(std::to_string(rc)) + u")",
                               kSource, HRESULT_FROM_WIN32(rc))});
      }
    }
    SQLHENV env = Environment();
    if (env == SQL_NULL_HENV)
      return Fail({MakeError(u"The ODBC driver manager cannot be initialised", kSource, E_FAIL, u"IM004")});
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
      std::vector<ADODB::Error> e = Diagnostics(SQL_HANDLE_ENV, env, kSource, E_FAIL, secret_);
      if (e.empty()) e.push_back(MakeError(u"Cannot allocate an ODBC connection", kSource, E_OUTOFMEMORY));
      WipeSecret();
      return Fail(std::move(e));
    }
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, reinterpret_cast<SQLWCHAR*>(odbc.data()),
                                           static_cast<SQLSMALLINT>(odbc.size()), nullptr, 0, &outLength,
                                           SQL_DRIVER_NOPROMPT);
    // The expanded string holds the password: gone before anything else can see it.
    std::fill(odbc.begin(), odbc.end(), u'\0');
    if (!SQL_SUCCEEDED(rc)) {
      std::vector<ADODB::Error> e = Diagnostics(SQL_HANDLE_DBC, dbc, kSource, E_FAIL, secret_);
      if (e.empty()) e.push_back(MakeError(u"Cannot connect to the data source", kSource, E_FAIL, u"08001"));
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
      WipeSecret();
      return Fail(std::move(e));
    }
    dbc_ = dbc;
    SQLWCHAR name[128] = {0};
    SQLSMALLINT nameLength = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc_, SQL_DBMS_NAME, name, sizeof name, &nameLength)))
      dbms_.assign(reinterpret_cast<const WChar*>(name), std::min<size_t>(nameLength / sizeof(SQLWCHAR), 127));
    return S_OK;
  }

  HRESULT Close() override {
    errors_.clear();
    if (dbc_ == SQL_NULL_HDBC)
      return Fail({MakeError(u"Operation is not allowed when the object is closed.", kSource, ADODB::adErrObjectClosed)});
    if (HRESULT hr = InjectedHresult("ado.Close", E_FAIL).value_or(S_OK); FAILED(hr))
      return Fail({MakeError(u"Cannot close the connection (fault injected at ado.Close)", kSource, hr)});
    Disconnect();
    return S_OK;
  }

  long State() const override { return dbc_ != SQL_NULL_HDBC ? ADODB::adStateOpen : ADODB::adStateClosed; }

  HRESULT Execute(WStringView sql, const std::vector<Variant>& parameters, long* recordsAffected, long) override {
    errors_.clear();
    if (recordsAffected) *recordsAffected = -1;
    if (dbc_ == SQL_NULL_HDBC)
      return Fail({MakeError(u"Operation is not allowed when the object is closed.", kSource, ADODB::adErrObjectClosed)});
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    std::vector<ADODB::Error> errors;
    if (HRESULT hr = ExecuteStatement(*this, sql, parameters, kSource, &stmt, errors); FAILED(hr))
      return Fail(std::move(errors));
    SQLLEN rows = -1;
    if (recordsAffected && SQL_SUCCEEDED(SQLRowCount(stmt, &rows))) *recordsAffected = static_cast<long>(rows);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return S_OK;
  }

  HRESULT BeginTrans(long* level) override {
    errors_.clear();
    if (dbc_ == SQL_NULL_HDBC)
      return Fail({MakeError(u"Operation is not allowed when the object is closed.", kSource, ADODB::adErrObjectClosed)});
    if (inTransaction_)
      return Fail({MakeError(u"A transaction is already open on this connection", kSource, E_FAIL, u"25000")});
    if (HRESULT hr = InjectedHresult("ado.BeginTrans", E_FAIL).value_or(S_OK); FAILED(hr))
      return Fail({MakeError(u"Cannot begin a transaction (fault injected at ado.BeginTrans)", kSource, hr)});
    if (!SQL_SUCCEEDED(SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)))
      return FailFromHandle();
    inTransaction_ = true;
    if (level) *level = 1;
    return S_OK;
  }

  HRESULT CommitTrans() override { return EndTransaction(true); }
  HRESULT RollbackTrans() override { return EndTransaction(false); }
  bool InTransaction() const override { return inTransaction_; }

  const std::vector<ADODB::Error>& Errors() const override { return errors_; }
  WString DbmsName() const override { return dbms_; }

  SQLHDBC Handle() const override { return dbc_; }
  WStringView Secret() const override { return secret_; }
  void SetErrors(std::vector<ADODB::Error> errors) override { errors_ = std::move(errors); }

 private:
  HRESULT Fail(std::vector<ADODB::Error> errors) {
    errors_ = std::move(errors);
    return Raise(errors_, E_FAIL);
  }

  HRESULT FailFromHandle() {
    std::vector<ADODB::Error> e = Diagnostics(SQL_HANDLE_DBC, dbc_, kSource, E_FAIL, secret_);
    if (e.empty()) e.push_back(MakeError(u"The ODBC call failed", kSource, E_FAIL));
    return Fail(std::move(e));
  }

  HRESULT EndTransaction(bool commit) {
    errors_.clear();
    if (dbc_ == SQL_NULL_HDBC)
      return Fail({MakeError(u"Operation is not allowed when the object is closed.", kSource, ADODB::adErrObjectClosed)});
    if (!inTransaction_)
      return Fail({MakeError(u"No transaction is open on this connection", kSource, E_FAIL, u"25000")});
    const char* point = commit ? "ado.CommitTrans" : "ado.RollbackTrans";
    if (HRESULT hr = InjectedHresult(point, E_FAIL).value_or(S_OK); FAILED(hr)) {
      // An injected commit failure leaves the work undone, as a failed commit does.
      if (commit) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      LeaveTransaction();
      return Fail({MakeError(WString(commit ? u"Cannot commit the transaction" : u"Cannot roll back the transaction") +
                                 u" (fault injected at " + (commit ? u"ado.CommitTrans" : u"ado.RollbackTrans") + u")",
                             kSource, hr)});
    }
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_, commit ? SQL_COMMIT : SQL_ROLLBACK);
    if (!SQL_SUCCEEDED(rc)) {
      HRESULT hr = FailFromHandle();
      if (commit) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      LeaveTransaction();
      return hr;
    }
    LeaveTransaction();
    return S_OK;
  }

  void LeaveTransaction() {
    inTransaction_ = false;
    SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  }

  void Disconnect() {
    if (dbc_ == SQL_NULL_HDBC) return;
    if (inTransaction_) {
      SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      inTransaction_ = false;
    }
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    WipeSecret();
  }

  void WipeSecret() {
    std::fill(secret_.begin(), secret_.end(), u'\0');
    secret_.clear();
  }

  static WString PasswordOf(WStringView connectionString, WStringView password) {
    return password.empty() ? PasswordInConnectionString(connectionString) : WString(password);
  }

  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool inTransaction_ = false;
  WString dbms_;
  WString secret_;
  std::vector<ADODB::Error> errors_;
};

}  // namespace

std::shared_ptr<OdbcConnection> NewConnection() { return std::make_shared<Connection>(); }

}  // namespace vr::ado

namespace ADODB {

HRESULT CreateConnection(ConnectionPtr* out) {
  if (!out) return E_POINTER;
  out->reset();
  if (HRESULT hr = InjectedHresult("ado.CreateInstance", REGDB_E_CLASSNOTREG).value_or(S_OK); FAILED(hr)) return hr;
  *out = vr::ado::NewConnection();
  return S_OK;
}

}  // namespace ADODB

// Under LeakSanitizer: the PostgreSQL ODBC driver keeps a few blocks of a connection that
// failed to open (its own, freed by nobody); they are not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:psqlodbcw.so\nleak:psqlodbca.so\n"; }
