// tessera as an administrator meets it: the version, the message for a root without a host,
// the XML parser's reason for a refused registration file, a cluster tool that hangs, and an
// undo file saved in the wrong encoding. Runs in the test program of TesseraMain_test.cpp,
// whose environment makes a demo host (active cluster node) and puts VrMsClusterInfo on PATH.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/text/convert.h"
#include "tessera/Console.h"
#include "tessera/TesseraMain.h"
#include "tests/support/FolderFixture.h"
#include "tests/support/HostTestSupport.h"
#include "vr_version.h"

using vr::testing::ReadFileBytes;
using vr::testing::ScopedEnv;
using vr::testing::TempDir;
using vr::testing::WriteFileBytes;

namespace {

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }

// Console text without the wrap: the words of every line joined by single blanks.
std::string Unwrapped(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == '\n' || c == ' ') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

std::string SourceFile(const std::string& relative) {
  const char* source = std::getenv("VR_SOURCE_DIR");
  return std::string(source ? source : ".") + "/" + relative;
}

// The host's whole state, as vrhost prints it.
std::string Snapshot() {
  const char* bin = std::getenv("VR_BINARY_DIR");
  const vr::testing::RunResult r = vr::testing::RunProgram(std::string(bin) + "/tools/vrhost/vrhost", {"snapshot"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

class TesseraAdmin : public vr::testing::FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    SetEnv("LC_ALL", "C");
    CaptureConsole(vr::console::SetConsoleWriter, out, err);
  }
  int Run(std::vector<WString> words) {
    out.clear();
    err.clear();
    return TesseraMain(words);
  }
  std::string out, err;
  const TempDir& dir_ = folder();
};

TEST_F(TesseraAdmin, VersionIsPrintedAndNothingElseIsDone) {
  EXPECT_EQ(Run({u"--version"}), 0);
  EXPECT_EQ(out, std::string("tessera ") + VR_PACKAGE_VERSION + "\n");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Run({u"--VERSION", u"-unreg", u"/nowhere.undo"}), 0);
  EXPECT_EQ(out, std::string("tessera ") + VR_PACKAGE_VERSION + "\n");
  // Help stays first.
  EXPECT_EQ(Run({u"--version", u"-help"}), 0);
  EXPECT_EQ(out.rfind("\nUsage:\ntessera\n", 0), 0u) << out;
}

TEST_F(TesseraAdmin, NoHostAtTheRootIsSaidInOneMessageAndNothingIsMade) {
  const std::string empty = dir_ / "empty";
  std::filesystem::create_directory(empty);
  const std::string config = SourceFile("examples/PrerequisiteTags.xml");
  for (const std::string& root : {empty, dir_ / "absent"}) {
    ScopedEnv host("VR_HOST_ROOT", root);
    EXPECT_EQ(Run({u"-reg", W(config), u"-patch", u"VRMS_0200", u"-log", W(dir_ / "r.undo")}), 100);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Unwrapped(err), "ERROR: (TESSERA270) No management server host at '" + root +
                                  "'; make one with 'vrhost init'.");
    EXPECT_EQ(Run({u"-unreg", W(dir_ / "r.undo")}), 100);
    EXPECT_EQ(Unwrapped(err), "ERROR: (TESSERA270) No management server host at '" + root +
                                  "'; make one with 'vrhost init'.");
    // A command-line error is still one.
    EXPECT_EQ(Run({u"-reg", W(config)}), 50);
  }
  EXPECT_TRUE(std::filesystem::is_empty(empty));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "absent"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "r.undo"));
}

// The reason the XML parser gives follows message 6 on standard error, with the file and the
// line where it stopped; the exit code stays 51.
TEST_F(TesseraAdmin, RefusedRegistrationFileShowsTheParsersReason) {
  std::string xml = ReadFileBytes(SourceFile("examples/PrerequisiteTags.xml"));
  ASSERT_FALSE(xml.empty());
  // A misspelt element on the line after the root's start tag, where the DTD has no such element.
  const size_t rootLineEnd = xml.find('\n', xml.find("<VrNPConfig "));
  ASSERT_NE(rootLineEnd, std::string::npos);
  xml.insert(rootLineEnd + 1, "<OSVersionz/>\n");
  const size_t line = static_cast<size_t>(std::count(xml.begin(), xml.begin() + static_cast<long>(rootLineEnd) + 1, '\n')) + 1;
  // Found beside the document: the DTD of the source tree.
  const std::string file = dir_ / "Broken.xml";
  WriteFileBytes(file, xml);
  WriteFileBytes(dir_ / "VrNPConfig.dtd", ReadFileBytes(SourceFile("data/VrNPConfig.dtd")));
  EXPECT_EQ(Run({u"-reg", W(file), u"-patch", u"VRMS_0200"}), 51);
  const std::string shown = Unwrapped(err);
  const size_t six = shown.find("ERROR: (TESSERA6) MS XML DOM could not open '" + file + "'");
  const size_t reason = shown.find("ERROR: (TESSERA212) The XML parser stopped in '" + file + "' at line " + std::to_string(line) + ": ");
  EXPECT_NE(six, std::string::npos) << err;
  ASSERT_NE(reason, std::string::npos) << err;
  EXPECT_LT(six, reason);
  EXPECT_NE(shown.find("OSVersionz", reason), std::string::npos) << err;
  EXPECT_NE(shown.find("Registration of patch VRMS_0200 failed.", reason), std::string::npos) << err;

  // A file that is not even well-formed: the same, with its own line.
  WriteFileBytes(file, "<?xml version=\"1.0\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n<VrNPConfig>\n"
                       "<PlatformList>\n</VrNPConfig>\n");
  EXPECT_EQ(Run({u"-reg", W(file), u"-patch", u"VRMS_0200"}), 51);
  EXPECT_NE(Unwrapped(err).find("(TESSERA212) The XML parser stopped in '" + file + "' at line 5: "), std::string::npos)
      << err;

  // The reason belongs to that run only: a later failure with exit 51 for another cause has none.
  std::string other = ReadFileBytes(SourceFile("examples/PrerequisiteTags.xml"));
  const size_t versions = other.find("A.07.50|A.07.51");
  ASSERT_NE(versions, std::string::npos);
  other.replace(versions, 15, "Z.01.00");
  WriteFileBytes(file, other);
  EXPECT_EQ(Run({u"-reg", W(file), u"-patch", u"VRMS_0200", u"-sections", u"prereq"}), 51);
  EXPECT_EQ(err.find("TESSERA212"), std::string::npos) << err;
}

// A cluster tool that never answers stops the run at the time limit, before anything changed.
TEST_F(TesseraAdmin, AHangingClusterToolEndsTheRunWithNothingChanged) {
  const std::string tools = dir_ / "tools";
  std::filesystem::create_directory(tools);
  const std::string pidFile = dir_ / "tool.pid";
  WriteFileBytes(tools + "/VrMsClusterInfo", "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec sleep 60\n");
  std::filesystem::permissions(tools + "/VrMsClusterInfo", std::filesystem::perms::owner_all);
  const char* path = std::getenv("PATH");
  ScopedEnv onPath("PATH", tools + ":" + (path ? path : "/usr/bin:/bin"));
  ScopedEnv limit("VR_CLUSTER_TOOL_TIMEOUT_MS", "500");
  const std::string before = Snapshot();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Run({u"-reg", W(SourceFile("examples/PrerequisiteTags.xml")), u"-patch", u"VRMS_0200", u"-log",
                 W(dir_ / "r.undo")}),
            100);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(Unwrapped(err),
            "ERROR: (TESSERA271) Command line 'VrMsClusterInfo -getInstallationStatus' did not end within 500 ms "
            "(VR_CLUSTER_TOOL_TIMEOUT_MS) and was stopped. Registration of patch VRMS_0200 failed. Errors during "
            "initialization. No changes done.");
  const int pid = std::atoi(ReadFileBytes(pidFile).c_str());
  ASSERT_GT(pid, 0);
  EXPECT_NE(::kill(pid, 0), 0) << "the tool still runs";
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "r.undo"));
}

// An undo file saved again as UTF-8 (with or without a byte-order mark) is refused with a
// message that names the encoding, not with a syntax error about a line that looks right.
TEST_F(TesseraAdmin, UndoFileInUtf8IsReportedAsSuch) {
  const std::string text =
      "Patch=VRMS_0200\r\nCreatedOn=01/02/2026 10:00:00 +00:00\r\nRegConfigFile=/srv/a.xml\r\n"
      "TesseraConfigVersion=A.07.50\r\n[[[PREREQUISITE_CHECK]]]\r\n[[[PREREQUISITE_CHECK_END]]]\r\n";
  const std::string undo = dir_ / "saved.undo";
  for (const std::string& bytes : {text, "\xEF\xBB\xBF" + text, std::string("\xEF\xBB\xBFpatch=x\n")}) {
    WriteFileBytes(undo, bytes);
    EXPECT_EQ(Run({u"-unreg", W(undo)}), 53);
    EXPECT_NE(Unwrapped(err).find("ERROR: (TESSERA272) Undo file '" + undo +
                                  "' is UTF-8 text, but undo files are UTF-16 text. Convert it back, for example "
                                  "with 'iconv -f UTF-8 -t UTF-16', and run again."),
              std::string::npos)
        << err;
    EXPECT_EQ(ReadFileBytes(undo), bytes);
  }
  // UTF-16 text whose first line is wrong keeps its syntax error; so does UTF-8 text that
  // does not begin with the header either.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("Pitch=VRMS_0200\r\n")) utf16 += std::string{c, '\0'};
  for (const std::string& bytes : {utf16, std::string("Pitch=VRMS_0200\r\n")}) {
    WriteFileBytes(undo, bytes);
    EXPECT_EQ(Run({u"-unreg", W(undo)}), 53);
    EXPECT_NE(err.find("(TESSERA301)"), std::string::npos) << err;
    EXPECT_EQ(err.find("TESSERA272"), std::string::npos) << err;
  }
}

}  // namespace
