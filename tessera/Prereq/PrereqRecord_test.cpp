// The prerequisite section's record: files and folders recorded as they were, put back by the
// restore whatever happened after the record (nothing, part, all), again and again.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/text/convert.h"
#include "tessera/Prereq/PrereqRecord.h"
#include "tests/support/HostTestSupport.h"

namespace fs = std::filesystem;
using vr::testing::ReadFileBytes;
using vr::testing::WriteFileBytes;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

namespace {

std::string Item(const std::string& path) {
  std::string item;
  long rc = -1;
  EXPECT_TRUE(vr::prereq::RecordFileState(Utf8ToWide(path), item, rc));
  EXPECT_EQ(rc, 0);
  return item + "\n";
}

class PrereqRecord : public ::testing::Test {
 protected:
  vr::testing::TempDir dir_{"vrprereqrec"};
  std::string file_ = dir_ / "vroreqcheck.cfg";
  std::string folder_ = dir_ / "7.60";
  std::string created_ = dir_ / "7.60/vroreqcheck.cfg";
};

TEST_F(PrereqRecord, EveryRecordedFileAndFolderComesBackWhateverHappenedAfterTheRecord) {
  // Bytes of every value (a file of the section is UTF-16 with a byte-order mark).
  std::string original("\xFF\xFE" "V\0E\0R\0\r\0\n\0\t\0\\\0", 16);
  WriteFileBytes(file_, original);
  const std::string record = vr::prereq::RecordAbsentFolder(Utf8ToWide(folder_)) + "\n" + Item(created_) + Item(file_) +
                             Item(file_ + ".bak");
  EXPECT_EQ(vr::prereq::RecordAbsentFolder(Utf8ToWide(dir_.path())), "") << "an existing folder needs no item";

  // Nothing happened yet: the restore changes nothing.
  WString message;
  ASSERT_TRUE(vr::prereq::RestorePrereqRecord(record, message)) << WideToUtf8(message);
  EXPECT_EQ(ReadFileBytes(file_), original);
  EXPECT_FALSE(fs::exists(folder_));

  // Everything happened, and a later block recorded the changed state again: the first item
  // of a path wins.
  fs::create_directories(folder_);
  WriteFileBytes(created_, "copied");
  WriteFileBytes(file_ + ".bak", original);
  WriteFileBytes(file_, "changed");
  const std::string later = record + Item(file_) + Item(created_);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(vr::prereq::RestorePrereqRecord(later, message)) << WideToUtf8(message);
    EXPECT_EQ(ReadFileBytes(file_), original);
    EXPECT_FALSE(fs::exists(file_ + ".bak"));
    EXPECT_FALSE(fs::exists(folder_));
  }

  // The file was deleted after its record (a save cut short between its steps cannot do
  // that, but a hand can): it comes back.
  fs::remove(file_);
  ASSERT_TRUE(vr::prereq::RestorePrereqRecord(record, message));
  EXPECT_EQ(ReadFileBytes(file_), original);
}

TEST_F(PrereqRecord, AnItemThatCannotBeReadOrAFileThatCannotBePutBackFails) {
  WriteFileBytes(file_, "now");
  WString message;
  const std::string good = Item(file_);
  WriteFileBytes(file_, "later");
  for (const std::string& bad : {std::string("file\tx\tbytes\t0g\n"), std::string("file\tx\n"),
                                 std::string("folder\tx\tthere\n"), std::string("dir\tx\tabsent\n"),
                                 std::string("file\t\tabsent\n"), std::string("file\tx\\q\tabsent\n")}) {
    message.clear();
    EXPECT_FALSE(vr::prereq::RestorePrereqRecord(good + bad, message)) << bad;
    EXPECT_EQ(WideToUtf8(message).rfind("(TESSERA268) The run journal holds a record that cannot be read: '", 0), 0u)
        << WideToUtf8(message);
    EXPECT_EQ(ReadFileBytes(file_), "later") << "nothing is put back from a record that cannot be read";
  }
  message.clear();
  EXPECT_FALSE(vr::prereq::RestorePrereqRecord("file\t" + dir_.path() + "/no/such/folder/f\tbytes\t41\n", message));
  EXPECT_EQ(WideToUtf8(message), "(TESSERA205) Cannot save configuration file '" + dir_.path() + "/no/such/folder/f'.\n");
}

}  // namespace
