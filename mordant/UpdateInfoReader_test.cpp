// The update-information readers against in-memory platform lists: item syntax, what each item
// changes, the messages and the change log.
#include "mordant/UpdateInfoReader.h"

#include <gtest/gtest.h>

#include "platform/text/convert.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ReadFileBytes;
using vr::testing::ScopedEnv;
using vr::testing::TempDir;
using vr::testing::WriteFileBytes;

namespace {

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }

struct ModelT {
  SystemTypeList systemTypes{{u"Other", u"1", u"Other"}, {u"Intel x86", u"2", u"Intel"}, {u"PA-RISC", u"5", u"PARISC"}};
  CpuOsList cpuOs{{u"Intel", {u"10", u"6"}}, {u"PARISC", {u"3"}}};
  OsTypeList osTypes{{u"HP-UX", u"3"}, {u"Linux", u"6"}, {u"Windows NT", u"10"}};
  OsVersionList osVersions{{u"Unknown", u"0"}, {u"11.00", u"3110"}, {u"4.0", u"10400"}};
};

struct ReadResultT {
  bool ok = false;
  std::string err;
  std::string log;
  SystemTypeList systemTypes;
  CpuOsList cpuOs;
  OsTypeList osTypes;
  OsVersionList osVersions;
};

class UpdateInfoTest : public ::testing::Test {
 protected:
  std::string Input(const std::string& text) {
    WriteFileBytes(dir_ / "in.txt", text);
    return dir_ / "in.txt";
  }
  ReadResultT Read(const std::string& text, bool withLog = true, const std::vector<WString>& otherQualifiers = {}) {
    const std::string in = Input(text), log = dir_ / "change.log";
    ReadResultT r;
    ::testing::internal::CaptureStderr();
    r.ok = ReadUpdateInfo(W(in).c_str(), withLog ? W(log).c_str() : nullptr, model_.systemTypes, model_.cpuOs,
                          model_.osTypes, model_.osVersions, &r.systemTypes, &r.cpuOs, &r.osTypes, &r.osVersions,
                          otherQualifiers);
    r.err = ::testing::internal::GetCapturedStderr();
    r.log = ReadFileBytes(log);
    return r;
  }
  ReadResultT Remove(const std::string& text) {
    ReadResultT r;
    ::testing::internal::CaptureStderr();
    r.ok = ReadRemoveInfo(W(Input(text)).c_str(), model_.osTypes, model_.osVersions, &r.osVersions);
    r.err = ::testing::internal::GetCapturedStderr();
    return r;
  }
  std::string In() const { return dir_ / "in.txt"; }
  std::string Syntax(unsigned line) const {
    return "\nSYNTAX ERROR: Line " + std::to_string(line) + " of \"" + In() + "\":\n";
  }

  TempDir dir_{"vrupd"};
  ModelT model_;
  ScopedEnv noComments_{"NO_UNDO_OR_LOG_COMMENTS", ""};
};

TEST_F(UpdateInfoTest, EmptyAndCommentOnlyFilesChangeNothing) {
  for (const char* text : {"", "# only a comment\n\n   \t\n#another", "\r\n\r\n"}) {
    const ReadResultT r = Read(text);
    EXPECT_TRUE(r.ok) << text;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.log, "# No upadates or additions were necessary!\n");
    EXPECT_TRUE(r.systemTypes.empty() && r.cpuOs.empty() && r.osTypes.empty() && r.osVersions.empty());
  }
}

TEST_F(UpdateInfoTest, ItemsAddToTheirListsAndTheLog) {
  const ReadResultT r = Read(
      "SYSTEM-TYPE :  RISC-V 64 bit  , 8 ; # trailing comment\n"
      "os-type: FreeBSD, 12; OS-TYPE: Linux, 6;\n"
      "SYSTEM-CPU-OS: riscv, 6, 12, 6;\n"
      "SYSTEM-CPU-OS: Intel, 12, 10;\n"
      "os-version: 13.2, 12132;\n"
      "OS-VERSION: Unknown, 0;\n");
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.log,
            "SYSTEM-TYPE: RISC-V 64 bit, 8;  # added.\n"
            "OS-TYPE: FreeBSD, 12;  # added.\n"
            "# OS-TYPE: Linux, 6 -- already existed.\n"
            "SYSTEM-CPU-OS: riscv, 6, 12;  # added\n"
            "SYSTEM-CPU-OS: Intel, 12;  # added.\n"
            "# SYSTEM-CPU-OS: Intel, 10 -- already existed.\n"
            "OS-VERSION: 13.2, 12132;  # added.\n"
            "# OS-VERSION: Unknown, 0 -- already existed.\n");
  ASSERT_EQ(r.systemTypes.size(), 4u);
  EXPECT_EQ(r.systemTypes[3].description, u"RISC-V 64 bit");
  EXPECT_EQ(r.systemTypes[3].cpuKey, u"RISCV");
  ASSERT_EQ(r.cpuOs.size(), 3u);
  EXPECT_EQ(r.cpuOs[0].osTypes, (std::vector<WString>{u"10", u"6", u"12"}));
  EXPECT_EQ(r.cpuOs[2].cpuKey, u"RISCV");  // the model's spelling of the key
  EXPECT_EQ(r.cpuOs[2].osTypes, (std::vector<WString>{u"6", u"12"}));
  ASSERT_EQ(r.osTypes.size(), 4u);
  EXPECT_EQ(r.osVersions.back().value, u"12132");
}

TEST_F(UpdateInfoTest, UnchangedKindsStayEmpty) {
  const ReadResultT r = Read("OS-TYPE: FreeBSD, 12;\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.osTypes.size(), 4u);
  EXPECT_TRUE(r.systemTypes.empty() && r.cpuOs.empty() && r.osVersions.empty());
}

// A changed description is appended after the old entry, once: reading the same file again
// finds the new pair and changes nothing more.
TEST_F(UpdateInfoTest, ChangedDescriptionsAndVersionsAreAppendedOnce) {
  const std::string text = "SYSTEM-TYPE: Intel IA-32, 2;\nOS-TYPE: HP UX, 3;\nOS-VERSION: 4.00, 10400;\n";
  ReadResultT r = Read(text);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.err, "\nWARNING: Line 1 of \"" + In() +
                       "\":\n  SystemType 2 already exists with a different description.\n  Changing description\n"
                       "    from \"Intel x86\"\n      to \"Intel IA-32\"\n"
                       "\nWARNING: OsType 3 already exists with a different description.\n  Changing description\n"
                       "    from \"HP-UX\"\n      to \"HP UX\"\n"
                       "\nWARNING: Line 3 of \"" + In() +
                       "\":\n  OsVersion 10400 already exists with a different version.\n  Changing version\n"
                       "    from \"4.0\"\n      to \"4.00\"\n");
  EXPECT_EQ(r.log,
            "SYSTEM-TYPE: Intel IA-32, 2;  # modified from Intel x86.\n"
            "OS-TYPE: HP UX, 3;  # modified from HP-UX.\n"
            "OS-VERSION: 4.00, 10400;  # modified from 4.0.\n");
  ASSERT_EQ(r.systemTypes.size(), 4u);
  EXPECT_EQ(r.systemTypes[1].description, u"Intel x86");
  EXPECT_EQ(r.systemTypes[3].description, u"Intel IA-32");

  model_.systemTypes = r.systemTypes;
  model_.osTypes = r.osTypes;
  model_.osVersions = r.osVersions;
  r = Read(text);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.systemTypes.empty() && r.osTypes.empty() && r.osVersions.empty());
  EXPECT_EQ(r.log,
            "# SYSTEM-TYPE: Intel IA-32, 2 -- already existed.\n# OS-TYPE: HP UX, 3 -- already existed.\n"
            "# OS-VERSION: 4.00, 10400 -- already existed.\n# No upadates or additions were necessary!\n");
}

TEST_F(UpdateInfoTest, OsVersionValues) {
  // The OsType part may come from an OS-TYPE earlier in the same file.
  EXPECT_TRUE(Read("OS-TYPE: Solaris, 4;\nOS-VERSION: 10, 4500;\n").ok);
  ReadResultT r = Read("OS-VERSION: 5.0, 500;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, Syntax(1) +
                       "  The numerical representation of an OsVersion must be greater than\n  three digits long, "
                       "because the beginning of the number corresponds\n  to an OsType and the last three digits "
                       "correspond to the version\n  of that OS, therefore \"500\" is not a valid OsVersion value.\n");
  r = Read("\nOS-VERSION: 9.9, 99500;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, Syntax(2) +
                       "  The numerical representation of an OsVersion consists of the\n  OsType followed by three "
                       "digits that represents the version of\n  that OS.  The OsType portion, \"99\", of the "
                       "OsVersion, \"9.9\",\n  does not match any of the values in the ValueMap qualifier of the\n  "
                       "OsType property in the VR_ManagedNode class.\n");
}

TEST_F(UpdateInfoTest, CpuAssignmentsNeedKnownKeysAndOsTypes) {
  ReadResultT r = Read("SYSTEM-CPU-OS: Sparc, 6;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, Syntax(1) +
                       "  The \"Sparc\" CPU Type qualifier does not match any entries\n  in the ValueMap qualifier of "
                       "the SystemType property in the\n  the VR_ManagedNode class.\n");
  r = Read("SYSTEM-CPU-OS: Intel, 6, 77;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, Syntax(1) +
                       "  The \"77\" OsType value for CPU Type \"Intel\"\n  does not match any entries in the ValueMap "
                       "qualifier of the OsType\n  property in the VR_ManagedNode class.\n");
  r = Read("SYSTEM-CPU-OS: Intel, 6\n, 10;\n");
  EXPECT_EQ(r.err, Syntax(1) + "  Expected a ',' or ';' after \"6\" instead of end-of-line.\n");
  r = Read("SYSTEM-CPU-OS: Intel, 6: 10;\n");
  EXPECT_EQ(r.err, Syntax(1) + "  Expected a ',' or ';' after \"6\" instead of a ':'.\n");
}

// A CPU key may not name a qualifier that the SystemType property has for another purpose:
// Values and ValueMap always, and the others the model names. The item fails the whole read.
TEST_F(UpdateInfoTest, CpuKeysThatNameOtherQualifiersAreRefused) {
  ReadResultT r = Read("OS-TYPE: BeOS, 13;\nSYSTEM-TYPE: ValueMap test, 9;\nSYSTEM-CPU-OS: ValueMap, 6;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.systemTypes.empty() && r.osTypes.empty());
  EXPECT_EQ(r.err, Syntax(2) +
                       "  The description \"ValueMap test\" gives the CPU Type \"ValueMap\",\n  which is the name of "
                       "the \"ValueMap\" qualifier that the SystemType property\n  of the VR_ManagedNode class has "
                       "for another purpose.  Choose a\n  description whose first word gives another CPU Type.\n");
  EXPECT_NE(r.log.find("*** FAILED before processing completed!!! (exception thrown)"), std::string::npos);
  // Letter case does not matter, nor does the value; a changed description is refused too.
  EXPECT_FALSE(Read("SYSTEM-TYPE: values x, 1;\n").ok);
  EXPECT_FALSE(Read("SYSTEM-TYPE: Description of it, 2;\n", true, {u"Description"}).ok);
  EXPECT_TRUE(Read("SYSTEM-TYPE: Description of it, 2;\n").ok);

  // A model that already holds such a system type cannot have a CPU qualifier for it.
  model_.systemTypes.push_back({u"Description", u"9", u"Description"});
  r = Read("SYSTEM-CPU-OS: description, 6;\n", true, {u"Description"});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, Syntax(1) +
                       "  The CPU Type \"description\" is the name of the \"Description\" qualifier that the\n  "
                       "SystemType property of the VR_ManagedNode class has for another purpose,\n  so it cannot be a "
                       "CPU Type qualifier.\n");
}

TEST_F(UpdateInfoTest, SyntaxErrors) {
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"SYSTEM-TYPE Intel, 2;", Syntax(1) + "  Expected a ':' after \"SYSTEM-TYPE Intel\" instead of a ','.\n"},
      {"\n\nBOGUS: a, b;", Syntax(3) + "  Unexpected value at the beginning of the line:\n    \"BOGUS\"\n  Please see "
                                       "usage statement for correct format of the input file.\n"},
      {"OS-TYPE:    , 12;", Syntax(1) + "  Expected non-empty value before ',' character.\n"},
      {"OS-TYPE: x,\n12;", Syntax(1) + "  Expected non-empty value before end-of-line.\n"},
      {"OS-TYPE: Linux\n, 6;", Syntax(1) + "  Expected a ',' after \"Linux\" instead of end-of-line.\n"},
      {"OS-TYPE: Linux, 6", Syntax(1) + "  Expected a ';' after \"6\" instead of a '?'.\n"},
      {"OS-TYPE: Linux, 6,", Syntax(1) + "  Expected a ';' after \"6\" instead of a ','.\n"},
      {"OS-TYPE: a\tb , 6 x;", ""},  // tabs stay inside a value: this one is fine
      {std::string("OS-TYPE: a\0b, 6;", 16), Syntax(1) + "  Unexpected NUL character in a value.\n"},
      {"OS-TYPE: Linux,", Syntax(1) + "  The file ended in the middle of an item.\n"},
  };
  for (const auto& c : cases) {
    const ReadResultT r = Read(c.text);
    EXPECT_EQ(r.ok, c.message.empty()) << c.text;
    EXPECT_EQ(r.err, c.message) << c.text;
  }
}

TEST_F(UpdateInfoTest, RunOnValues) {
  const std::string long254(254, 'x');
  EXPECT_TRUE(Read("OS-TYPE:" + long254 + ", 12;").ok);
  const ReadResultT r = Read("OS-TYPE:" + long254 + "y, 12;");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.err, Syntax(1) +
                       "  Expected to read a value that ended with a colon, comma, or a\n  semi-colon.  Instead "
                       "encountered a run-on line that starts with\n  \"" +
                       std::string(40, 'x') + "...\"\n");
}

// The log keeps what was read before the failure and says why it ends.
TEST_F(UpdateInfoTest, AFailedReadEndsTheLogAndHandsOverNothing) {
  const ReadResultT r = Read("OS-TYPE: FreeBSD, 12;\nOS-TYPE: Linux, 6;\nOS-TYPE: x 6;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.osTypes.empty());
  EXPECT_EQ(r.log,
            "OS-TYPE: FreeBSD, 12;  # added.\n# OS-TYPE: Linux, 6 -- already existed.\n"
            "***\n*** FAILED before processing completed!!! (exception thrown)\n***\n");
}

TEST_F(UpdateInfoTest, TheHeaderUnlessCommentsAreOff) {
  ScopedEnv comments("NO_UNDO_OR_LOG_COMMENTS", std::nullopt);
  const ReadResultT r = Read("OS-TYPE: Linux, 6;");
  const std::string log = dir_ / "change.log";
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.log.rfind("#\n# " + log + ":\n#\n#   Created on ", 0), 0u) << r.log;
  EXPECT_NE(r.log.find("\n#   while processing updates from \"" + In() + "\"\n#\n# OS-TYPE: Linux, 6 -- already "
                       "existed.\n# No upadates or additions were necessary!\n"),
            std::string::npos)
      << r.log;
}

TEST_F(UpdateInfoTest, FilesThatCannotBeOpened) {
  const std::string missing = dir_ / "missing.txt";
  ::testing::internal::CaptureStderr();
  ReadResultT r;
  EXPECT_FALSE(ReadUpdateInfo(W(missing).c_str(), nullptr, model_.systemTypes, model_.cpuOs, model_.osTypes,
                              model_.osVersions, &r.systemTypes, &r.cpuOs, &r.osTypes, &r.osVersions));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\n-------------------------------------------------------\n ERROR:\n   Could not open file \"" + missing +
                "\" for reading.\n     Error Details:\n       VrUnicodeFileT::Impl::Create(\"" + missing +
                "\",eREAD,eANY) failed because _wfopen(\"" + missing +
                "\",\"rb\") failed with errno = 2:\"No such file or directory\".\n"
                "-------------------------------------------------------\n");
  const std::string badLog = dir_ / "no-such-folder/x.log";
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(ReadUpdateInfo(W(Input("OS-TYPE: Linux, 6;")).c_str(), W(badLog).c_str(), model_.systemTypes,
                              model_.cpuOs, model_.osTypes, model_.osVersions, &r.systemTypes, &r.cpuOs, &r.osTypes,
                              &r.osVersions));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\nERROR: Unable to open the \"" + badLog + "\" log file for writing:\n  errno = 2  No such file or directory\n");
}

TEST_F(UpdateInfoTest, InvalidUtf8IsAFileError) {
  const ReadResultT r = Read("\xEF\xBB\xBFOS-TYPE: Li\xC3nux, 6;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.err.find("   An unexpected file i/o error occurred in the proximity of\n   line 1 while reading file"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("     Error Code   : eInvalidUtf8\n"), std::string::npos);
  EXPECT_NE(r.log.find("(exception thrown)"), std::string::npos);
}

TEST_F(UpdateInfoTest, RemovingVersions) {
  ReadResultT r = Remove("OS-VERSION: 11.00, 3110;\n# gone\nos-version: 9, 6209;\n");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.err, "\nWARNING: Line 3 of \"" + In() +
                       "\":\n  The OsVersion number 6209, which represents version \"9\", does\n  not exist, so it "
                       "cannot be removed.\n");
  ASSERT_EQ(r.osVersions.size(), 2u);
  EXPECT_EQ(r.osVersions[1].value, u"10400");

  r = Remove("OS-VERSION: 4.0, 10400;\nOS-VERSION: 11.11, 3110;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.osVersions.empty());
  EXPECT_EQ(r.err, "\nERROR: Line 2 of \"" + In() +
                       "\":\n  The OSVersion number you are attempting to remove already exists\n  with a different "
                       "corresponding version value.  The version value\n  you are trying to remove is \"11.11\".  "
                       "The existing value that\n  currently exists is \"11.00\".  No changes will be made.\n");

  r = Remove("OS-TYPE: Linux, 6;\n");
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.err.find("Unexpected value at the beginning of the line:\n    \"OS-TYPE\""), std::string::npos);

  // Nothing to remove hands over nothing.
  r = Remove("OS-VERSION: 9, 6209;\n");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.osVersions.empty());

  // Every version removed: an empty new list, told apart from nothing removed.
  bool removedAny = false;
  OsVersionList left{{u"x", u"1"}};
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(ReadRemoveInfo(W(Input("OS-VERSION: Unknown, 0;\nOS-VERSION: 11.00, 3110;\nOS-VERSION: 4.0, 10400;\n")).c_str(),
                             model_.osTypes, model_.osVersions, &left, &removedAny));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(removedAny);
  EXPECT_TRUE(left.empty());
}

}  // namespace
