#include "platform/depot/depot_setup.h"

#include <sodium.h>

#include "platform/ado/drivers.h"
#include "platform/ado/ini_file.h"
#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_connection.h"
#include "platform/depot/sql_script.h"
#include "platform/os/file.h"
#include "platform/os/message.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/registry/regtools.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::depot {
namespace {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string& error) {
  if (long rc = vr::os::SaveFileAtomic(Utf8ToWide(path), bytes); rc != ERROR_SUCCESS) {
    error = "cannot write " + path + ": " + vr::os::ErrorReason(rc);
    return false;
  }
  return true;
}

// Replaces (or adds) one section of an ini file, keeping the others in their order.
bool PutSection(const std::string& path, const vr::ado::IniSection& section, const std::string& heading,
                std::string& error) {
  vr::ado::IniFile file;
  vr::ado::ReadIniFile(path, file);
  bool replaced = false;
  for (auto& s : file.sections)
    if (vr::text::EqualsNoCase(s.name, section.name)) {
      s = section;
      replaced = true;
    }
  if (!replaced) file.sections.push_back(section);
  std::string text = heading;
  for (const auto& s : file.sections) {
    text += "\n[" + WideToUtf8(s.name) + "]\n";
    for (const auto& [k, v] : s.entries) text += WideToUtf8(k) + "=" + WideToUtf8(v) + "\n";
  }
  return WriteWholeFile(path, text, error);
}

long SetString(const WString& name, const WString& value) {
  vr::registry::ScopedKey h;
  long rc =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDbAccessKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Receive(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(WChar)));
}

bool Enciphered(const WString& password, WString& stored, std::string& error) {
  if (password.empty()) {
    error = "the database password must not be empty";
    return false;
  }
  if (!vr::crypto::EncipherSecret(password, stored, error)) return false;
  // The reader takes at most 1000 bytes with the terminator.
  if ((stored.size() + 1) * sizeof(WChar) > 1000) {
    error = "the database password is too long (its enciphered form must fit 1000 bytes; at most 320 characters)";
    return false;
  }
  return true;
}

}  // namespace

bool SqliteDataSource(const std::string& root, DataSource& source, std::string& error) {
  source = DataSource{};
  source.name = kDefaultDataSource;
  source.driverName = kSqliteDriverName;
  source.driverPath = vr::ado::SqliteOdbcDriverPath();
  if (source.driverPath.empty()) {
    error = "the SQLite ODBC driver (libsqlite3odbc.so of the Debian package libsqliteodbc) is not installed";
    return false;
  }
  // Timeout: how long a statement waits for another program's write (ms). Write-ahead log with
  // synchronous NORMAL: every commit is atomic and written to the system when the statement
  // returns, so a killed program loses nothing and never leaves half a change; only a power
  // failure can lose the last commits (never corrupt the file). A flush per commit would make
  // a registration of a thousand packages take minutes.
  source.settings = {{"Database", root + "/" + kDatabaseFile},
                     {"Timeout", "10000"},
                     {"JournalMode", "WAL"},
                     {"SyncPragma", "NORMAL"}};
  return true;
}

bool PostgresDataSource(const std::string& name, const std::string& host, const std::string& port,
                        const std::string& database, DataSource& source, std::string& error) {
  source = DataSource{};
  source.name = name;
  source.driverName = kPostgresDriverName;
  source.driverPath = vr::ado::PostgresOdbcDriverPath();
  if (source.driverPath.empty()) {
    error = "the PostgreSQL ODBC driver (psqlodbcw.so of the Debian package odbc-postgresql) is not installed";
    return false;
  }
  source.settings = {{"Servername", host}, {"Port", port}, {"Database", database}};
  return true;
}

bool WriteDataSource(const std::string& root, const DataSource& source, std::string& error) {
  const std::string heading =
      "# ODBC settings of this host (unixODBC reads them with ODBCSYSINI set to this folder).\n";
  vr::ado::IniSection driver{Utf8ToWide(source.driverName),
                             {{u"Description", Utf8ToWide(source.driverName) + u" ODBC driver"},
                              {u"Driver", Utf8ToWide(source.driverPath)}}};
  vr::ado::IniSection dsn{Utf8ToWide(source.name),
                          {{u"Description", u"Depot database"}, {u"Driver", Utf8ToWide(source.driverName)}}};
  for (const auto& [k, v] : source.settings) dsn.entries.emplace_back(Utf8ToWide(k), Utf8ToWide(v));
  return PutSection(root + "/odbcinst.ini", driver, heading, error) && PutSection(root + "/odbc.ini", dsn, heading, error);
}

bool WriteDbAccess(const WString& source, const WString& user, const WString& password, std::string& error) {
  WString stored;
  if (!Enciphered(password, stored, error)) return false;
  const long rc = vr::registry::RunInTransaction([&]() -> long {
    if (long r = SetString(u"Source", source); r != ERROR_SUCCESS) return r;
    if (long r = SetString(u"User", user); r != ERROR_SUCCESS) return r;
    return SetString(u"Password", stored);
  });
  if (rc != ERROR_SUCCESS) {
    error = "cannot write the DBAccess registry values: error " + std::to_string(rc);
    return false;
  }
  return true;
}

bool WriteDbPassword(const WString& password, std::string& error) {
  WString stored;
  if (!Enciphered(password, stored, error)) return false;
  vr::registry::ScopedKey h;
  if (long rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDbAccessKey, 0, KEY_ALL_ACCESS, h.Receive()); rc != ERROR_SUCCESS) {
    error = "the registry key HKEY_LOCAL_MACHINE\\" + WideToUtf8(kDbAccessKey) + " cannot be opened: error " +
            std::to_string(rc);
    return false;
  }
  h.Close();
  if (long rc = SetString(u"Password", stored); rc != ERROR_SUCCESS) {
    error = "cannot write the DBAccess \"Password\" value: error " + std::to_string(rc);
    return false;
  }
  return true;
}

WString GeneratePassword() {
  static const char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  if (sodium_init() < 0) return WString();
  WString out;
  for (int i = 0; i < 24; ++i) out += static_cast<WChar>(kAlphabet[randombytes_uniform(sizeof kAlphabet - 1)]);
  return out;
}

bool CreateDepotTables(const std::string& schemaFile, const std::string& demoFile, std::string& error) {
  ADODB::ConnectionPtr c;
  if (FAILED(OpenDepotDatabase(&c, error))) return false;
  if (FAILED(RunSqlScriptFile(c, schemaFile, error))) return false;
  if (!demoFile.empty() && FAILED(RunSqlScriptFile(c, demoFile, error))) return false;
  if (FAILED(c->Close())) {
    error = "cannot close the Depot database: " + DescribeErrors(c);
    return false;
  }
  return true;
}

}  // namespace vr::depot
