#include "platform/registry/regtext.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/com/hresult.h"
#include "platform/registry/registry.h"
#include "platform/registry/regtools.h"
#include "tests/support/HostTestSupport.h"

using vr::registry::ParseRegText;
using vr::registry::RegOperation;
using vr::testing::ScopedEnv;
using vr::testing::TempDir;

namespace {

std::string Utf16(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

class RegToolsTest : public ::testing::Test {
 protected:
  ~RegToolsTest() override { vr::registry::CloseHive(); }
  TempDir a_{"vrrega"}, b_{"vrregb"};
};

TEST(RegText, ParsesEveryValueForm) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\TB Vorant]\r\n"
      "\"DataDir\"=\"\\\\srv\\\\data\\\\\"\r\n"
      "\"Quote \\\"x\\\"\"=\"a \\\"b\\\"\"\r\n"
      "@=\"default\"\r\n"
      "\"Count\"=dword:0000000A\r\n"
      "\"Blob\"=hex:01,02,\\\r\n"
      "  ff\r\n"
      "\"Path\"=hex(2):25,00,00,00\r\n"
      "\"Old\"=-\r\n"
      "[-HKLM\\SOFTWARE\\Gone]\r\n";
  std::vector<RegOperation> ops;
  std::string error;
  ASSERT_TRUE(ParseRegText(text, ops, error)) << error;
  ASSERT_EQ(ops.size(), 9u);
  EXPECT_EQ(ops[0].kind, RegOperation::Kind::CreateKey);
  EXPECT_EQ(ops[0].key, u"SOFTWARE\\Tamberlin\\TB Vorant");
  EXPECT_EQ(ops[1].name, u"DataDir");
  EXPECT_EQ(ops[1].type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(ops[1].data, Utf16(u"\\srv\\data\\") + std::string(2, '\0'));
  EXPECT_EQ(ops[2].name, u"Quote \"x\"");
  EXPECT_EQ(ops[2].data, Utf16(u"a \"b\"") + std::string(2, '\0'));
  EXPECT_EQ(ops[3].name, u"");
  EXPECT_EQ(ops[4].type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(ops[4].data, std::string("\x0A\0\0\0", 4));
  EXPECT_EQ(ops[5].type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(ops[5].data, std::string("\x01\x02\xFF"));
  EXPECT_EQ(ops[6].type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(ops[6].line, 11u);
  EXPECT_EQ(ops[7].kind, RegOperation::Kind::DeleteValue);
  EXPECT_EQ(ops[8].kind, RegOperation::Kind::DeleteTree);
  EXPECT_EQ(ops[8].key, u"SOFTWARE\\Gone");
}

// Hand-written files put single backslashes in paths; the editor of the home platform keeps a
// backslash before any character but a backslash or a double quote, and so does the import.
TEST_F(RegToolsTest, ALoneBackslashStaysAndExportImportStaysAnIdentity) {
  ScopedEnv root("VR_HOST_ROOT", a_.path());
  const std::string handWritten = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\TB Vorant]
"Tool"="C:\Program Files\x.exe"
"Share"="\\srv\share\\"
"Mixed"="a\\b\nc\"d\\"
"C:\Names\too"="1"
)";
  std::string error;
  ASSERT_EQ(vr::registry::ImportRegText(handWritten, error), ERROR_SUCCESS) << error;
  std::vector<RegOperation> ops;
  ASSERT_TRUE(ParseRegText(handWritten, ops, error)) << error;
  ASSERT_EQ(ops.size(), 5u);
  EXPECT_EQ(ops[1].data, Utf16(uR"(C:\Program Files\x.exe)") + std::string(2, '\0'));
  EXPECT_EQ(ops[2].data, Utf16(uR"(\srv\share\)") + std::string(2, '\0'));
  EXPECT_EQ(ops[3].data, Utf16(uR"(a\b\nc"d\)") + std::string(2, '\0'));
  EXPECT_EQ(ops[4].name, uR"(C:\Names\too)");
  // The export doubles every backslash.
  std::string exported;
  ASSERT_EQ(vr::registry::ExportRegText(u"SOFTWARE\\Tamberlin", exported), ERROR_SUCCESS);
  EXPECT_NE(exported.find(R"("Tool"="C:\\Program Files\\x.exe")" "\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find(R"("Share"="\\srv\\share\\")" "\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find(R"("Mixed"="a\\b\\nc\"d\\")" "\n"), std::string::npos) << exported;
  EXPECT_NE(exported.find(R"("C:\\Names\\too"="1")"), std::string::npos) << exported;
  // The export reads back to the same values: export, import elsewhere, export again.
  std::string again;
  {
    ScopedEnv other("VR_HOST_ROOT", b_.path());
    vr::registry::CloseHive();
    ASSERT_EQ(vr::registry::ImportRegText(exported, error), ERROR_SUCCESS) << error;
    ASSERT_EQ(vr::registry::ExportRegText(u"SOFTWARE\\Tamberlin", again), ERROR_SUCCESS);
    vr::registry::CloseHive();
  }
  EXPECT_EQ(again, exported);
}

TEST(RegText, ReadsUtf16WithItsMark) {
  const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K\u00e9]\r\n\"N\"=\"\u65e5\u672c\"\r\n";
  std::vector<RegOperation> ops;
  std::string error;
  ASSERT_TRUE(ParseRegText("\xFF\xFE" + Utf16(text), ops, error)) << error;
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].key, u"K\u00e9");
  EXPECT_EQ(ops[1].data, Utf16(u"\u65e5\u672c") + std::string(2, '\0'));
  // A name outside the basic plane is one character, and is written back as one.
  const std::u16string wide = u"Windows Registry Editor Version 5.00\r\n[HKLM\\K\U0001F600]\r\n\"\U0001F600\\\"\"=dword:1\r\n";
  ASSERT_TRUE(ParseRegText("\xFF\xFE" + Utf16(wide), ops, error)) << error;
  ASSERT_EQ(ops.size(), 2u);
  std::string written = vr::registry::RegHeader() + vr::registry::RegKeyLine(ops[0].key) +
                        vr::registry::RegValueLine(ops[1].name, ops[1].type, ops[1].data);
  std::vector<RegOperation> again;
  ASSERT_TRUE(ParseRegText(written, again, error)) << error << written;
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[0].key, u"K\U0001F600");
  EXPECT_EQ(again[1].name, u"\U0001F600\"");
  // Names that UTF-8 text cannot carry are refused, not written back changed.
  for (const std::u16string& bad : {std::u16string(u"[HKLM\\A\0B]\r\n", 12), std::u16string(u"[HKLM\\A\xDFFF]\r\n"),
                                    std::u16string(u"[HKLM\\A]\r\n\"n\xD800\"=dword:1\r\n")}) {
    EXPECT_FALSE(ParseRegText("\xFF\xFE" + Utf16(u"Windows Registry Editor Version 5.00\r\n" + bad), ops, error));
    EXPECT_NE(error.find("NUL character or a lone surrogate"), std::string::npos) << error;
  }
  // The UTF-8 mark is accepted too.
  ASSERT_TRUE(ParseRegText("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKLM\\A]\n", ops, error)) << error;
}

TEST(RegText, SyntaxErrorsNameTheLine) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"hello\n", "line 1: the first line"},
      {"Windows Registry Editor Version 5.00\n\n\"a\"=\"b\"\n", "line 3: a value before the first key"},
      {"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\X]\n", "line 2: only keys of HKEY_LOCAL_MACHINE"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\X\n", "line 2: a key line must end"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"a\"=hex:1,zz\n", "line 3: a hex list"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"a\"=dword:123456789\n", "line 3: dword:"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"a\"=\"open\n", "quoted text is not closed"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"a\" \"b\"\n", "line 3: '=' expected"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\X]\n\"a\"=\"b\" junk\n", "line 3: unexpected text after"},
      // The other hives by their short names are refused as by their full ones.
      {"Windows Registry Editor Version 5.00\n[HKCU\\Software\\X]\n", "line 2: only keys of HKEY_LOCAL_MACHINE"},
      {"Windows Registry Editor Version 5.00\n[hku\\.DEFAULT]\n", "line 2: only keys of HKEY_LOCAL_MACHINE"},
      {"Windows Registry Editor Version 5.00\n[-HKCR\\.txt]\n", "line 2: only keys of HKEY_LOCAL_MACHINE"},
      {"Windows Registry Editor Version 5.00\n[HKCC]\n", "line 2: only keys of HKEY_LOCAL_MACHINE"},
      {"REGEDIT4\n[HKEY_USERS\\X]\n", "line 2: only keys of HKEY_LOCAL_MACHINE"},
      {"Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE]\n", "cannot be deleted"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\A\\\\B]\n", "empty key name"},
      {"\xFF\xFEW", "odd number of bytes"},
      {"Windows Registry Editor Version 5.00\n[HKLM\\\xC3]\n", "neither UTF-8"},
  };
  for (const Case& c : cases) {
    std::vector<RegOperation> ops;
    std::string error;
    EXPECT_FALSE(ParseRegText(c.text, ops, error)) << c.text;
    EXPECT_NE(error.find(c.expected), std::string::npos) << "got: " << error;
    EXPECT_TRUE(ops.empty());
  }
}

TEST(RegText, Regedit4IsAnsiTextAndItsHexStringsAreAnsi) {
  // Windows-1252: 0xE9 is e acute, 0x80 the euro sign, 0x81 one of the bytes it leaves undefined.
  const std::string text =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9]\r\n"
      "\"Price\"=\"3 \x80\"\r\n"
      "\"Path\"=hex(2):25,53,59,53,25,5c,e9,00\r\n"
      "\"List\"=hex(7):61,00,81,00,00\r\n"
      "\"Raw\"=hex:e9,00\r\n"
      "\"N\"=dword:00000001\r\n";
  std::vector<RegOperation> ops;
  std::string error;
  ASSERT_TRUE(ParseRegText(text, ops, error)) << error;
  ASSERT_EQ(ops.size(), 6u);
  EXPECT_EQ(ops[0].key, u"SOFTWARE\\Caf\u00E9");
  EXPECT_EQ(ops[1].data, Utf16(u"3 \u20AC") + std::string(2, '\0'));
  EXPECT_EQ(ops[2].type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(ops[2].data, Utf16(u"%SYS%\\\u00E9") + std::string(2, '\0'));
  EXPECT_EQ(ops[3].data, Utf16(std::u16string(u"a\0\u0081\0\0", 5)));
  EXPECT_EQ(ops[4].data, std::string("\xE9\0", 2));  // binary data stays bytes
  // The same bytes under the current header are no UTF-8: refused, with that reason.
  EXPECT_FALSE(ParseRegText("Windows Registry Editor Version 5.00" + text.substr(8), ops, error));
  EXPECT_NE(error.find("neither UTF-8"), std::string::npos) << error;
}

TEST(RegText, WrittenValuesParseBackToTheSameBytes) {
  std::mt19937 gen(7);
  const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_NONE, 11};
  for (int round = 0; round < 300; ++round) {
    const DWORD type = types[gen() % std::size(types)];
    std::string data;
    const size_t n = gen() % 200;
    if (round % 3 == 0 && (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::u16string s;
      for (size_t i = 0; i < n / 2; ++i) s += static_cast<char16_t>(u' ' + gen() % 0x3000);
      data = Utf16(s) + std::string(2, '\0');
    } else {
      for (size_t i = 0; i < n; ++i) data += static_cast<char>(gen());
    }
    std::u16string name;
    for (size_t i = 0, len = gen() % 12; i < len; ++i) name += static_cast<char16_t>(u' ' + gen() % 200);
    const std::string text = vr::registry::RegHeader() + vr::registry::RegKeyLine(u"K") +
                             vr::registry::RegValueLine(name, type, data);
    std::vector<RegOperation> ops;
    std::string error;
    ASSERT_TRUE(ParseRegText(text, ops, error)) << error << "\n" << text;
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[1].name, name);
    EXPECT_EQ(ops[1].type, type);
    EXPECT_EQ(ops[1].data, data) << text;
  }
  // Strings that a quoted text cannot give back exactly are written as hex(1).
  EXPECT_EQ(vr::registry::RegValueLine(u"a", REG_SZ, Utf16(u"x\ny") + std::string(2, '\0')).substr(0, 11), "\"a\"=hex(1):");
  EXPECT_EQ(vr::registry::RegValueLine(u"a", REG_SZ, Utf16(u"x")), "\"a\"=hex(1):78,00\n");
  EXPECT_EQ(vr::registry::RegValueLine(u"", REG_DWORD, std::string("\x05\0\0\0", 4)), "@=dword:00000005\n");
}

TEST_F(RegToolsTest, ExportThenImportIntoAFreshRootGivesTheSameSnapshot) {
  const std::string source =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Management Server]\n"
      "\"Version\"=\"A.07.50\"\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Patches\\VRMS_0100]\n"
      "\"UxAgtInfo\"=\"2.1|PLAT\"\n"
      "\"Bits\"=hex:00,ff\n"
      "\"Multi\"=hex(7):61,00,00,00,00,00\n"
      "\"Odd\"=hex(1):41\n"
      "@=dword:ffffffff\n"
      "[HKEY_LOCAL_MACHINE\\Empty\\Leaf]\n";
  std::string exported, snapA, snapB, error;
  {
    ScopedEnv root("VR_HOST_ROOT", a_.path());
    ASSERT_EQ(vr::registry::ImportRegText(source, error), ERROR_SUCCESS) << error;
    ASSERT_EQ(vr::registry::ExportRegText(u"", exported), ERROR_SUCCESS);
    ASSERT_EQ(vr::registry::SnapshotRegText(snapA), ERROR_SUCCESS);
    std::string again;
    ASSERT_EQ(vr::registry::SnapshotRegText(again), ERROR_SUCCESS);
    EXPECT_EQ(again, snapA);
  }
  {
    ScopedEnv root("VR_HOST_ROOT", b_.path());
    ASSERT_EQ(vr::registry::ImportRegText(exported, error), ERROR_SUCCESS) << error;
    ASSERT_EQ(vr::registry::SnapshotRegText(snapB), ERROR_SUCCESS);
    std::string sub;
    ASSERT_EQ(vr::registry::ExportRegText(u"hklm\\software\\tamberlin\\vrenterprise\\patches", sub), ERROR_SUCCESS);
    EXPECT_NE(sub.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Patches\\VRMS_0100]"), std::string::npos);
    EXPECT_EQ(sub.find("Management Server"), std::string::npos);
    EXPECT_EQ(vr::registry::ExportRegText(u"SOFTWARE\\Missing", sub), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_EQ(snapA, snapB);
  EXPECT_NE(snapA.find("[HKEY_LOCAL_MACHINE\\Empty\\Leaf]"), std::string::npos);
  EXPECT_NE(snapA.find("\"Odd\"=hex(1):41"), std::string::npos);
}

TEST_F(RegToolsTest, ValuesUnderADeletedKeyArePassedOverWithAWarning) {
  ScopedEnv root("VR_HOST_ROOT", a_.path());
  std::string error;
  ASSERT_EQ(vr::registry::ImportRegText("Windows Registry Editor Version 5.00\n[HKLM\\Gone\\Sub]\n\"v\"=\"1\"\n", error),
            ERROR_SUCCESS);
  std::vector<std::string> warnings;
  ASSERT_EQ(vr::registry::ImportRegText("Windows Registry Editor Version 5.00\n[-HKLM\\Gone]\n\"a\"=\"b\"\n"
                                        "@=dword:00000001\n[HKLM\\Kept]\n\"c\"=\"d\"\n",
                                        error, &warnings),
            ERROR_SUCCESS)
      << error;
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0], "line 3: the value is ignored: its key is being deleted");
  EXPECT_EQ(warnings[1], "line 4: the value is ignored: its key is being deleted");
  std::string snapshot;
  ASSERT_EQ(vr::registry::SnapshotRegText(snapshot), ERROR_SUCCESS);
  EXPECT_EQ(snapshot.find("Gone"), std::string::npos) << snapshot;
  EXPECT_NE(snapshot.find("[HKEY_LOCAL_MACHINE\\Kept]\n\"c\"=\"d\""), std::string::npos) << snapshot;
}

TEST_F(RegToolsTest, ARegedit4FileImportsAndExportsInTheCurrentFormat) {
  ScopedEnv root("VR_HOST_ROOT", a_.path());
  std::string error, exported;
  ASSERT_EQ(vr::registry::ImportRegText("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Caf\xE9]\n\"Name\"=\"\xE9t\xE9\"\n", error),
            ERROR_SUCCESS)
      << error;
  ASSERT_EQ(vr::registry::ExportRegText(u"Caf\u00E9", exported), ERROR_SUCCESS);
  EXPECT_EQ(exported.rfind("Windows Registry Editor Version 5.00\n", 0), 0u) << exported;
  EXPECT_NE(exported.find("[HKEY_LOCAL_MACHINE\\Caf\xC3\xA9]\n\"Name\"=\"\xC3\xA9t\xC3\xA9\""), std::string::npos)
      << exported;
}

TEST_F(RegToolsTest, ImportIsAllOrNothing) {
  ScopedEnv root("VR_HOST_ROOT", a_.path());
  std::string error;
  ASSERT_EQ(vr::registry::ImportRegText("Windows Registry Editor Version 5.00\n[HKLM\\Keep]\n\"v\"=\"1\"\n", error),
            ERROR_SUCCESS);
  std::string before;
  ASSERT_EQ(vr::registry::SnapshotRegText(before), ERROR_SUCCESS);
  // A syntax error at the end: nothing of the file is applied.
  EXPECT_EQ(vr::registry::ImportRegText("Windows Registry Editor Version 5.00\n[-HKLM\\Keep]\n[HKLM\\New]\n\"x\"=bad\n", error),
            ERROR_INVALID_DATA);
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
  // A change that fails while applying (a value name longer than the registry keeps) rolls
  // back the others.
  const std::u16string text = u"Windows Registry Editor Version 5.00\r\n[-HKLM\\Keep]\r\n[HKLM\\New]\r\n\"" +
                              std::u16string(16384, u'n') + u"\"=\"x\"\r\n";
  EXPECT_EQ(vr::registry::ImportRegText("\xFF\xFE" + Utf16(text), error), ERROR_INVALID_PARAMETER);
  EXPECT_NE(error.find("line 4"), std::string::npos) << error;
  std::string after;
  ASSERT_EQ(vr::registry::SnapshotRegText(after), ERROR_SUCCESS);
  EXPECT_EQ(after, before);
}

}  // namespace
