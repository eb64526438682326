// What the repository's parts share inside the library: the statement-level savepoint of one
// operation, the guard that drops classes loaded under a schema change that did not finish,
// and the key space of a class. Not for callers outside platform/wmi.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/text/casefold.h"
#include "platform/wmi/object_model.h"
#include "platform/wmi/repository.h"
#include "platform/wmi/sqlite_store.h"

namespace vr::wmi::repository_parts {

// The class whose key values an instance's key is unique among: the topmost keyed class.
inline WString KeySpace(const ResolvedClass& cls) { return cls.keyClass.empty() ? cls.name : cls.keyClass; }

// Instances of __NAMESPACE stand for the child namespaces; they have no rows of their own.
inline bool IsNamespaceClass(const ResolvedClass& cls) {
  return vr::text::EqualsNoCase(cls.name, u"__NAMESPACE") || cls.InheritsFrom(u"__NAMESPACE");
}

// The name a key value is indexed under.
inline std::string KeyName(const PropertyDef& p) { return Fold(p.name); }

// Undoes what one operation wrote when it does not finish.
class Savepoint {
 public:
  explicit Savepoint(Database& db) : db_(db) { hr_ = db_.Exec("SAVEPOINT op"); }
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
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

// Drops the classes an unfinished operation loaded after it changed the schema.
struct SchemaGuard {
  using Cache = std::map<std::pair<int64_t, std::string>, std::shared_ptr<const ResolvedClass>>;
  explicit SchemaGuard(Cache& cache) : cache_(cache) {}
  SchemaGuard(const SchemaGuard&) = delete;
  SchemaGuard& operator=(const SchemaGuard&) = delete;
  ~SchemaGuard() {
    if (armed) cache_.clear();
  }
  bool armed = true;

 private:
  Cache& cache_;
};

}  // namespace vr::wmi::repository_parts
