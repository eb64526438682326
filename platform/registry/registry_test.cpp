#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstring>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/registry/regtools.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ScopedEnv;
using vr::testing::TempDir;

namespace {

std::string Bytes(const WString& s) {
  std::string out(reinterpret_cast<const char*>(s.c_str()), (s.size() + 1) * sizeof(WChar));
  return out;
}

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : env_("VR_HOST_ROOT", root_.path()) { vr::fault::Reset(); }
  ~RegistryTest() override {
    vr::fault::Reset();
    vr::registry::CloseHive();
  }

  HKEY Create(const WChar* path) {
    HKEY h = nullptr;
    DWORD disp = 0;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, &disp), ERROR_SUCCESS);
    return h;
  }
  void SetString(HKEY h, const WChar* name, const WString& text, DWORD type = REG_SZ) {
    const std::string b = Bytes(text);
    ASSERT_EQ(RegSetValueExW(h, name, 0, type, reinterpret_cast<const BYTE*>(b.data()), static_cast<DWORD>(b.size())),
              ERROR_SUCCESS);
  }
  // Reads a value the way the programs do: size and type first, then the data.
  LONG Query(HKEY h, const WChar* name, DWORD& type, std::string& data) {
    DWORD size = 0;
    LONG rc = RegQueryValueExW(h, name, nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    data.assign(size, '\0');
    return RegQueryValueExW(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  }

  TempDir root_{"vrreg"};
  ScopedEnv env_;
};

TEST_F(RegistryTest, KeysAndValuesAreCaseInsensitiveAndCasePreserving) {
  HKEY h = nullptr;
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tamberlin\\TB Vorant", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &h, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  SetString(h, u"DataDir", u"\\srv\\data\\");
  RegCloseKey(h);

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"software\\TAMBERLIN\\tb vorant", 0, nullptr, 0, KEY_READ, nullptr,
                            &again, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  DWORD type = 0;
  std::string data;
  ASSERT_EQ(Query(again, u"DATADIR", type, data), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, Bytes(u"\\srv\\data\\"));
  RegCloseKey(again);

  HKEY soft = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\tamberlin", 0, KEY_READ, &soft), ERROR_SUCCESS);
  WChar name[64];
  DWORD cch = 64;
  ASSERT_EQ(RegEnumKeyExW(soft, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(WString(name, cch), u"TB Vorant");  // the spelling it was created with
  RegCloseKey(soft);
}

TEST_F(RegistryTest, QueryReportsSizesAndBufferShortage) {
  HKEY h = Create(u"K");
  const uint32_t dword = 0x01020304;
  ASSERT_EQ(RegSetValueExW(h, u"D", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4), ERROR_SUCCESS);
  const BYTE bin[] = {0, 1, 2, 0xFF};
  ASSERT_EQ(RegSetValueExW(h, u"B", 0, REG_BINARY, bin, sizeof bin), ERROR_SUCCESS);
  SetString(h, u"E", u"%TEMP%", REG_EXPAND_SZ);
  const WChar multi[] = u"a\0bc\0";
  ASSERT_EQ(RegSetValueExW(h, u"M", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi), ERROR_SUCCESS);
  SetString(h, nullptr, u"default");

  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExW(h, u"M", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(size, sizeof multi);
  BYTE small[2];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExW(h, u"M", nullptr, &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, sizeof multi);
  EXPECT_EQ(RegQueryValueExW(h, u"M", nullptr, &type, small, nullptr), ERROR_INVALID_PARAMETER);

  uint32_t got = 0;
  size = 4;
  ASSERT_EQ(RegQueryValueExW(h, u"d", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size), ERROR_SUCCESS);
  EXPECT_EQ(got, dword);
  std::string data;
  ASSERT_EQ(Query(h, u"", type, data), ERROR_SUCCESS);
  EXPECT_EQ(data, Bytes(u"default"));
  EXPECT_EQ(RegQueryValueExW(h, u"missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);

  DWORD subKeys = 9, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, &maxName, &maxData,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 5u);
  EXPECT_EQ(maxName, 1u);
  EXPECT_EQ(maxData, static_cast<DWORD>(Bytes(u"default").size()));
  RegCloseKey(h);
}

TEST_F(RegistryTest, EnumerationOrderAndEnd) {
  HKEY h = Create(u"Patches");
  for (const WChar* p : {u"VRMS_0300", u"vrms_0100", u"VRMS_0200"}) RegCloseKey(Create((WString(u"Patches\\") + p).c_str()));
  SetString(h, u"zeta", u"1");
  SetString(h, u"Alpha", u"2");
  SetString(h, u"ZETA", u"3");  // overwrites zeta in place

  std::vector<WString> keys;
  for (DWORD i = 0;; ++i) {
    WChar name[16];
    DWORD cch = 16;
    const LONG rc = RegEnumKeyExW(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    keys.emplace_back(name, cch);
  }
  EXPECT_EQ(keys, (std::vector<WString>{u"vrms_0100", u"VRMS_0200", u"VRMS_0300"}));

  WChar name[16];
  DWORD cch = 16;
  DWORD type = 0;
  BYTE data[64];
  DWORD cb = sizeof data;
  ASSERT_EQ(RegEnumValueW(h, 0, name, &cch, nullptr, &type, data, &cb), ERROR_SUCCESS);
  EXPECT_EQ(WString(name, cch), u"zeta");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), cb), Bytes(u"3"));
  cch = 3;  // "Alpha" does not fit
  EXPECT_EQ(RegEnumValueW(h, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 16;
  EXPECT_EQ(RegEnumValueW(h, 2, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(h);
}

TEST_F(RegistryTest, HandlesAccessAndDeletion) {
  HKEY w = Create(u"A\\B");
  RegCloseKey(w);
  HKEY r = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A\\B", 0, KEY_READ, &r), ERROR_SUCCESS);
  const BYTE one = 1;
  EXPECT_EQ(RegSetValueExW(r, u"x", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"A"), ERROR_ACCESS_DENIED);  // has a subkey
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"A\\B"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(r, u"x", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(r), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(r), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"A\\B"), ERROR_FILE_NOT_FOUND);
  BYTE notAKey[16] = {};
  HKEY none = reinterpret_cast<HKEY>(notAKey);
  EXPECT_EQ(RegQueryValueExW(none, u"x", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A\\B", 0, KEY_READ, &r), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r, nullptr);

  HKEY local = nullptr;
  EXPECT_EQ(RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, &local), ERROR_SUCCESS);
  EXPECT_EQ(local, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(RegConnectRegistryW(u"\\\\ELSEWHERE-FAR", HKEY_LOCAL_MACHINE, &local), ERROR_BAD_NETPATH);
}

// Every reader of string values reads them one way: the text ends at its first NUL, or at the
// end of the data when it was stored without one.
TEST_F(RegistryTest, StringValuesReadUpToTheirFirstNul) {
  HKEY h = Create(u"SOFTWARE\\Strings");
  auto set = [&](const WChar* name, DWORD type, const std::string& bytes) {
    ASSERT_EQ(RegSetValueExW(h, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  };
  set(u"Embedded", REG_SZ, std::string("a\0b\0\0\0c\0\0\0", 10));
  set(u"Unterminated", REG_SZ, std::string("x\0y\0", 4));
  set(u"Odd", REG_SZ, std::string("x\0y", 3));
  set(u"Expand", REG_EXPAND_SZ, std::string("%\0T\0%\0\0\0", 8));
  set(u"Number", REG_DWORD, std::string("\x01\0\0\0", 4));
  RegCloseKey(h);
  WString text;
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Embedded", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"ab");
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Unterminated", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"xy");
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Odd", text), ERROR_SUCCESS);
  EXPECT_EQ(text, u"x");
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Expand", text), ERROR_INVALID_DATA);
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Expand", text, true), ERROR_SUCCESS);
  EXPECT_EQ(text, u"%T%");
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Number", text, true), ERROR_INVALID_DATA);
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Strings", u"Missing", text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(vr::registry::ReadStringValue(u"SOFTWARE\\Nowhere", u"x", text), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ChangesAreOnDiskWhenTheCallReturns) {
  HKEY h = Create(u"Durable");
  SetString(h, u"v", u"kept");
  RegCloseKey(h);
  // Another connection (as another program would have) sees the change at once.
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((root_ / "registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM vals WHERE name='v'", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1);
  sqlite3_finalize(st);
  sqlite3_close(db);
}

TEST_F(RegistryTest, BrokenRootsAndStoresGiveClearErrorsAndStayUntouched) {
  HKEY h = nullptr;
  {
    ScopedEnv missing("VR_HOST_ROOT", root_ / "nowhere");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &h), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_PATH_NOT_FOUND);
  }
  vr::testing::WriteFileBytes(root_ / "plainfile", "x");
  {
    ScopedEnv file("VR_HOST_ROOT", root_ / "plainfile");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &h), ERROR_DIRECTORY);
  }
  // A root without a store reads as an empty hive and stays without one.
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(root_ / "registry.db"));

  const std::string garbage = "this is not a registry hive, just some bytes\n" + std::string(5000, 'z');
  vr::testing::WriteFileBytes(root_ / "registry.db", garbage);
  vr::registry::CloseHive();
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &h), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_BADDB);
  std::string text;
  EXPECT_EQ(vr::registry::SnapshotRegText(text), ERROR_BADDB);
  EXPECT_EQ(vr::testing::ReadFileBytes(root_ / "registry.db"), garbage);

  // An empty store is a damaged one, not a new hive: refused for reading and writing, and
  // left empty, not rewritten.
  std::filesystem::remove(root_ / "registry.db");
  vr::testing::WriteFileBytes(root_ / "registry.db", "");
  vr::registry::CloseHive();
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &h), ERROR_BADDB);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_BADDB);
  EXPECT_EQ(vr::registry::SnapshotRegText(text), ERROR_BADDB);
  EXPECT_EQ(std::filesystem::file_size(root_ / "registry.db"), 0u);
  EXPECT_FALSE(std::filesystem::exists(root_ / "registry.db-journal"));

  // A new hive appears whole: its first change links in a file that has its schema, and
  // nothing of the making stays beside it.
  std::filesystem::remove(root_ / "registry.db");
  vr::registry::CloseHive();
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
  for (const auto& e : std::filesystem::directory_iterator(root_.path()))
    EXPECT_EQ(e.path().filename().string().find(".new-"), std::string::npos) << e.path();
  vr::registry::CloseHive();
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"New", 0, KEY_READ, &h), ERROR_SUCCESS);
  RegCloseKey(h);

  // A database of someone else's is not a hive either.
  std::filesystem::remove(root_ / "registry.db");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root_ / "registry.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE other(a); INSERT INTO other VALUES(1);", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::string foreign = vr::testing::ReadFileBytes(root_ / "registry.db");
  vr::registry::CloseHive();
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_BADDB);
  EXPECT_EQ(vr::testing::ReadFileBytes(root_ / "registry.db"), foreign);
}

TEST_F(RegistryTest, UnreadableRootIsAccessDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  HKEY h = Create(u"K");
  RegCloseKey(h);
  vr::registry::CloseHive();
  ::chmod(root_.path().c_str(), 0);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_READ, &h), ERROR_ACCESS_DENIED);
  ::chmod(root_.path().c_str(), 0755);
}

TEST_F(RegistryTest, InjectedFaultsFailTheCallAndChangeNothing) {
  HKEY h = Create(u"F");
  vr::fault::Configure("registry.SetValue#1=5;registry.OpenKey#*=0;registry.QueryValue#2=1009");
  const BYTE one = 1;
  EXPECT_EQ(RegSetValueExW(h, u"v", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(h, u"v", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExW(h, u"v", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(h, u"v", nullptr, nullptr, nullptr, &size), ERROR_BADDB);
  HKEY other = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"F", 0, KEY_READ, &other), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(other, nullptr);
  vr::fault::Reset();
  EXPECT_EQ(RegQueryValueExW(h, u"v", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  vr::fault::Configure("registry.CloseKey#1=6");
  EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
  vr::fault::Reset();
  EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);  // released all the same
}

TEST_F(RegistryTest, TransactionsApplyAllOrNothing) {
  auto write = [](const WChar* key, const WChar* name) -> long {
    HKEY h = nullptr;
    long rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    const BYTE one = 1;
    rc = RegSetValueExW(h, name, 0, REG_BINARY, &one, 1);
    RegCloseKey(h);
    return rc;
  };
  EXPECT_EQ(vr::registry::RunInTransaction([&] {
              write(u"T\\One", u"a");
              write(u"T\\Two", u"b");
              return ERROR_INVALID_DATA;
            }),
            ERROR_INVALID_DATA);
  HKEY h = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"T", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(vr::registry::RunInTransaction([&] {
              const long rc = write(u"T\\One", u"a");
              return rc != ERROR_SUCCESS ? rc : write(u"T\\Two", u"b");
            }),
            ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"T\\Two", 0, KEY_READ, &h), ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_EQ(vr::registry::DeleteKeyTree(HKEY_LOCAL_MACHINE, u"T"), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"T\\One", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, AWaiterGivesUpAfterTheTimeout) {
  HKEY h = Create(u"Busy");
  RegCloseKey(h);
  ScopedEnv timeout("VR_REGISTRY_TIMEOUT_MS", "150");
  vr::registry::CloseHive();  // the timeout is read when the store is opened
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((root_ / "registry.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Busy\\Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_TIMEOUT);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(100));
  EXPECT_LT(waited, std::chrono::seconds(5));
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Busy\\Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(h);
}

// Several programs write the same hive at once; every value of every writer arrives.
TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValues = 60;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; ++w)
    pids.push_back(vr::testing::StartProgram(REGISTRY_WRITER, {"W" + std::to_string(w), std::to_string(kValues)},
                                             {"VR_HOST_ROOT=" + root_.path()}));
  for (pid_t p : pids) EXPECT_EQ(vr::testing::WaitProgram(p), 0);
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared\\Counter", 0, KEY_READ, &h), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kWriters * kValues));
  RegCloseKey(h);
  for (int w = 0; w < kWriters; ++w) {
    const WString key = u"Shared\\W" + WString(1, static_cast<WChar>(u'0' + w));
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
  }
}

}  // namespace
