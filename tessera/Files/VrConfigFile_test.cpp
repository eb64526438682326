#include "tessera/Files/VrConfigFile.h"

#include "platform/text/format.h"
#include "tessera/Files/FilesTestSupport.h"
#include "tessera/Files/VrCrc32.h"

namespace {

class ConfigFileTest : public FilesTest {
 protected:
  static std::string Frame(const std::string& body, const std::string& tail = "CONFIG FILE CRC: 1a2b\n") {
    return "\xEF\xBB\xBFPREREQUISITES CHECK CONFIG\nVER 7.5\nUPDATES: ++VRMS_0100\n" + body + tail;
  }
  static std::string Body() {
    return "[PREREQUISITES_SECTION]\n[PREREQUISITES] Disk\nsize 10\n[INFORMATION] x\n"
           "[SYSTEM_SECTION]\n[SYSTEM] HP-UX\nos 11\n";
  }
  HRESULT Load(const std::string& bytes, VrConfigFile*& out) {
    Put("vroreqcheck.cfg", bytes);
    file_ = std::make_unique<VrConfigFile>(W("vroreqcheck.cfg").c_str());
    out = file_.get();
    return file_->LoadFile();
  }
  HRESULT Load(const std::string& bytes) {
    VrConfigFile* ignored;
    return Load(bytes, ignored);
  }
  std::unique_ptr<VrConfigFile> file_;
};

TEST_F(ConfigFileTest, AValidFileLoadsWithItsFields) {
  VrConfigFile* f;
  ASSERT_EQ(Load(Frame(Body()), f), S_OK) << Trace();
  EXPECT_TRUE(f->HasHeader());
  EXPECT_EQ(f->GetVersion(), u"7.5");
  EXPECT_EQ(f->GetUpdates(), u"++VRMS_0100");
  EXPECT_EQ(f->GetCrcText(), u"00001A2B");
  ASSERT_TRUE(f->GetPrerequisitesSectionPosition());
  EXPECT_EQ(f->GetPrerequisitesSectionPosition()->line, 4u);
  ASSERT_TRUE(f->GetSystemSectionPosition());
  EXPECT_EQ(f->GetSystemSectionPosition()->line, 8u);
  EXPECT_EQ(f->GetPosition(), (VrTextPosition{0, 1}));  // ready to be read from the start
  EXPECT_TRUE(f->GetErrorText().empty());
  // The sections may come in either order, blank lines and case do not matter.
  EXPECT_EQ(Load(Frame("\n[system_section]\n  \n[Prerequisites_Section]\n", "config file crc: 0\n\n   \n")), S_OK)
      << Trace();
  EXPECT_EQ(file_->GetCrcText(), u"00000000");
  // A file without the UTF-8 header keeps having none.
  EXPECT_EQ(Load(Frame(Body()).substr(3), f), S_OK);
  EXPECT_FALSE(f->HasHeader());
  EXPECT_EQ(Load("PREREQUISITES CHECK CONFIG\nVER 1.0\nUPDATES:\n" + Body() + "CONFIG FILE CRC: 0", f), S_OK);
  EXPECT_TRUE(f->GetUpdates().empty());
}

TEST_F(ConfigFileTest, VersionsOfTheVerLine) {
  for (const char16_t* good : {u"1.2.*", u"*", u"7-5.*-x", u"10.0.1a"}) EXPECT_TRUE(VrConfigFile::IsVersion(good)) << vr::text::WideToUtf8(good);
  for (const char16_t* bad : {u"", u"1*", u"*1", u"1.**", u"1 2", u"1_2", u"1.2/"}) EXPECT_FALSE(VrConfigFile::IsVersion(bad)) << vr::text::WideToUtf8(bad);
  EXPECT_EQ(Load("PREREQUISITES CHECK CONFIG\nVER 1*\nUPDATES:\n" + Body() + "CONFIG FILE CRC: 0"), E_VRFILE_CONTENT);
  EXPECT_TRUE(Traced("\"VrConfigFile::LoadFile\"  Line 2: value after VER (1*) is not version."));
  EXPECT_EQ(Load("PREREQUISITES CHECK CONFIG\nVER 1.0 beta\nUPDATES:\n" + Body() + "CONFIG FILE CRC: 0"), E_VRFILE_CONTENT);
  EXPECT_TRUE(Traced("Line 2: value after VER (1.0 beta) is not version."));
  EXPECT_EQ(Load("PREREQUISITES CHECK CONFIG\nVER\nUPDATES:\n" + Body() + "CONFIG FILE CRC: 0"), E_VRFILE_CONTENT);
  EXPECT_TRUE(Traced("Line 2: value after VER () is not version."));
  EXPECT_FALSE(file_->HasContent());  // a failed load leaves the object empty
  EXPECT_TRUE(file_->GetVersion().empty());
}

TEST_F(ConfigFileTest, FrameErrorsNameTheirLines) {
  struct Case {
    std::string bytes;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"", "\"VrConfigFile::LoadFile\"  Configuration file is empty."},
      {Frame(Body()).substr(0, 10) + std::string(1, '\0') + "x", "Configuration file contains binary data ('\\0')."},
      {"\n\nHELLO\n", "Line 3 should start with PREREQUISITES CHECK CONFIG"},
      {"PREREQUISITES CHECK CONFIG\n", "Line 2 should start with VER"},
      {"PREREQUISITES CHECK CONFIG\nVER 1\nUPDATE: x\n", "Line 3 should start with UPDATES:"},
      {Frame(Body(), "CONFIG FILE CRC: 1a2b\n\nmore\n"),
       "Line 13: line starting with CONFIG FILE CRC: should be last line in file."},
      {Frame(Body(), "CONFIG FILE CRC: 1\nCONFIG FILE CRC: 2\n"),
       "Line 12: line starting with CONFIG FILE CRC: should be last line in file."},
      {Frame(Body() + "[SYSTEM_SECTION] again\n"), "Line 11: [SYSTEM_SECTION] was already defined in line 8"},
      {Frame("[SYSTEM_SECTION]\n"), "Line 6: line starting with [PREREQUISITES_SECTION] not found."},
      {Frame("[PREREQUISITES_SECTION]\n"), "Line 6: line starting with [SYSTEM_SECTION] not found."},
      {Frame(Body(), ""), "Line 11: line starting with CONFIG FILE CRC: not found."},
      {Frame(Body(), "CONFIG FILE CRC: 123456789"), "Line 11: CRC (\"123456789\") is not 4-byte hex number."},
      {Frame(Body(), "CONFIG FILE CRC: xyz"), "Line 11: CRC (\"xyz\") is not 4-byte hex number."},
      {Frame(Body(), "CONFIG FILE CRC:"), "Line 11: CRC (\"\") is not 4-byte hex number."},
      {Frame(Body(), "CONFIG FILE CRC: 12 34"), "Line 11: CRC (\"12\") is not 4-byte hex number."},
      {Frame(Body(), "CONFIG FILE SUM: 12"), "Line 11: CRC (\"12\") is not 4-byte hex number."},
  };
  for (const auto& c : cases) {
    ClearTrace();
    EXPECT_EQ(Load(c.bytes), E_VRFILE_CONTENT) << c.message;
    EXPECT_TRUE(Traced(c.message)) << c.message << "\n" << Trace();
    EXPECT_FALSE(file_->HasContent());
  }
}

TEST_F(ConfigFileTest, MalformedCrcGivesItsUserMessage) {
  VrConfigFile* f;
  EXPECT_EQ(Load(Frame(Body(), "CONFIG FILE CRC: zz\n"), f), E_VRFILE_CONTENT);
  EXPECT_EQ(f->GetErrorText(),
            u"(TESSERA3056) Parsing CRC code has failed. CRC code 'zz' is not 4-byte hex number\n");
  EXPECT_TRUE(Traced("(TESSERA3056) Parsing CRC code has failed."));
  EXPECT_EQ(Load(Frame(Body()), f), S_OK);
  EXPECT_TRUE(f->GetErrorText().empty());
  // 1 to 8 hexadecimal digits begin the value.
  EXPECT_EQ(Load(Frame(Body(), "CONFIG FILE CRC: aBcD1234\n"), f), S_OK);
  EXPECT_EQ(f->GetCrcText(), u"ABCD1234");
  EXPECT_EQ(Load(Frame(Body(), "CONFIG FILE CRC: 1fz\n"), f), S_OK);
  EXPECT_EQ(f->GetCrcText(), u"0000001F");
}

TEST_F(ConfigFileTest, SaveWritesTheContentThenItsCrcLine) {
  const std::string x = "PREREQUISITES CHECK CONFIG\nVER 8.0\nUPDATES:\n[PREREQUISITES_SECTION]\n[SYSTEM_SECTION]\n";
  VrConfigFile fresh(W("new.cfg").c_str());
  fresh.Append(vr::text::Utf8ToWide(x), false);
  ASSERT_EQ(fresh.SaveFile(), S_OK);
  const VrCrc32 crc;
  uint32_t value = 0;
  ASSERT_TRUE(crc.Update("\xEF\xBB\xBF" + x, value));
  EXPECT_EQ(Get("new.cfg"), "\xEF\xBB\xBF" + x + vr::text::FormatA("CONFIG FILE CRC: %.8X", value));
  EXPECT_EQ(fresh.GetCrc(), value);
  EXPECT_EQ(fresh.GetContent(), vr::text::Utf8ToWide(x));  // the CRC line is not in memory

  // Loaded back, its CRC text is the one written; stored again it keeps a backup.
  VrConfigFile again(W("new.cfg").c_str());
  ASSERT_EQ(again.LoadFile(), S_OK) << Trace();
  EXPECT_EQ(again.GetCrcText(), vr::text::Utf8ToWide(vr::text::FormatA("%.8X", value)));
  ASSERT_EQ(again.ReSaveFile(), S_OK);
  EXPECT_EQ(Get("new.cfg"), Get("new.cfg.bak"));

  // Without the header the CRC covers the text alone.
  VrConfigFile plain(W("plain.cfg").c_str());
  plain.SetHasHeader(false);
  plain.Append(vr::text::Utf8ToWide(x), false);
  ASSERT_EQ(plain.SaveFile(), S_OK);
  ASSERT_TRUE(crc.Update(x, value));
  EXPECT_EQ(Get("plain.cfg"), x + vr::text::FormatA("CONFIG FILE CRC: %.8X", value));
}

TEST_F(ConfigFileTest, InterruptedSaveKeepsThePreviousFile) {
  Put("c.cfg", "previous");
  struct Case {
    const char* fault;
    const char* message;
  };
  for (const Case& c : {Case{"file.Write#2", "Error during writing the CRC to the file!"},
                        Case{"file.SaveRename#1", "Error during closing the file!"},
                        Case{"file.Sync#1", "Error during closing the file!"}}) {
    ClearTrace();
    VrConfigFile f(W("c.cfg").c_str());
    f.Append(u"content\n", false);
    vr::fault::Configure(c.fault);
    EXPECT_EQ(f.SaveFile(), E_FAIL) << c.fault;
    vr::fault::Reset();
    EXPECT_TRUE(Traced(std::string("\"VrConfigFile::SaveFile\"  ") + c.message)) << Trace();
    EXPECT_EQ(Get("c.cfg"), "previous");
    EXPECT_EQ(Listing(), "c.cfg");
  }
}

TEST_F(ConfigFileTest, EndsOfBlocks) {
  // A block of either kind ends at any tag line, at either section line and at the CRC line,
  // whatever their case, so that a system block never runs into a prerequisites section that
  // follows it (and the other way round).
  VrConfigFile f(nullptr);
  f.Append(u"CONFIG FILE CRC: 1\n[system] x\n  [SYSTEM]\nconfig file crc:\n[PREREQUISITES] a\n[information]\n"
           u"[SYSTEM_SECTION]\n[prerequisites_section]\nsize 1\nCONFIG x\n\n",
           false);
  std::vector<std::pair<bool, bool>> ends;
  VrTextLine line;
  while (f.ReadLine(line, nullptr, false, false)) {
    ends.emplace_back(f.IsEndOfSystem(line), f.IsEndOfRequirements(line));
    if (line.IsAtEnd()) break;
  }
  const std::vector<std::pair<bool, bool>> expected = {
      {true, true}, {true, true}, {true, true}, {true, true}, {true, true}, {true, true},
      {true, true}, {true, true}, {false, false}, {false, false}, {false, false}, {false, false}};
  EXPECT_EQ(ends, expected);
}

TEST_F(ConfigFileTest, LinesAreClassifiedAsTheLoadFoundThem) {
  // Header keys in other cases, the system section first, CR LF line ends and a lower-case
  // CRC line: the kinds the editing code sees are those the load checked.
  Put("k.cfg", "\xEF\xBB\xBFprerequisites check config\r\n  ver 2.0\r\nupdates: ++A\r\n[System_Section]\r\n"
               "[SYSTEM] S1\r\nVER 9\r\n[Prerequisites_Section]\r\n[prerequisites] P1\r\nupdates: x\r\n"
               "config file crc: 1a2b\r\n");
  VrConfigFile f(W("k.cfg").c_str());
  ASSERT_EQ(f.LoadFile(), S_OK);
  using K = VrConfigFile::LineKind;
  std::vector<K> kinds;
  VrTextLine line;
  while (f.ReadLine(line, nullptr, true, false)) {
    if (line.GetTokenCount()) kinds.push_back(f.Classify(line));
    if (line.IsAtEnd()) break;
  }
  const std::vector<K> expected = {K::Other, K::Version, K::Updates, K::SystemSection, K::SystemTag, K::Other,
                                   K::PrerequisitesSection, K::PrerequisitesTag, K::Other, K::Crc};
  EXPECT_EQ(kinds, expected);
}

}  // namespace
