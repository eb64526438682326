// The ADO connection string of the ODBC provider turned into an ODBC one. A DSN that the host
// root's odbc.ini defines is expanded here (driver resolved through the host root's
// odbcinst.ini), so that nothing outside the host root needs setting up and no environment
// variable has to reach the driver manager before it reads its files.
#include <fstream>
#include <sstream>

#include "platform/ado/ado.h"
#include "platform/ado/ini_file.h"
#include "platform/ado/odbc_internal.h"
#include "platform/os/hostroot.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace ADODB {

using vr::text::EqualsNoCase;

struct ConnectionPart {
  WString key;
  WString value;
};

static WString Trim(WStringView s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
  return WString(s.substr(b, e - b));
}

// "key=value;key={va;lue};key=\"va;lue\"" as OLE DB and ODBC write them.
static bool ParsePairs(WStringView text, std::vector<ConnectionPart>& pairs, WString& why) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find(u'=', i);
    const size_t semi = text.find(u';', i);
    if (eq == WStringView::npos || (semi != WStringView::npos && semi < eq)) {
      const WString rest = Trim(text.substr(i, semi == WStringView::npos ? WStringView::npos : semi - i));
      if (!rest.empty()) {
        // The text itself stays out: it may be the tail of a password that was not quoted.
        why = u"the connection string holds a part without '='";
        return false;
      }
      if (semi == WStringView::npos) break;
      i = semi + 1;
      continue;
    }
    ConnectionPart p;
    p.key = Trim(text.substr(i, eq - i));
    size_t j = eq + 1;
    while (j < text.size() && text[j] == u' ') ++j;
    if (j < text.size() && (text[j] == u'{' || text[j] == u'"' || text[j] == u'\'')) {
      const WChar close = text[j] == u'{' ? u'}' : text[j];
      ++j;
      while (true) {
        if (j >= text.size()) {
          why = u"the connection string has an unclosed quoted value";
          return false;
        }
        if (text[j] == close) {
          if (j + 1 < text.size() && text[j + 1] == close) {
            p.value += close;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        p.value += text[j++];
      }
      while (j < text.size() && text[j] == u' ') ++j;
      if (j < text.size() && text[j] != u';') {
        why = u"the connection string has text after a quoted value";
        return false;
      }
      i = j + 1;
    } else {
      const size_t end = text.find(u';', j);
      p.value = Trim(text.substr(j, end == WStringView::npos ? WStringView::npos : end - j));
      i = end == WStringView::npos ? text.size() : end + 1;
    }
    if (p.key.empty()) {
      why = u"the connection string has a value without a name";
      return false;
    }
    pairs.push_back(std::move(p));
  }
  return true;
}

// An ODBC attribute: braces where the value could be misread.
static void Append(WString& out, WStringView key, WStringView value) {
  bool brace = value.empty() == false && (value.front() == u' ' || value.back() == u' ' || value.front() == u'{');
  for (WChar c : value)
    if (c == u';' || c == u'}') brace = true;
  out += key;
  out += u'=';
  if (!brace) {
    out += value;
  } else {
    out += u'{';
    for (WChar c : value) {
      out += c;
      if (c == u'}') out += u'}';
    }
    out += u'}';
  }
  out += u';';
}

static bool IsCredentialKey(WStringView key) {
  for (const char16_t* k : {u"UID", u"PWD", u"User", u"Username", u"User Id", u"Password"})
    if (EqualsNoCase(key, k)) return true;
  return false;
}

WString MakeConnectionString(WStringView dataSource, WStringView user, WStringView password) {
  auto quoted = [](WStringView value) {
    bool brace = !value.empty() && (value.front() == u' ' || value.front() == u'\t' || value.back() == u' ' ||
                                    value.back() == u'\t');
    for (WChar c : value)
      if (c == u';' || c == u'=' || c == u'{' || c == u'}' || c == u'"' || c == u'\'') brace = true;
    if (!brace) return WString(value);
    WString out = u"{";
    for (WChar c : value) {
      out += c;
      if (c == u'}') out += u'}';
    }
    return out + u"}";
  };
  return u"Provider=MSDASQL;DSN=" + quoted(dataSource) + u";User Id=" + quoted(user) + u";Password=" + quoted(password) +
         u";";
}

}  // namespace ADODB

namespace vr::ado {

WString EmbeddedDatabaseFile(WStringView adoConnectionString) {
  std::vector<ADODB::ConnectionPart> pairs;
  WString why, dsn;
  if (!ADODB::ParsePairs(adoConnectionString, pairs, why)) return WString();
  for (const auto& p : pairs)
    if (vr::text::EqualsNoCase(p.key, u"DSN") || vr::text::EqualsNoCase(p.key, u"Data Source")) dsn = p.value;
  if (dsn.empty()) return WString();
  const std::string root = vr::os::HostRoot();
  IniFile dsns, drivers;
  ReadIniFile(root + "/odbc.ini", dsns);
  const auto* section = dsns.Find(dsn);
  if (!section) return WString();
  WString driver, database;
  for (const auto& [k, v] : section->entries) {
    if (vr::text::EqualsNoCase(k, u"Driver")) driver = v;
    if (vr::text::EqualsNoCase(k, u"Database")) database = v;
  }
  if (driver.find(u'/') == WString::npos) {
    ReadIniFile(root + "/odbcinst.ini", drivers);
    if (const auto* d = drivers.Find(driver))
      for (const auto& [k, v] : d->entries)
        if (vr::text::EqualsNoCase(k, u"Driver")) driver = v;
  }
  return vr::text::ToLower(driver).find(u"sqlite") != WString::npos ? database : WString();
}

WString PasswordInConnectionString(WStringView adoConnectionString) {
  std::vector<ADODB::ConnectionPart> pairs;
  WString why, password;
  if (!ADODB::ParsePairs(adoConnectionString, pairs, why)) return password;
  for (const auto& p : pairs)
    if (vr::text::EqualsNoCase(p.key, u"Password") || vr::text::EqualsNoCase(p.key, u"PWD")) password = p.value;
  return password;
}

}  // namespace vr::ado

namespace ADODB {

HRESULT ToOdbcConnectionString(WStringView adoConnectionString, WStringView userId, WStringView password,
                               WString* odbc, WString* why) {
  WString ignored;
  WString& reason = why ? *why : ignored;
  std::vector<ConnectionPart> pairs;
  if (!ParsePairs(adoConnectionString, pairs, reason)) return adErrInvalidArgument;
  WString dsn, user, pwd;
  bool haveUser = false, havePwd = false;
  std::vector<ConnectionPart> rest;
  for (auto& p : pairs) {
    if (EqualsNoCase(p.key, u"Provider")) {
      if (!EqualsNoCase(p.value, u"MSDASQL") && !EqualsNoCase(p.value, u"MSDASQL.1")) {
        reason = u"Provider cannot be found. It may not be properly installed.";
        return adErrProviderNotFound;
      }
    } else if (EqualsNoCase(p.key, u"DSN") || EqualsNoCase(p.key, u"Data Source")) {
      dsn = p.value;
    } else if (EqualsNoCase(p.key, u"User Id") || EqualsNoCase(p.key, u"UID") || EqualsNoCase(p.key, u"User")) {
      user = p.value;
      haveUser = true;
    } else if (EqualsNoCase(p.key, u"Password") || EqualsNoCase(p.key, u"PWD")) {
      pwd = p.value;
      havePwd = true;
    } else {
      rest.push_back(std::move(p));
    }
  }
  if (!userId.empty()) {
    user = WString(userId);
    haveUser = true;
  }
  if (!password.empty()) {
    pwd = WString(password);
    havePwd = true;
  }

  WString out;
  bool expanded = false;
  if (!dsn.empty()) {
    const std::string root = vr::os::HostRoot();
    vr::ado::IniFile dsns, drivers;
    vr::ado::ReadIniFile(root + "/odbc.ini", dsns);
    if (const auto* section = dsns.Find(dsn)) {
      WString driver;
      for (const auto& [k, v] : section->entries)
        if (EqualsNoCase(k, u"Driver")) driver = v;
      if (driver.empty()) {
        reason = u"the data source '" + dsn + u"' of the host root's odbc.ini names no driver";
        return E_FAIL;
      }
      if (driver.find(u'/') == WString::npos) {
        vr::ado::ReadIniFile(root + "/odbcinst.ini", drivers);
        if (const auto* d = drivers.Find(driver))
          for (const auto& [k, v] : d->entries)
            if (EqualsNoCase(k, u"Driver")) driver = v;
      }
      Append(out, u"DRIVER", driver);
      // The PostgreSQL driver wraps every statement in a savepoint of its own unless told to
      // roll back the whole transaction on an error: a subtransaction per statement makes a
      // long transaction slower with every row (and costs two more round trips a statement).
      // Our callers roll their transactions back themselves on any failure.
      bool protocolGiven = false;
      for (const auto& [k, v] : section->entries) protocolGiven = protocolGiven || EqualsNoCase(k, u"Protocol");
      for (const auto& p : rest) protocolGiven = protocolGiven || EqualsNoCase(p.key, u"Protocol");
      if (!protocolGiven && vr::text::ToLower(driver).find(u"psqlodbc") != WString::npos) {
        Append(out, u"Protocol", u"7.4-1");
        Append(out, u"UseServerSidePrepare", u"0");
      }
      for (const auto& [k, v] : section->entries) {
        if (EqualsNoCase(k, u"Driver") || EqualsNoCase(k, u"Description")) continue;
        if (IsCredentialKey(k) && ((EqualsNoCase(k, u"UID") || EqualsNoCase(k, u"User") || EqualsNoCase(k, u"Username") ||
                                    EqualsNoCase(k, u"User Id"))
                                       ? haveUser
                                       : havePwd))
          continue;
        Append(out, k, v);
      }
      expanded = true;
    }
    if (!expanded) Append(out, u"DSN", dsn);
  }
  for (const auto& p : rest) Append(out, p.key, p.value);
  if (haveUser) Append(out, u"UID", user);
  if (havePwd) Append(out, u"PWD", pwd);
  if (out.empty()) {
    reason = u"the connection string names no data source";
    return adErrInvalidArgument;
  }
  *odbc = std::move(out);
  return S_OK;
}

}  // namespace ADODB
