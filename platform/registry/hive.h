// The HKEY_LOCAL_MACHINE hive on disk: one SQLite database, registry.db, in the host root.
// Internal to the registry layer: the Win32-shaped calls (registry.h) and the .reg tools
// (regtools.h) are built on it; programs never see it.
//
// Every change runs in a write transaction taken with BEGIN IMMEDIATE and committed with
// synchronous=FULL, so it is on disk when the call returns and a crash leaves the old state or
// the new one. Two processes serialise on the database lock; a waiter gives up after the busy
// timeout (VR_REGISTRY_TIMEOUT_MS, default 10000) with ERROR_TIMEOUT. All results are Win32
// error codes.
//
// A root that is missing gives ERROR_PATH_NOT_FOUND, a root that is not a folder
// ERROR_DIRECTORY, one that cannot be entered ERROR_ACCESS_DENIED; a store that is not a hive
// (not a database, damaged, foreign schema) gives ERROR_BADDB and is never written. A root
// without registry.db reads as an empty hive; the first change creates the file.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"

namespace vr::sqlite {
class Connection;
class Statement;
}  // namespace vr::sqlite

namespace vr::registry {

using KeyId = int64_t;
constexpr KeyId kRootKeyId = 1;  // HKEY_LOCAL_MACHINE itself

struct StoredValue {
  WString name;
  DWORD type = 0;
  std::string data;
};

struct StoredKey {
  KeyId id = 0;
  WString name;
};

class Hive {
 public:
  static Hive& Instance();

  // Held by every caller for the length of one call: the hive has one connection per process.
  std::recursive_mutex& Mutex() { return mutex_; }

  // Opens (or re-opens, when VR_HOST_ROOT now names another root) the store. forWrite creates
  // a missing store file. Generation() changes whenever the store is re-opened, so that
  // handles of an earlier store can be told apart.
  long Ready(bool forWrite);
  uint64_t Generation() const { return generation_; }
  // Closes the connection; the next call opens it again.
  void Close();

  // Transactions nest: the outermost one is a real transaction, inner ones are savepoints.
  long Begin(bool write);
  long Commit();
  void Rollback();

  long KeyExists(KeyId id, bool& exists);
  long FindChild(KeyId parent, WStringView name, KeyId& child);  // ERROR_FILE_NOT_FOUND if none
  long CreateChild(KeyId parent, WStringView name, KeyId& child);
  long Children(KeyId parent, std::vector<StoredKey>& out);  // in enumeration order
  long ChildAt(KeyId parent, DWORD index, WString& name);    // ERROR_NO_MORE_ITEMS past the end
  long KeyName(KeyId id, WString& name);
  // Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some) and its values.
  long DeleteKey(KeyId id);
  // Deletes a key, its subkeys and all their values.
  long DeleteTree(KeyId id);

  long GetValue(KeyId key, WStringView name, StoredValue& out);  // ERROR_FILE_NOT_FOUND if none
  long SetValue(KeyId key, WStringView name, DWORD type, const void* data, size_t size);
  long DeleteValue(KeyId key, WStringView name);
  long Values(KeyId key, std::vector<StoredValue>& out);  // in enumeration (creation) order
  long ValueAt(KeyId key, DWORD index, StoredValue& out);

 private:
  Hive() = default;
  long Open(const std::string& root, bool forWrite);
  long CheckSchema();
  long CreateSchema();
  static int ExecSchema(vr::sqlite::Connection& db);
  // Makes a new hive with its schema beside the store and links it into place, so that the
  // store's path never names a file without its schema.
  long CreateFresh();
  long Exec(const char* sql);
  long Prepare(const char* sql, vr::sqlite::Statement*& stmt);
  long Fail(int rc);
  bool HasDatabase() const { return db_ != nullptr; }

  std::recursive_mutex mutex_;
  std::unique_ptr<vr::sqlite::Connection> db_;
  std::string root_;        // root the connection belongs to
  std::string path_;        // registry.db path
  bool schemaReady_ = false;
  bool schemaCreated_ = false;  // by the open transaction
  int depth_ = 0;           // transaction nesting
  uint64_t generation_ = 1;
};

// Case-insensitive form of a name, the key of every lookup.
WString FoldName(WStringView name);

// One transaction of a call: rolled back when it goes out of scope without Commit.
class HiveTransaction {
 public:
  HiveTransaction(Hive& hive, bool write) : hive_(hive), write_(write) {}
  HiveTransaction(const HiveTransaction&) = delete;
  HiveTransaction& operator=(const HiveTransaction&) = delete;
  ~HiveTransaction() {
    if (open_) hive_.Rollback();
  }
  long Begin() {
    long rc = hive_.Ready(write_);
    if (rc == 0) rc = hive_.Begin(write_);
    open_ = rc == 0;
    return rc;
  }
  long Commit() {
    open_ = false;
    return hive_.Commit();
  }

 private:
  Hive& hive_;
  bool write_;
  bool open_ = false;
};

}  // namespace vr::registry
