#include "platform/wmi/sqlite_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>

#include "platform/text/convert.h"
#include "platform/wmi/wbem_codes.h"

namespace vr::wmi {

HRESULT SqliteCode(int rc, int systemErrno) {
  switch (rc & 0xFF) {
    case SQLITE_OK: case SQLITE_ROW: case SQLITE_DONE: return S_OK;
    case SQLITE_BUSY: case SQLITE_LOCKED: return WBEM_E_SERVER_TOO_BUSY;
    case SQLITE_FULL: return kWmiDiskFull;
    case SQLITE_IOERR: return systemErrno == ENOSPC ? kWmiDiskFull : WBEM_E_FAILED;
    case SQLITE_CORRUPT: case SQLITE_NOTADB: return WBEM_E_CRITICAL_ERROR;
    case SQLITE_NOMEM: return WBEM_E_OUT_OF_MEMORY;
    case SQLITE_PERM: case SQLITE_READONLY: case SQLITE_AUTH: return WBEM_E_ACCESS_DENIED;
    default: return WBEM_E_FAILED;
  }
}

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  return *this;
}

HRESULT Statement::Step(bool* row) {
  *row = false;
  if (!stmt_) return WBEM_E_CRITICAL_ERROR;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) { *row = true; return S_OK; }
  Reset();
  return rc == SQLITE_DONE ? S_OK : SqliteCode(rc, sqlite3_system_errno(sqlite3_db_handle(stmt_)));
}

HRESULT Statement::Run() {
  bool row;
  HRESULT hr;
  do {
    hr = Step(&row);
  } while (SUCCEEDED(hr) && row);
  return hr;
}

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

HRESULT Database::Open(const std::string& path, std::unique_ptr<Database>* out, WString* why) {
  std::unique_ptr<Database> d(new Database);
  const int rc = sqlite3_open_v2(path.c_str(), &d->db_,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    if (why) *why = u"The WMI repository " + vr::text::Utf8ToWide(path) + u" cannot be opened: " + d->ErrorText();
    const HRESULT hr = SqliteCode(rc, d->db_ ? sqlite3_system_errno(d->db_) : 0);
    return hr == WBEM_E_FAILED ? WBEM_E_CRITICAL_ERROR : hr;
  }
  long timeout = 10000;
  if (const char* t = std::getenv("VR_WMI_LOCK_TIMEOUT_MS"); t && *t) timeout = std::strtol(t, nullptr, 10);
  sqlite3_busy_timeout(d->db_, static_cast<int>(timeout));
  sqlite3_extended_result_codes(d->db_, 1);
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=OFF"}) {
    if (HRESULT hr = d->Exec(pragma); FAILED(hr)) {
      if (why) *why = u"The WMI repository " + vr::text::Utf8ToWide(path) + u" cannot be opened: " + d->ErrorText();
      return hr;
    }
  }
  *out = std::move(d);
  return S_OK;
}

Database::~Database() {
  statements_.clear();
  sqlite3_close(db_);
}

Statement& Database::Sql(const char* sql) {
  auto& slot = statements_[sql];
  if (!slot) slot = std::make_unique<Statement>(db_, sql);
  slot->Reset();
  return *slot;
}

HRESULT Database::Exec(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return SqliteCode(rc, rc == SQLITE_OK ? 0 : sqlite3_system_errno(db_));
}

HRESULT Database::Begin(bool write) { return Exec(write ? "BEGIN IMMEDIATE" : "BEGIN"); }

HRESULT Database::Commit() {
  HRESULT hr = Exec("COMMIT");
  if (FAILED(hr)) Rollback();
  return hr;
}

void Database::Rollback() {
  if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int64_t Database::LastInsertId() const { return sqlite3_last_insert_rowid(db_); }

WString Database::ErrorText() const {
  if (db_ && (sqlite3_errcode(db_) == SQLITE_FULL || sqlite3_system_errno(db_) == ENOSPC))
    return u"There is not enough space on the disk.";
  return vr::text::Utf8ToWide(db_ ? sqlite3_errmsg(db_) : "out of memory");
}

}  // namespace vr::wmi
