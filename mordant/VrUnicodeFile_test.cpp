// The encoded text files: detection, the four encodings both ways, line counting and push-back,
// and the failures each one throws.
#include "mordant/VrUnicodeFile.h"

#include <gtest/gtest.h>

#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ReadFileBytes;
using vr::testing::TempDir;
using vr::testing::WriteFileBytes;

namespace {

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }

// Everything GetCh returns until WEOF.
WString ReadAll(VrUnicodeFileT& f) {
  WString out;
  for (wint_t c = f.GetCh(); c != WEOF; c = f.GetCh()) out.push_back(static_cast<WChar>(c));
  return out;
}

std::unique_ptr<VrUnicodeFileT> Open(const std::string& path, int type = VrUnicodeFileT::eANY) {
  return VrUnicodeFileT::Create(W(path).c_str(), VrUnicodeFileT::eREAD, type);
}

class VrUnicodeFileTest : public ::testing::Test {
 protected:
  void TearDown() override { vr::fault::Reset(); }
  std::string Put(const std::string& name, const std::string& bytes) {
    WriteFileBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  TempDir dir_{"vrufile"};
};

TEST_F(VrUnicodeFileTest, DetectsEachMarkAndFallsBackToMultibyte) {
  struct Case {
    std::string bytes;
    int type;
    WString text;
  } cases[] = {
      {std::string("\xFF\xFE" "a\0b\0", 6), VrUnicodeFileT::eUNICODE_LE, u"ab"},
      {std::string("\xFE\xFF\0a\0b", 6), VrUnicodeFileT::eUNICODE_BE, u"ab"},
      {"\xEF\xBB\xBF" "ab", VrUnicodeFileT::eUTF8, u"ab"},
      {"\xEF\xBB" "A", VrUnicodeFileT::eMBCS, u"\u00EF\u00BB" "A"},  // read again from the first byte
      {"plain", VrUnicodeFileT::eMBCS, u"plain"},
      {"x", VrUnicodeFileT::eMBCS, u"x"},  // one byte is text, not an empty file
  };
  std::setlocale(LC_CTYPE, "C.UTF-8");
  for (const Case& c : cases) {
    const std::string path = Put("in", c.bytes);
    if (c.bytes.rfind("\xEF\xBB" "A", 0) == 0) {
      // EF BB 41 is no valid UTF-8: in a Latin-1 reading it would be text; here it is a
      // stream error at the first character, after the file was opened as multibyte.
      auto f = Open(path);
      EXPECT_EQ(f->GetType(), VrUnicodeFileT::eMBCS);
      EXPECT_EQ(f->GetCh(), WEOF);
      EXPECT_NE(f->StreamError(), 0);
      continue;
    }
    auto f = Open(path);
    EXPECT_EQ(f->GetType(), c.type) << c.bytes;
    EXPECT_EQ(ReadAll(*f), c.text) << c.bytes;
    EXPECT_TRUE(f->AtEnd());
    EXPECT_EQ(f->StreamError(), 0);
  }
  std::setlocale(LC_CTYPE, "C");
}

TEST_F(VrUnicodeFileTest, AnEmptyFileAndAMissingOne) {
  const std::string empty = Put("empty", "");
  try {
    Open(empty);
    FAIL() << "no exception";
  } catch (const VrUnicodeFileT::Exception& e) {
    EXPECT_EQ(e.Kind(), VrUnicodeFileT::eFileEmpty);
    EXPECT_EQ(std::string(e.Message()),
              "VrUnicodeFileT::Impl::Create(\"" + empty + "\",eREAD,eANY) failed because the file is empty.");
  }
  try {
    Open(dir_ / "missing");
    FAIL() << "no exception";
  } catch (const VrUnicodeFileT::Exception& e) {
    EXPECT_EQ(e.Kind(), VrUnicodeFileT::eOpenFailed);
    EXPECT_EQ(std::string(e.Message()), "VrUnicodeFileT::Impl::Create(\"" + (dir_ / "missing") +
                                            "\",eREAD,eANY) failed because _wfopen(\"" + (dir_ / "missing") +
                                            "\",\"rb\") failed with errno = 2:\"No such file or directory\".");
  }
  EXPECT_THROW(VrUnicodeFileT::Create(nullptr, VrUnicodeFileT::eREAD, VrUnicodeFileT::eANY), VrUnicodeFileT::Exception);
  try {
    VrUnicodeFileT::Create(u"x", 7, 9);
    FAIL() << "no exception";
  } catch (const VrUnicodeFileT::Exception& e) {
    EXPECT_EQ(std::string(e.Message()),
              "VrUnicodeFileT::Impl::Create(\"x\",INVALID(0x07),INVALID(0x09)) failed because \"mode\", the 2nd "
              "argument, was invalid.");
  }
  EXPECT_THROW(VrUnicodeFileT::Create(W(dir_ / "out").c_str(), VrUnicodeFileT::eWRITE, 5), VrUnicodeFileT::Exception);
}

TEST_F(VrUnicodeFileTest, Utf16LinesAndPushBack) {
  // "a", CR LF, "b", CR LF, "c" in little-endian units.
  const std::string path = Put("le", std::string("\xFF\xFE" "a\0\r\0\n\0b\0\r\0\n\0c\0", 16));
  auto f = Open(path);
  EXPECT_EQ(f->GetCh(), L'a');
  EXPECT_EQ(f->GetCh(), L'\n');
  EXPECT_EQ(f->Line(), 2u);
  f->UngetCh(L'\n');
  EXPECT_EQ(f->Line(), 1u);
  EXPECT_EQ(f->GetCh(), L'\n');
  EXPECT_EQ(f->Line(), 2u);
  EXPECT_EQ(ReadAll(*f), u"b\nc");
  EXPECT_EQ(f->Line(), 3u);
  EXPECT_TRUE(f->AtEnd());
  f->UngetCh(L'z');
  EXPECT_FALSE(f->AtEnd());
  EXPECT_EQ(f->GetCh(), L'z');

  // A named type drops its mark when there is one and keeps the first unit when there is not.
  auto named = Open(Put("le2", std::string("x\0y\0", 4)), VrUnicodeFileT::eUNICODE_LE);
  EXPECT_EQ(ReadAll(*named), u"xy");
  auto be = Open(Put("be", std::string("\xFE\xFF\0x\0\r\0\n", 8)), VrUnicodeFileT::eUNICODE_BE);
  EXPECT_EQ(ReadAll(*be), u"x\n");

  // Half a unit at the end is a stream error, not a clean end.
  auto odd = Open(Put("odd", std::string("\xFF\xFE" "a\0b", 5)));
  EXPECT_EQ(ReadAll(*odd), u"a");
  EXPECT_NE(odd->StreamError(), 0);
}

TEST_F(VrUnicodeFileTest, WritesEachEncoding) {
  const WString text = u"a\nb";
  struct Case {
    int type;
    std::string bytes;
  } cases[] = {
      {VrUnicodeFileT::eUNICODE_LE, std::string("\xFF\xFE" "a\0\r\0\n\0b\0", 10)},
      {VrUnicodeFileT::eUNICODE_BE, std::string("\xFE\xFF\0a\0\r\0\n\0b", 10)},
      {VrUnicodeFileT::eUTF8, "\xEF\xBB\xBF" "a\r\nb"},
      {VrUnicodeFileT::eMBCS, "a\nb"},
  };
  for (const Case& c : cases) {
    const std::string path = dir_ / "out";
    auto f = VrUnicodeFileT::Create(W(path).c_str(), VrUnicodeFileT::eWRITE, c.type);
    f->PutString(text);
    EXPECT_EQ(f->Line(), 2u);
    f->Close();
    EXPECT_EQ(ReadFileBytes(path), c.bytes) << c.type;
  }
}

// Characters outside the Basic Multilingual Plane are surrogate pairs inside and four bytes in
// UTF-8, both ways.
TEST_F(VrUnicodeFileTest, Utf8KeepsCharactersOutsideTheBmp) {
  const std::string path = dir_ / "u8";
  const WString text = u"G\U0001D11E\u00E9\u20AC!";
  auto w = VrUnicodeFileT::Create(W(path).c_str(), VrUnicodeFileT::eWRITE, VrUnicodeFileT::eUTF8);
  w->PutString(text);
  w->Close();
  EXPECT_EQ(ReadFileBytes(path), "\xEF\xBB\xBF" "G\xF0\x9D\x84\x9E\xC3\xA9\xE2\x82\xAC!");
  auto r = Open(path);
  EXPECT_EQ(ReadAll(*r), text);
  // Without a mark, read as eUTF8: the first bytes are pushed back.
  auto bare = Open(Put("bare", "\xF0\x9D\x84\x9Ez"), VrUnicodeFileT::eUTF8);
  EXPECT_EQ(ReadAll(*bare), u"\U0001D11Ez");
}

TEST_F(VrUnicodeFileTest, DamagedUtf8) {
  // Stray continuation bytes and F8..FF read as '?'.
  auto stray = Open(Put("stray", "\xEF\xBB\xBF" "a\x80\xFF" "b"));
  EXPECT_EQ(ReadAll(*stray), u"a??b");
  // A missing continuation byte is an exception naming the line.
  const std::string path = Put("cut", "\xEF\xBB\xBF" "a\n\xC3" "b");
  auto cut = Open(path);
  EXPECT_EQ(cut->GetCh(), L'a');
  EXPECT_EQ(cut->GetCh(), L'\n');
  try {
    cut->GetCh();
    FAIL() << "no exception";
  } catch (const VrUnicodeFileT::Exception& e) {
    EXPECT_EQ(e.Kind(), VrUnicodeFileT::eInvalidUtf8);
    EXPECT_EQ(std::string(e.Message()), "Utf8FileT::GetCh() failed from file \"" + path +
                                            "\" on line 2 because getc(m_fp) sequence did not conform to UTF-8 "
                                            "encodings.");
    // The report names the unit that raised it, not the unit of the exception class.
    EXPECT_STREQ(e.SourceUnit(), "Utf8File.cpp");
    EXPECT_NE(std::string(e.what()).find(" [ Utf8File.cpp line " + std::to_string(e.SourceLine()) + ", code eInvalidUtf8 ]"),
              std::string::npos);
  }
  // A sequence cut off by the end of the file is the same failure.
  auto end = Open(Put("end", "\xEF\xBB\xBF\xE2\x82"));
  EXPECT_THROW(end->GetCh(), VrUnicodeFileT::Exception);
}

TEST_F(VrUnicodeFileTest, ExceptionText) {
  const VrUnicodeFileT::Exception e("/src/mordant/MbcsFile.cpp", 42, VrUnicodeFileT::ePutChar, "it failed");
  const std::string first = e.what();
  EXPECT_EQ(first, "it failed [ MbcsFile.cpp line 42, code ePutChar ]");
  EXPECT_STREQ(e.SourceUnit(), "MbcsFile.cpp");
  EXPECT_EQ(std::string(e.what()), first);
  const VrUnicodeFileT::Exception copy = e;
  EXPECT_EQ(std::string(copy.what()), first);
  EXPECT_STREQ(GetErrorKindName(0x1234), "INVALID(0x1234)");
  EXPECT_STREQ(GetTypeName(VrUnicodeFileT::eUNICODE_BE), "eUNICODE_BE");
}

// Host file failures become the file layer's exceptions.
TEST_F(VrUnicodeFileTest, FailingHostCalls) {
  const std::string path = dir_ / "w";
  vr::fault::Configure("file.Open#1=5");
  try {
    VrUnicodeFileT::Create(W(path).c_str(), VrUnicodeFileT::eWRITE, VrUnicodeFileT::eUNICODE_LE);
    FAIL() << "no exception";
  } catch (const VrUnicodeFileT::Exception& e) {
    EXPECT_EQ(e.Kind(), VrUnicodeFileT::eOpenFailed);
    EXPECT_NE(std::string(e.Message()).find("failed with errno = 13:\"Permission denied\"."), std::string::npos);
  }
  // A write that fails when the buffer reaches the disk is reported by Close.
  vr::fault::Configure("file.Write#1=112");
  auto f = VrUnicodeFileT::Create(W(path).c_str(), VrUnicodeFileT::eWRITE, VrUnicodeFileT::eUNICODE_LE);
  f->PutString(u"abc");
  try {
    f->Close();
    FAIL() << "no exception";
  } catch (const VrUnicodeFileT::Exception& e) {
    EXPECT_EQ(e.Kind(), VrUnicodeFileT::ePutChar);
    EXPECT_NE(std::string(e.Message()).find("No space left on device"), std::string::npos);
  }
  // A read failure is a stream error with its errno.
  const std::string in = Put("r", "\xFF\xFE" "a\0");
  vr::fault::Configure("file.Read#2=30");
  auto r = Open(in);
  EXPECT_EQ(r->GetCh(), WEOF);
  EXPECT_EQ(r->StreamError(), 5);  // EIO
}

}  // namespace
