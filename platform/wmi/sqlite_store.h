// The repository's view of its SQLite connection (platform/sqlite): the core's statements and
// transactions with SQLite's results mapped to WMI codes.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/sqlite/sqlite_core.h"
#include "platform/text/wstring.h"

namespace vr::wmi {

// One of the connection's cached statements.
class Statement {
 public:
  Statement(vr::sqlite::Statement& statement, const vr::sqlite::Connection& connection)
      : s_(statement), connection_(connection) {}

  bool ok() const { return s_.ok(); }
  Statement& Bind(int index, int64_t value) {
    s_.Bind(index, value);
    return *this;
  }
  Statement& Bind(int index, std::string_view text) {
    s_.Bind(index, text);
    return *this;
  }
  Statement& BindBlob(int index, std::string_view bytes) {
    s_.BindBlob(index, bytes);
    return *this;
  }
  // S_OK with *row true for a row, false when done; a WMI code on failure. Resets itself when
  // done or failed, so the statement is ready for the next use.
  HRESULT Step(bool* row);
  // Runs a statement that returns no rows.
  HRESULT Run();
  void Reset() { s_.Reset(); }

  int64_t Int(int column) const { return s_.Int(column); }
  std::string_view Text(int column) const { return s_.Text(column); }
  std::string_view Blob(int column) const { return s_.Blob(column); }

 private:
  vr::sqlite::Statement& s_;
  const vr::sqlite::Connection& connection_;
};

class Database {
 public:
  // Opens (creating it when missing) the database file; WAL journal, synchronous commits,
  // waits for another program's lock up to VR_WMI_LOCK_TIMEOUT_MS (10000 by default).
  static HRESULT Open(const std::string& path, std::unique_ptr<Database>* out, WString* why);

  Statement Sql(const char* sql) { return Statement(db_->Sql(sql), *db_); }
  HRESULT Exec(const char* sql);
  HRESULT Begin(bool write);
  HRESULT Commit();
  void Rollback() { db_->Rollback(); }
  int64_t LastInsertId() const { return db_->LastInsertId(); }
  // Text of the connection's last error, for error objects; a full disk says so, not
  // "disk I/O error".
  WString ErrorText() const { return ErrorText(db_->LastResult(), db_->SystemErrno(), db_->ErrorMessage()); }
  static WString ErrorText(int result, int systemErrno, const std::string& message);

  // The settings every connection to a repository file has; a new file keeps its journal mode.
  static constexpr const char* kSettings[] = {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL",
                                              "PRAGMA foreign_keys=OFF"};

 private:
  Database() = default;
  std::unique_ptr<vr::sqlite::Connection> db_;
};

// A full disk, as the registry and the file calls report it: Win32 error 112.
constexpr HRESULT kWmiDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

// SQLITE_BUSY/LOCKED: WBEM_E_SERVER_TOO_BUSY; FULL, and an I/O error whose system error
// (systemErrno) is ENOSPC: kWmiDiskFull; CORRUPT/NOTADB: WBEM_E_CRITICAL_ERROR; NOMEM:
// WBEM_E_OUT_OF_MEMORY; anything else WBEM_E_FAILED.
HRESULT SqliteCode(int rc, int systemErrno = 0);

}  // namespace vr::wmi
