// Opening a repository: its SQLite tables, one Repository object per database file and
// process, a new database made whole before it takes the file's name, older formats brought up
// to the current one, and commits deferred while a caller has recorded how to undo them.
#include "platform/wmi/repository.h"

#include "platform/fault/fault.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::wmi {

using vr::fault::InjectedHresult;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

std::string Fold(WStringView name) { return WideToUtf8(vr::text::ToLower(name)); }

namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS namespaces(id INTEGER PRIMARY KEY, fold TEXT NOT NULL UNIQUE, name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS classes(ns INTEGER NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,
  super TEXT NOT NULL, text TEXT NOT NULL, PRIMARY KEY(ns, fold)) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS classes_by_super ON classes(ns, super, fold);
CREATE TABLE IF NOT EXISTS instances(id INTEGER PRIMARY KEY, ns INTEGER NOT NULL, key_class TEXT NOT NULL,
  ikey TEXT NOT NULL, class TEXT NOT NULL, data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS instances_by_key ON instances(ns, key_class, ikey);
CREATE INDEX IF NOT EXISTS instances_by_class ON instances(ns, class, ikey);
CREATE TABLE IF NOT EXISTS instance_keys(inst INTEGER NOT NULL, ns INTEGER NOT NULL, key_class TEXT NOT NULL,
  name TEXT NOT NULL, value TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS instance_keys_by_value ON instance_keys(ns, key_class, name, value, inst);
CREATE INDEX IF NOT EXISTS instance_keys_by_inst ON instance_keys(inst);
CREATE TABLE IF NOT EXISTS qualifier_decls(ns INTEGER NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,
  text TEXT NOT NULL, PRIMARY KEY(ns, fold)) WITHOUT ROWID;
INSERT OR IGNORE INTO meta VALUES('schema', 1);
INSERT OR IGNORE INTO meta VALUES('format', 2);
INSERT OR IGNORE INTO namespaces(fold, name) VALUES('root', 'root');
)";

// The format this build writes, and the steps from each older one. Format 1 had no
// qualifier declarations.
constexpr int64_t kFormat = 2;
constexpr const char* kMigrateFrom1 = R"(
CREATE TABLE IF NOT EXISTS qualifier_decls(ns INTEGER NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,
  text TEXT NOT NULL, PRIMARY KEY(ns, fold)) WITHOUT ROWID;
UPDATE meta SET value=2 WHERE name='format' AND value<2;
)";

std::mutex g_openMutex;
bool g_deferredCommits = false;  // SetDeferredCommits, for repositories opened meanwhile too
std::map<std::string, std::weak_ptr<Repository>>& OpenRepositories() {
  static auto* m = new std::map<std::string, std::weak_ptr<Repository>>;
  return *m;
}

}  // namespace

std::string Repository::HostDatabasePath() { return vr::os::HostPath("wmi/repository.db"); }

HRESULT Repository::OpenHost(std::shared_ptr<Repository>* out, WString* why) {
  return OpenRoot(vr::os::HostRoot(), out, why);
}

HRESULT Repository::OpenRoot(const std::string& root, std::shared_ptr<Repository>* out, WString* why) {
  if (!vr::os::IsNativeDirectory(root)) {
    if (why) *why = u"The host root folder " + Utf8ToWide(root) + u" does not exist.";
    return WBEM_E_INVALID_NAMESPACE;
  }
  const std::string dir = root + "/wmi";
  if (!vr::os::IsNativeDirectory(dir) && vr::os::CreateDirectory(Utf8ToWide(dir)) != ERROR_SUCCESS &&
      !vr::os::IsNativeDirectory(dir)) {
    if (why) *why = u"The WMI repository folder " + Utf8ToWide(dir) + u" cannot be created.";
    return WBEM_E_ACCESS_DENIED;
  }
  return OpenFile(dir + "/repository.db", out, why);
}

HRESULT Repository::OpenFile(const std::string& path, std::shared_ptr<Repository>* out, WString* why) {
  std::lock_guard<std::mutex> lock(g_openMutex);
  auto& open = OpenRepositories();
  if (auto it = open.find(path); it != open.end())
    if (auto existing = it->second.lock()) { *out = existing; return S_OK; }
  std::shared_ptr<Repository> repo(new Repository);
  repo->path_ = path;
  if (HRESULT hr = repo->Initialize(why); FAILED(hr)) return hr;
  open[path] = repo;
  *out = repo;
  return S_OK;
}

namespace {

// Makes a new repository with its tables beside `path` and places it there, so that the path
// never names a file without them (an empty file there is a damaged repository).
HRESULT CreateRepositoryFile(const std::string& path, WString* why) {
  using Stage = vr::sqlite::NewStoreResult::Stage;
  const vr::sqlite::NewStoreResult made = vr::sqlite::CreateStoreFile(
      path, {std::begin(Database::kSettings), std::end(Database::kSettings)},
      [](vr::sqlite::Connection& db) { return db.Exec(kSchema); });
  if (made.sqlite != 0) {
    const WString text = Database::ErrorText(made.sqlite, made.systemErrno, made.message);
    HRESULT hr = SqliteCode(made.sqlite, made.systemErrno);
    if (made.failedAt == Stage::Open && hr == WBEM_E_FAILED) hr = WBEM_E_CRITICAL_ERROR;
    if (why)
      *why = made.failedAt == Stage::Build
                 ? u"The WMI repository " + Utf8ToWide(path) + u" cannot be created: " + text
                 : u"The WMI repository " + Utf8ToWide(made.temp) + u" cannot be opened: " + text;
    return hr;
  }
  if (made.place != ERROR_SUCCESS) {
    if (why) *why = u"The WMI repository " + Utf8ToWide(path) + u" cannot be created.";
    return made.place == ERROR_DISK_FULL ? kWmiDiskFull : WBEM_E_ACCESS_DENIED;
  }
  return S_OK;
}

}  // namespace

HRESULT Repository::Initialize(WString* why) {
  vr::os::NativeFileStatus st;
  if (long rc = vr::os::GetNativeFileStatus(path_, st); rc != ERROR_SUCCESS || !st.exists) {
    if (rc != ERROR_SUCCESS) {
      if (why) *why = u"The WMI repository " + Utf8ToWide(path_) + u" cannot be read.";
      return WBEM_E_ACCESS_DENIED;
    }
    if (HRESULT hr = CreateRepositoryFile(path_, why); FAILED(hr)) return hr;
  } else if (st.isRegular && st.size == 0) {
    if (why)
      *why = u"The WMI repository " + Utf8ToWide(path_) +
             u" is damaged: the file is empty. It has been left as it is; restore it from a backup or remove it.";
    return WBEM_E_CRITICAL_ERROR;
  }
  if (HRESULT hr = Database::Open(path_, &db_, why); FAILED(hr)) return hr;
  if (g_deferredCommits) {
    db_->Exec("PRAGMA synchronous=NORMAL");
    db_->Exec("PRAGMA wal_autocheckpoint=0");
  }
  // A repository that has its tables in this format is ready: opening it must not wait for
  // a writer. One of an older format is brought up to this one.
  int64_t format = 0;
  if (SUCCEEDED(db_->Begin(false))) {
    Statement q = db_->Sql("SELECT value FROM meta WHERE name='format'");
    bool row = false;
    if (q.ok() && SUCCEEDED(q.Step(&row)) && row) format = q.Int(0);
    q.Reset();
    db_->Rollback();
    if (format >= kFormat) return S_OK;
  }
  if (format > 0) {
    HRESULT hr = db_->Begin(true);
    if (SUCCEEDED(hr)) hr = db_->Exec(kMigrateFrom1);
    if (SUCCEEDED(hr)) hr = db_->Commit();
    if (FAILED(hr)) {
      if (why) *why = u"The WMI repository " + Utf8ToWide(path_) + u" cannot be brought to the current format: " + db_->ErrorText();
      db_->Rollback();
    }
    return hr;
  }
  HRESULT hr = db_->Begin(true);
  if (SUCCEEDED(hr)) hr = db_->Exec(kSchema);
  if (SUCCEEDED(hr)) hr = db_->Commit();
  if (FAILED(hr)) {
    if (why) *why = u"The WMI repository " + Utf8ToWide(path_) + u" cannot be prepared: " + db_->ErrorText();
    db_->Rollback();
  }
  return hr;
}

HRESULT Repository::SetDeferredCommits(bool deferred) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  g_deferredCommits = deferred;
  // While deferred, no checkpoint runs either: each would flush the log and the database.
  HRESULT hr = db_->Exec(deferred ? "PRAGMA synchronous=NORMAL" : "PRAGMA synchronous=FULL");
  if (SUCCEEDED(hr)) hr = db_->Exec(deferred ? "PRAGMA wal_autocheckpoint=0" : "PRAGMA wal_autocheckpoint=1000");
  if (FAILED(hr) || deferred) return hr;
  // The write-ahead log holds every commit since the last checkpoint: one flush of it makes
  // them all durable. No log means nothing is waiting in it.
  const long rc = vr::os::SyncNativeFile(path_ + "-wal");
  if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) return S_OK;
  return rc == ERROR_DISK_FULL ? kWmiDiskFull : WBEM_E_FAILED;
}

HRESULT SetDeferredCommits(bool deferred) {
  if (auto f = InjectedHresult("wmi.SetDeferredCommits", WBEM_E_FAILED)) return *f;
  std::shared_ptr<Repository> repo;
  if (HRESULT hr = Repository::OpenHost(&repo, nullptr); FAILED(hr)) return hr;
  return repo->SetDeferredCommits(deferred);
}

}  // namespace vr::wmi
