// The WMI repository of a host: namespaces, classes and instances in one SQLite database in
// the host root ("wmi/repository.db"). Every change is durable when its transaction commits,
// a transaction is all or nothing, and programs running at once are serialised by the
// database's lock (a waiter gives up after VR_WMI_LOCK_TIMEOUT_MS, 10 s by default, with
// WBEM_E_SERVER_TOO_BUSY). Enumerations read pages, so memory follows what a call returns.
//
// Classes and qualifier declarations are stored as their MOF text, instances in the binary form of
// instance_codec.h with their canonical key, and every key value once more in an index so that
// a query on any key is a lookup.
//
// The implementation is in parts: repository.cpp (opening, tables, deferred commits),
// repository_session.cpp, repository_namespaces.cpp, repository_classes.cpp,
// repository_qualifiers.cpp, repository_instances.cpp and repository_queries.cpp.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/wmi/instance_codec.h"
#include "platform/wmi/object_model.h"
#include "platform/wmi/object_path.h"
#include "platform/wmi/sqlite_store.h"

namespace vr::wmi {

class Repository {
 public:
  // The repository of the current host root (vr::os::HostRoot()), one per path and process.
  // WBEM_E_INVALID_NAMESPACE when the host root folder does not exist.
  static HRESULT OpenHost(std::shared_ptr<Repository>* out, WString* why);
  // The same for the host root folder root.
  static HRESULT OpenRoot(const std::string& root, std::shared_ptr<Repository>* out, WString* why);
  static HRESULT OpenFile(const std::string& path, std::shared_ptr<Repository>* out, WString* why);
  // The database file of the current host root.
  static std::string HostDatabasePath();

  const std::string& path() const { return path_; }

  // See SetDeferredCommits.
  HRESULT SetDeferredCommits(bool deferred);

 private:
  friend class Session;
  Repository() = default;
  HRESULT Initialize(WString* why);

  std::string path_;
  std::recursive_mutex mutex_;
  std::unique_ptr<Database> db_;
  int depth_ = 0;  // sessions open on this thread; inner ones are savepoints
  int64_t cachedSchema_ = -1;
  std::map<std::pair<int64_t, std::string>, std::shared_ptr<const ResolvedClass>> classCache_;
};

// Commits of the current host's repository in this process without a flush of their own
// (SQLite's synchronous=NORMAL in WAL mode): each commit stays atomic, but a power cut may lose
// the latest ones. Only for a caller that has durably recorded, before its first change, how to
// put back whatever it changes. Turning it off flushes what was committed (one sync) and makes
// every later commit durable again. Fault point "wmi.SetDeferredCommits".
HRESULT SetDeferredCommits(bool deferred);

struct NamespaceInfo {
  int64_t id = 0;
  WString name;  // "root\Tamberlin\Vorant\data" as created
};

// Where a paged read continues.
struct PageCursor {
  size_t classIndex = 0;   // class scans: index into the class list
  std::string lastKey;     // class scans: last canonical key read
  int64_t lastId = 0;      // key-index reads: last instance id read
  bool done = false;
};

// One condition of a query: a property and the value it must equal (VT_NULL: is null).
struct PropertyCondition {
  int property = -1;  // index into the class's properties
  Variant value;
};

// One transaction on the repository. It holds the repository's lock for its lifetime; what it
// did is undone unless Commit succeeds. Errors are WMI codes, with a description in *why.
class Session {
 public:
  Session(Repository& repo, bool write);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  HRESULT status() const { return status_; }
  HRESULT Commit();

  // Namespaces.
  HRESULT FindNamespace(WStringView name, NamespaceInfo* out, WString* why);
  HRESULT ChildNamespaces(const NamespaceInfo& ns, std::vector<WString>* names);
  HRESULT AllNamespaces(std::vector<NamespaceInfo>* out);
  HRESULT CreateNamespace(const NamespaceInfo& parent, WStringView child, long flags, WString* why);
  HRESULT DeleteNamespace(const NamespaceInfo& parent, WStringView child, WString* why);

  // Classes. GetClass gives WBEM_E_NOT_FOUND for an unknown class.
  HRESULT GetClass(const NamespaceInfo& ns, WStringView name, std::shared_ptr<const ResolvedClass>* out,
                   WString* why = nullptr);
  // failedProperty (when given) receives the index in decl.properties of the property a
  // failure is about, or -1 when it is about the class; failedMethod the same for methods.
  HRESULT PutClass(const NamespaceInfo& ns, const ClassDecl& decl, long flags, WString* why,
                   int* failedProperty = nullptr, int* failedMethod = nullptr);
  HRESULT DeleteClass(const NamespaceInfo& ns, WStringView name, WString* why);
  // The class and all its descendants (system classes included), the class first.
  HRESULT ClassAndDescendants(const NamespaceInfo& ns, WStringView name, std::vector<WString>* out);
  // Direct subclasses (shallow) or all descendants (deep) of superclass; all classes when
  // superclass is empty. Every class after its superclass, siblings by name.
  HRESULT ListClasses(const NamespaceInfo& ns, WStringView superclass, bool deep, bool withSystem,
                      std::vector<WString>* out);

  // Qualifier declarations of a namespace: later MOF imports type and flavour their uses by
  // them. GetQualifierDecl gives WBEM_E_NOT_FOUND for an undeclared qualifier; the list is
  // sorted by name.
  HRESULT PutQualifierDecl(const NamespaceInfo& ns, const QualifierDecl& decl, WString* why);
  HRESULT GetQualifierDecl(const NamespaceInfo& ns, WStringView name, QualifierDecl* out);
  HRESULT ListQualifierDecls(const NamespaceInfo& ns, std::vector<QualifierDecl>* out);

  // Instances.
  HRESULT GetInstance(const NamespaceInfo& ns, const ObjectPath& path, InstanceRecord* out, WString* why);
  // flags: WBEM_FLAG_CREATE_OR_UPDATE, WBEM_FLAG_UPDATE_ONLY, WBEM_FLAG_CREATE_ONLY.
  HRESULT PutInstance(const NamespaceInfo& ns, const InstanceRecord& in, long flags, WString* relPath,
                      WString* why);
  HRESULT DeleteInstance(const NamespaceInfo& ns, const ObjectPath& path, WString* why);

  // Reads up to limit instances of the listed classes (class names, any case) that meet the
  // conditions (of the class named first), in class order and then key order.
  HRESULT ReadPage(const NamespaceInfo& ns, const std::vector<WString>& classes,
                   const std::vector<PropertyCondition>& conditions, PageCursor* cursor, size_t limit,
                   std::vector<InstanceRecord>* out);

 private:
  HRESULT LoadClass(const NamespaceInfo& ns, WStringView name, int depth, std::shared_ptr<const ResolvedClass>* out);
  HRESULT TouchSchema();
  HRESULT ClassRow(const NamespaceInfo& ns, WStringView name, bool* exists, std::string* text, WString* storedName);
  HRESULT DirectChildren(const NamespaceInfo& ns, WStringView name, std::vector<WString>* out);
  HRESULT HasInstances(const NamespaceInfo& ns, const std::vector<WString>& classes, bool* any);
  HRESULT DeleteInstancesOf(const NamespaceInfo& ns, WStringView cls);
  HRESULT DeleteClassTree(const NamespaceInfo& ns, WStringView name);
  HRESULT ResolveClassToPut(const NamespaceInfo& ns, const ClassDecl& decl, std::shared_ptr<const ResolvedClass>* out,
                            WString* why, int* failedProperty, int* failedMethod);
  HRESULT ReconcileSubclasses(const NamespaceInfo& ns, WStringView name, const std::vector<WString>& family, long flags,
                              WString* why);
  HRESULT MigrateInstances(const NamespaceInfo& ns, const std::vector<WString>& classes,
                           const ResolvedClass& oldTop, bool keysChanged);
  HRESULT FindRow(const NamespaceInfo& ns, const ResolvedClass& cls, const std::string& key, bool* found,
                  int64_t* id, std::string* rowClass, std::string* data);
  HRESULT Decode(const NamespaceInfo& ns, std::string_view rowClass, std::string_view data, InstanceRecord* out);
  HRESULT NamespaceInstance(const NamespaceInfo& ns, WStringView child, InstanceRecord* out);
  // The class a path names and the canonical key of its key values.
  HRESULT ClassAndKeyOfPath(const NamespaceInfo& ns, const ObjectPath& path, std::shared_ptr<const ResolvedClass>* cls,
                            WString* canon, WString* why);
  HRESULT WriteInstance(const NamespaceInfo& ns, const ResolvedClass& cls, const InstanceRecord& rec,
                        const std::string& key, bool exists, int64_t id);
  bool Matches(const InstanceRecord& rec, const std::vector<PropertyCondition>& conditions, WStringView ns) const;

  Repository& repo_;
  std::unique_lock<std::recursive_mutex> lock_;
  bool open_ = false;
  bool nested_ = false;
  bool schemaChanged_ = false;
  int64_t schema_ = -1;
  HRESULT status_ = S_OK;
};

// Folded form of a name, the way the database compares them.
std::string Fold(WStringView name);

}  // namespace vr::wmi
