#include "platform/sqlite/sqlite_core.h"

#include <sqlite3.h>

#include <thread>

#include "platform/com/hresult.h"
#include "platform/os/file.h"
#include "platform/os/process.h"

namespace vr::sqlite {

Statement::Statement(sqlite3* db, const char* sql) {
  prepareResult_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  if (prepareResult_ != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  sqlite3_bind_blob64(stmt_, index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
  return *this;
}

int Statement::Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }

void Statement::Reset() {
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string_view Statement::Text(int column) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string_view();
}

std::string_view Statement::Blob(int column) const {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
  return p ? std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))) : std::string_view();
}

int Connection::Open(const std::string& path, int flags, std::unique_ptr<Connection>& out) {
  out.reset(new Connection);
  return sqlite3_open_v2(path.c_str(), &out->db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
}

Connection::~Connection() {
  statements_.clear();  // finalised before the connection closes
  sqlite3_close_v2(db_);
}

int Connection::OnBusy(void* state, int attempt) {
  auto* wait = static_cast<Wait*>(state);
  const auto now = std::chrono::steady_clock::now();
  if (attempt == 0) wait->start = now;
  if (now - wait->start >= std::chrono::milliseconds(wait->timeoutMs)) return 0;
  std::this_thread::sleep_for(std::chrono::microseconds(attempt < 20 ? 200 : 1000));
  return 1;
}

void Connection::SetBoundedWait(int timeoutMs) {
  wait_.timeoutMs = timeoutMs;
  sqlite3_busy_handler(db_, OnBusy, &wait_);
}

Statement& Connection::Sql(const char* sql) {
  auto& slot = statements_[sql];
  if (!slot || !slot->ok()) slot = std::make_unique<Statement>(db_, sql);  // a failed one is tried again
  slot->Reset();
  return *slot;
}

int Connection::Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

int Connection::Begin(bool write) { return Exec(write ? "BEGIN IMMEDIATE" : "BEGIN"); }

int Connection::Commit(int* systemErrno) {
  const int rc = Exec("COMMIT");
  if (systemErrno) *systemErrno = rc == SQLITE_OK ? 0 : SystemErrno();
  if (rc != SQLITE_OK) Rollback();
  return rc;
}

void Connection::Rollback() {
  if (InTransaction()) Exec("ROLLBACK");
}

bool Connection::InTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }
int64_t Connection::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
int Connection::Changes() const { return sqlite3_changes(db_); }
int Connection::SystemErrno() const { return db_ ? sqlite3_system_errno(db_) : 0; }
int Connection::LastResult() const { return db_ ? sqlite3_errcode(db_) : SQLITE_NOMEM; }
const char* Connection::ErrorMessage() const { return db_ ? sqlite3_errmsg(db_) : "out of memory"; }

NewStoreResult CreateStoreFile(const std::string& path, const std::vector<const char*>& settings,
                               const std::function<int(Connection&)>& build) {
  NewStoreResult result;
  result.temp = path + ".new-" + std::to_string(vr::os::GetCurrentProcessId());
  auto removeTemp = [&] {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) vr::os::RemoveLeftoverFile(result.temp + suffix);
  };
  removeTemp();  // of an earlier process of the same number, cut short
  {
    std::unique_ptr<Connection> db;
    int rc = Connection::Open(result.temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, db);
    result.failedAt = NewStoreResult::Stage::Open;
    if (rc == SQLITE_OK) result.failedAt = NewStoreResult::Stage::Settings;
    for (const char* setting : settings)
      if (rc == SQLITE_OK) rc = db->Exec(setting);
    if (rc == SQLITE_OK) result.failedAt = NewStoreResult::Stage::Build;
    if (rc == SQLITE_OK) rc = db->Begin(true);
    if (rc == SQLITE_OK) rc = build(*db);
    if (rc == SQLITE_OK) rc = db->Commit();
    if (rc != SQLITE_OK) {
      result.sqlite = rc;
      result.systemErrno = db->SystemErrno();
      result.message = db->ErrorMessage();
      db->Rollback();
    }
  }  // closed: its journal is folded into the file
  if (result.sqlite == SQLITE_OK) {
    result.place = vr::os::PlaceNewFile(result.temp, path);
    if (result.place == ERROR_ALREADY_EXISTS) result.place = ERROR_SUCCESS;
  }
  removeTemp();
  return result;
}

}  // namespace vr::sqlite
