#include "tessera/Files/VrTextFile.h"

#include "tessera/Files/FilesTestSupport.h"
#include "tessera/Files/VrCrc32.h"

namespace {

class TextFileTest : public FilesTest {
 protected:
  // Every line of a file read forward: text and position of each.
  static std::vector<std::pair<WString, VrTextPosition>> ReadAll(VrTextFile& f, bool skipEmpty = false) {
    std::vector<std::pair<WString, VrTextPosition>> lines;
    VrTextLine line;
    for (int guard = 0; guard < 100000 && f.ReadLine(line, nullptr, skipEmpty, false); ++guard) {
      lines.emplace_back(line.GetText(), line.GetPosition());
      if (line.IsAtEnd()) break;
    }
    return lines;
  }
};

// ---- Encodings and headers

TEST_F(TextFileTest, Utf8HeaderIsKeptWhenPresentAndOnlyThen) {
  Put("with.txt", "\xEF\xBB\xBFk\xC3\xA9y\n");
  Put("without.txt", "k\xC3\xA9y\n");
  for (const char* name : {"with.txt", "without.txt"}) {
    const std::string before = Get(name);
    VrTextFile f(W(name).c_str(), TEXT_UTF8, LINES_LF);
    ASSERT_EQ(f.LoadFile(), S_OK) << name;
    EXPECT_EQ(f.GetContent(), u"k\u00E9y\n");
    EXPECT_EQ(f.HasHeader(), before[0] == '\xEF');
    EXPECT_EQ(f.GetFileLength(), before.size());
    ASSERT_EQ(f.SaveFile(), S_OK);
    EXPECT_EQ(Get(name), before) << name;
    EXPECT_EQ(Get(std::string(name) + ".bak"), before);
  }
}

TEST_F(TextFileTest, UnicodeFileReadsLineByLine) {
  Put("u.txt", "\xFF\xFE" + Utf16(u"a\r\nb"));
  VrTextFile f(W("u.txt").c_str(), TEXT_UNICODE, LINES_CRLF);
  ASSERT_EQ(f.LoadFile(), S_OK);
  EXPECT_TRUE(f.HasHeader());
  EXPECT_EQ(f.GetLineCount(), 2u);
  VrTextLine line;
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  EXPECT_EQ(line.GetText(), u"a");
  EXPECT_EQ(line.GetTokenCount(), 1u);
  EXPECT_FALSE(line.IsAtEnd());
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  EXPECT_EQ(line.GetText(), u"b");
  EXPECT_TRUE(line.IsAtEnd());
  EXPECT_EQ(line.GetPosition(), (VrTextPosition{3, 2}));
  EXPECT_FALSE(f.ReadLine(line, nullptr, false, false));
  EXPECT_TRUE(line.GetText().empty());
  EXPECT_TRUE(line.IsAtEnd());
}

TEST_F(TextFileTest, AsciiRoundTripWithoutHeader) {
  Put("a.txt", "one two\r\nthree");
  VrTextFile f(W("a.txt").c_str(), TEXT_ASCII, LINES_CRLF);
  ASSERT_EQ(f.LoadFile(), S_OK);
  EXPECT_FALSE(f.HasHeader());
  f.Append(u"\nfour", true);
  ASSERT_EQ(f.SaveFile(), S_OK);
  EXPECT_EQ(Get("a.txt"), "one two\r\nthree\r\nfour\r\n");
}

TEST_F(TextFileTest, BadBytesNeverBreakLoading) {
  struct Case {
    const char* name;
    std::string bytes;
    uint32_t encoding;
    std::u16string content;
  };
  const std::vector<Case> cases = {
      {"nul", std::string("ab\0cd", 5), TEXT_UTF8, u"ab"},
      {"nul16", Utf16(u"ab") + std::string("\0\0", 2) + Utf16(u"cd"), TEXT_UNICODE, u"ab"},
      {"odd", Utf16(u"ab") + "c", TEXT_UNICODE, u"abc"},
      {"onebyte", "\xFF", TEXT_UNICODE, u"\u00FF"},
      {"bomonly", "\xFF\xFE", TEXT_UNICODE, u""},
      {"badutf8", "a\xC3(", TEXT_UTF8, u"a\uFFFD("},
      {"truncutf8", "a\xE2\x82", TEXT_UTF8, u""},
      {"crs", "a\rb\r\r\nc\r", TEXT_UTF8, u"a\rb\r\r\nc\r"},
  };
  for (const auto& c : cases) {
    Put(c.name, c.bytes);
    VrTextFile f(W(c.name).c_str(), c.encoding, LINES_CRLF);
    ASSERT_EQ(f.LoadFile(), S_OK) << c.name;
    if (std::string(c.name) == "truncutf8")  // how many U+FFFD a cut sequence gives is the converter's
      EXPECT_EQ(f.GetContent().substr(0, 2), u"a\uFFFD");
    else
      EXPECT_EQ(f.GetContent(), c.content) << c.name;
    EXPECT_EQ(f.GetFileLength(), c.bytes.size());
    const auto lines = ReadAll(f, true);
    EXPECT_LE(lines.size(), f.GetLineCount()) << c.name;
  }
}

TEST_F(TextFileTest, LoneCarriageReturnIsTextNotALineEnd) {
  Put("cr.txt", "a\rb\r\r\nc\r");
  VrTextFile f(W("cr.txt").c_str(), TEXT_UTF8, LINES_LF);
  ASSERT_EQ(f.LoadFile(), S_OK);
  const auto lines = ReadAll(f);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].first, u"a\rb");  // nothing after the lone CR is lost
  EXPECT_EQ(lines[1].first, u"c\r");
  EXPECT_EQ(lines[1].second, (VrTextPosition{6, 2}));
}

TEST_F(TextFileTest, LoadFailuresLeaveTheObjectEmpty) {
  Put("empty.txt", "");
  VrTextFile f(W("empty.txt").c_str(), TEXT_UTF8, LINES_LF);
  f.Append(u"left over", true);
  EXPECT_EQ(f.LoadFile(), E_VRFILE_CONTENT);
  EXPECT_FALSE(f.HasContent());
  EXPECT_EQ(f.GetLineCount(), 0u);
  EXPECT_TRUE(Traced("\"VrTextFile::LoadFile\"  File is empty."));

  VrTextFile missing(W("none.txt").c_str(), TEXT_UTF8, LINES_LF);
  EXPECT_EQ(missing.LoadFile(), E_VRFILE_OPEN);
  EXPECT_TRUE(Traced("-> subHR failure from _wfsopen = 0x80070002"));
  EXPECT_TRUE(Traced("\"VrTextFile::OpenFile\"  Path or file not found for: " + N("none.txt")));
  VrTextFile noDir(W("x/none.txt").c_str(), TEXT_UTF8, LINES_LF);
  EXPECT_EQ(noDir.LoadFile(), E_VRFILE_OPEN);
  EXPECT_TRUE(Traced("Path or file not found for: " + N("x/none.txt")));

  VrTextFile noPath(nullptr, TEXT_UTF8, LINES_LF);
  EXPECT_EQ(noPath.LoadFile(), E_VRFILE_OPEN);
  EXPECT_TRUE(Traced("Path of Configuration File wasn't set."));

  Put("t.txt", "x");
  VrTextFile t(W("t.txt").c_str(), TEXT_UTF8, LINES_LF);
  VrReadStream stream;
  ASSERT_EQ(t.OpenFile(stream), S_OK);
  EXPECT_EQ(t.OpenFile(stream), E_VRFILE_OPEN);
  EXPECT_TRUE(Traced("Pointer to supposedly already opened file was given to OpenFile()."));
  EXPECT_TRUE(Traced("Leaving method with exit code: 0x80044000"));
}

TEST_F(TextFileTest, AFileHeldByAWriterIsASharingViolation) {
  Put("busy.txt", "x");
  std::unique_ptr<vr::os::File> writer;
  ASSERT_EQ(vr::os::File::Open(W("busy.txt"), "ab", vr::os::Share::DenyNone, writer), ERROR_SUCCESS);
  VrTextFile f(W("busy.txt").c_str(), TEXT_UTF8, LINES_LF);
  EXPECT_EQ(f.LoadFile(), E_VRFILE_OPEN);
  EXPECT_TRUE(Traced("-> subHR failure from _wfsopen = 0x80070020"));
  EXPECT_TRUE(Traced("Sharing violation for: " + N("busy.txt")));
  writer.reset();
  // While we read, nobody writes; saving over a file that is being read is refused too.
  VrReadStream stream;
  ASSERT_EQ(f.OpenFile(stream), S_OK);
  f.Append(u"new", false);
  EXPECT_EQ(f.SaveFile(), E_FAIL);
  EXPECT_TRUE(Traced("\"VrTextFile::StoreFile\"  Sharing violation for: " + N("busy.txt")));
  EXPECT_EQ(Get("busy.txt"), "x");
  EXPECT_EQ(f.LoadFile(stream), S_OK);
}

TEST_F(TextFileTest, ReadAndCloseFailuresAreReported) {
  Put("t.txt", "abc");
  VrTextFile f(W("t.txt").c_str(), TEXT_UTF8, LINES_LF);
  vr::fault::Configure("file.Read#1");
  EXPECT_EQ(f.LoadFile(), E_VRFILE_READ);
  EXPECT_TRUE(Traced("-> subHR failure from fread = 0x8007001E"));
  EXPECT_FALSE(f.HasContent());
  vr::fault::Configure("file.Close#1");
  EXPECT_EQ(f.LoadFile(), E_VRFILE_CLOSE);
  EXPECT_TRUE(Traced("-> subHR failure from fclose"));
  EXPECT_FALSE(f.HasContent());
  vr::fault::Reset();
  EXPECT_EQ(f.LoadFile(), S_OK);
  EXPECT_EQ(f.GetContent(), u"abc");
}

// ---- Line reading and tokens

TEST_F(TextFileTest, PrefixIsMatchedWithoutCaseAfterLeadingBlanks) {
  VrTextFile f(nullptr, TEXT_ASCII, LINES_CRLF);
  f.Append(u"  [system] x", true);
  VrTextLine line;
  ASSERT_TRUE(f.ReadLine(line, u"[SYSTEM", false, false));
  ASSERT_EQ(line.GetTokenCount(), 2u);
  EXPECT_EQ(*line.GetToken(0), u"[system]");
  EXPECT_EQ(*line.GetTokenOffset(0), 2u);
  EXPECT_EQ(*line.GetTokenOffset(1), 11u);
  EXPECT_EQ(line.GetText(), u"  [system] x");
  // A prefix that does not match: false, but the tokens are there.
  f.ResetPosition();
  EXPECT_FALSE(f.ReadLine(line, u"[SYSTEMS", false, false));
  EXPECT_EQ(line.GetTokenCount(), 2u);
  f.ResetPosition();
  EXPECT_FALSE(f.ReadLine(line, u"  [system] x and more", false, false));
}

TEST_F(TextFileTest, QuotedTokensKeepTheirBlanks) {
  VrTextFile f(nullptr, TEXT_ASCII, LINES_CRLF);
  f.Append(u"a \"b c\" d\t\"\" \"open end  ", false);
  VrTextLine line;
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  ASSERT_EQ(line.GetTokenCount(), 5u);
  EXPECT_EQ(*line.GetToken(1), u"b c");
  EXPECT_EQ(*line.GetTokenOffset(1), 2u);
  EXPECT_EQ(*line.CopyToken(2), u"d");
  EXPECT_EQ(*line.GetToken(3), u"");         // an empty quoted token
  EXPECT_EQ(*line.GetToken(4), u"\"open end");  // unterminated: to the end of the trimmed line
  EXPECT_EQ(*line.GetRestOfLine(1), u"\"b c\" d\t\"\" \"open end  ");
  EXPECT_FALSE(line.GetToken(5));
  EXPECT_FALSE(line.GetRestOfLine(5));
  f.Free(false);
  f.ResetPosition();
  f.Append(u"\"", false);
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  EXPECT_EQ(*line.GetToken(0), u"\"");
}

TEST_F(TextFileTest, SkippingEmptyLinesAndTheLastLine) {
  VrTextFile f(nullptr, TEXT_ASCII, LINES_LF);
  f.Append(u"\n  \t\nx\n\n", false);
  EXPECT_EQ(f.GetLineCount(), 5u);
  VrTextLine line;
  ASSERT_TRUE(f.ReadLine(line, nullptr, true, true));
  EXPECT_EQ(line.GetText(), u"x");
  EXPECT_EQ(line.GetPosition(), (VrTextPosition{5, 3}));
  // Only empty lines are left: the last one is returned, with at-end, when no prefix is asked.
  ASSERT_TRUE(f.ReadLine(line, nullptr, true, true));
  EXPECT_TRUE(line.IsAtEnd());
  EXPECT_EQ(line.GetPosition().line, 5u);
  EXPECT_FALSE(f.ReadLine(line, nullptr, true, true));
  f.ResetPosition();
  ASSERT_TRUE(f.ReadLine(line, u"x", true, true));
  EXPECT_FALSE(f.ReadLine(line, u"x", true, true));
  EXPECT_TRUE(line.IsAtEnd());
  // Without skipping, blank lines come back as they are.
  f.ResetPosition();
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  EXPECT_EQ(line.GetText(), u"  \t");
  EXPECT_EQ(line.GetTokenCount(), 0u);
}

TEST_F(TextFileTest, VeryLongLineAndManyLines) {
  WString big(10 * 1024 * 1024, u'x');
  big[5] = u' ';
  VrTextFile f(nullptr, TEXT_UNICODE, LINES_CRLF);
  f.Append(big, true);
  for (int i = 0; i < 1000; ++i) f.Append(u"l", true);
  VrTextLine line;
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  EXPECT_EQ(line.GetText().size(), big.size());
  EXPECT_EQ(line.GetTokenCount(), 2u);
  EXPECT_EQ(ReadAll(f).size(), 1001u);
}

// ---- Going back

TEST_F(TextFileTest, GoingBackRetracesEveryLineForward) {
  Put("g.txt", "one\r\n\r\n  two x\n#c\nthree\n\nfour");
  VrTextFile f(W("g.txt").c_str(), TEXT_UTF8, LINES_CRLF);
  ASSERT_EQ(f.LoadFile(), S_OK);
  EXPECT_FALSE(f.GoBackOneLine(nullptr, false, false));  // at offset 0
  EXPECT_EQ(f.GetPosition(), (VrTextPosition{0, 1}));
  const auto forward = ReadAll(f);
  ASSERT_EQ(forward.size(), 7u);
  EXPECT_EQ(forward.back().first, u"four");
  VrTextLine line;
  for (size_t i = forward.size(); i-- > 0;) {
    ASSERT_TRUE(f.GoBackOneLine(nullptr, false, false)) << i;
    EXPECT_EQ(f.GetPosition(), forward[i].second) << i;
    ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
    EXPECT_EQ(line.GetText(), forward[i].first);
    ASSERT_TRUE(f.GoBackOneLine(nullptr, false, false));
  }
  EXPECT_FALSE(f.GoBackOneLine(nullptr, false, false));
}

TEST_F(TextFileTest, GoingBackOverEmptyLines) {
  VrTextFile f(nullptr, TEXT_ASCII, LINES_LF);
  f.Append(u"\n\na\n\n  \nb", false);
  VrTextLine line;
  while (f.ReadLine(line, nullptr, false, false) && !line.IsAtEnd()) {
  }
  ASSERT_TRUE(f.GoBackOneLine(nullptr, true, false));  // b itself
  ASSERT_TRUE(f.GoBackOneLine(nullptr, true, false));  // over the blank lines to a
  EXPECT_EQ(f.GetPosition(), (VrTextPosition{2, 3}));
  const VrTextPosition atA = f.GetPosition();
  EXPECT_FALSE(f.GoBackOneLine(nullptr, true, false));  // only empty lines before a
  EXPECT_EQ(f.GetPosition(), atA);
  // From a given position, leaving the file's own alone on failure.
  const VrTextPosition two{1, 2};
  EXPECT_TRUE(f.GoBackOneLine(&two, false, false));
  EXPECT_EQ(f.GetPosition(), (VrTextPosition{0, 1}));
  const VrTextPosition beyond{1000, 9};
  EXPECT_FALSE(f.GoBackOneLine(&beyond, false, false));
  // Every step moves back, whatever line number a position claims.
  VrTextFile raw(nullptr, TEXT_UTF8, LINES_LF);
  ASSERT_EQ(raw.SetContentToUnicode("\n\n\n"), S_OK);  // no line count made
  const VrTextPosition far{3, 4000000000u};
  EXPECT_FALSE(raw.GoBackOneLine(&far, true, false));
  EXPECT_TRUE(raw.GoBackOneLine(&far, false, false));
  EXPECT_EQ(raw.GetPosition().offset, 2u);
}

TEST_F(TextFileTest, ReadPrevLineReadsTheLineBefore) {
  VrTextFile f(nullptr, TEXT_ASCII, LINES_CRLF);
  f.Append(u"first\nsecond\nthird", true);
  VrTextLine line;
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  EXPECT_FALSE(f.ReadPrevLine(line, nullptr, false, false));  // nothing before the first line
  EXPECT_EQ(f.GetPosition(), (VrTextPosition{7, 2}));
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  ASSERT_TRUE(f.ReadLine(line, nullptr, false, false));
  ASSERT_TRUE(f.ReadPrevLine(line, nullptr, false, false));
  EXPECT_EQ(line.GetText(), u"second");
  ASSERT_TRUE(f.ReadPrevLine(line, nullptr, false, false));
  EXPECT_EQ(line.GetText(), u"first");
}

// ---- Appending

TEST_F(TextFileTest, AppendCountsLinesAndWritesLineEndsInItsMode) {
  VrTextFile crlf(nullptr, TEXT_ASCII, LINES_CRLF);
  EXPECT_EQ(crlf.GetLineCount(), 0u);
  crlf.Append(u"", false);
  EXPECT_FALSE(crlf.HasContent());
  crlf.Append(u"a\r\nb\nc", true);
  EXPECT_EQ(crlf.GetContent(), u"a\r\nb\r\nc\r\n");
  EXPECT_EQ(crlf.GetLineCount(), 4u);
  VrTextFile lf(nullptr, TEXT_ASCII, LINES_LF);
  lf.Append(u"a\r\nb", false);
  lf.Append(u"c", true);
  EXPECT_EQ(lf.GetContent(), u"a\nbc\n");
  EXPECT_EQ(lf.GetLineCount(), 3u);
  lf.Free(true);
  EXPECT_FALSE(lf.HasContent());
  EXPECT_EQ(lf.GetEncoding(), 0u);
  EXPECT_TRUE(lf.GetPath().empty());
}

// ---- Saving with backups

TEST_F(TextFileTest, StoreReplacesTheBackupWithThePreviousFile) {
  Put("f.cfg", "old");
  Put("f.cfg.bak", "older");
  VrTextFile f(W("f.cfg").c_str(), TEXT_UTF8, LINES_LF);
  f.Append(u"new", false);
  ASSERT_EQ(f.SaveFile(), S_OK);
  EXPECT_EQ(Get("f.cfg"), "new");
  EXPECT_EQ(Get("f.cfg.bak"), "old");
  EXPECT_EQ(Listing(), "f.cfg f.cfg.bak");
  // Stored again: the content stays in memory, the backup moves on.
  ASSERT_EQ(f.SaveFile(), S_OK);
  EXPECT_EQ(Get("f.cfg.bak"), "new");
  // Without make-backup the backup is left alone.
  f.SetMakeBackup(false);
  f.Append(u"!", false);
  ASSERT_EQ(f.SaveFile(), S_OK);
  EXPECT_EQ(Get("f.cfg"), "new!");
  EXPECT_EQ(Get("f.cfg.bak"), "new");
  // Backslashes name the same file.
  WString back = W("f.cfg");
  std::replace(back.begin(), back.end(), u'/', u'\\');
  VrTextFile b(back.c_str(), TEXT_UTF8, LINES_LF);
  ASSERT_EQ(b.LoadFile(), S_OK);
  EXPECT_EQ(b.GetContent(), u"new!");
}

TEST_F(TextFileTest, StoreFailuresNameTheirCause) {
  VrTextFile noDir(W("none/f.txt").c_str(), TEXT_UTF8, LINES_LF);
  noDir.Append(u"x", false);
  EXPECT_EQ(noDir.SaveFile(), E_FAIL);
  EXPECT_TRUE(Traced("-> subHR failure from _wfopen = 0x80070003"));
  EXPECT_TRUE(Traced("\"VrTextFile::StoreFile\"  Path not found for: " + N("none/f.txt")));
  EXPECT_TRUE(Traced("Leaving method with exit code: 0x80004005"));

  const WString tooLong = W(std::string(300, 'n'));
  VrTextFile longPath(tooLong.c_str(), TEXT_UTF8, LINES_LF);
  EXPECT_EQ(longPath.SaveFile(), E_FAIL);
  EXPECT_TRUE(Traced("Invalid file path for: " + vr::text::WideToUtf8(tooLong)));

  VrTextFile noPath(nullptr, TEXT_UTF8, LINES_LF);
  EXPECT_EQ(noPath.SaveFile(), E_FAIL);

  VrTextFile badText(W("bad.txt").c_str(), TEXT_UTF8, LINES_LF);
  badText.Append(WString(1, u'\xD800'), false);  // a lone surrogate has no UTF-8 form
  EXPECT_EQ(badText.SaveFile(), E_FAIL);
  EXPECT_TRUE(Traced("Error during codeset conversion (Unicode to UTF8)!"));
  EXPECT_FALSE(Exists("bad.txt"));

  struct Case {
    const char* fault;
    const char* message;
  };
  const Case cases[] = {
      {"file.Access#1", "Cannot access existing backup file: "},
      {"file.Access#2", "Cannot access existing file: "},
      {"file.Delete#1", "Cannot delete previous backup file: "},
      {"file.SaveBackup#1", "Cannot rename existing backup file: "},
      {"file.SaveRename#1", "Failed to close the file!"},
      {"file.Sync#1", "Failed to close the file!"},
      {"file.Write#1", "Error during writing buffer content to file!"},
      {"file.SaveCreate#1", "Unknown error during file opening: "},
  };
  for (const auto& c : cases) {
    Put("f.txt", "old");
    Put("f.txt.bak", "older");
    ClearTrace();
    VrTextFile f(W("f.txt").c_str(), TEXT_UTF8, LINES_LF);
    f.Append(u"new", false);
    vr::fault::Configure(c.fault);
    EXPECT_EQ(f.SaveFile(), E_FAIL) << c.fault;
    vr::fault::Reset();
    EXPECT_TRUE(Traced(std::string("\"VrTextFile::StoreFile\"  ") + c.message)) << c.fault << "\n" << Trace();
    EXPECT_EQ(Get("f.txt"), "old") << c.fault;
    EXPECT_EQ(f.GetContent(), u"new");  // the content stays for another try
    const std::string listing = Listing();  // no temporary file left
    EXPECT_TRUE(listing == "f.txt f.txt.bak" || listing == "f.txt") << c.fault << ": " << listing;
  }
}

// A save interrupted at any host call it makes leaves the old or the new file at its name.
TEST_F(TextFileTest, SaveInterruptedAtEveryStepKeepsAFileAtItsName) {
  const std::string log = N("../") + dir_.filename().string() + ".faults";
  auto save = [&]() {
    VrTextFile f(W("s.txt").c_str(), TEXT_UNICODE, LINES_CRLF);
    f.SetHasHeader(true);
    f.Append(u"new text", true);
    return f.SaveFile();
  };
  Put("s.txt", "old");
  Put("s.txt.bak", "older");
  vr::fault::SetLogFile(log);
  ASSERT_EQ(save(), S_OK);
  vr::fault::SetLogFile("");
  std::ifstream in(log);
  std::vector<std::string> points;
  for (std::string p; std::getline(in, p);) points.push_back(p);
  std::filesystem::remove(log);
  ASSERT_GE(points.size(), 6u);
  const std::string newBytes = "\xFF\xFE" + Utf16(u"new text\r\n");
  for (const std::string& point : points) {
    Put("s.txt", "old");
    Put("s.txt.bak", "older");
    vr::fault::Configure(point);
    const HRESULT hr = save();
    vr::fault::Reset();
    EXPECT_EQ(hr, E_FAIL) << point;
    EXPECT_EQ(Get("s.txt"), "old") << point;
    // No temporary file stays; the backup is the older one, the previous file, or (when the
    // failure came after the older one was removed) none.
    const std::string listing = Listing();
    EXPECT_TRUE(listing == "s.txt s.txt.bak" || listing == "s.txt") << point << ": " << listing;
    if (listing != "s.txt") {
      EXPECT_TRUE(Get("s.txt.bak") == "older" || Get("s.txt.bak") == "old") << point;
    }
  }
  Put("s.txt", "old");
  ASSERT_EQ(save(), S_OK);
  EXPECT_EQ(Get("s.txt"), newBytes);
  EXPECT_EQ(Get("s.txt.bak"), "old");
}

// ---- CRC values

TEST_F(TextFileTest, CrcCoversExactlyTheBytesWritten) {
  VrTextFile unicode(W("u.txt").c_str(), TEXT_UNICODE, LINES_CRLF);
  unicode.Append(u"ab", false);
  ASSERT_EQ(unicode.SaveFile(), S_OK);
  VrTextFile ascii(W("a.txt").c_str(), TEXT_ASCII, LINES_CRLF);
  ascii.Append(u"ab", false);
  ASSERT_EQ(ascii.SaveFile(), S_OK);
  const VrCrc32 crc;
  uint32_t expected = 0;
  ASSERT_TRUE(crc.Update(std::string_view("ab"), expected));
  EXPECT_EQ(unicode.GetCrc(), expected);
  EXPECT_EQ(ascii.GetCrc(), expected);
  EXPECT_EQ(Get("u.txt"), Utf16(u"ab"));

  unicode.SetHasHeader(true);
  ASSERT_EQ(unicode.SaveFile(), S_OK);
  ASSERT_TRUE(crc.Update(std::string_view("\xFF" "ab"), expected));
  EXPECT_EQ(unicode.GetCrc(), expected);
  EXPECT_EQ(Get("u.txt"), "\xFF\xFE" + Utf16(u"ab"));

  VrTextFile utf8(W("8.txt").c_str(), TEXT_UTF8, LINES_LF);
  utf8.SetHasHeader(true);
  utf8.Append(u"\u00E9", false);
  ASSERT_EQ(utf8.SaveFile(), S_OK);
  ASSERT_TRUE(crc.Update(std::string_view("\xEF\xBB\xBF\xC3\xA9"), expected));
  EXPECT_EQ(utf8.GetCrc(), expected);
}

}  // namespace
