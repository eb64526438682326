#include "platform/sqlite/sqlite_core.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "tests/support/FolderFixture.h"

namespace {

namespace fs = std::filesystem;
using vr::sqlite::Connection;
using vr::sqlite::CreateStoreFile;

class SqliteCoreTest : public vr::testing::FolderFixture {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }
  const fs::path dir_ = base_;
};

int MakeTable(Connection& db) { return db.Exec("CREATE TABLE t(k INTEGER PRIMARY KEY, v TEXT, b BLOB)"); }

// A new store is placed whole with its tables, never over one that is there, and leaves no
// temporary file whichever way it ends.
TEST_F(SqliteCoreTest, NewStoreFilesAppearWholeOrNotAtAll) {
  auto made = CreateStoreFile(Path("store.db"), {"PRAGMA journal_mode=WAL"}, MakeTable);
  ASSERT_TRUE(made.ok()) << made.message;
  std::unique_ptr<Connection> db;
  ASSERT_EQ(Connection::Open(Path("store.db"), SQLITE_OPEN_READWRITE, db), SQLITE_OK);
  ASSERT_EQ(db->Exec("INSERT INTO t(v) VALUES('kept')"), SQLITE_OK);
  vr::sqlite::Statement& mode = db->Sql("PRAGMA journal_mode");
  ASSERT_EQ(mode.Step(), SQLITE_ROW);
  EXPECT_EQ(mode.Text(0), "wal");  // the file keeps the settings it was made with
  mode.Reset();
  db.reset();

  // Another program's store at the name stays as it is.
  made = CreateStoreFile(Path("store.db"), {}, MakeTable);
  EXPECT_TRUE(made.ok());
  ASSERT_EQ(Connection::Open(Path("store.db"), SQLITE_OPEN_READWRITE, db), SQLITE_OK);
  vr::sqlite::Statement& q = db->Sql("SELECT v FROM t");
  ASSERT_EQ(q.Step(), SQLITE_ROW);
  EXPECT_EQ(q.Text(0), "kept");
  q.Reset();
  db.reset();

  // A failing build or placing leaves nothing under the name.
  made = CreateStoreFile(Path("bad.db"), {}, [](Connection& c) { return c.Exec("CREATE TABLE broken("); });
  EXPECT_EQ(made.sqlite, SQLITE_ERROR);
  EXPECT_EQ(made.failedAt, vr::sqlite::NewStoreResult::Stage::Build);
  EXPECT_FALSE(made.message.empty());
  vr::fault::Configure("file.Place#1=112");
  made = CreateStoreFile(Path("full.db"), {}, MakeTable);
  EXPECT_EQ(made.place, ERROR_DISK_FULL);
  EXPECT_FALSE(made.ok());
  EXPECT_EQ(Entries(), 1u);  // store.db alone: no temporary file
  EXPECT_FALSE(fs::exists(Path("bad.db")));
  EXPECT_FALSE(fs::exists(Path("full.db")));
}

TEST_F(SqliteCoreTest, StatementsAreCachedAndBindBlobsAsBlobs) {
  ASSERT_TRUE(CreateStoreFile(Path("s.db"), {}, MakeTable).ok());
  std::unique_ptr<Connection> db;
  ASSERT_EQ(Connection::Open(Path("s.db"), SQLITE_OPEN_READWRITE, db), SQLITE_OK);
  const char* insert = "INSERT INTO t(v, b) VALUES(?1, ?2)";
  ASSERT_EQ(db->Begin(true), SQLITE_OK);
  EXPECT_TRUE(db->InTransaction());
  EXPECT_EQ(db->Sql(insert).Bind(1, "a").BindBlob(2, "").Step(), SQLITE_DONE);
  EXPECT_EQ(&db->Sql(insert), &db->Sql(insert));
  EXPECT_EQ(db->Sql(insert).Bind(1, "b").BindBlob(2, std::string_view("\0x", 2)).Step(), SQLITE_DONE);
  EXPECT_EQ(db->LastInsertId(), 2);
  ASSERT_EQ(db->Commit(), SQLITE_OK);
  EXPECT_FALSE(db->InTransaction());
  vr::sqlite::Statement& q = db->Sql("SELECT typeof(b), b FROM t ORDER BY k");
  ASSERT_EQ(q.Step(), SQLITE_ROW);
  EXPECT_EQ(q.Text(0), "blob");  // an empty blob is no NULL
  ASSERT_EQ(q.Step(), SQLITE_ROW);
  EXPECT_EQ(q.Blob(1), std::string_view("\0x", 2));
  EXPECT_EQ(q.Step(), SQLITE_DONE);
  q.Reset();
  // A statement that cannot be prepared says why, and is tried again later.
  const char* later = "SELECT count(*) FROM later";
  EXPECT_FALSE(db->Sql(later).ok());
  EXPECT_EQ(db->Sql(later).PrepareResult(), SQLITE_ERROR);
  ASSERT_EQ(db->Exec("CREATE TABLE later(x)"), SQLITE_OK);
  EXPECT_TRUE(db->Sql(later).ok());
}

// A writer waits for another connection's write lock a bounded time, then gives up busy.
TEST_F(SqliteCoreTest, WriteTransactionsWaitABoundedTime) {
  ASSERT_TRUE(CreateStoreFile(Path("w.db"), {}, MakeTable).ok());
  std::unique_ptr<Connection> holder, waiter;
  ASSERT_EQ(Connection::Open(Path("w.db"), SQLITE_OPEN_READWRITE, holder), SQLITE_OK);
  ASSERT_EQ(Connection::Open(Path("w.db"), SQLITE_OPEN_READWRITE, waiter), SQLITE_OK);
  waiter->SetBoundedWait(150);
  ASSERT_EQ(holder->Begin(true), SQLITE_OK);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(waiter->Begin(true), SQLITE_BUSY);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(150));
  EXPECT_LT(waited, std::chrono::seconds(5));
  holder->Rollback();
  EXPECT_EQ(waiter->Begin(true), SQLITE_OK);
  int systemErrno = -1;
  EXPECT_EQ(waiter->Commit(&systemErrno), SQLITE_OK);
  EXPECT_EQ(systemErrno, 0);
}

}  // namespace
