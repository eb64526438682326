// The SQLite core of the host's stores (the registry hive and the WMI repository): one
// connection with its cached prepared statements, transactions that wait a bounded time for
// another program's lock, and the making of a new store file that appears under its name only
// with its tables. Results are SQLite's own codes; each store maps them to the codes its
// callers know (Win32 errors, HRESULTs).
//
// Folder platform/sqlite, library vr_sqlite: host layer under the registry hive and the WMI
// repository only; uses platform/os, com and SQLite.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vr::sqlite {

// A prepared statement, finalised when destroyed.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // False when the statement could not be prepared; PrepareResult tells why.
  bool ok() const { return stmt_ != nullptr; }
  int PrepareResult() const { return prepareResult_; }

  Statement& Bind(int index, int64_t value);
  Statement& Bind(int index, std::string_view text);
  // A zero-length blob is bound as a blob, never as NULL.
  Statement& BindBlob(int index, std::string_view bytes);
  // SQLITE_ROW, SQLITE_DONE or the error.
  int Step();
  // Ready for the next use: reset, bindings cleared.
  void Reset();

  int64_t Int(int column) const;
  std::string_view Text(int column) const;
  std::string_view Blob(int column) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int prepareResult_ = 0;
};

class Connection {
 public:
  // Opens the database file with the SQLite open flags given (no mutex of SQLite's own: each
  // store serialises its callers). On failure out still holds the connection when SQLite made
  // one, so that its error text can be read.
  static int Open(const std::string& path, int flags, std::unique_ptr<Connection>& out);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Waits up to timeoutMs for another program's lock, in short steps (so that programs taking
  // turns lose little time), then gives up with SQLITE_BUSY.
  void SetBoundedWait(int timeoutMs);
  // The prepared statement for the text, made once and kept (the text is its key, by address:
  // pass literals). Reset before it is handed out.
  Statement& Sql(const char* sql);
  int Exec(const char* sql);

  // A transaction: BEGIN IMMEDIATE takes the write lock at once (waiting as above), so that
  // a writer never fails half way for want of it. A failed commit is rolled back.
  int Begin(bool write);
  // systemErrno, when given, receives the system's errno of a failed commit, read before the
  // rollback.
  int Commit(int* systemErrno = nullptr);
  void Rollback();
  bool InTransaction() const;

  int64_t LastInsertId() const;
  int Changes() const;
  // The system's errno of the last I/O failure (ENOSPC for a full disk), 0 when there is none.
  int SystemErrno() const;
  int LastResult() const;
  const char* ErrorMessage() const;

 private:
  Connection() = default;
  sqlite3* db_ = nullptr;
  static int OnBusy(void* state, int attempt);
  std::map<const char*, std::unique_ptr<Statement>> statements_;
  struct Wait {
    int timeoutMs = 0;
    std::chrono::steady_clock::time_point start;
  } wait_;
};

// A new store file at path, whole or not at all: a fresh database beside it (named for this
// process) gets the settings (statements run before any transaction, such as its journal
// mode, which the file keeps), then its tables from build inside one write transaction; it is
// closed, and then placed under path without replacing a store that another program placed
// meanwhile (that one stays, and counts as success). The temporary files are gone afterwards
// either way.
struct NewStoreResult {
  enum class Stage { Open, Settings, Build };
  Stage failedAt = Stage::Build;  // where sqlite failed
  std::string temp;      // its name
  int sqlite = 0;        // SQLITE_OK, or what failed while making the file
  int systemErrno = 0;   // with it, the system's errno of an I/O failure
  std::string message;   // SQLite's text of that failure
  long place = 0;        // ERROR_SUCCESS, or the Win32 error of placing the file
  bool ok() const { return sqlite == 0 && place == 0; }
};
NewStoreResult CreateStoreFile(const std::string& path, const std::vector<const char*>& settings,
                               const std::function<int(Connection&)>& build);

}  // namespace vr::sqlite
