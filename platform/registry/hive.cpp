#include "platform/registry/hive.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/hresult.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/sqlite/sqlite_core.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::registry {
namespace {

constexpr const char* kFormat = "1";
constexpr int kDefaultTimeoutMs = 10000;

int BusyTimeoutMs() {
  if (const char* t = std::getenv("VR_REGISTRY_TIMEOUT_MS"); t && *t) {
    char* end = nullptr;
    const long v = std::strtol(t, &end, 10);
    if (end && *end == '\0' && v >= 0 && v <= 3600000) return static_cast<int>(v);
  }
  return kDefaultTimeoutMs;
}

bool ToUtf8(WStringView text, std::string& out) { return vr::text::WideToUtf8Strict(text, out); }

WString FromUtf8(std::string_view text) { return vr::text::Utf8ToWide(text); }

// Resets a cached statement when the caller is done with it, so that it holds no lock.
class Stmt {
 public:
  explicit Stmt(vr::sqlite::Statement* s) : s_(s) {}
  ~Stmt() { s_->Reset(); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  void Bind(int i, int64_t v) { s_->Bind(i, v); }
  void Bind(int i, const std::string& v) { s_->Bind(i, std::string_view(v)); }
  void BindBlob(int i, const void* d, size_t n) { s_->BindBlob(i, std::string_view(static_cast<const char*>(d), d ? n : 0)); }
  int Step() { return s_->Step(); }

 private:
  vr::sqlite::Statement* s_;
};

}  // namespace

WString FoldName(WStringView name) { return vr::text::ToLower(name); }

Hive& Hive::Instance() {
  static Hive* hive = new Hive;  // never destroyed: programs may touch the registry during exit
  return *hive;
}

long Hive::Fail(int rc) {
  // A write that failed for want of space is a full disk, whatever form SQLite gave it
  // (SQLITE_FULL, or an I/O error whose system error is ENOSPC).
  if ((rc & 0xFF) == SQLITE_IOERR && db_ && db_->SystemErrno() == ENOSPC) return ERROR_DISK_FULL;
  switch (rc & 0xFF) {
    case SQLITE_OK: case SQLITE_DONE: case SQLITE_ROW: return ERROR_SUCCESS;
    case SQLITE_BUSY: case SQLITE_LOCKED: return ERROR_TIMEOUT;
    case SQLITE_READONLY: case SQLITE_PERM: case SQLITE_AUTH: case SQLITE_CANTOPEN: return ERROR_ACCESS_DENIED;
    case SQLITE_NOTADB: case SQLITE_CORRUPT: case SQLITE_SCHEMA: case SQLITE_FORMAT: return ERROR_BADDB;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
    case SQLITE_IOERR: return ERROR_CANTWRITE;
    default: return ERROR_BADDB;
  }
}

void Hive::Close() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  db_.reset();
  schemaReady_ = false;
  depth_ = 0;
  root_.clear();
  ++generation_;
}

long Hive::Ready(bool forWrite) {
  const std::string root = vr::os::HostRoot();
  if (root != root_) {
    Close();
    root_ = root;
  }
  if (db_) return ERROR_SUCCESS;

  vr::os::NativeFileStatus st;
  if (long rc = vr::os::GetNativeFileStatus(root, st); rc != ERROR_SUCCESS || !st.exists)
    return rc == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
  if (!st.isDirectory) return ERROR_DIRECTORY;
  if (!vr::os::NativeAccessAllowed(root, true, false, true)) return ERROR_ACCESS_DENIED;

  path_ = root + "/registry.db";
  bool missing = false;
  if (long rc = vr::os::GetNativeFileStatus(path_, st); rc != ERROR_SUCCESS) {
    return rc == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
  } else if (!st.exists) {
    if (!forWrite) return ERROR_SUCCESS;  // an empty hive until the first change
    if (!vr::os::NativeAccessAllowed(root, false, true, false)) return ERROR_ACCESS_DENIED;
    missing = true;
  } else if (!st.isRegular) {
    return ERROR_BADDB;
  } else if (st.size == 0) {
    // A new hive is linked into place with its schema, so an empty file is a damaged one
    // (truncated, or its blocks lost): refused and left as it is, never taken as a new hive.
    return ERROR_BADDB;
  } else if (!vr::os::NativeAccessAllowed(path_, true, false, false)) {
    return ERROR_ACCESS_DENIED;
  }
  if (missing)
    if (long rc = CreateFresh(); rc != ERROR_SUCCESS) return rc;
  return Open(root, forWrite);
}

long Hive::CreateFresh() {
  const vr::sqlite::NewStoreResult made = vr::sqlite::CreateStoreFile(path_, {"PRAGMA synchronous=FULL"}, ExecSchema);
  // Placing never replaces: a hive another program put there meanwhile stays, and is used.
  if (made.sqlite != SQLITE_OK)
    return (made.sqlite & 0xFF) == SQLITE_IOERR && made.systemErrno == ENOSPC ? ERROR_DISK_FULL : Fail(made.sqlite);
  if (made.place != ERROR_SUCCESS)
    return made.place == ERROR_DISK_FULL || made.place == ERROR_ACCESS_DENIED ? made.place : ERROR_CANTWRITE;
  return ERROR_SUCCESS;
}

long Hive::Open(const std::string& root, bool forWrite) {
  (void)root;
  const int flags = SQLITE_OPEN_READWRITE | (forWrite ? SQLITE_OPEN_CREATE : 0);
  std::unique_ptr<vr::sqlite::Connection> db;
  if (int rc = vr::sqlite::Connection::Open(path_, flags, db); rc != SQLITE_OK) return Fail(rc);
  db_ = std::move(db);
  db_->SetBoundedWait(BusyTimeoutMs());
  // Per-connection settings; none of them writes to the file.
  Exec("PRAGMA synchronous=FULL");
  Exec("PRAGMA trusted_schema=OFF");
  const long check = CheckSchema();
  if (check != ERROR_SUCCESS) {
    db_.reset();
    return check;
  }
  return ERROR_SUCCESS;
}

// A store is either an empty file (created but never written) or a hive of our format.
long Hive::CheckSchema() {
  vr::sqlite::Statement& count = db_->Sql("SELECT count(*) FROM sqlite_master");
  if (!count.ok()) return Fail(count.PrepareResult());
  int rc = count.Step();
  const int64_t objects = rc == SQLITE_ROW ? count.Int(0) : -1;
  count.Reset();
  if (rc != SQLITE_ROW) return Fail(rc);
  if (objects == 0) {
    schemaReady_ = false;
    return ERROR_SUCCESS;
  }
  vr::sqlite::Statement& q = db_->Sql(
      "SELECT (SELECT value FROM meta WHERE name='format'),"
      " (SELECT count(*) FROM keys WHERE id=1 AND parent=0),"
      " (SELECT count(*) FROM vals WHERE 0)");
  if (!q.ok()) {
    rc = q.PrepareResult();
    return (rc & 0xFF) == SQLITE_ERROR ? ERROR_BADDB : Fail(rc);  // tables missing: not a hive
  }
  rc = q.Step();
  const bool ok = rc == SQLITE_ROW && q.Text(0) == kFormat && q.Int(1) == 1;
  q.Reset();
  if (rc != SQLITE_ROW) return Fail(rc);
  if (!ok) return ERROR_BADDB;
  schemaReady_ = true;
  return ERROR_SUCCESS;
}

int Hive::ExecSchema(vr::sqlite::Connection& db) {
  static const char* kSchema[] = {
      "CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL)",
      "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
      " name TEXT NOT NULL, fold TEXT NOT NULL)",
      "CREATE UNIQUE INDEX keys_by_parent ON keys(parent, fold)",
      "CREATE TABLE vals(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
      " name TEXT NOT NULL, fold TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL)",
      "CREATE UNIQUE INDEX vals_by_key ON vals(key, fold)",
      "INSERT INTO meta(name, value) VALUES('format', '1')",
      "INSERT INTO keys(id, parent, name, fold) VALUES(1, 0, 'HKEY_LOCAL_MACHINE', 'hkey_local_machine')",
  };
  for (const char* sql : kSchema)
    if (int rc = db.Exec(sql); rc != SQLITE_OK) return rc;
  return SQLITE_OK;
}

long Hive::CreateSchema() {
  if (!db_) return ERROR_SUCCESS;
  if (int rc = ExecSchema(*db_); rc != SQLITE_OK) return Fail(rc);
  schemaReady_ = true;
  schemaCreated_ = true;
  return ERROR_SUCCESS;
}

long Hive::Exec(const char* sql) {
  if (!db_) return ERROR_SUCCESS;
  const int rc = db_->Exec(sql);
  return rc == SQLITE_OK ? ERROR_SUCCESS : Fail(rc);
}

long Hive::Prepare(const char* sql, vr::sqlite::Statement*& stmt) {
  stmt = &db_->Sql(sql);
  return stmt->ok() ? ERROR_SUCCESS : Fail(stmt->PrepareResult());
}

long Hive::Begin(bool write) {
  if (!db_) {
    if (write) return ERROR_ACCESS_DENIED;  // Ready(true) opens the store before any change
    ++depth_;
    return ERROR_SUCCESS;
  }
  if (depth_ == 0) {
    if (long rc = Exec(write ? "BEGIN IMMEDIATE" : "BEGIN"); rc != ERROR_SUCCESS) return rc;
    if (write && !schemaReady_) {
      // Another program may have created the hive since this connection looked.
      long rc = CheckSchema();
      if (rc == ERROR_SUCCESS && !schemaReady_) rc = CreateSchema();
      if (rc != ERROR_SUCCESS) {
        Exec("ROLLBACK");
        return rc;
      }
    }
  } else if (long rc = Exec("SAVEPOINT nested"); rc != ERROR_SUCCESS) {
    return rc;
  }
  ++depth_;
  return ERROR_SUCCESS;
}

long Hive::Commit() {
  if (depth_ <= 0) return ERROR_INVALID_PARAMETER;
  --depth_;
  if (!db_) return ERROR_SUCCESS;
  if (depth_ > 0) return Exec("RELEASE nested");
  const long rc = Exec("COMMIT");
  if (rc != ERROR_SUCCESS && !!db_->InTransaction()) Exec("ROLLBACK");
  if (rc != ERROR_SUCCESS && schemaCreated_) schemaReady_ = false;
  schemaCreated_ = false;
  return rc;
}

void Hive::Rollback() {
  if (depth_ <= 0) return;
  --depth_;
  if (!db_) return;
  if (depth_ > 0) {
    Exec("ROLLBACK TO nested");
    Exec("RELEASE nested");
  } else {
    if (!!db_->InTransaction()) Exec("ROLLBACK");
    if (schemaCreated_) schemaReady_ = false;  // the new schema went with the transaction
    schemaCreated_ = false;
  }
}

long Hive::KeyExists(KeyId id, bool& exists) {
  exists = false;
  if (!db_ || !schemaReady_) {
    exists = id == kRootKeyId;
    return ERROR_SUCCESS;
  }
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT 1 FROM keys WHERE id=?1", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, id);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) exists = true;
  else if (rc != SQLITE_DONE) return Fail(rc);
  return ERROR_SUCCESS;
}

long Hive::FindChild(KeyId parent, WStringView name, KeyId& child) {
  child = 0;
  if (!db_ || !schemaReady_) return ERROR_FILE_NOT_FOUND;
  std::string fold;
  if (!ToUtf8(FoldName(name), fold)) return ERROR_INVALID_PARAMETER;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT id FROM keys WHERE parent=?1 AND fold=?2", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, parent);
  s.Bind(2, fold);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) {
    child = raw->Int(0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

long Hive::CreateChild(KeyId parent, WStringView name, KeyId& child) {
  if (!db_) return ERROR_ACCESS_DENIED;
  std::string utf8, fold;
  if (!ToUtf8(name, utf8) || !ToUtf8(FoldName(name), fold)) return ERROR_INVALID_PARAMETER;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("INSERT INTO keys(parent, name, fold) VALUES(?1, ?2, ?3)", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, parent);
  s.Bind(2, utf8);
  s.Bind(3, fold);
  const int rc = s.Step();
  if (rc != SQLITE_DONE) return Fail(rc);
  child = db_->LastInsertId();
  return ERROR_SUCCESS;
}

long Hive::Children(KeyId parent, std::vector<StoredKey>& out) {
  out.clear();
  if (!db_ || !schemaReady_) return ERROR_SUCCESS;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT id, name FROM keys WHERE parent=?1 ORDER BY fold, name", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, parent);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW)
    out.push_back({raw->Int(0), FromUtf8(raw->Text(1))});
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

long Hive::ChildAt(KeyId parent, DWORD index, WString& name) {
  if (!db_ || !schemaReady_) return ERROR_NO_MORE_ITEMS;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT name FROM keys WHERE parent=?1 ORDER BY fold, name LIMIT 1 OFFSET ?2", raw);
      rc != ERROR_SUCCESS)
    return rc;
  Stmt s(raw);
  s.Bind(1, parent);
  s.Bind(2, static_cast<int64_t>(index));
  const int rc = s.Step();
  if (rc == SQLITE_ROW) {
    name = FromUtf8(raw->Text(0));
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(rc);
}

long Hive::KeyName(KeyId id, WString& name) {
  if (!db_ || !schemaReady_) {
    if (id != kRootKeyId) return ERROR_KEY_DELETED;
    name = u"HKEY_LOCAL_MACHINE";
    return ERROR_SUCCESS;
  }
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT name FROM keys WHERE id=?1", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, id);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) {
    name = FromUtf8(raw->Text(0));
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Fail(rc);
}

long Hive::DeleteKey(KeyId id) {
  if (!db_) return ERROR_ACCESS_DENIED;
  if (id == kRootKeyId) return ERROR_ACCESS_DENIED;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT 1 FROM keys WHERE parent=?1 LIMIT 1", raw); rc != ERROR_SUCCESS) return rc;
  {
    Stmt s(raw);
    s.Bind(1, id);
    const int rc = s.Step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // has subkeys, as Win32 refuses it
    if (rc != SQLITE_DONE) return Fail(rc);
  }
  if (long rc = Prepare("DELETE FROM vals WHERE key=?1", raw); rc != ERROR_SUCCESS) return rc;
  {
    Stmt s(raw);
    s.Bind(1, id);
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc);
  }
  if (long rc = Prepare("DELETE FROM keys WHERE id=?1", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, id);
  if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc);
  return ERROR_SUCCESS;
}

long Hive::DeleteTree(KeyId id) {
  if (!db_) return ERROR_ACCESS_DENIED;
  static const char* kVals =
      "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id)"
      " DELETE FROM vals WHERE key IN t";
  static const char* kKeysBelow =
      "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN t ON k.parent=t.id)"
      " DELETE FROM keys WHERE id IN t AND id<>1";
  for (const char* sql : {kVals, kKeysBelow}) {
    vr::sqlite::Statement* raw;
    if (long rc = Prepare(sql, raw); rc != ERROR_SUCCESS) return rc;
    Stmt s(raw);
    s.Bind(1, id);
    if (int rc = s.Step(); rc != SQLITE_DONE) return Fail(rc);
  }
  return ERROR_SUCCESS;
}

long Hive::GetValue(KeyId key, WStringView name, StoredValue& out) {
  if (!db_ || !schemaReady_) return ERROR_FILE_NOT_FOUND;
  std::string fold;
  if (!ToUtf8(FoldName(name), fold)) return ERROR_FILE_NOT_FOUND;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT name, type, data FROM vals WHERE key=?1 AND fold=?2", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, key);
  s.Bind(2, fold);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) {
    out.name = FromUtf8(raw->Text(0));
    out.type = static_cast<DWORD>(raw->Int(1));
    out.data.assign(raw->Blob(2));
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Fail(rc);
}

long Hive::SetValue(KeyId key, WStringView name, DWORD type, const void* data, size_t size) {
  if (!db_) return ERROR_ACCESS_DENIED;
  std::string utf8, fold;
  if (!ToUtf8(name, utf8) || !ToUtf8(FoldName(name), fold)) return ERROR_INVALID_PARAMETER;
  vr::sqlite::Statement* raw;
  // An existing value keeps its place in the enumeration and the spelling of its name.
  if (long rc = Prepare("INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                        " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data",
                        raw);
      rc != ERROR_SUCCESS)
    return rc;
  Stmt s(raw);
  s.Bind(1, key);
  s.Bind(2, utf8);
  s.Bind(3, fold);
  s.Bind(4, static_cast<int64_t>(type));
  s.BindBlob(5, data, size);
  const int rc = s.Step();
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

long Hive::DeleteValue(KeyId key, WStringView name) {
  if (!db_) return ERROR_FILE_NOT_FOUND;
  std::string fold;
  if (!ToUtf8(FoldName(name), fold)) return ERROR_FILE_NOT_FOUND;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("DELETE FROM vals WHERE key=?1 AND fold=?2", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, key);
  s.Bind(2, fold);
  const int rc = s.Step();
  if (rc != SQLITE_DONE) return Fail(rc);
  return db_->Changes() > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

long Hive::Values(KeyId key, std::vector<StoredValue>& out) {
  out.clear();
  if (!db_ || !schemaReady_) return ERROR_SUCCESS;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id", raw); rc != ERROR_SUCCESS) return rc;
  Stmt s(raw);
  s.Bind(1, key);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    StoredValue v;
    v.name = FromUtf8(raw->Text(0));
    v.type = static_cast<DWORD>(raw->Int(1));
    v.data.assign(raw->Blob(2));
    out.push_back(std::move(v));
  }
  return rc == SQLITE_DONE ? ERROR_SUCCESS : Fail(rc);
}

long Hive::ValueAt(KeyId key, DWORD index, StoredValue& out) {
  if (!db_ || !schemaReady_) return ERROR_NO_MORE_ITEMS;
  vr::sqlite::Statement* raw;
  if (long rc = Prepare("SELECT name, type, data FROM vals WHERE key=?1 ORDER BY id LIMIT 1 OFFSET ?2", raw);
      rc != ERROR_SUCCESS)
    return rc;
  Stmt s(raw);
  s.Bind(1, key);
  s.Bind(2, static_cast<int64_t>(index));
  const int rc = s.Step();
  if (rc == SQLITE_ROW) {
    out.name = FromUtf8(raw->Text(0));
    out.type = static_cast<DWORD>(raw->Int(1));
    out.data.assign(raw->Blob(2));
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_NO_MORE_ITEMS : Fail(rc);
}

}  // namespace vr::registry
