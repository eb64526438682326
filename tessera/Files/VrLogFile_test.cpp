#include "tessera/Files/VrLogFile.h"

#include <cstdlib>

#include "tessera/Files/FilesTestSupport.h"
#include "tessera/Files/VrTempLogFile.h"

namespace {

class LogFileTest : public FilesTest {
 protected:
  void SetUp() override {
    FilesTest::SetUp();
    SetEnv("TMPDIR", dir_.string());  // temporary logs go into the test's folder
  }
};

TEST_F(LogFileTest, WriteThroughStartsWithHeaderAndAppendStartsAFreshLine) {
  {
    VrLogFile log(W("run.log").c_str(), true);
    ASSERT_EQ(log.OpenForWriteAsNonBuffered(false), S_OK);
    EXPECT_EQ(Get("run.log"), "\xFF\xFE");
    const uint32_t lines = log.GetLineCount();
    log.AppendLine(u"ab", true);
    // On disk at once, and the same in memory.
    EXPECT_EQ(Get("run.log"), "\xFF\xFE" + Utf16(u"ab\r\n"));
    EXPECT_EQ(log.GetContent(), u"ab\r\n");
    EXPECT_EQ(log.GetLineCount(), lines + 2);  // the first line begins and ends
    EXPECT_FALSE(log.IsSaved());
    // Opening again with append while writing through changes nothing.
    EXPECT_EQ(log.OpenForWriteAsNonBuffered(true), S_OK);
    EXPECT_EQ(Get("run.log"), "\xFF\xFE" + Utf16(u"ab\r\n"));
    log.AppendLine(u"c\nd", false);
    ASSERT_EQ(log.SaveFile(), S_OK);
    EXPECT_TRUE(log.IsSaved());
    EXPECT_FALSE(log.IsWritingThrough());
  }
  EXPECT_EQ(Get("run.log"), "\xFF\xFE" + Utf16(u"ab\r\nc\r\nd"));
  EXPECT_FALSE(Exists("run.log.bak"));  // writing through replaces nothing
  {
    VrLogFile log(W("run.log").c_str(), true);
    ASSERT_EQ(log.OpenForWriteAsNonBuffered(true), S_OK);
    log.AppendLine(u"e", true);
  }
  EXPECT_EQ(Get("run.log"), "\xFF\xFE" + Utf16(u"ab\r\nc\r\nd\r\ne\r\n"));
  // The whole log reads back, comments skipped.
  {
    VrLogFile log(W("run.log").c_str(), true);
    log.AppendLine(u"# a comment", true);
    ASSERT_EQ(log.OpenForWriteAsNonBuffered(true), S_OK);
    log.AppendLine(u"  # another", true);
    log.AppendLine(u"f", true);
  }
  VrLogFile read(W("run.log").c_str(), false);
  ASSERT_EQ(read.LoadFile(), S_OK);
  EXPECT_TRUE(read.HasHeader());
  VrTextLine line;
  std::vector<WString> texts;
  while (read.ReadLine(line, nullptr, true, true) && !line.IsAtEnd()) texts.push_back(line.GetText());
  EXPECT_EQ(texts, (std::vector<WString>{u"ab", u"c", u"d", u"e", u"f"}));
}

TEST_F(LogFileTest, RestartingWithoutAppendClosesAndTruncates) {
  VrLogFile log(W("l.log").c_str(), false);
  ASSERT_EQ(log.OpenForWriteAsNonBuffered(false), S_OK);
  log.AppendLine(u"one", true);
  ASSERT_EQ(log.OpenForWriteAsNonBuffered(false), S_OK);
  log.AppendLine(u"two", true);
  ASSERT_EQ(log.SaveFile(), S_OK);
  EXPECT_EQ(Get("l.log"), Utf16(u"two\r\n"));
  EXPECT_EQ(log.GetContent(), u"one\r\ntwo\r\n");  // memory keeps everything appended
}

TEST_F(LogFileTest, Utf8AndAsciiLogsWriteTheirOwnBytes) {
  struct Utf8Log : VrLogFile {
    Utf8Log(const WChar* path, uint32_t encoding) : VrLogFile(path, true) { encoding_ = encoding; }
  };
  {
    Utf8Log log(W("u8.log").c_str(), TEXT_UTF8);
    ASSERT_EQ(log.OpenForWriteAsNonBuffered(false), S_OK);
    log.AppendLine(u"\u00E9", true);
    log.AppendLine(WString(1, u'\xD800'), true);  // no UTF-8 form: nothing written
  }
  EXPECT_EQ(Get("u8.log"), "\xEF\xBB\xBF\xC3\xA9\r\n");
  {
    Utf8Log log(W("a.log").c_str(), TEXT_ASCII);
    ASSERT_EQ(log.OpenForWriteAsNonBuffered(false), S_OK);
    log.AppendLine(u"plain", true);
  }
  EXPECT_EQ(Get("a.log"), "plain\r\n");
}

TEST_F(LogFileTest, WriteAndOpenFailuresAreTracedAndTheMemoryCopyStays) {
  VrLogFile log(W("w.log").c_str(), false);
  ASSERT_EQ(log.OpenForWriteAsNonBuffered(false), S_OK);
  vr::fault::Configure("file.Write#1");
  log.AppendLine(u"lost on disk", true);
  vr::fault::Reset();
  EXPECT_TRUE(Traced("\"VrLogFile::AppendLine\"  Error during writing to the file."));
  EXPECT_EQ(log.GetContent(), u"lost on disk\r\n");
  vr::fault::Configure("file.Close#1");
  EXPECT_EQ(log.SaveFile(), E_FAIL);
  vr::fault::Reset();
  EXPECT_TRUE(Traced("-> subHR failure from fclose"));
  EXPECT_FALSE(log.IsWritingThrough());

  VrLogFile noDir(W("none/x.log").c_str(), false);
  EXPECT_EQ(noDir.OpenForWriteAsNonBuffered(true), E_FAIL);
  EXPECT_TRUE(Traced("-> subHR failure from _wfopen = 0x80070003"));
  EXPECT_FALSE(noDir.IsWritingThrough());
  VrLogFile noPath(u"", false);
  EXPECT_TRUE(noPath.GetPath().empty());
  EXPECT_EQ(noPath.OpenForWriteAsNonBuffered(false), E_FAIL);
}

TEST_F(LogFileTest, UnsavedLogIsSavedWithBackupWhenDestroyed) {
  Put("undo.log", "previous");
  {
    VrLogFile log(W("undo.log").c_str(), true);
    log.AppendLine(u"Patch=VRMS_0100", true);
  }
  EXPECT_EQ(Get("undo.log"), "\xFF\xFE" + Utf16(u"Patch=VRMS_0100\r\n"));
  EXPECT_EQ(Get("undo.log.bak"), "previous");
  // A saved log is not written again; nor is one without a path.
  Put("undo.log", "changed elsewhere");
  {
    VrLogFile log(W("undo.log").c_str(), true);
    log.AppendLine(u"x", true);
    ASSERT_EQ(log.SaveFile(), S_OK);
    std::filesystem::remove(N("undo.log"));
  }
  EXPECT_FALSE(Exists("undo.log"));
  { VrLogFile memory(nullptr, true); memory.AppendLine(u"only here", true); }
  // Free keeps the header flag.
  VrLogFile log(nullptr, true);
  log.AppendLine(u"x", true);
  log.Free(false);
  EXPECT_TRUE(log.HasHeader());
  EXPECT_FALSE(log.HasContent());
}

TEST_F(LogFileTest, TemporaryLogsAreCreatedPrivateAndLeaveNothing) {
  std::string name;
  {
    VrTempLogFile temp(true, true);
    ASSERT_FALSE(temp.GetPath().empty());
    name = vr::text::WideToUtf8(temp.GetPath());
    EXPECT_EQ(std::filesystem::path(name).parent_path(), dir_);
    EXPECT_EQ(std::filesystem::path(name).filename().string().substr(0, 3), "vrn");
    ASSERT_TRUE(std::filesystem::exists(name));  // created with the object
    EXPECT_EQ(std::filesystem::status(name).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    EXPECT_FALSE(temp.GetMakeBackup());
    ASSERT_EQ(temp.OpenForWriteAsNonBuffered(false), S_OK);
    temp.AppendLine(u"[[[PLATFORMS]]]", true);
    EXPECT_EQ(std::filesystem::file_size(name), 2u + 2 * 17);
  }
  EXPECT_FALSE(std::filesystem::exists(name));
  {
    VrTempLogFile buffered(true, false);
    name = vr::text::WideToUtf8(buffered.GetPath());
    buffered.AppendLine(u"never saved", true);
  }
  EXPECT_FALSE(std::filesystem::exists(name));
  {
    VrTempLogFile kept(false, false);
    name = vr::text::WideToUtf8(kept.GetPath());
    kept.AppendLine(u"kept", true);
  }
  EXPECT_EQ(Get(std::filesystem::path(name).filename().string()), Utf16(u"kept\r\n"));
  EXPECT_EQ(Listing(), std::filesystem::path(name).filename().string());  // no ".bak" for it
}

TEST_F(LogFileTest, TemporaryLogWithoutNameWorksInMemory) {
  vr::fault::Configure("file.GetTempFileName#1");
  VrTempLogFile temp(true, false);
  vr::fault::Reset();
  EXPECT_TRUE(Traced("-> subHR failure from GetTempFileName = 0x80070005"));
  EXPECT_TRUE(temp.GetPath().empty());
  temp.AppendLine(u"in memory", true);
  EXPECT_EQ(temp.GetContent(), u"in memory\r\n");
  EXPECT_EQ(temp.SaveFile(), S_OK);  // nothing to write
  vr::fault::Configure("file.GetTempPath#1");
  VrTempLogFile noFolder(true, false);
  EXPECT_TRUE(Traced("-> subHR failure from GetTempPath"));
  EXPECT_TRUE(noFolder.GetPath().empty());
  EXPECT_EQ(Listing(), "");
}

TEST_F(LogFileTest, ManyAppendedLinesAllReachTheFile) {
  qkit_SetTraceSink("", 0);
  VrTempLogFile temp(true, false);
  ASSERT_EQ(temp.OpenForWriteAsNonBuffered(false), S_OK);
  for (int i = 0; i < 200000; ++i) temp.AppendLine(u"a line of the log", true);
  EXPECT_EQ(temp.GetLineCount(), 200001u);
  EXPECT_EQ(std::filesystem::file_size(vr::text::WideToUtf8(temp.GetPath())), 200000u * 19 * 2);
}

}  // namespace
