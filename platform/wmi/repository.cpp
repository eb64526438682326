#include "platform/wmi/repository.h"

#include <algorithm>

#include "platform/fault/fault.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"
#include "platform/wmi/system_classes.h"
#include "platform/wmi/wbem_object.h"

using vr::fault::InjectedHresult;

namespace vr::wmi {

using vr::text::EqualsNoCase;
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

WString KeySpace(const ResolvedClass& cls) { return cls.keyClass.empty() ? cls.name : cls.keyClass; }

bool IsNamespaceClass(const ResolvedClass& cls) {
  return EqualsNoCase(cls.name, u"__NAMESPACE") || cls.InheritsFrom(u"__NAMESPACE");
}

// Undoes what one operation wrote when it does not finish.
class Savepoint {
 public:
  explicit Savepoint(Database& db) : db_(db) { hr_ = db_.Exec("SAVEPOINT op"); }
  HRESULT status() const { return hr_; }
  HRESULT Release() {
    done_ = true;
    return db_.Exec("RELEASE op");
  }
  ~Savepoint() {
    if (SUCCEEDED(hr_) && !done_) {
      db_.Exec("ROLLBACK TO op");
      db_.Exec("RELEASE op");
    }
  }

 private:
  Database& db_;
  HRESULT hr_;
  bool done_ = false;
};

}  // namespace

// Drops the classes an unfinished operation loaded after it changed the schema.
struct SchemaGuard {
  explicit SchemaGuard(std::map<std::pair<int64_t, std::string>, std::shared_ptr<const ResolvedClass>>& cache)
      : cache_(cache) {}
  ~SchemaGuard() {
    if (armed) cache_.clear();
  }
  bool armed = true;

 private:
  std::map<std::pair<int64_t, std::string>, std::shared_ptr<const ResolvedClass>>& cache_;
};

namespace {

bool SameType(const PropertyDef& a, const PropertyDef& b) {
  return a.type == b.type && EqualsNoCase(a.refClass, b.refClass);
}

std::string KeyName(const PropertyDef& p) { return Fold(p.name); }

}  // namespace

// ---- Repository ---------------------------------------------------------------------------

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

// ---- Session ------------------------------------------------------------------------------

Session::Session(Repository& repo, bool write) : repo_(repo), lock_(repo.mutex_) {
  nested_ = repo_.depth_ > 0;
  status_ = nested_ ? repo_.db_->Exec("SAVEPOINT session") : repo_.db_->Begin(write);
  if (FAILED(status_)) return;
  open_ = true;
  ++repo_.depth_;
  Statement q = repo_.db_->Sql("SELECT value FROM meta WHERE name='schema'");
  bool row = false;
  status_ = q.Step(&row);
  if (SUCCEEDED(status_) && row) schema_ = q.Int(0);
  q.Reset();
  if (SUCCEEDED(status_) && schema_ != repo_.cachedSchema_) {
    repo_.classCache_.clear();
    repo_.cachedSchema_ = schema_;
  }
}

Session::~Session() {
  if (!open_) return;
  if (nested_) {
    repo_.db_->Exec("ROLLBACK TO session");
    repo_.db_->Exec("RELEASE session");
  } else {
    repo_.db_->Rollback();
  }
  --repo_.depth_;
  if (schemaChanged_) {
    repo_.classCache_.clear();
    repo_.cachedSchema_ = -1;
  }
}

HRESULT Session::Commit() {
  if (!open_) return FAILED(status_) ? status_ : WBEM_E_UNEXPECTED;
  if (FAILED(status_)) return status_;
  int64_t schema = -1;
  if (schemaChanged_ && !nested_) {
    Statement q = repo_.db_->Sql("SELECT value FROM meta WHERE name='schema'");
    bool row = false;
    if (SUCCEEDED(q.Step(&row)) && row) schema = q.Int(0);
    q.Reset();
  }
  HRESULT hr = nested_ ? repo_.db_->Exec("RELEASE session") : repo_.db_->Commit();
  if (FAILED(hr)) {
    if (nested_) {
      repo_.db_->Exec("ROLLBACK TO session");
      repo_.db_->Exec("RELEASE session");
    }
    repo_.classCache_.clear();
    repo_.cachedSchema_ = -1;
  } else if (schemaChanged_ && !nested_) {
    repo_.cachedSchema_ = schema;
  }
  open_ = false;
  --repo_.depth_;
  return hr;
}

HRESULT Session::TouchSchema() {
  HRESULT hr = repo_.db_->Sql("UPDATE meta SET value=value+1 WHERE name='schema'").Run();
  if (FAILED(hr)) return hr;
  schemaChanged_ = true;
  // Classes read from now on reflect this transaction: they are good until it ends.
  repo_.classCache_.clear();
  repo_.cachedSchema_ = -1;
  return S_OK;
}

// ---- namespaces ---------------------------------------------------------------------------

HRESULT Session::FindNamespace(WStringView name, NamespaceInfo* out, WString* why) {
  Statement q = repo_.db_->Sql("SELECT id, name FROM namespaces WHERE fold=?1");
  q.Bind(1, Fold(name));
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  if (!row) {
    if (why) *why = u"The namespace " + WString(name) + u" does not exist.";
    return WBEM_E_INVALID_NAMESPACE;
  }
  out->id = q.Int(0);
  out->name = Utf8ToWide(q.Text(1));
  q.Reset();
  return S_OK;
}

HRESULT Session::ChildNamespaces(const NamespaceInfo& ns, std::vector<WString>* names) {
  names->clear();
  const std::string prefix = Fold(ns.name) + "\\";
  Statement q = repo_.db_->Sql("SELECT name FROM namespaces WHERE fold > ?1 AND fold < ?2 ORDER BY fold");
  q.Bind(1, prefix).Bind(2, Fold(ns.name) + "]");
  bool row = false;
  HRESULT hr;
  while (SUCCEEDED(hr = q.Step(&row)) && row) {
    WString full = Utf8ToWide(q.Text(0));
    WString child = full.substr(ns.name.size() + 1);
    if (child.find(u'\\') == WString::npos) names->push_back(child);
  }
  return hr;
}

HRESULT Session::AllNamespaces(std::vector<NamespaceInfo>* out) {
  out->clear();
  Statement q = repo_.db_->Sql("SELECT id, name FROM namespaces ORDER BY fold");
  bool row = false;
  HRESULT hr;
  while (SUCCEEDED(hr = q.Step(&row)) && row) out->push_back({q.Int(0), Utf8ToWide(q.Text(1))});
  return hr;
}

HRESULT Session::CreateNamespace(const NamespaceInfo& parent, WStringView child, long flags, WString* why) {
  if (!IsValidIdentifier(child)) {
    if (why) *why = u"\"" + WString(child) + u"\" is not a valid namespace name.";
    return WBEM_E_INVALID_PARAMETER;
  }
  const WString full = parent.name + u"\\" + WString(child);
  NamespaceInfo existing;
  const bool exists = SUCCEEDED(FindNamespace(full, &existing, nullptr));
  if (exists && (flags & WBEM_FLAG_CREATE_ONLY)) {
    if (why) *why = u"The namespace " + full + u" already exists.";
    return WBEM_E_ALREADY_EXISTS;
  }
  if (!exists && (flags & WBEM_FLAG_UPDATE_ONLY)) {
    if (why) *why = u"The namespace " + full + u" does not exist.";
    return WBEM_E_NOT_FOUND;
  }
  if (exists) return S_OK;
  HRESULT hr = repo_.db_->Sql("INSERT INTO namespaces(fold, name) VALUES(?1, ?2)")
                   .Bind(1, Fold(full)).Bind(2, WideToUtf8(full)).Run();
  if (FAILED(hr)) return hr;
  return TouchSchema();
}

HRESULT Session::DeleteNamespace(const NamespaceInfo& parent, WStringView child, WString* why) {
  const WString full = parent.name + u"\\" + WString(child);
  NamespaceInfo target;
  if (FAILED(FindNamespace(full, &target, nullptr))) {
    if (why) *why = u"The namespace " + full + u" does not exist.";
    return WBEM_E_NOT_FOUND;
  }
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  SchemaGuard guard(repo_.classCache_);
  std::vector<int64_t> ids;
  {
    Statement q = repo_.db_->Sql("SELECT id FROM namespaces WHERE fold=?1 OR (fold > ?2 AND fold < ?3)");
    const std::string f = Fold(full);
    q.Bind(1, f).Bind(2, f + "\\").Bind(3, f + "]");
    bool row = false;
    HRESULT hr;
    while (SUCCEEDED(hr = q.Step(&row)) && row) ids.push_back(q.Int(0));
    if (FAILED(hr)) return hr;
  }
  for (int64_t id : ids) {
    for (const char* sql : {"DELETE FROM instance_keys WHERE ns=?1", "DELETE FROM instances WHERE ns=?1",
                            "DELETE FROM classes WHERE ns=?1", "DELETE FROM qualifier_decls WHERE ns=?1",
                            "DELETE FROM namespaces WHERE id=?1"}) {
      if (HRESULT hr = repo_.db_->Sql(sql).Bind(1, id).Run(); FAILED(hr)) return hr;
    }
  }
  if (HRESULT hr = TouchSchema(); FAILED(hr)) return hr;
  guard.armed = false;
  return sp.Release();
}

// ---- classes ------------------------------------------------------------------------------

HRESULT Session::ClassRow(const NamespaceInfo& ns, WStringView name, bool* exists, std::string* text,
                          WString* storedName) {
  Statement q = repo_.db_->Sql("SELECT name, text FROM classes WHERE ns=?1 AND fold=?2");
  q.Bind(1, ns.id).Bind(2, Fold(name));
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  *exists = row;
  if (row) {
    if (storedName) *storedName = Utf8ToWide(q.Text(0));
    if (text) *text = std::string(q.Text(1));
    q.Reset();
  }
  return S_OK;
}

HRESULT Session::LoadClass(const NamespaceInfo& ns, WStringView name, int depth,
                           std::shared_ptr<const ResolvedClass>* out) {
  if (auto sys = SystemClass(name)) { *out = sys; return S_OK; }
  if (depth > 64) return WBEM_E_CRITICAL_ERROR;
  const auto cacheKey = std::make_pair(ns.id, Fold(name));
  if (auto it = repo_.classCache_.find(cacheKey); it != repo_.classCache_.end()) {
    *out = it->second;
    return S_OK;
  }
  bool exists = false;
  std::string text;
  if (HRESULT hr = ClassRow(ns, name, &exists, &text, nullptr); FAILED(hr)) return hr;
  if (!exists) return WBEM_E_NOT_FOUND;
  MofDocument doc;
  MofError error;
  MofReadOptions stored;
  stored.storedText = true;
  if (FAILED(ReadMof(Utf8ToWide(text), u"root", &doc, &error, &stored)) || doc.statements.size() != 1 ||
      doc.statements[0].kind != MofStatement::Kind::kClass)
    return WBEM_E_CRITICAL_ERROR;
  const ClassDecl& decl = doc.statements[0].cls;
  std::shared_ptr<const ResolvedClass> parent;
  if (!decl.superclass.empty()) {
    HRESULT hr = LoadClass(ns, decl.superclass, depth + 1, &parent);
    if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_SUPERCLASS;
    if (FAILED(hr)) return hr;
  }
  std::shared_ptr<const ResolvedClass> resolved;
  if (HRESULT hr = ResolveClass(decl, parent, &resolved, nullptr); FAILED(hr)) return hr;
  repo_.classCache_[cacheKey] = resolved;
  *out = resolved;
  return S_OK;
}

HRESULT Session::GetClass(const NamespaceInfo& ns, WStringView name, std::shared_ptr<const ResolvedClass>* out,
                          WString* why) {
  HRESULT hr = IsValidIdentifier(name) ? LoadClass(ns, name, 0, out) : WBEM_E_NOT_FOUND;
  if (hr == WBEM_E_NOT_FOUND && why) *why = u"The class " + WString(name) + u" does not exist in " + ns.name + u".";
  else if (FAILED(hr) && why) *why = u"The class " + WString(name) + u" cannot be read: the repository is damaged.";
  return hr;
}

HRESULT Session::DirectChildren(const NamespaceInfo& ns, WStringView name, std::vector<WString>* out) {
  out->clear();
  for (const auto& c : SystemClasses())
    if (EqualsNoCase(c->superclass, name)) out->push_back(c->name);
  // The index is named: left to itself, SQLite walks the namespace's rows in primary-key order,
  // and an export (one call per class) then reads every class text once per class. The names
  // are sorted below.
  Statement q = repo_.db_->Sql("SELECT name FROM classes INDEXED BY classes_by_super WHERE ns=?1 AND super=?2");
  q.Bind(1, ns.id).Bind(2, Fold(name));
  bool row = false;
  HRESULT hr;
  while (SUCCEEDED(hr = q.Step(&row)) && row) out->push_back(Utf8ToWide(q.Text(0)));
  std::sort(out->begin(), out->end(), [](const WString& a, const WString& b) { return vr::text::CompareNoCase(a, b) < 0; });
  return hr;
}

HRESULT Session::ClassAndDescendants(const NamespaceInfo& ns, WStringView name, std::vector<WString>* out) {
  out->clear();
  out->push_back(WString(name));
  for (size_t i = 0; i < out->size(); ++i) {
    std::vector<WString> children;
    if (HRESULT hr = DirectChildren(ns, (*out)[i], &children); FAILED(hr)) return hr;
    out->insert(out->end(), children.begin(), children.end());
    if (out->size() > 100000) return WBEM_E_CRITICAL_ERROR;
  }
  return S_OK;
}

HRESULT Session::ListClasses(const NamespaceInfo& ns, WStringView superclass, bool deep, bool withSystem,
                             std::vector<WString>* out) {
  out->clear();
  // Depth first, so that every class follows its superclass.
  std::vector<std::pair<WString, bool>> stack;  // name, emit
  std::vector<WString> roots;
  if (HRESULT hr = DirectChildren(ns, superclass, &roots); FAILED(hr)) return hr;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, true);
  while (!stack.empty()) {
    WString name = std::move(stack.back().first);
    stack.pop_back();
    const bool system = name.size() >= 2 && name[0] == u'_' && name[1] == u'_';
    if (withSystem || !system) out->push_back(name);
    if (!deep) continue;
    std::vector<WString> children;
    if (HRESULT hr = DirectChildren(ns, name, &children); FAILED(hr)) return hr;
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, true);
    if (out->size() > 100000) return WBEM_E_CRITICAL_ERROR;
  }
  return S_OK;
}

HRESULT Session::HasInstances(const NamespaceInfo& ns, const std::vector<WString>& classes, bool* any) {
  *any = false;
  for (const auto& c : classes) {
    Statement q = repo_.db_->Sql("SELECT 1 FROM instances WHERE ns=?1 AND class=?2 LIMIT 1");
    q.Bind(1, ns.id).Bind(2, Fold(c));
    bool row = false;
    if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
    if (row) { q.Reset(); *any = true; return S_OK; }
  }
  return S_OK;
}

HRESULT Session::DeleteInstancesOf(const NamespaceInfo& ns, WStringView cls) {
  const std::string f = Fold(cls);
  HRESULT hr = repo_.db_->Sql("DELETE FROM instance_keys WHERE inst IN (SELECT id FROM instances WHERE ns=?1 AND class=?2)")
                   .Bind(1, ns.id).Bind(2, f).Run();
  if (FAILED(hr)) return hr;
  return repo_.db_->Sql("DELETE FROM instances WHERE ns=?1 AND class=?2").Bind(1, ns.id).Bind(2, f).Run();
}

HRESULT Session::DeleteClassTree(const NamespaceInfo& ns, WStringView name) {
  std::vector<WString> tree;
  if (HRESULT hr = ClassAndDescendants(ns, name, &tree); FAILED(hr)) return hr;
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    if (HRESULT hr = DeleteInstancesOf(ns, *it); FAILED(hr)) return hr;
    HRESULT hr = repo_.db_->Sql("DELETE FROM classes WHERE ns=?1 AND fold=?2").Bind(1, ns.id).Bind(2, Fold(*it)).Run();
    if (FAILED(hr)) return hr;
  }
  return TouchSchema();
}

HRESULT Session::DeleteClass(const NamespaceInfo& ns, WStringView name, WString* why) {
  if (SystemClass(name)) {
    if (why) *why = u"The system class " + WString(name) + u" cannot be deleted.";
    return WBEM_E_INVALID_OPERATION;
  }
  bool exists = false;
  if (HRESULT hr = ClassRow(ns, name, &exists, nullptr, nullptr); FAILED(hr)) return hr;
  if (!exists) {
    if (why) *why = u"The class " + WString(name) + u" does not exist in " + ns.name + u".";
    return WBEM_E_NOT_FOUND;
  }
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  SchemaGuard guard(repo_.classCache_);
  if (HRESULT hr = DeleteClassTree(ns, name); FAILED(hr)) return hr;
  guard.armed = false;
  return sp.Release();
}

HRESULT Session::PutClass(const NamespaceInfo& ns, const ClassDecl& declIn, long flags, WString* why,
                          int* failedProperty, int* failedMethod) {
  if (failedProperty) *failedProperty = -1;
  if (failedMethod) *failedMethod = -1;
  auto fail = [&](HRESULT hr, const WString& text) {
    if (why) *why = text;
    return hr;
  };
  if ((flags & WBEM_FLAG_CREATE_ONLY) && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_INVALID_PARAMETER, u"Create-only and update-only exclude each other.");
  if ((flags & WBEM_MASK_UPDATE_MODE) == WBEM_MASK_UPDATE_MODE)
    return fail(WBEM_E_INVALID_PARAMETER, u"Safe and force update modes exclude each other.");
  if (declIn.name.empty()) return fail(WBEM_E_INVALID_OBJECT, u"The class has no name (__CLASS is not set).");
  if (!IsValidIdentifier(declIn.name)) return fail(WBEM_E_INVALID_PARAMETER, u"\"" + declIn.name + u"\" is not a valid class name.");
  if (declIn.name.size() >= 2 && declIn.name[0] == u'_' && declIn.name[1] == u'_')
    return fail(WBEM_E_INVALID_OPERATION, u"System classes (names beginning with __) cannot be changed.");

  bool exists = false;
  WString storedName;
  if (HRESULT hr = ClassRow(ns, declIn.name, &exists, nullptr, &storedName); FAILED(hr)) return hr;
  if (exists && (flags & WBEM_FLAG_CREATE_ONLY))
    return fail(WBEM_E_ALREADY_EXISTS, u"The class " + declIn.name + u" already exists.");
  if (!exists && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_NOT_FOUND, u"The class " + declIn.name + u" does not exist, so it cannot be updated.");

  std::shared_ptr<const ResolvedClass> parent;
  if (!declIn.superclass.empty()) {
    HRESULT hr = GetClass(ns, declIn.superclass, &parent, nullptr);
    if (hr == WBEM_E_NOT_FOUND)
      return fail(WBEM_E_INVALID_SUPERCLASS, u"The superclass " + declIn.superclass + u" of " + declIn.name + u" does not exist.");
    if (FAILED(hr)) return hr;
    if (EqualsNoCase(parent->name, declIn.name) || parent->InheritsFrom(declIn.name))
      return fail(WBEM_E_CIRCULAR_REFERENCE, u"The class " + declIn.name + u" cannot derive from itself.");
  }
  std::shared_ptr<const ResolvedClass> resolved;
  WString reason;
  ResolveChecks checks;
  // A reference may name a class that is not there yet, as any reference may (an export
  // lists classes by name, not in the order they refer to each other); a class that is there
  // must descend from the class of the inherited reference.
  checks.isSubclassOf = [&](WStringView derived, WStringView base) {
    std::shared_ptr<const ResolvedClass> c;
    const HRESULT hr = GetClass(ns, derived, &c, nullptr);
    if (hr == WBEM_E_NOT_FOUND) return true;
    return SUCCEEDED(hr) && (EqualsNoCase(c->name, base) || c->InheritsFrom(base));
  };
  if (HRESULT hr = ResolveClass(declIn, parent, &resolved, &reason, &checks); FAILED(hr)) {
    if (failedProperty) *failedProperty = checks.failedProperty;
    if (failedMethod) *failedMethod = checks.failedMethod;
    return fail(hr, reason);
  }
  const ClassDecl decl = LocalDeclaration(*resolved);

  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  SchemaGuard guard(repo_.classCache_);
  std::vector<WString> family;  // the class and its descendants
  std::shared_ptr<const ResolvedClass> old;
  bool instanceConflict = false, keysChanged = false, anyInstances = false;
  if (exists) {
    if (HRESULT hr = GetClass(ns, declIn.name, &old, why); FAILED(hr)) return hr;
    const bool superChanged = !EqualsNoCase(old->superclass, resolved->superclass);
    bool propsChanged = old->properties.size() != resolved->properties.size() || superChanged;
    for (const auto& p : old->properties) {
      const int at = resolved->FindProperty(p.name);
      if (at < 0) { instanceConflict = propsChanged = true; continue; }
      if (!SameType(p, resolved->properties[static_cast<size_t>(at)])) instanceConflict = propsChanged = true;
    }
    keysChanged = old->keys.size() != resolved->keys.size();
    for (size_t i = 0; !keysChanged && i < old->keys.size(); ++i) {
      const auto& a = old->properties[old->keys[i]];
      const auto& b = resolved->properties[resolved->keys[i]];
      keysChanged = !EqualsNoCase(a.name, b.name) || !SameType(a, b);
    }
    instanceConflict = instanceConflict || keysChanged || superChanged;
    if (HRESULT hr = ClassAndDescendants(ns, declIn.name, &family); FAILED(hr)) return hr;
    if (HRESULT hr = HasInstances(ns, family, &anyInstances); FAILED(hr)) return hr;
    const long mode = flags & WBEM_MASK_UPDATE_MODE;
    if (instanceConflict && anyInstances && mode != WBEM_FLAG_UPDATE_FORCE_MODE)
      return fail(WBEM_E_CLASS_HAS_INSTANCES, u"The class " + declIn.name +
                  u" has instances, and the change removes, retypes or rekeys properties they hold.");
    if (family.size() > 1 && propsChanged && mode == WBEM_FLAG_UPDATE_COMPATIBLE)
      return fail(WBEM_E_CLASS_HAS_CHILDREN, u"The class " + declIn.name +
                  u" has subclasses; changing its properties needs the safe or force update mode.");
  }

  HRESULT hr = repo_.db_->Sql("INSERT OR REPLACE INTO classes(ns, fold, name, super, text) VALUES(?1, ?2, ?3, ?4, ?5)")
                   .Bind(1, ns.id).Bind(2, Fold(decl.name)).Bind(3, WideToUtf8(decl.name))
                   .Bind(4, Fold(decl.superclass)).Bind(5, WideToUtf8(MofClassText(decl, 0))).Run();
  if (FAILED(hr)) return hr;
  if (HRESULT t = TouchSchema(); FAILED(t)) return t;

  if (exists && family.size() > 1) {
    // Subclasses must still resolve against the new definition; the force mode deletes those
    // that do not (with their instances), the safe mode refuses the change.
    for (size_t i = 1; i < family.size(); ++i) {
      std::shared_ptr<const ResolvedClass> child;
      HRESULT ch = GetClass(ns, family[i], &child, nullptr);
      if (ch == WBEM_E_NOT_FOUND) continue;  // deleted with a conflicting ancestor
      if (SUCCEEDED(ch)) continue;
      if ((flags & WBEM_MASK_UPDATE_MODE) != WBEM_FLAG_UPDATE_FORCE_MODE) {
        return fail(WBEM_E_CLASS_HAS_CHILDREN, u"The subclass " + family[i] + u" of " + declIn.name +
                    u" conflicts with the new definition.");
      }
      if (HRESULT d = DeleteClassTree(ns, family[i]); FAILED(d)) return d;
    }
  }
  if (exists && instanceConflict && anyInstances) {
    std::vector<WString> remaining;
    if (HRESULT r = ClassAndDescendants(ns, declIn.name, &remaining); FAILED(r)) return r;
    if (HRESULT m = MigrateInstances(ns, remaining, *old, keysChanged); FAILED(m)) return m;
  }
  if (HRESULT r = sp.Release(); FAILED(r)) return r;
  guard.armed = false;
  return S_OK;
}

HRESULT Session::MigrateInstances(const NamespaceInfo& ns, const std::vector<WString>& classes,
                                  const ResolvedClass&, bool keysChanged) {
  for (const auto& c : classes) {
    if (keysChanged) {
      if (HRESULT hr = DeleteInstancesOf(ns, c); FAILED(hr)) return hr;
      continue;
    }
    std::shared_ptr<const ResolvedClass> cls;
    if (HRESULT hr = GetClass(ns, c, &cls, nullptr); FAILED(hr)) return hr;
    std::vector<std::pair<int64_t, std::string>> rows;
    {
      Statement q = repo_.db_->Sql("SELECT id, data FROM instances WHERE ns=?1 AND class=?2");
      q.Bind(1, ns.id).Bind(2, Fold(c));
      bool row = false;
      HRESULT hr;
      while (SUCCEEDED(hr = q.Step(&row)) && row) rows.emplace_back(q.Int(0), std::string(q.Blob(1)));
      if (FAILED(hr)) return hr;
    }
    for (auto& [id, data] : rows) {
      InstanceRecord rec;
      if (HRESULT hr = DecodeInstance(data.data(), data.size(), cls, &rec); FAILED(hr)) return hr;
      for (size_t i = 0; i < rec.values.size(); ++i) {
        Variant v;
        if (FAILED(ConvertToCim(rec.values[i], cls->properties[i].type, &v))) v = Variant::Null();
        rec.values[i] = std::move(v);
      }
      HRESULT hr = repo_.db_->Sql("UPDATE instances SET data=?1 WHERE id=?2").BindBlob(1, EncodeInstance(rec)).Bind(2, id).Run();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

// ---- qualifier declarations ---------------------------------------------------------------

namespace {

bool ParseDeclaration(const std::string& text, QualifierDecl* out) {
  MofDocument doc;
  MofError error;
  MofReadOptions stored;
  stored.storedText = true;
  if (FAILED(ReadMof(Utf8ToWide(text), u"root", &doc, &error, &stored)) || doc.statements.size() != 1 ||
      doc.statements[0].kind != MofStatement::Kind::kQualifier)
    return false;
  *out = std::move(doc.statements[0].qualifier);
  return true;
}

}  // namespace

HRESULT Session::PutQualifierDecl(const NamespaceInfo& ns, const QualifierDecl& decl, WString* why) {
  if (!IsValidIdentifier(decl.name)) {
    if (why) *why = u"\"" + decl.name + u"\" is not a valid qualifier name.";
    return WBEM_E_INVALID_PARAMETER;
  }
  return repo_.db_->Sql("INSERT OR REPLACE INTO qualifier_decls(ns, fold, name, text) VALUES(?1, ?2, ?3, ?4)")
      .Bind(1, ns.id).Bind(2, Fold(decl.name)).Bind(3, WideToUtf8(decl.name))
      .Bind(4, WideToUtf8(MofQualifierDeclText(decl))).Run();
}

HRESULT Session::GetQualifierDecl(const NamespaceInfo& ns, WStringView name, QualifierDecl* out) {
  Statement q = repo_.db_->Sql("SELECT text FROM qualifier_decls WHERE ns=?1 AND fold=?2");
  q.Bind(1, ns.id).Bind(2, Fold(name));
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  if (!row) return WBEM_E_NOT_FOUND;
  const std::string text(q.Text(0));
  q.Reset();
  return ParseDeclaration(text, out) ? S_OK : WBEM_E_CRITICAL_ERROR;
}

HRESULT Session::ListQualifierDecls(const NamespaceInfo& ns, std::vector<QualifierDecl>* out) {
  out->clear();
  Statement q = repo_.db_->Sql("SELECT text FROM qualifier_decls WHERE ns=?1 ORDER BY fold");
  q.Bind(1, ns.id);
  bool row = false;
  HRESULT hr;
  std::vector<std::string> texts;
  while (SUCCEEDED(hr = q.Step(&row)) && row) texts.emplace_back(q.Text(0));
  if (FAILED(hr)) return hr;
  for (const auto& t : texts) {
    QualifierDecl d;
    if (!ParseDeclaration(t, &d)) return WBEM_E_CRITICAL_ERROR;
    out->push_back(std::move(d));
  }
  return S_OK;
}

// ---- instances ----------------------------------------------------------------------------

HRESULT Session::Decode(const NamespaceInfo& ns, std::string_view rowClass, std::string_view data, InstanceRecord* out) {
  std::shared_ptr<const ResolvedClass> cls;
  if (HRESULT hr = GetClass(ns, Utf8ToWide(rowClass), &cls, nullptr); FAILED(hr))
    return hr == WBEM_E_NOT_FOUND ? WBEM_E_CRITICAL_ERROR : hr;
  return DecodeInstance(data.data(), data.size(), cls, out);
}

HRESULT Session::FindRow(const NamespaceInfo& ns, const ResolvedClass& cls, const std::string& key, bool* found,
                         int64_t* id, std::string* rowClass, std::string* data) {
  Statement q = repo_.db_->Sql("SELECT id, class, data FROM instances WHERE ns=?1 AND key_class=?2 AND ikey=?3");
  q.Bind(1, ns.id).Bind(2, Fold(KeySpace(cls))).Bind(3, key);
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  *found = row;
  if (row) {
    *id = q.Int(0);
    *rowClass = std::string(q.Text(1));
    if (data) *data = std::string(q.Blob(2));
    q.Reset();
  }
  return S_OK;
}

HRESULT Session::NamespaceInstance(const NamespaceInfo& ns, WStringView child, InstanceRecord* out) {
  std::vector<WString> children;
  if (HRESULT hr = ChildNamespaces(ns, &children); FAILED(hr)) return hr;
  for (const auto& c : children)
    if (EqualsNoCase(c, child)) {
      out->cls = SystemClass(u"__NAMESPACE");
      out->values.assign(out->cls->properties.size(), Variant::Null());
      out->values[static_cast<size_t>(out->cls->FindProperty(u"Name"))] = Variant(c);
      return S_OK;
    }
  return WBEM_E_NOT_FOUND;
}

HRESULT Session::GetInstance(const NamespaceInfo& ns, const ObjectPath& path, InstanceRecord* out, WString* why) {
  std::shared_ptr<const ResolvedClass> cls;
  if (HRESULT hr = GetClass(ns, path.className, &cls, why); FAILED(hr)) return hr;
  WString canon;
  if (HRESULT hr = CanonicalPathKey(*cls, path, ns.name, &canon); FAILED(hr)) {
    if (why) *why = u"The path does not name the keys of " + cls->name + u".";
    return hr;
  }
  if (IsNamespaceClass(*cls)) {
    HRESULT hr = NamespaceInstance(ns, path.keys[0].text, out);
    if (hr == WBEM_E_NOT_FOUND && why) *why = u"The namespace " + ns.name + u"\\" + path.keys[0].text + u" does not exist.";
    return hr;
  }
  bool found = false;
  int64_t id = 0;
  std::string rowClass, data;
  if (HRESULT hr = FindRow(ns, *cls, WideToUtf8(canon), &found, &id, &rowClass, &data); FAILED(hr)) return hr;
  InstanceRecord rec;
  if (found) {
    if (HRESULT hr = Decode(ns, rowClass, data, &rec); FAILED(hr)) return hr;
    found = EqualsNoCase(rec.cls->name, cls->name) || rec.cls->InheritsFrom(cls->name);
  }
  if (!found) {
    if (why) *why = u"There is no such instance of " + cls->name + u".";
    return WBEM_E_NOT_FOUND;
  }
  *out = std::move(rec);
  return S_OK;
}

HRESULT Session::WriteInstance(const NamespaceInfo& ns, const ResolvedClass& cls, const InstanceRecord& rec,
                               const std::string& key, bool exists, int64_t id) {
  const std::string blob = EncodeInstance(rec);
  if (exists)
    return repo_.db_->Sql("UPDATE instances SET data=?1, class=?2 WHERE id=?3").BindBlob(1, blob)
        .Bind(2, Fold(cls.name)).Bind(3, id).Run();
  const std::string keySpace = Fold(KeySpace(cls));
  HRESULT hr = repo_.db_->Sql("INSERT INTO instances(ns, key_class, ikey, class, data) VALUES(?1, ?2, ?3, ?4, ?5)")
                   .Bind(1, ns.id).Bind(2, keySpace).Bind(3, key).Bind(4, Fold(cls.name)).BindBlob(5, blob).Run();
  if (FAILED(hr)) return hr;
  const int64_t newId = repo_.db_->LastInsertId();
  for (size_t k : cls.keys) {
    WString canon;
    if (HRESULT c = CanonicalKeyOfValue(rec.values[k], cls.properties[k].type, ns.name, &canon); FAILED(c)) return c;
    hr = repo_.db_->Sql("INSERT INTO instance_keys(inst, ns, key_class, name, value) VALUES(?1, ?2, ?3, ?4, ?5)")
             .Bind(1, newId).Bind(2, ns.id).Bind(3, keySpace).Bind(4, KeyName(cls.properties[k]))
             .Bind(5, WideToUtf8(canon)).Run();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Session::PutInstance(const NamespaceInfo& ns, const InstanceRecord& in, long flags, WString* relPath,
                             WString* why) {
  auto fail = [&](HRESULT hr, const WString& text) {
    if (why) *why = text;
    return hr;
  };
  if ((flags & WBEM_FLAG_CREATE_ONLY) && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_INVALID_PARAMETER, u"Create-only and update-only exclude each other.");
  std::shared_ptr<const ResolvedClass> cls;
  if (HRESULT hr = GetClass(ns, in.cls->name, &cls, why); FAILED(hr))
    return hr == WBEM_E_NOT_FOUND ? WBEM_E_INVALID_CLASS : hr;
  if (cls->IsAbstract()) return fail(WBEM_E_INVALID_OPERATION, u"The class " + cls->name + u" is abstract and has no instances.");
  if (cls->keys.empty() && !cls->IsSingleton())
    return fail(WBEM_E_INVALID_CLASS, u"The class " + cls->name + u" has no key, so its instances cannot be stored.");

  // The values go into the class as it is now, by name.
  InstanceRecord rec;
  rec.cls = cls;
  rec.qualifiers = in.qualifiers;
  rec.propertyQualifiers = in.propertyQualifiers;
  rec.values.reserve(cls->properties.size());
  for (const auto& p : cls->properties) {
    const int at = in.cls->FindProperty(p.name);
    if (at < 0 || static_cast<size_t>(at) >= in.values.size()) { rec.values.push_back(p.value); continue; }
    Variant v;
    if (FAILED(ConvertToCim(in.values[static_cast<size_t>(at)], p.type, &v)))
      return fail(WBEM_E_TYPE_MISMATCH, u"The value of " + p.name + u" does not fit its type.");
    rec.values.push_back(std::move(v));
  }
  for (size_t k : cls->keys)
    if (rec.values[k].vt == VT_NULL)
      return fail(WBEM_E_ILLEGAL_NULL, u"The key property " + cls->properties[k].name + u" of " + cls->name + u" has no value.");
  if (IsNamespaceClass(*cls)) {
    const Variant& name = rec.values[cls->keys[0]];
    if (HRESULT hr = CreateNamespace(ns, name.bstrVal, flags, why); FAILED(hr)) return hr;
    if (relPath) *relPath = RelativePath(*cls, rec.values);
    return S_OK;
  }
  WString canon;
  if (HRESULT hr = CanonicalInstanceKey(*cls, rec.values, ns.name, &canon); FAILED(hr))
    return fail(hr == WBEM_E_INVALID_OBJECT_PATH ? WBEM_E_INVALID_OBJECT_PATH : hr,
                u"A key value of the " + cls->name + u" instance is not valid.");
  const std::string key = WideToUtf8(canon);
  bool found = false;
  int64_t id = 0;
  std::string rowClass;
  if (HRESULT hr = FindRow(ns, *cls, key, &found, &id, &rowClass, nullptr); FAILED(hr)) return hr;
  if (found && (flags & WBEM_FLAG_CREATE_ONLY))
    return fail(WBEM_E_ALREADY_EXISTS, u"The instance " + RelativePath(*cls, rec.values) + u" already exists.");
  if (!found && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_NOT_FOUND, u"The instance " + RelativePath(*cls, rec.values) + u" does not exist, so it cannot be updated.");
  if (found && rowClass != Fold(cls->name))
    return fail(WBEM_E_ALREADY_EXISTS, u"An instance of " + Utf8ToWide(rowClass) + u" already has the key of " +
                RelativePath(*cls, rec.values) + u".");
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  if (HRESULT hr = WriteInstance(ns, *cls, rec, key, found, id); FAILED(hr)) return hr;
  if (HRESULT hr = sp.Release(); FAILED(hr)) return hr;
  if (relPath) *relPath = RelativePath(*cls, rec.values);
  return S_OK;
}

HRESULT Session::DeleteInstance(const NamespaceInfo& ns, const ObjectPath& path, WString* why) {
  std::shared_ptr<const ResolvedClass> cls;
  if (HRESULT hr = GetClass(ns, path.className, &cls, why); FAILED(hr)) return hr;
  WString canon;
  if (HRESULT hr = CanonicalPathKey(*cls, path, ns.name, &canon); FAILED(hr)) {
    if (why) *why = u"The path does not name the keys of " + cls->name + u".";
    return hr;
  }
  if (IsNamespaceClass(*cls)) return DeleteNamespace(ns, path.keys[0].text, why);
  bool found = false;
  int64_t id = 0;
  std::string rowClass;
  if (HRESULT hr = FindRow(ns, *cls, WideToUtf8(canon), &found, &id, &rowClass, nullptr); FAILED(hr)) return hr;
  if (found && rowClass != Fold(cls->name)) {
    std::shared_ptr<const ResolvedClass> actual;
    found = SUCCEEDED(GetClass(ns, Utf8ToWide(rowClass), &actual, nullptr)) && actual->InheritsFrom(cls->name);
  }
  if (!found) {
    if (why) *why = u"There is no such instance of " + cls->name + u".";
    return WBEM_E_NOT_FOUND;
  }
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  if (HRESULT hr = repo_.db_->Sql("DELETE FROM instance_keys WHERE inst=?1").Bind(1, id).Run(); FAILED(hr)) return hr;
  if (HRESULT hr = repo_.db_->Sql("DELETE FROM instances WHERE id=?1").Bind(1, id).Run(); FAILED(hr)) return hr;
  return sp.Release();
}

bool Session::Matches(const InstanceRecord& rec, const std::vector<PropertyCondition>& conditions,
                      WStringView ns) const {
  for (const auto& c : conditions) {
    const PropertyDef& p = rec.cls->properties[static_cast<size_t>(c.property)];
    const Variant& have = rec.values[static_cast<size_t>(c.property)];
    if (c.value.vt == VT_NULL) {
      if (have.vt != VT_NULL) return false;
      continue;
    }
    if (have.vt == VT_NULL) return false;
    // Strings compare without regard to case and references as paths, like keys do.
    WString a, b;
    if (FAILED(CanonicalKeyOfValue(have, p.type, ns, &a)) || FAILED(CanonicalKeyOfValue(c.value, p.type, ns, &b))) {
      if (have != c.value) return false;
      continue;
    }
    if (a != b) return false;
  }
  return true;
}

HRESULT Session::ReadPage(const NamespaceInfo& ns, const std::vector<WString>& classes,
                          const std::vector<PropertyCondition>& conditions, PageCursor* cursor, size_t limit,
                          std::vector<InstanceRecord>* out) {
  out->clear();
  if (cursor->done || classes.empty()) { cursor->done = true; return S_OK; }
  std::shared_ptr<const ResolvedClass> top;
  if (HRESULT hr = GetClass(ns, classes[0], &top, nullptr); FAILED(hr)) return hr;

  if (IsNamespaceClass(*top)) {
    std::vector<WString> children;
    if (HRESULT hr = ChildNamespaces(ns, &children); FAILED(hr)) return hr;
    for (const auto& c : children) {
      InstanceRecord rec;
      if (HRESULT hr = NamespaceInstance(ns, c, &rec); FAILED(hr)) return hr;
      if (Matches(rec, conditions, ns.name)) out->push_back(std::move(rec));
    }
    cursor->done = true;
    return S_OK;
  }

  // A condition on a key is answered from the key index; the rest is filtered here.
  const PropertyCondition* keyCondition = nullptr;
  for (const auto& c : conditions)
    if (top->properties[static_cast<size_t>(c.property)].IsKey() && c.value.vt != VT_NULL) keyCondition = &c;
  // Results are instances of the listed classes (by instance class, so a condition on an
  // inherited key finds instances of subclasses too), with the conditions met on properties
  // resolved by name in the instance's class.
  auto accept = [&](InstanceRecord& rec) {
    bool listed = false;
    for (const auto& c : classes) listed = listed || EqualsNoCase(c, rec.cls->name);
    if (!listed) return false;
    for (const auto& c : conditions) {
      const PropertyDef& p = top->properties[static_cast<size_t>(c.property)];
      const int at = rec.cls->FindProperty(p.name);
      if (at < 0) return false;
      PropertyCondition local{at, c.value};
      if (!Matches(rec, {local}, ns.name)) return false;
    }
    return true;
  };

  if (keyCondition) {
    const PropertyDef& p = top->properties[static_cast<size_t>(keyCondition->property)];
    WString canon;
    if (FAILED(CanonicalKeyOfValue(keyCondition->value, p.type, ns.name, &canon))) { cursor->done = true; return S_OK; }
    Statement q = repo_.db_->Sql(
        "SELECT i.id, i.class, i.data FROM instance_keys k JOIN instances i ON i.id = k.inst "
        "WHERE k.ns=?1 AND k.key_class=?2 AND k.name=?3 AND k.value=?4 AND k.inst > ?5 ORDER BY k.inst LIMIT ?6");
    q.Bind(1, ns.id).Bind(2, Fold(KeySpace(*top))).Bind(3, KeyName(p)).Bind(4, WideToUtf8(canon))
        .Bind(5, cursor->lastId).Bind(6, static_cast<int64_t>(limit));
    bool row = false;
    HRESULT hr;
    size_t seen = 0;
    while (SUCCEEDED(hr = q.Step(&row)) && row) {
      ++seen;
      cursor->lastId = q.Int(0);
      InstanceRecord rec;
      if (HRESULT d = Decode(ns, q.Text(1), q.Blob(2), &rec); FAILED(d)) { q.Reset(); return d; }
      if (accept(rec)) out->push_back(std::move(rec));
    }
    if (FAILED(hr)) return hr;
    if (seen < limit) cursor->done = true;
    return S_OK;
  }

  while (out->size() < limit && cursor->classIndex < classes.size()) {
    Statement q = repo_.db_->Sql(
        "SELECT ikey, class, data FROM instances WHERE ns=?1 AND class=?2 AND ikey > ?3 ORDER BY ikey LIMIT ?4");
    q.Bind(1, ns.id).Bind(2, Fold(classes[cursor->classIndex])).Bind(3, cursor->lastKey)
        .Bind(4, static_cast<int64_t>(limit - out->size()));
    bool row = false;
    HRESULT hr;
    size_t seen = 0;
    const size_t wanted = limit - out->size();
    while (SUCCEEDED(hr = q.Step(&row)) && row) {
      ++seen;
      cursor->lastKey = std::string(q.Text(0));
      InstanceRecord rec;
      if (HRESULT d = Decode(ns, q.Text(1), q.Blob(2), &rec); FAILED(d)) { q.Reset(); return d; }
      if (conditions.empty() || accept(rec)) out->push_back(std::move(rec));
    }
    if (FAILED(hr)) return hr;
    if (seen < wanted) {
      ++cursor->classIndex;
      cursor->lastKey.clear();
    }
    if (!conditions.empty() && seen == wanted) break;  // a filtered page may come back short
  }
  if (cursor->classIndex >= classes.size()) cursor->done = true;
  return S_OK;
}

}  // namespace vr::wmi
