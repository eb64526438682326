#include "platform/os/stale_temp.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"

namespace fs = std::filesystem;

namespace {

void Touch(const std::string& path, time_t when) {
  std::ofstream(path) << "x";
  utimbuf times{when, when};
  ::utime(path.c_str(), &times);
}

TEST(StaleTemp, NamesOfTheHostsTemporaryFiles) {
  for (const char* name : {".vrcopy-a1b2c3", ".vroreqcheck.cfg.Xy12Ab.tmp", ".u.tmp"})
    EXPECT_TRUE(vr::os::IsHostTempFileName(name)) << name;
  for (const char* name : {"vroreqcheck.cfg", ".vrhost", "registry.db-journal", "a.tmp", ".tmp", ".vrcopy-",
                           "vrn1234.tmp", "tessera.log.bak"})
    EXPECT_FALSE(vr::os::IsHostTempFileName(name)) << name;
}

// Leftovers of ended runs go, anywhere below the folder; a temporary file younger than the
// bound (a run writing now) and every ordinary file stay.
TEST(StaleTemp, RemovesOldLeftoversOnlyAndKeepsEverythingElse) {
  vr::testing::TempDir root("vrstale");
  const std::string r = root.path();
  fs::create_directories(r + "/a/b");
  const time_t old = std::time(nullptr) - 100;
  Touch(r + "/.vrcopy-aaaaaa", old);
  Touch(r + "/a/b/.vroreqcheck.cfg.QWErty.tmp", old);
  Touch(r + "/a/vroreqcheck.cfg", old);
  Touch(r + "/a/.young.ZZZZZZ.tmp", std::time(nullptr) + 100);
  int removed = -1;
  EXPECT_EQ(vr::os::RemoveStaleTempFiles(r, std::time(nullptr), false, removed), ERROR_SUCCESS);
  EXPECT_EQ(removed, 1);
  EXPECT_TRUE(fs::exists(r + "/a/b/.vroreqcheck.cfg.QWErty.tmp"));
  EXPECT_EQ(vr::os::RemoveStaleTempFiles(r, std::time(nullptr), true, removed), ERROR_SUCCESS);
  EXPECT_EQ(removed, 1);
  EXPECT_FALSE(fs::exists(r + "/a/b/.vroreqcheck.cfg.QWErty.tmp"));
  EXPECT_TRUE(fs::exists(r + "/a/vroreqcheck.cfg"));
  EXPECT_TRUE(fs::exists(r + "/a/.young.ZZZZZZ.tmp"));

  // A save cut short by a kill leaves exactly such a file, and it is found.
  std::unique_ptr<vr::os::AtomicFile> save;
  ASSERT_EQ(vr::os::AtomicFile::Create(vr::text::Utf8ToWide(r + "/a/vroreqcheck.cfg"), save), ERROR_SUCCESS);
  int temps = 0;
  for (const auto& e : fs::directory_iterator(r + "/a"))
    if (vr::os::IsHostTempFileName(e.path().filename().string())) ++temps;
  EXPECT_EQ(temps, 2);
  save->Abort();

  // Named leftovers in one folder: only the old ones of the name, not below it.
  Touch(r + "/vrn1A2B.tmp", old);
  Touch(r + "/vrn3C4D.tmp", std::time(nullptr) + 100);
  Touch(r + "/a/vrn5E6F.tmp", old);
  Touch(r + "/other.tmp", old);
  EXPECT_EQ(vr::os::RemoveStaleNamedFiles(r, "vrn", ".tmp", std::time(nullptr), removed), ERROR_SUCCESS);
  EXPECT_EQ(removed, 1);
  EXPECT_FALSE(fs::exists(r + "/vrn1A2B.tmp"));
  EXPECT_TRUE(fs::exists(r + "/vrn3C4D.tmp"));
  EXPECT_TRUE(fs::exists(r + "/a/vrn5E6F.tmp"));
  EXPECT_TRUE(fs::exists(r + "/other.tmp"));

  EXPECT_NE(vr::os::RemoveStaleTempFiles(r + "/missing", std::time(nullptr), true, removed), ERROR_SUCCESS);
  vr::fault::Configure("os.RemoveStaleTempFiles#1");
  Touch(r + "/.vrcopy-bbbbbb", old);
  EXPECT_EQ(vr::os::RemoveStaleTempFiles(r, std::time(nullptr), true, removed), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(fs::exists(r + "/.vrcopy-bbbbbb"));
  vr::fault::Reset();
}

}  // namespace

namespace {

// The journal flushes the folders it makes names in; a folder that is not there, or a file,
// is refused, and the fault point stands for a failed flush.
TEST(FlushFolder, FlushesFoldersAndRefusesTheRest) {
  vr::testing::TempDir root("vrflush");
  const WString folder = vr::text::Utf8ToWide(root.path());
  EXPECT_EQ(vr::os::FlushFolder(folder), ERROR_SUCCESS);
  EXPECT_NE(vr::os::FlushFolder(folder + u"/missing"), ERROR_SUCCESS);
  std::ofstream(root.path() + "/file") << "x";
  EXPECT_NE(vr::os::FlushFolder(folder + u"/file"), ERROR_SUCCESS);
  vr::fault::Configure("os.FlushFolder#1");
  EXPECT_EQ(vr::os::FlushFolder(folder), ERROR_WRITE_FAULT);
  EXPECT_EQ(vr::os::FlushFolder(folder), ERROR_SUCCESS);
  vr::fault::Reset();
}

}  // namespace
