// A thin layer over one SQLite connection: cached prepared statements, transactions that wait
// a bounded time for other programs' locks, and SQLite results mapped to WMI codes.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/text/wstring.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vr::wmi {

class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool ok() const { return stmt_ != nullptr; }
  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, std::string_view bytes);
  // S_OK with *row true for a row, false when done; a WMI code on failure. Resets itself when
  // done or failed, so the statement is ready for the next use.
  HRESULT Step(bool* row);
  // Runs a statement that returns no rows.
  HRESULT Run();
  void Reset();

  int64_t Int(int column) const;
  std::string_view Text(int column) const;
  std::string_view Blob(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Database {
 public:
  // Opens (creating it when missing) the database file; WAL journal, synchronous commits.
  static HRESULT Open(const std::string& path, std::unique_ptr<Database>* out, WString* why);
  ~Database();

  Statement& Sql(const char* sql);
  HRESULT Exec(const char* sql);
  HRESULT Begin(bool write);
  HRESULT Commit();
  void Rollback();
  int64_t LastInsertId() const;
  // Text of the connection's last error, for error objects; a full disk says so, not
  // "disk I/O error".
  WString ErrorText() const;

 private:
  Database() = default;
  sqlite3* db_ = nullptr;
  std::map<const char*, std::unique_ptr<Statement>> statements_;
};

// A full disk, as the registry and the file calls report it: Win32 error 112.
constexpr HRESULT kWmiDiskFull = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

// SQLITE_BUSY/LOCKED: WBEM_E_SERVER_TOO_BUSY; FULL, and an I/O error whose system error
// (systemErrno) is ENOSPC: kWmiDiskFull; CORRUPT/NOTADB: WBEM_E_CRITICAL_ERROR; NOMEM:
// WBEM_E_OUT_OF_MEMORY; anything else WBEM_E_FAILED.
HRESULT SqliteCode(int rc, int systemErrno = 0);

}  // namespace vr::wmi
