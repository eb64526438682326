// ADODB::Recordset as a client-side cursor: Open reads every row into memory.
#include <limits>

#include "platform/ado/odbc_internal.h"
#include "platform/fault/fault.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

using vr::fault::InjectedHresult;

namespace vr::ado {
namespace {

constexpr const WChar* kSource = u"ADODB.Recordset";

struct Column {
  WString name;
  SQLSMALLINT type = 0;
};

// One column of the current row as a Variant, read with SQLGetData.
bool ReadValue(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT type, Variant& out) {
  SQLLEN indicator = 0;
  switch (type) {
    case SQL_BIT: case SQL_TINYINT: case SQL_SMALLINT: case SQL_INTEGER: case SQL_BIGINT: {
      SQLBIGINT v = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt, number, SQL_C_SBIGINT, &v, sizeof v, &indicator))) return false;
      if (indicator == SQL_NULL_DATA) {
        out = Variant::Null();
      } else if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max()) {
        out = Variant(static_cast<int32_t>(v));
      } else {
        out = Variant();
        out.vt = VT_I8;
        out.llVal = v;
      }
      return true;
    }
    case SQL_REAL: case SQL_FLOAT: case SQL_DOUBLE: {
      double v = 0;
      if (!SQL_SUCCEEDED(SQLGetData(stmt, number, SQL_C_DOUBLE, &v, sizeof v, &indicator))) return false;
      out = indicator == SQL_NULL_DATA ? Variant::Null() : Variant(v);
      return true;
    }
    default: {
      // Text in pieces: each call returns what fits and SQL_SUCCESS_WITH_INFO while more follows.
      WString text;
      std::vector<SQLWCHAR> buffer(512);
      while (true) {
        const SQLRETURN rc = SQLGetData(stmt, number, SQL_C_WCHAR, buffer.data(),
                                        static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR)), &indicator);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) return false;
        if (indicator == SQL_NULL_DATA) {
          out = Variant::Null();
          return true;
        }
        const size_t room = buffer.size() - 1;
        const size_t got = indicator == SQL_NO_TOTAL || static_cast<size_t>(indicator) / sizeof(SQLWCHAR) > room
                               ? room
                               : static_cast<size_t>(indicator) / sizeof(SQLWCHAR);
        text.append(reinterpret_cast<const WChar*>(buffer.data()), got);
        if (rc == SQL_SUCCESS) break;
      }
      out = Variant(text);
      return true;
    }
  }
}

class Recordset final : public ADODB::Recordset {
 public:
  void PutCursorLocation(long location) override { location_ = location; }
  long GetCursorLocation() const override { return location_; }

  HRESULT Open(WStringView sql, const std::vector<Variant>& parameters, const ADODB::ConnectionPtr& connection, long,
               long, long) override {
    if (open_) return Fail(nullptr, u"Operation is not allowed when the object is open.", ADODB::adErrObjectOpen);
    auto* odbc = dynamic_cast<OdbcConnection*>(connection.get());
    if (!odbc || odbc->State() != ADODB::adStateOpen)
      return Fail(odbc, u"The connection cannot be used to perform this operation. It is either closed or invalid in "
                        u"this context.",
                  ADODB::adErrInvalidConnection);
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    std::vector<ADODB::Error> errors;
    if (HRESULT hr = ExecuteStatement(*odbc, sql, parameters, kSource, &stmt, errors); FAILED(hr)) {
      odbc->SetErrors(errors);
      return Raise(errors, hr);
    }
    odbc->SetErrors({});
    SQLSMALLINT count = 0;
    SQLNumResultCols(stmt, &count);
    std::vector<Column> columns;
    std::vector<std::vector<Variant>> rows;
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
      SQLWCHAR name[256] = {0};
      SQLSMALLINT nameLength = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!SQL_SUCCEEDED(SQLDescribeColW(stmt, i, name, 256, &nameLength, &type, &size, &digits, &nullable)))
        return FailStatement(*odbc, stmt);
      columns.push_back({WString(reinterpret_cast<const WChar*>(name), std::min<size_t>(nameLength, 255)), type});
    }
    if (count > 0) {
      while (true) {
        const SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) return FailStatement(*odbc, stmt);
        std::vector<Variant> row(columns.size());
        for (size_t i = 0; i < columns.size(); ++i)
          if (!ReadValue(stmt, static_cast<SQLUSMALLINT>(i + 1), columns[i].type, row[i])) return FailStatement(*odbc, stmt);
        rows.push_back(std::move(row));
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    if (count == 0) return S_OK;  // no rows to hold: the recordset stays closed, as ADO leaves it
    columns_ = std::move(columns);
    rows_ = std::move(rows);
    current_ = 0;
    open_ = true;
    return S_OK;
  }

  HRESULT Close() override {
    if (!open_) return Fail(nullptr, u"Operation is not allowed when the object is closed.", ADODB::adErrObjectClosed);
    open_ = false;
    columns_.clear();
    rows_.clear();
    current_ = 0;
    return S_OK;
  }

  long State() const override { return open_ ? ADODB::adStateOpen : ADODB::adStateClosed; }
  bool EndOfFile() const override { return !open_ || current_ >= rows_.size(); }

  HRESULT MoveFirst() override {
    if (!open_) return Fail(nullptr, u"Operation is not allowed when the object is closed.", ADODB::adErrObjectClosed);
    current_ = 0;
    return S_OK;
  }

  HRESULT MoveNext() override {
    if (!open_) return Fail(nullptr, u"Operation is not allowed when the object is closed.", ADODB::adErrObjectClosed);
    if (current_ >= rows_.size())
      return Fail(nullptr, u"Either BOF or EOF is True, or the current record has been deleted.",
                  ADODB::adErrNoCurrentRecord);
    ++current_;
    return S_OK;
  }

  long RecordCount() const override { return open_ ? static_cast<long>(rows_.size()) : -1; }
  long FieldCount() const override { return open_ ? static_cast<long>(columns_.size()) : 0; }

  WString FieldName(long index) const override {
    return open_ && index >= 0 && static_cast<size_t>(index) < columns_.size() ? columns_[index].name : WString();
  }

  HRESULT GetValue(WStringView name, Variant* value) const override {
    for (size_t i = 0; i < columns_.size(); ++i)
      if (vr::text::EqualsNoCase(columns_[i].name, name)) return GetValue(static_cast<long>(i), value);
    return FailConst(u"Item cannot be found in the collection corresponding to the requested name or ordinal.",
                     ADODB::adErrItemNotFound);
  }

  HRESULT GetValue(long index, Variant* value) const override {
    if (!value) return E_POINTER;
    if (!open_) return FailConst(u"Operation is not allowed when the object is closed.", ADODB::adErrObjectClosed);
    if (index < 0 || static_cast<size_t>(index) >= columns_.size())
      return FailConst(u"Item cannot be found in the collection corresponding to the requested name or ordinal.",
                       ADODB::adErrItemNotFound);
    if (current_ >= rows_.size())
      return FailConst(u"Either BOF or EOF is True, or the current record has been deleted.", ADODB::adErrNoCurrentRecord);
    *value = rows_[current_][index];
    return S_OK;
  }

  HRESULT GetText(WStringView name, WString* text, bool* isNull) const override {
    if (!text) return E_POINTER;
    Variant v;
    if (HRESULT hr = GetValue(name, &v); FAILED(hr)) return hr;
    if (isNull) *isNull = v.vt == VT_NULL;
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) {
      text->clear();
      return S_OK;
    }
    Variant s;
    if (HRESULT hr = VariantChangeType(&s, &v, 0, VT_BSTR); FAILED(hr)) return hr;
    *text = s.bstrVal;
    return S_OK;
  }

 private:
  HRESULT Fail(OdbcConnection* connection, WStringView text, HRESULT hr) {
    std::vector<ADODB::Error> errors{MakeError(text, kSource, hr)};
    if (connection) connection->SetErrors(errors);
    return Raise(errors, hr);
  }
  HRESULT FailConst(WStringView text, HRESULT hr) const { return Raise({MakeError(text, kSource, hr)}, hr); }

  HRESULT FailStatement(OdbcConnection& connection, SQLHSTMT stmt) {
    std::vector<ADODB::Error> errors = Diagnostics(SQL_HANDLE_STMT, stmt, kSource, MakeHr(0x80040E14), connection.Secret());
    if (errors.empty()) errors.push_back(MakeError(u"Cannot read the rows of the statement", kSource, E_FAIL));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    connection.SetErrors(errors);
    return Raise(errors, E_FAIL);
  }

  long location_ = ADODB::adUseServer;
  bool open_ = false;
  std::vector<Column> columns_;
  std::vector<std::vector<Variant>> rows_;
  size_t current_ = 0;
};

}  // namespace
}  // namespace vr::ado

namespace ADODB {

HRESULT CreateRecordset(RecordsetPtr* out) {
  if (!out) return E_POINTER;
  out->reset();
  if (HRESULT hr = InjectedHresult("ado.CreateInstance", REGDB_E_CLASSNOTREG).value_or(S_OK); FAILED(hr)) return hr;
  *out = std::make_shared<vr::ado::Recordset>();
  return S_OK;
}

WString FormatForTrace(WStringView sql, const std::vector<Variant>& parameters) {
  WString out;
  size_t next = 0;
  WChar quote = 0;
  for (WChar c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
      out += c;
      continue;
    }
    if (c == u'\'' || c == u'"') quote = c;
    if (c != u'?' || quote) {
      out += c;
      continue;
    }
    if (next >= parameters.size()) {
      out += c;
      continue;
    }
    const Variant& v = parameters[next++];
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) {
      out += u"NULL";
    } else if (v.vt == VT_BSTR) {
      out += u'\'';
      for (WChar t : v.bstrVal) {
        out += t;
        if (t == u'\'') out += u'\'';
      }
      out += u'\'';
    } else {
      Variant s;
      if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR))) out += s.bstrVal;
      else out += u"?";
    }
  }
  return out;
}

}  // namespace ADODB
