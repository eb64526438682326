#include <gtest/gtest.h>

#include <fstream>

#include "platform/text/convert.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/UndoFile.h"
#include "tests/support/HostTestSupport.h"

using namespace vr::undo;

namespace {

// Writes text (UTF-8 in the test, LF line ends) as a Unicode undo file with FF FE and CR LF.
std::string WriteUndo(const std::string& name, const std::string& text) {
  const std::string path = vr::testing::ScratchPath(name);
  std::string bytes = "\xFF\xFE";
  for (char16_t c : vr::text::Utf8ToWide(text)) {
    if (c == u'\n') { bytes += '\r'; bytes += '\0'; }
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

struct Outcome {
  int result;
  UndoHeader header;
  int sections;
  WString message;
};

Outcome Validate(const std::string& text) {
  const std::string path = WriteUndo("undo_test.log", text);
  VrLogFile file(vr::text::Utf8ToWide(path).c_str(), true);
  EXPECT_EQ(file.LoadFile(), S_OK);
  Outcome o{};
  o.result = ValidateUndoFile(file, o.header, o.sections, o.message);
  return o;
}

const std::string kHeader =
    "Patch=VRMS_0200\nCreatedOn=07/15/2007 14:30:05 +02:00\nRegConfigFile=/tmp/cfg.xml\n"
    "TesseraConfigVersion=A.07.50|A.07.51\n";

std::string Msg(const Outcome& o) { return vr::text::WideToUtf8(o.message); }

}  // namespace

TEST(UndoCreationTime, SignAndOffsetFromTheBias) {
  EXPECT_EQ(FormatCreationTime(7, 15, 2007, 14, 30, 5, -120), u"07/15/2007 14:30:05 +02:00");
  EXPECT_EQ(FormatCreationTime(1, 2, 2026, 3, 4, 5, 330), u"01/02/2026 03:04:05 -05:30");
  EXPECT_EQ(FormatCreationTime(12, 31, 999, 23, 59, 59, 0), u"12/31/0999 23:59:59 +00:00");
}

TEST(UndoValidation, HeaderFieldsAndSections) {
  const Outcome o = Validate(kHeader +
                             "\n[[[platforms]]] trailing words\nOS-TYPE ADD 3 \"x\"\n[[[PLATFORMS_END]]]\n\n"
                             "# a comment\n[[[PACKAGES]]]\n[[[PACKAGES]]]\n[[[PACKAGES_END]]]\n"
                             "[[[PREREQUISITE_CHECK]]]\n[[[PREREQUISITE_CHECK_END]]]\n");
  EXPECT_EQ(o.result, 0) << Msg(o);
  EXPECT_EQ(o.header.patch, u"VRMS_0200");
  EXPECT_EQ(o.header.createdOn, u"07/15/2007 14:30:05 +02:00");
  EXPECT_EQ(o.header.configFile, u"/tmp/cfg.xml");
  EXPECT_EQ(o.header.supportedVersions, u"A.07.50|A.07.51");
  EXPECT_EQ(o.sections, kSectionPlatforms | kSectionPackages | kSectionPrereq);

  const Outcome headerOnly = Validate(kHeader);
  EXPECT_EQ(headerOnly.result, 0);
  EXPECT_EQ(headerOnly.sections, 0);
  const Outcome noFinalLineEnd = Validate(kHeader + "[[[PACKAGES]]]\n[[[PACKAGES_END]]]");
  EXPECT_EQ(noFinalLineEnd.result, 0);
  EXPECT_EQ(noFinalLineEnd.sections, kSectionPackages);
}

TEST(UndoValidation, HeaderErrorsNameLineAndKey) {
  Outcome o = Validate("CreatedOn=x\nPatch=y\n");
  EXPECT_EQ(o.result, 53);
  EXPECT_NE(Msg(o).find("(TESSERA301) Syntax error in line 1 of file '"), std::string::npos) << Msg(o);
  EXPECT_NE(Msg(o).find("Line does not start with 'Patch='."), std::string::npos);
  o = Validate("\n\npatch=1\nCreatedOn=2\nRegConfigFile=3\n");  // file ends before the fourth key
  EXPECT_EQ(o.result, 53);
  EXPECT_NE(Msg(o).find("'TesseraConfigVersion='"), std::string::npos) << Msg(o);
  o = Validate("Patch=1\n\nCreatedOn=2\nRegConfig=3\nTesseraConfigVersion=4\n");
  EXPECT_NE(Msg(o).find("line 4 of file"), std::string::npos) << Msg(o);
}

TEST(UndoValidation, MarkerErrors) {
  Outcome o = Validate(kHeader + "OS-TYPE ADD 3\n");
  EXPECT_EQ(o.result, 53);
  EXPECT_NE(Msg(o).find("(TESSERA300) Syntax error in line 5 of undo file"), std::string::npos) << Msg(o);

  o = Validate(kHeader + "[[[PLATFORMS]]]\n[[[PACKAGES]]]\n");
  EXPECT_NE(Msg(o).find("(TESSERA305) Syntax error in line 6 section PLATFORMS"), std::string::npos) << Msg(o);
  o = Validate(kHeader + "[[[PACKAGES]]]\n[[[platforms_end]]]\n");
  EXPECT_NE(Msg(o).find("(TESSERA303)"), std::string::npos) << Msg(o);
  o = Validate(kHeader + "[[[PREREQUISITE_CHECK]]]\n[[[PACKAGES_END]]]\n");
  EXPECT_NE(Msg(o).find("(TESSERA307)"), std::string::npos) << Msg(o);

  o = Validate(kHeader + "[[[PACKAGES]]]\nPACKAGE x\n");
  EXPECT_EQ(o.result, 53);
  EXPECT_NE(Msg(o).find("(TESSERA302)"), std::string::npos);
  EXPECT_NE(Msg(o).find("'[[[PACKAGES_END]]]'"), std::string::npos) << Msg(o);
  o = Validate(kHeader + "[[[PLATFORMS]]]\n");
  EXPECT_NE(Msg(o).find("(TESSERA304)"), std::string::npos);
  o = Validate(kHeader + "[[[PREREQUISITE_CHECK]]]");
  EXPECT_NE(Msg(o).find("(TESSERA306)"), std::string::npos);
}

TEST(UndoHeaderLines, WrittenAsUnicodeWithCrLf) {
  const std::string path = vr::testing::ScratchPath("undo_header.log");
  std::remove(path.c_str());
  {
    VrLogFile file(vr::text::Utf8ToWide(path).c_str(), true);
    AppendHeader(file, UndoHeader{u"P1", u"01/01/2026 00:00:00 +00:00", u"/c.xml", u"A.07.50"});
    ASSERT_EQ(file.SaveFile(), S_OK);
  }
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.substr(2, 14), std::string("P\0a\0t\0c\0h\0=\0P\0", 14));
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));
}
