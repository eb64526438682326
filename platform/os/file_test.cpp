#include "platform/os/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "tests/support/FolderFixture.h"
#include "tests/support/HostTestSupport.h"

namespace fs = std::filesystem;
using namespace vr::os;

namespace {

class FileTest : public vr::testing::FolderFixture {
 protected:
  WString W(const std::string& name) const { return vr::text::Utf8ToWide(dir_ + "/" + name); }
  std::string N(const std::string& name) const { return dir_ + "/" + name; }
  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(N(name), std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) const {
    std::string bytes;
    EXPECT_EQ(ReadWholeFile(W(name), bytes), ERROR_SUCCESS) << name;
    return bytes;
  }
  const std::string dir_ = base_.string();
};

TEST_F(FileTest, ErrorsForMissingFileAndFolder) {
  std::unique_ptr<File> f;
  EXPECT_EQ(File::Open(W("none.txt"), "rb", Share::DenyNone, f), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(File::Open(W("nodir/none.txt"), "rb", Share::DenyNone, f), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(File::Open(W("nodir/none.txt"), "wb", Share::DenyNone, f), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(File::Open(W(""), "rb", Share::DenyNone, f), ERROR_ACCESS_DENIED);  // the folder itself
  EXPECT_EQ(File::Open(W("x"), "rw", Share::DenyNone, f), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(f);
  std::string bytes;
  EXPECT_EQ(ReadWholeFile(W("none.txt"), bytes), ERROR_FILE_NOT_FOUND);
}

TEST_F(FileTest, BackslashPathsAndWholeRead) {
  Put("a.txt", std::string("x\0y", 3));
  WString path = W("a.txt");
  for (auto& c : path)
    if (c == u'/') c = u'\\';
  std::string bytes;
  ASSERT_EQ(ReadWholeFile(path, bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, std::string("x\0y", 3));
  EXPECT_TRUE(FileExists(path));
  uint64_t size = 0;
  EXPECT_EQ(FileSize(path, size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3u);
  EXPECT_FALSE(FileExists(vr::text::Utf8ToWide(dir_)));  // a folder is no file
}

TEST_F(FileTest, WriteAppendAndReadBack) {
  std::unique_ptr<File> f;
  ASSERT_EQ(File::Open(W("log"), "wb", Share::DenyNone, f), ERROR_SUCCESS);
  size_t n = 0;
  EXPECT_EQ(f->Write("abc", 3, n), ERROR_SUCCESS);
  EXPECT_EQ(n, 3u);
  // Write-through: the bytes are in the file before it is closed.
  EXPECT_EQ(Get("log"), "abc");
  EXPECT_EQ(f->Close(), ERROR_SUCCESS);
  EXPECT_EQ(f->Close(), ERROR_INVALID_HANDLE);
  f.reset();
  ASSERT_EQ(File::Open(W("log"), "ab", Share::DenyNone, f), ERROR_SUCCESS);
  EXPECT_EQ(f->Write("de", 2, n), ERROR_SUCCESS);
  f.reset();
  EXPECT_EQ(Get("log"), "abcde");
  ASSERT_EQ(File::Open(W("log"), "wb", Share::DenyNone, f), ERROR_SUCCESS);
  f.reset();
  EXPECT_EQ(Get("log"), "");
}

TEST_F(FileTest, DenyWriteRefusesWritersBothWays) {
  Put("shared", "keep");
  std::unique_ptr<File> reader, other, writer;
  ASSERT_EQ(File::Open(W("shared"), "rb", Share::DenyWrite, reader), ERROR_SUCCESS);
  // Readers are welcome, also ones that deny writing too.
  EXPECT_EQ(File::Open(W("shared"), "rb", Share::DenyWrite, other), ERROR_SUCCESS);
  other.reset();
  EXPECT_EQ(File::Open(W("shared"), "wb", Share::DenyNone, writer), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(File::Open(W("shared"), "ab", Share::DenyNone, writer), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Get("shared"), "keep");  // the refused "wb" truncated nothing
  std::unique_ptr<AtomicFile> save;
  EXPECT_EQ(AtomicFile::Create(W("shared"), save), ERROR_SHARING_VIOLATION);
  reader.reset();
  ASSERT_EQ(File::Open(W("shared"), "ab", Share::DenyNone, writer), ERROR_SUCCESS);
  // Two writers that deny nothing share the file; a deny-write reader is refused.
  EXPECT_EQ(File::Open(W("shared"), "ab", Share::DenyNone, other), ERROR_SUCCESS);
  EXPECT_EQ(File::Open(W("shared"), "rb", Share::DenyWrite, reader), ERROR_SHARING_VIOLATION);
  writer.reset();
  other.reset();
  EXPECT_EQ(File::Open(W("shared"), "rb", Share::DenyWrite, reader), ERROR_SUCCESS);
}

TEST_F(FileTest, DenyWriteHoldsAgainstAnotherProcess) {
  Put("shared", "keep");
  std::unique_ptr<File> reader;
  ASSERT_EQ(File::Open(W("shared"), "rb", Share::DenyWrite, reader), ERROR_SUCCESS);
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::unique_ptr<File> w;
    ::_exit(static_cast<int>(File::Open(W("shared"), "ab", Share::DenyNone, w)));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), ERROR_SHARING_VIOLATION);
}

TEST_F(FileTest, AtomicSaveKeepsBackupAndMode) {
  Put("cfg", "old");
  ::chmod(N("cfg").c_str(), 0640);
  Put("cfg.bak", "older");
  ASSERT_EQ(SaveFileAtomic(W("cfg"), "new", W("cfg.bak")), ERROR_SUCCESS);
  EXPECT_EQ(Get("cfg"), "new");
  EXPECT_EQ(Get("cfg.bak"), "old");
  struct stat st;
  ASSERT_EQ(::stat(N("cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // Without a backup name nothing else changes; a new file needs no previous one.
  ASSERT_EQ(SaveFileAtomic(W("cfg"), "newer"), ERROR_SUCCESS);
  EXPECT_EQ(Get("cfg.bak"), "old");
  ASSERT_EQ(SaveFileAtomic(W("fresh"), "1", W("fresh.bak")), ERROR_SUCCESS);
  EXPECT_EQ(Get("fresh"), "1");
  EXPECT_FALSE(FileExists(W("fresh.bak")));
  // Only the two files are left: no temporary file stays behind.
  size_t count = 0;
  for (auto& e : fs::directory_iterator(dir_)) count += e.is_regular_file();
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(SaveFileAtomic(W("nodir/x"), "1"), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileTest, AtomicSaveInterruptedAtEveryStepKeepsOldFile) {
  const char* points[] = {"file.SaveCreate", "file.Write",  "file.Sync",     "file.Close",
                          "file.Access",     "file.Delete", "file.SaveBackup", "file.SaveRename"};
  for (const char* point : points) {
    Put("cfg", "old");
    Put("cfg.bak", "older");
    vr::fault::Configure(std::string(point) + "#*");
    std::unique_ptr<AtomicFile> a;
    long rc = AtomicFile::Create(W("cfg"), a);
    AtomicFile::Step step = AtomicFile::Step::None;
    if (rc == ERROR_SUCCESS) {
      size_t n;
      rc = a->Write("new", 3, n);
      if (rc == ERROR_SUCCESS) rc = a->Commit(W("cfg.bak"), step);
    }
    vr::fault::Reset();
    EXPECT_NE(rc, ERROR_SUCCESS) << point;
    EXPECT_EQ(Get("cfg"), "old") << point;
    EXPECT_EQ(Get("cfg.bak"), "older") << point << ": a failed save keeps the previous backup";
    a.reset();
    size_t count = 0;
    for (auto& e : fs::directory_iterator(dir_)) count += e.is_regular_file();
    EXPECT_LE(count, 2u) << point << ": a temporary file was left";
  }
}

TEST_F(FileTest, CommitStepsNameTheRefusal) {
  Put("cfg", "old");
  Put("cfg.bak", "older");
  ::chmod(N("cfg.bak").c_str(), 0400);
  std::unique_ptr<AtomicFile> a;
  ASSERT_EQ(AtomicFile::Create(W("cfg"), a), ERROR_SUCCESS);
  size_t n;
  ASSERT_EQ(a->Write("new", 3, n), ERROR_SUCCESS);
  AtomicFile::Step step;
  if (::geteuid() != 0) {
    EXPECT_EQ(a->Commit(W("cfg.bak"), step), ERROR_ACCESS_DENIED);
    EXPECT_EQ(step, AtomicFile::Step::BackupAccess);
    EXPECT_EQ(Get("cfg.bak"), "older");  // refused before anything changed
  } else {
    a->Abort();
  }
  EXPECT_EQ(a->Commit(W("cfg.bak"), step), ERROR_INVALID_HANDLE);
  EXPECT_EQ(step, AtomicFile::Step::Closed);
  EXPECT_EQ(Get("cfg"), "old");
}

TEST_F(FileTest, DeleteMoveAndAccess) {
  Put("a", "1");
  Put("b", "2");
  EXPECT_EQ(MoveFile(W("a"), W("b"), false), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MoveFile(W("a"), W("b"), true), ERROR_SUCCESS);
  EXPECT_EQ(Get("b"), "1");
  EXPECT_FALSE(FileExists(W("a")));
  EXPECT_EQ(MoveFile(W("a"), W("c"), false), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(MoveFile(W("b"), W("c"), false), ERROR_SUCCESS);
  EXPECT_EQ(CheckAccess(W("c"), true, true), ERROR_SUCCESS);
  EXPECT_EQ(CheckAccess(W("b"), false, false), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteFile(W("c")), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFile(W("c")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteFile(W("x/c")), ERROR_PATH_NOT_FOUND);
  fs::create_directory(N("sub"));
  EXPECT_EQ(DeleteFile(W("sub")), ERROR_ACCESS_DENIED);
}

TEST_F(FileTest, TempFolderAndUniqueFiles) {
  WString folder;
  {
    vr::testing::ScopedEnv tmp("TMPDIR", dir_);
    ASSERT_EQ(GetTempPath(folder), ERROR_SUCCESS);
    EXPECT_EQ(folder, vr::text::Utf8ToWide(dir_ + "/"));
  }
  {
    vr::testing::ScopedEnv tmp("TMPDIR", dir_ + "/missing");
    ASSERT_EQ(GetTempPath(folder), ERROR_SUCCESS);
    EXPECT_EQ(folder, u"/tmp/");
  }

  WString a, b;
  ASSERT_EQ(GetTempFileName(W(""), u"vrnXYZ", a), ERROR_SUCCESS);
  ASSERT_EQ(GetTempFileName(W(""), u"vrn", b), ERROR_SUCCESS);
  EXPECT_NE(a, b);
  const std::string name = fs::path(vr::text::WideToUtf8(a)).filename().string();
  EXPECT_EQ(name.substr(0, 3), "vrn");
  EXPECT_NE(name.substr(3, 3), "XYZ");  // only three prefix characters
  struct stat st;
  ASSERT_EQ(::stat(vr::text::WideToUtf8(a).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(GetTempFileName(W("none"), u"vrn", a), ERROR_DIRECTORY);
}

TEST_F(FileTest, InjectedFaultsCarryTheirCodes) {
  Put("a", "1");
  vr::fault::Configure("file.Open#1=32;file.Delete#1;file.GetTempPath#1=0x80070005");
  std::unique_ptr<File> f;
  EXPECT_EQ(File::Open(W("a"), "rb", Share::DenyNone, f), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(File::Open(W("a"), "rb", Share::DenyNone, f), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFile(W("a")), ERROR_ACCESS_DENIED);
  WString folder;
  EXPECT_EQ(GetTempPath(folder), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(FileExists(W("a")));
}

// A new file appears whole under its name or not at all, never replaces one that is there,
// and leaves no temporary file behind, whichever step fails.
TEST_F(FileTest, NewFilesArePlacedWholeAndNeverReplaceOne) {
  ASSERT_EQ(CreateNewFile(N("key"), std::string("k\0y", 3), true), ERROR_SUCCESS);
  EXPECT_EQ(Get("key"), std::string("k\0y", 3));
  struct stat st;
  ASSERT_EQ(::stat(N("key").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(CreateNewFile(N("key"), "other", true), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Get("key"), std::string("k\0y", 3));
  EXPECT_EQ(CreateNewFile(N("nodir/key"), "x", false), ERROR_PATH_NOT_FOUND);

  for (const char* point : {"file.SaveCreate#1", "file.Write#1", "file.Sync#1", "file.Close#1", "file.Place#1"}) {
    vr::fault::Configure(point);
    EXPECT_NE(CreateNewFile(N("new"), "x", false), ERROR_SUCCESS) << point;
    vr::fault::Reset();
    EXPECT_FALSE(fs::exists(N("new"))) << point;
  }
  // Placing a store's file made by someone else: the first one placed stays.
  Put("made.tmp", "first");
  ASSERT_EQ(PlaceNewFile(N("made.tmp"), N("store")), ERROR_SUCCESS);
  Put("made.tmp", "second");
  EXPECT_EQ(PlaceNewFile(N("made.tmp"), N("store")), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(Get("store"), "first");
  vr::fault::Configure("file.Place#1=112");
  Put("made.tmp", "third");
  EXPECT_EQ(PlaceNewFile(N("made.tmp"), N("store2")), ERROR_DISK_FULL);
  EXPECT_FALSE(fs::exists(N("store2")));
  size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir_)) entries += e.path().filename().string()[0] == '.' ? 100 : 1;
  EXPECT_EQ(entries, 2u);  // key and store: no temporary file is left
}

TEST_F(FileTest, NativeStatusAndTheTraceLog) {
  NativeFileStatus st;
  ASSERT_EQ(GetNativeFileStatus(N("none"), st), ERROR_SUCCESS);
  EXPECT_FALSE(st.exists);
  Put("f", "abc");
  ASSERT_EQ(GetNativeFileStatus(N("f"), st), ERROR_SUCCESS);
  EXPECT_TRUE(st.exists && st.isRegular && !st.isDirectory);
  EXPECT_EQ(st.size, 3u);
  ASSERT_EQ(GetNativeFileStatus(dir_, st), ERROR_SUCCESS);
  EXPECT_TRUE(st.isDirectory);
  EXPECT_EQ(GetNativeFileStatus(N("f/below"), st), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(NativeAccessAllowed(N("f"), true, true, false));
  EXPECT_FALSE(NativeAccessAllowed(N("none"), false, false, false));
  EXPECT_EQ(SyncNativeFile(N("f")), ERROR_SUCCESS);
  EXPECT_EQ(SyncNativeFile(N("none")), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(PathExists(W("f")));
  EXPECT_TRUE(PathExists(vr::text::Utf8ToWide(dir_)));
  EXPECT_FALSE(PathExists(W("none")));

  // The trace's file is appended to, and reaches no fault point even when every one fails.
  vr::fault::Configure("file.Open#*;file.Write#*;file.Sync#*;file.Close#*");
  {
    auto log = AppendOnlyLog::Open(N("trace"));
    ASSERT_TRUE(log);
    log->Append("one\n");
  }
  auto log = AppendOnlyLog::Open(N("trace"));
  ASSERT_TRUE(log);
  log->Append("two\n");
  vr::fault::Reset();
  EXPECT_EQ(Get("trace"), "one\ntwo\n");
  EXPECT_FALSE(AppendOnlyLog::Open(N("nodir/trace")));
}

// The reader of a layer with its own fault point: no point of its own, the system's words for
// a failure, and what it opened told apart.
TEST_F(FileTest, PlainReaderReadsWithoutFaultPoints) {
  Put("doc", "0123456789");
  vr::fault::Configure("file.Open#*;file.Read#*");
  std::unique_ptr<PlainReader> reader;
  std::string reason;
  ASSERT_EQ(PlainReader::Open(N("doc"), reader, reason), ERROR_SUCCESS);
  EXPECT_TRUE(reader->IsRegular());
  EXPECT_EQ(reader->Size(), 10u);
  char buf[4];
  size_t got = 0;
  std::string all;
  do {
    ASSERT_EQ(reader->Read(buf, sizeof buf, got, reason), ERROR_SUCCESS);
    all.append(buf, got);
  } while (got > 0);
  EXPECT_EQ(all, "0123456789");
  vr::fault::Reset();
  EXPECT_EQ(PlainReader::Open(N("none"), reader, reason), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(reader);
  EXPECT_EQ(reason, "No such file or directory");
  ASSERT_EQ(PlainReader::Open(dir_, reader, reason), ERROR_SUCCESS);
  EXPECT_FALSE(reader->IsRegular());
}

TEST(Win32FromErrno, CommonCodes) {
  EXPECT_EQ(Win32FromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Win32FromErrno(EACCES), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Win32FromErrno(ENOSPC), ERROR_DISK_FULL);
  EXPECT_EQ(Win32FromErrno(EEXIST), ERROR_FILE_EXISTS);
}

}  // namespace
