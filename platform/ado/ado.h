// ADO-shaped Connection and Recordset over unixODBC: what the programs need to reach the
// Depot database through the ODBC provider.
//
//   ADODB::ConnectionPtr c;
//   HRESULT hr = ADODB::CreateConnection(&c);
//   hr = c->Open(u"Provider=MSDASQL;DSN=VrDepot;User Id=vrdepot;Password=...;", u"", u"",
//                ADODB::adConnectUnspecified);
//   ADODB::RecordsetPtr rs;
//   hr = ADODB::CreateRecordset(&rs);
//   rs->PutCursorLocation(ADODB::adUseClient);
//   hr = rs->Open(u"SELECT * FROM VR_PM_DeplPack WHERE Name=? AND Version=?",
//                 {Variant(name), Variant(version)}, c, ADODB::adOpenForwardOnly,
//                 ADODB::adLockReadOnly, ADODB::adCmdText);
//   while (!rs->EndOfFile()) { Variant v; rs->GetValue(u"DeplPackId", &v); rs->MoveNext(); }
//   rs->Close();
//
// Values never travel inside the SQL text: a statement carries '?' markers and the values
// follow as a vector of Variants, bound as ODBC parameters, so no text a user supplies can
// change a statement. FormatForTrace shows a statement with its values for a trace only.
//
// Every call returns an HRESULT. A failure leaves the ODBC diagnostics in the connection's
// Errors() collection and an ErrorInfo (description = the first diagnostic's text, source
// "ADODB.Connection" or "ADODB.Recordset") for GetErrorInfo, so that _com_issue_error(hr)
// raises a _com_error with that description, as a call through ADO's smart pointers would.
// No text of an error ever holds the connection string or the password.
//
// Connection strings. "Provider=MSDASQL;DSN=name;User Id=u;Password=p;" (keys without regard to
// case; "Data Source" stands for DSN, "UID"/"PWD" are accepted; other keys are handed to the
// driver). The DSN is looked up first in the host root's odbc.ini (HostRoot()/odbc.ini, drivers
// named there resolved through HostRoot()/odbcinst.ini, the files unixODBC reads when
// ODBCSYSINI names the host root) and turned into a connection string without DSN that names
// the driver and its settings; a DSN the host root does not define goes to the driver manager
// as it is (system and user DSNs). "Provider=" with anything but MSDASQL is refused.
//
// Fault points (VR_FAULTS), each failing with the given HRESULT (0: E_FAIL; a positive Win32
// error number e: HRESULT_FROM_WIN32(e)):
//   ado.CreateInstance  CreateConnection, CreateRecordset
//   ado.Open            Connection::Open
//   ado.Execute         every statement: Connection::Execute, Recordset::Open
//   ado.BeginTrans, ado.CommitTrans, ado.RollbackTrans
//   ado.Close           Connection::Close
//
// Folder platform/ado, library vr_ado: host layer of Connection and Recordset over unixODBC;
// uses platform/os, com, text and fault. Its subfolder testing/ (vr_ado_testing) serves tests
// only.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/variant.h"
#include "platform/text/wstring.h"

namespace ADODB {

enum ObjectStateEnum : long { adStateClosed = 0, adStateOpen = 1 };
enum CursorLocationEnum : long { adUseServer = 2, adUseClient = 3 };
enum CursorTypeEnum : long { adOpenUnspecified = -1, adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockTypeEnum : long { adLockUnspecified = -1, adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };
enum CommandTypeEnum : long { adCmdUnspecified = -1, adCmdText = 1 };
enum ConnectOptionEnum : long { adConnectUnspecified = -1, adAsyncConnect = 16 };
enum ExecuteOptionEnum : long { adOptionUnspecified = -1, adExecuteNoRecords = 0x80 };

// ADO's own error codes (ErrorValueEnum as HRESULTs).
constexpr HRESULT adErrItemNotFound = MakeHr(0x800A0CC1);       // no field of that name or index
constexpr HRESULT adErrNoCurrentRecord = MakeHr(0x800A0BCD);    // EOF or BOF
constexpr HRESULT adErrObjectClosed = MakeHr(0x800A0E78);       // operation on a closed object
constexpr HRESULT adErrObjectOpen = MakeHr(0x800A0E79);         // Open on an open object
constexpr HRESULT adErrProviderNotFound = MakeHr(0x800A0E7A);   // Provider= other than MSDASQL
constexpr HRESULT adErrInvalidConnection = MakeHr(0x800A0E7D);  // recordset without open connection
constexpr HRESULT adErrInvalidArgument = MakeHr(0x800A0BB9);

// One ODBC diagnostic record.
struct Error {
  WString description;  // the driver's message text
  WString sqlState;     // five characters, "IM002", "08001", "42S02", ...
  long nativeError = 0;
  WString source;       // "ADODB.Connection" / "ADODB.Recordset"
  HRESULT number = E_FAIL;
};

class Connection;
class Recordset;
using ConnectionPtr = std::shared_ptr<Connection>;
using RecordsetPtr = std::shared_ptr<Recordset>;

HRESULT CreateConnection(ConnectionPtr* out);
HRESULT CreateRecordset(RecordsetPtr* out);

class Connection {
 public:
  virtual ~Connection() = default;

  // Opens the connection; userId and password, when not empty, replace those of the string.
  // adErrObjectOpen when already open.
  virtual HRESULT Open(WStringView connectionString, WStringView userId = u"", WStringView password = u"",
                       long options = adConnectUnspecified) = 0;
  // adErrObjectClosed when not open. An open transaction is rolled back.
  virtual HRESULT Close() = 0;
  virtual long State() const = 0;  // adStateOpen or adStateClosed

  // Runs one statement of any kind; recordsAffected receives the row count of an INSERT,
  // UPDATE or DELETE (-1 for other statements). Rows a query returns are dropped.
  virtual HRESULT Execute(WStringView sql, const std::vector<Variant>& parameters, long* recordsAffected = nullptr,
                          long options = adCmdText) = 0;

  // Transactions: without one every statement commits on its own.
  // BeginTrans gives the nesting level (1); a second BeginTrans fails, as ODBC has no nesting.
  virtual HRESULT BeginTrans(long* level = nullptr) = 0;
  virtual HRESULT CommitTrans() = 0;
  virtual HRESULT RollbackTrans() = 0;
  virtual bool InTransaction() const = 0;

  // The diagnostics of the last failed call (empty after a call that succeeded).
  virtual const std::vector<Error>& Errors() const = 0;
  // The driver's name of the database product ("SQLite", "PostgreSQL"), once open.
  virtual WString DbmsName() const = 0;
};

// A column of the current row.
struct Field {
  WString name;
  Variant value;  // VT_NULL, VT_I4, VT_I8, VT_R8 or VT_BSTR
};

// A client-side cursor: Open runs the statement and reads every row; the connection is free
// for other statements at once. A statement that returns no rows (INSERT, UPDATE, DELETE,
// CREATE ...) leaves the recordset closed, as ADO does: test State() before Close().
class Recordset {
 public:
  virtual ~Recordset() = default;

  // adUseClient is the only location this host serves; adUseServer is accepted and behaves
  // the same.
  virtual void PutCursorLocation(long location) = 0;
  virtual long GetCursorLocation() const = 0;

  // adErrInvalidConnection when the connection is missing or closed; adErrObjectOpen when
  // this recordset is open.
  virtual HRESULT Open(WStringView sql, const std::vector<Variant>& parameters, const ConnectionPtr& connection,
                       long cursorType = adOpenForwardOnly, long lockType = adLockReadOnly,
                       long options = adCmdText) = 0;
  // adErrObjectClosed when not open.
  virtual HRESULT Close() = 0;
  virtual long State() const = 0;

  // True past the last row, and for a recordset that is not open.
  virtual bool EndOfFile() const = 0;
  // adErrObjectClosed when not open; MoveFirst of an empty set succeeds (EOF stays true);
  // MoveNext at EOF gives adErrNoCurrentRecord.
  virtual HRESULT MoveFirst() = 0;
  virtual HRESULT MoveNext() = 0;
  // Number of rows read (a client cursor knows it); -1 when not open.
  virtual long RecordCount() const = 0;

  // Fields of the current row: names are compared without regard to case (PostgreSQL gives
  // unquoted names in lower case).
  virtual long FieldCount() const = 0;
  virtual WString FieldName(long index) const = 0;  // empty for a bad index
  // adErrItemNotFound for an unknown name or index; adErrNoCurrentRecord at EOF.
  virtual HRESULT GetValue(WStringView name, Variant* value) const = 0;
  virtual HRESULT GetValue(long index, Variant* value) const = 0;
  // The value as text (VariantChangeType to VT_BSTR; NULL gives an empty text and isNull).
  virtual HRESULT GetText(WStringView name, WString* text, bool* isNull = nullptr) const = 0;
};

// The statement with every '?' marker outside quotes replaced by its value ('text' with
// quotes doubled, numbers as digits, NULL) for traces and messages only; never run it.
WString FormatForTrace(WStringView sql, const std::vector<Variant>& parameters);

// The ADO connection string of a data source name, user and password, each value written so
// that the parser reads it back whole: in braces, with a closing brace doubled, when it holds
// a character that would end or split it (";", "=", "{", "}", a quote, blanks at either end).
// Every program that connects with the DBAccess settings builds its string here; the result
// holds the password, so it is never traced.
WString MakeConnectionString(WStringView dataSource, WStringView user, WStringView password);

// The ODBC connection string an ADO one stands for, with the DSN of the host root resolved.
// Exposed for tests; the result holds the password, so it is never traced.
HRESULT ToOdbcConnectionString(WStringView adoConnectionString, WStringView userId, WStringView password,
                               WString* odbc, WString* why);

}  // namespace ADODB
