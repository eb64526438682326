#include <algorithm>
#include <limits>
#include <mutex>

#include "platform/ado/odbc_internal.h"
#include "platform/com/errorinfo.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"

using vr::fault::InjectedHresult;

namespace vr::ado {

SQLHENV Environment() {
  static std::once_flag once;
  static SQLHENV env = SQL_NULL_HENV;
  std::call_once(once, [] {
    SQLHENV h = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h))) return;
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(h, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
      SQLFreeHandle(SQL_HANDLE_ENV, h);
      return;
    }
    env = h;  // kept for the life of the process
  });
  return env;
}

namespace {

void Scrub(WString& text, WStringView secret) {
  if (secret.empty()) return;
  for (size_t at = text.find(secret); at != WString::npos; at = text.find(secret, at + 3))
    text.replace(at, secret.size(), u"***");
}

}  // namespace

std::vector<ADODB::Error> Diagnostics(SQLSMALLINT handleType, SQLHANDLE handle, const WChar* source, HRESULT number,
                                      WStringView secret) {
  std::vector<ADODB::Error> errors;
  if (handle == SQL_NULL_HANDLE) return errors;
  for (SQLSMALLINT record = 1; record < 20; ++record) {
    SQLWCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLWCHAR> text(1024);
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, text.data(),
                                  static_cast<SQLSMALLINT>(text.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
      text.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRecW(handleType, handle, record, state, &native, text.data(),
                          static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    ADODB::Error e;
    const size_t n = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), text.size() - 1);
    e.description.assign(reinterpret_cast<const WChar*>(text.data()), n);
    while (!e.description.empty() && (e.description.back() == u'\n' || e.description.back() == u'\r'))
      e.description.pop_back();
    Scrub(e.description, secret);
    e.sqlState.assign(reinterpret_cast<const WChar*>(state), 5);
    e.nativeError = native;
    e.source = source;
    e.number = number;
    errors.push_back(std::move(e));
  }
  return errors;
}

ADODB::Error MakeError(WStringView description, const WChar* source, HRESULT number, WStringView sqlState) {
  ADODB::Error e;
  e.description = WString(description);
  e.source = source;
  e.number = number;
  e.sqlState = WString(sqlState);
  return e;
}

HRESULT Raise(const std::vector<ADODB::Error>& errors, HRESULT fallback) {
  auto info = std::make_shared<ErrorInfo>();
  HRESULT hr = fallback;
  if (!errors.empty()) {
    info->description = errors.front().description;
    info->source = errors.front().source;
    hr = errors.front().number;
  }
  SetErrorInfo(0, info);
  return hr;
}

namespace {

// Buffers of the bound values; they must outlive SQLExecute.
struct Bound {
  WString text;
  SQLBIGINT integer = 0;
  double real = 0;
  SQLLEN indicator = 0;
};

constexpr HRESULT kCommandError = MakeHr(0x80040E14);  // DB_E_ERRORSINCOMMAND

bool Bind(SQLHSTMT stmt, SQLUSMALLINT number, const Variant& v, Bound& b) {
  SQLRETURN rc;
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      b.indicator = SQL_NULL_DATA;
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 1, 0, nullptr, 0, &b.indicator);
      break;
    case VT_I1: case VT_I2: case VT_I4: case VT_INT: case VT_UI1: case VT_UI2: case VT_UI4: case VT_UINT:
    case VT_I8: case VT_BOOL: {
      Variant i8;
      if (v.vt == VT_BOOL) b.integer = v.boolVal ? 1 : 0;
      else if (FAILED(VariantChangeType(&i8, &v, 0, VT_I8))) return false;
      else b.integer = i8.llVal;
      const bool small = b.integer >= std::numeric_limits<int32_t>::min() && b.integer <= std::numeric_limits<int32_t>::max();
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, small ? SQL_INTEGER : SQL_BIGINT, 0, 0,
                            &b.integer, 0, nullptr);
      break;
    }
    case VT_UI8: {
      if (v.ullVal > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
      b.integer = static_cast<SQLBIGINT>(v.ullVal);
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &b.integer, 0, nullptr);
      break;
    }
    case VT_R4: case VT_R8:
      b.real = v.vt == VT_R4 ? v.fltVal : v.dblVal;
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &b.real, 0, nullptr);
      break;
    case VT_BSTR:
      b.text = v.bstrVal;
      b.indicator = static_cast<SQLLEN>(b.text.size() * sizeof(WChar));
      rc = SQLBindParameter(stmt, number, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                            std::max<SQLULEN>(1, b.text.size()), 0, b.text.data(), b.indicator, &b.indicator);
      break;
    default:
      return false;
  }
  return SQL_SUCCEEDED(rc);
}

// The number of '?' markers outside quoted texts and quoted names.
size_t CountMarkers(WStringView sql) {
  size_t count = 0;
  WChar quote = 0;
  for (WChar c : sql) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == u'\'' || c == u'"') {
      quote = c;
    } else if (c == u'?') {
      ++count;
    }
  }
  return count;
}

}  // namespace

HRESULT ExecuteStatement(OdbcConnection& connection, WStringView sql, const std::vector<Variant>& parameters,
                         const WChar* source, SQLHSTMT* statement, std::vector<ADODB::Error>& errors) {
  *statement = SQL_NULL_HSTMT;
  errors.clear();
  if (HRESULT hr = InjectedHresult("ado.Execute", E_FAIL).value_or(S_OK); FAILED(hr)) {
    errors.push_back(MakeError(u"The statement failed (fault injected at ado.Execute)", source, hr));
    return hr;
  }
  if (CountMarkers(sql) != parameters.size()) {
    errors.push_back(MakeError(u"The statement's parameter markers and the values given do not match in number",
                               source, ADODB::adErrInvalidArgument, u"07002"));
    return ADODB::adErrInvalidArgument;
  }
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection.Handle(), &stmt))) {
    errors = Diagnostics(SQL_HANDLE_DBC, connection.Handle(), source, kCommandError, connection.Secret());
    if (errors.empty()) errors.push_back(MakeError(u"Cannot allocate an ODBC statement", source, E_OUTOFMEMORY));
    return errors.front().number;
  }
  auto fail = [&](HRESULT number) {
    errors = Diagnostics(SQL_HANDLE_STMT, stmt, source, number, connection.Secret());
    if (errors.empty()) errors.push_back(MakeError(u"The statement failed", source, number));
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return errors.front().number;
  };
  WString text(sql);
  if (!SQL_SUCCEEDED(SQLPrepareW(stmt, reinterpret_cast<SQLWCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()))))
    return fail(kCommandError);
  std::vector<Bound> bound(parameters.size());
  for (size_t i = 0; i < parameters.size(); ++i) {
    if (!Bind(stmt, static_cast<SQLUSMALLINT>(i + 1), parameters[i], bound[i])) {
      std::vector<ADODB::Error> diag = Diagnostics(SQL_HANDLE_STMT, stmt, source, DISP_E_TYPEMISMATCH, connection.Secret());
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      errors = diag.empty() ? std::vector<ADODB::Error>{MakeError(
                                  u"Parameter " + vr::text::Utf8ToWide(std::to_string(i + 1)) +
                                      u" has a type that cannot be bound",
                                  source, DISP_E_TYPEMISMATCH)}
                            : diag;
      return errors.front().number;
    }
  }
  const SQLRETURN rc = SQLExecute(stmt);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) return fail(kCommandError);
  *statement = stmt;
  return S_OK;
}

}  // namespace vr::ado
