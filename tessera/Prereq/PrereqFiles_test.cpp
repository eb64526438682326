// The prerequisite section on configuration files laid out as other servers have them (system
// section first, other letter cases, CR LF line ends, a byte-order mark), with registration
// files whose tag texts are not what they should be, and with runs that fail after the Init
// made a new version folder.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/Files/VrConfigFile.h"
#include "tessera/FinalMessage.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

namespace {

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string Without(std::string s, char c) {
  s.erase(std::remove(s.begin(), s.end(), c), s.end());
  return s;
}

size_t Count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

// A UTF-16 LE file (the undo file, the run log) as UTF-8.
std::string ReadUtf16(const fs::path& p) {
  const std::string bytes = Read(p);
  WString w;
  for (size_t i = (bytes.size() >= 2 && bytes[0] == '\xFF') ? 2 : 0; i + 1 < bytes.size(); i += 2)
    w += static_cast<WChar>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return WideToUtf8(w);
}

void WriteUtf16(const fs::path& p, const std::string& utf8) {
  const WString w = Utf8ToWide(utf8);
  std::string bytes = "\xFF\xFE";
  for (WChar c : w) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  std::ofstream(p, std::ios::binary) << bytes;
}

// The system section first, tags and section lines in mixed case, CR LF, a lower-case CRC line.
const char* kSystemFirst =
    "PREREQUISITES CHECK CONFIG FILE\r\nver 1.0.0\r\nUpdates:\r\n\r\n[System_Section]\r\n\r\n"
    "[system] LINUX_X64\r\nOSTYPE 30\r\nPREREQUISITES UNIX_AGENT_BASE\r\n\r\n"
    "[SYSTEM] LAST_SYS\r\nOSTYPE 99\r\n\r\n"
    "[Prerequisites_Section]\r\n\r\n[INFORMATION] checks of the installers\r\n\r\n"
    "[prerequisites] UNIX_AGENT_BASE\r\nDISK_SPACE_MB 300\r\n\r\n"
    "[PREREQUISITES] NAME WITH BLANKS\r\nSIZE 1\r\n\r\nconfig file crc: 1a2b\r\n";
// The prerequisites section first, with a UTF-8 header and the same mixed cases, LF.
const char* kPrerequisitesFirst =
    "\xEF\xBB\xBFPREREQUISITES CHECK CONFIG FILE\nVER 1.0.0\nUPDATES:\n\n[PREREQUISITES_SECTION]\n\n"
    "[PREREQUISITES] UNIX_AGENT_BASE\nDISK_SPACE_MB 300\n\n"
    "[PREREQUISITES] NAME WITH BLANKS\nSIZE 1\n\n"
    "[System_Section]\n\n[SYSTEM] LINUX_X64\nOSTYPE 30\n\n[system] LAST_SYS\nOSTYPE 99\n\n"
    "CONFIG FILE crc: 00001A2B";

struct Tag {
  bool system;
  std::string name, text;
};

class PrereqFiles : public vr::testing::HostFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    CaptureConsole(vr::console::SetConsoleWriter);
  }
  void TearDown() override {
    vr::fault::Reset();
    CoUninitialize();
    HostFixture::TearDown();
  }
  fs::path Folder() const { return root_ / "server/share/install/conf/PrereqCheck"; }
  fs::path Config() const { return Folder() / "vroreqcheck.cfg"; }
  fs::path Copy() const { return root_ / "server/install/Packages/Linux/x64/vroreqcheck.cfg"; }
  std::string RunLog() const { return ReadUtf16(root_ / "server/share/install/log/tessera.log"); }

  // The configuration file and its copies all hold bytes.
  void PutConfig(const std::string& bytes) {
    for (const fs::path& f : {Config(), Copy(), root_ / "server/install/Packages/Windows/x64/vroreqcheck.cfg"})
      std::ofstream(f, std::ios::binary) << bytes;
  }
  // A registration file with the tags; version "" asks for no version.
  std::string Xml(const std::vector<Tag>& tags, const std::string& version = "",
                  const std::string& supported = "A.07.50|A.07.51") {
    const std::string v = version.empty() ? "" : " version=\"" + version + "\"";
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n<VrNPConfig version=\"" +
                      supported + "\">\n<VrReqCheckList>\n<Systems_Section" + v + ">\n";
    for (const auto& t : tags)
      if (t.system) xml += "<system name=\"" + t.name + "\">\n" + t.text + "\n</system>\n";
    xml += "</Systems_Section>\n<Prerequisites_Section" + v + ">\n";
    for (const auto& t : tags)
      if (!t.system) xml += "<prerequisites name=\"" + t.name + "\">\n" + t.text + "\n</prerequisites>\n";
    xml += "</Prerequisites_Section>\n</VrReqCheckList>\n</VrNPConfig>\n";
    const fs::path p = base_ / ("reg" + std::to_string(++xmlCount_) + ".xml");
    std::ofstream(p, std::ios::binary) << xml;
    return p.string();
  }
  int Reg(const std::string& xml, const std::string& undo, const WString& patch = u"P1") {
    return Run([&](CVrPlatformRegistration& r) {
      return r.RegisterPlatform(Utf8ToWide(xml), patch, false, Utf8ToWide(undo), 1 | 8);
    });
  }
  int Unreg(const std::string& undo) {
    return Run([&](CVrPlatformRegistration& r) { return r.UnregisterPlatform(Utf8ToWide(undo), false); });
  }
  template <class F>
  int Run(F call) {
    error_.clear();
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    if (status != 0) {
      error_ = WideToUtf8(message);
      return status;
    }
    try {
      return call(r);
    } catch (const CApp_error& e) {
      error_ = WideToUtf8(e.Message());
      return e.ExitCode();
    }
  }
  static bool Loads(const fs::path& p) {
    VrConfigFile f(Utf8ToWide(p.string()).c_str());
    return SUCCEEDED(f.LoadFile());
  }
  // The text from the first section line to the CRC line, without CRs.
  static std::string Body(const std::string& file) {
    const std::string s = Without(file, '\r');
    std::string lower = s;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t a = std::min(lower.find("[system_section]"), lower.find("[prerequisites_section]"));
    const size_t crc = lower.rfind("config file crc:");
    return s.substr(a, crc == std::string::npos ? std::string::npos : crc - a);
  }

  std::string error_;
  int xmlCount_ = 0;
};

// The tags one registration gives: a replaced system block that is the last of its section, a
// new system, a replaced prerequisite whose name has blanks, a new prerequisite; names in
// another case than the file's.
std::vector<Tag> MixedTags() {
  return {{true, "last_sys", "[SYSTEM] last_sys\nOSTYPE 100"},
          {true, "NEW_SYS", "[SYSTEM] NEW_SYS\nOSTYPE 7"},
          {false, "Name With Blanks", "[PREREQUISITES] Name With Blanks\nSIZE 2"},
          {false, "NEW_PRE", "[PREREQUISITES] NEW_PRE\nDISK_SPACE_MB 1"}};
}

}  // namespace

TEST_F(PrereqFiles, BothSectionOrdersKeepEveryBlockThroughRegisterAndUnregister) {
  for (const char* original : {kSystemFirst, kPrerequisitesFirst}) {
    SCOPED_TRACE(original == kSystemFirst ? "system section first" : "prerequisites section first");
    PutConfig(original);
    const std::string undo = (base_ / "u.undo").string();
    ASSERT_EQ(Reg(Xml(MixedTags()), undo), 0) << error_;
    const std::string registered = Without(Read(Config()), '\r');
    EXPECT_TRUE(Loads(Config())) << registered;
    EXPECT_EQ(Read(Copy()), Read(Config()));
    // Nothing of the other section is lost, the replaced blocks are there once, under their
    // registered names, and each new tag is in its own section.
    EXPECT_NE(registered.find("] UNIX_AGENT_BASE\nDISK_SPACE_MB 300"), std::string::npos) << registered;
    EXPECT_NE(registered.find("] LINUX_X64\nOSTYPE 30"), std::string::npos) << registered;
    EXPECT_NE(registered.find("[SYSTEM] last_sys\nOSTYPE 100\n"), std::string::npos) << registered;
    EXPECT_EQ(registered.find("OSTYPE 99"), std::string::npos) << registered;
    EXPECT_EQ(Count(registered, "ith Blanks"), 1u) << registered;
    EXPECT_NE(registered.find("[PREREQUISITES] Name With Blanks\nSIZE 2"), std::string::npos) << registered;
    const size_t prerequisites = registered.find("[Prerequisites_Section]") != std::string::npos
                                     ? registered.find("[Prerequisites_Section]")
                                     : registered.find("[PREREQUISITES_SECTION]");
    const size_t systems = registered.find("[System_Section]");
    const size_t newSys = registered.find("[SYSTEM] NEW_SYS"), newPre = registered.find("[PREREQUISITES] NEW_PRE");
    ASSERT_NE(newSys, std::string::npos) << registered;
    ASSERT_NE(newPre, std::string::npos) << registered;
    if (systems < prerequisites) {
      EXPECT_TRUE(systems < newSys && newSys < prerequisites && prerequisites < newPre) << registered;
    } else {
      EXPECT_TRUE(prerequisites < newPre && newPre < systems && systems < newSys) << registered;
    }
    EXPECT_EQ(Count(registered, "CRC:"), 1u) << registered;
    EXPECT_NE(registered.find("++P1"), std::string::npos) << registered;

    // The same registration again finds every tag (names without regard to case, names with
    // blanks) and changes nothing; taking back the first leaves what the second still lists.
    const std::string again = (base_ / "again.undo").string();
    ASSERT_EQ(Reg(Xml(MixedTags()), again), 0) << error_;
    EXPECT_EQ(Without(Read(Config()), '\r'), registered);
    ASSERT_EQ(Unreg(undo), 0) << error_;
    EXPECT_EQ(Without(Read(Config()), '\r'), registered);

    // The last unregistration puts every block back.
    ASSERT_EQ(Unreg(again), 0) << error_;
    EXPECT_TRUE(Loads(Config()));
    EXPECT_EQ(Body(Read(Config())), Body(original));
    EXPECT_EQ(Read(Copy()), Read(Config()));
  }
}

TEST_F(PrereqFiles, AFileOfAnotherEncodingIsRefusedAndLeftAlone) {
  // UTF-16 is not the file's encoding: the Init refuses it and nothing changes.
  WriteUtf16(Config(), kPrerequisitesFirst + 3);
  const std::string before = Read(Config());
  EXPECT_EQ(Reg(Xml(MixedTags()), (base_ / "u.undo").string()), 100);
  EXPECT_NE(error_.find("(TESSERA200)"), std::string::npos) << error_;
  EXPECT_EQ(Read(Config()), before);
  EXPECT_FALSE(fs::exists(base_ / "u.undo"));
}

TEST_F(PrereqFiles, TagTextsThatAreNotOneBlockOfTheirOwnAreRefused) {
  const std::string before = Read(Config());
  const struct {
    Tag tag;
    const char* reason;
  } cases[] = {
      {{false, "A", "[PREREQUISITES] A\nSIZE 1\n[PREREQUISITES] B\nSIZE 2"}, "its line 3 is a further tag line"},
      {{true, "S", "[SYSTEM] S\nOSTYPE 1\n[PREREQUISITES_SECTION]"}, "its line 3 is a section line"},
      {{true, "S", "[SYSTEM] S\nCONFIG FILE CRC: 12345678"}, "its line 2 is a CRC line"},
      {{true, "S", "[SYSTEM] T\nOSTYPE 1"}, "its first line is not '[SYSTEM] S'"},
      {{false, "S", "[SYSTEM] S\nOSTYPE 1"}, "its first line is not '[PREREQUISITES] S'"},
      {{false, "A", "SIZE 1"}, "its first line is not '[PREREQUISITES] A'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag.text);
    EXPECT_EQ(Reg(Xml({c.tag}, "8.0"), (base_ / "u.undo").string()), 100);
    const std::string message = std::string("(TESSERA211) The text of the ") + (c.tag.system ? "system" : "prerequisites") +
                                " tag '" + c.tag.name + "' in the registration file is not one block of that tag: " +
                                c.reason + ".\n";
    EXPECT_EQ(error_, message);
    EXPECT_NE(RunLog().find(message.substr(0, message.size() - 1)), std::string::npos);
    EXPECT_EQ(Read(Config()), before);
    EXPECT_FALSE(fs::exists(Folder() / "8.0"));
    EXPECT_FALSE(fs::exists(base_ / "u.undo"));
  }
}

TEST_F(PrereqFiles, AFailedRunRemovesTheVersionFolderItCreated) {
  const std::vector<Tag> tags = {{false, "NEW_PRE", "[PREREQUISITES] NEW_PRE\nDISK_SPACE_MB 1"}};
  const std::string xml = Xml(tags, "8.0");
  // The undo file's folder cannot be made (a file is in its way).
  std::ofstream(base_ / "blocker") << "x";
  EXPECT_EQ(Reg(xml, (base_ / "blocker/sub/u.undo").string()), 100);
  EXPECT_NE(error_.find("(TESSERA503)"), std::string::npos) << error_;
  EXPECT_FALSE(fs::exists(Folder() / "8.0"));
  // The undo file's drive does not exist on this host: nothing below the current folder
  // either.
  EXPECT_EQ(Reg(xml, "C:\\temp\\x.undo"), 100);
  EXPECT_EQ(error_, "(TESSERA502) Directory 'C:\\' doesn't exist or you do not have permission to access it.\n");
  EXPECT_FALSE(fs::exists("C:"));
  EXPECT_FALSE(fs::exists(Folder() / "8.0"));
  EXPECT_EQ(Reg(xml, "\\\\server\\share\\x.undo"), 100);
  EXPECT_NE(error_.find("(TESSERA502) Directory '\\\\server\\share'"), std::string::npos) << error_;
  EXPECT_FALSE(fs::exists(Folder() / "8.0"));
  // The copy into the new folder fails.
  vr::fault::Configure("os.CopyFile#1");
  EXPECT_EQ(Reg(xml, (base_ / "u.undo").string()), 100);
  vr::fault::Reset();
  EXPECT_NE(error_.find("(TESSERA3058)"), std::string::npos) << error_;
  EXPECT_FALSE(fs::exists(Folder() / "8.0"));
  // The section fails after the folder was made and the run rolls back.
  vr::fault::Configure("os.CopyFile#3");
  EXPECT_EQ(Reg(xml, (base_ / "u.undo").string()), 1) << error_;
  vr::fault::Reset();
  EXPECT_FALSE(fs::exists(Folder() / "8.0"));
  // A run that succeeds keeps it, and it is the highest version from then on.
  ASSERT_EQ(Reg(xml, (base_ / "u.undo").string()), 0) << error_;
  EXPECT_TRUE(fs::exists(Folder() / "8.0/vroreqcheck.cfg"));
}

TEST_F(PrereqFiles, AVersionFolderWithoutItsFileIsNoVersion) {
  // An empty 9.0 folder (a run stopped there) would be the highest version, and its missing
  // file would stop every run.
  fs::create_directories(Folder() / "9.0");
  const std::string undo = (base_ / "u.undo").string();
  ASSERT_EQ(Reg(Xml({{true, "NEW_SYS", "[SYSTEM] NEW_SYS\nOSTYPE 7"}}), undo), 0) << error_;
  EXPECT_NE(Read(Config()).find("NEW_SYS"), std::string::npos);
  ASSERT_EQ(Unreg(undo), 0) << error_;
  EXPECT_EQ(Read(Config()).find("NEW_SYS"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(Folder() / "9.0"));
}

TEST_F(PrereqFiles, LowerCaseMarkersOfTheUndoFileAreRead) {
  const std::string undo = (base_ / "u.undo").string();
  ASSERT_EQ(Reg(Xml(MixedTags()), undo), 0) << error_;
  std::string text = ReadUtf16(undo);
  for (const char* marker : {"[[[PREREQUISITE_CHECK]]]", "[[[PREREQUISITE_CHECK_END]]]", "[[PREREQUISITES_ADD]]",
                             "[[SYSTEM_ADD]]", "====BEGINSECTION_OLD====", "====BEGINSECTION_NEW===="}) {
    const std::string m(marker);
    std::string lower = m;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (size_t at = text.find(m); at != std::string::npos; at = text.find(m, at)) text.replace(at, m.size(), lower);
  }
  WriteUtf16(undo, text);
  ASSERT_EQ(Unreg(undo), 0) << error_ << text;
  const std::string after = Read(Config());
  EXPECT_EQ(after.find("NEW_SYS"), std::string::npos);
  EXPECT_EQ(after.find("NEW_PRE"), std::string::npos);
}

TEST_F(PrereqFiles, AnUndoFileFailingItsCheckNamesItsPatch) {
  const fs::path undo = base_ / "bad.undo";
  WriteUtf16(undo, "Patch=VRPATCH_7\r\nRegConfigFile=x\r\n");
  EXPECT_EQ(Unreg(undo.string()), 53);
  EXPECT_EQ(vr::front::FinalMessage(), u"Unregistration of patch VRPATCH_7 failed. Errors during initialization. No changes done.\n");
  WriteUtf16(undo, "CreatedOn=x\r\n");
  EXPECT_EQ(Unreg(undo.string()), 53);
  EXPECT_EQ(vr::front::FinalMessage(), u"Unregistration failed. Errors during initialization. No changes done.\n");
}

TEST_F(PrereqFiles, TheXmlParsersReasonGoesToTheRunLog) {
  const fs::path xml = base_ / "entity.xml";
  std::ofstream(xml) << "<?xml version=\"1.0\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\" [<!ENTITY e \"x\">]>\n"
                        "<VrNPConfig version=\"A.07.50\"/>\n";
  EXPECT_EQ(Reg(xml.string(), ""), 51);
  const std::string log = RunLog();
  const size_t message = log.find("# (TESSERA6) MS XML DOM could not open");
  ASSERT_NE(message, std::string::npos) << log;
  const size_t reason = log.find("# XML parser: '" + xml.string() + "', line 2: entity declarations are not allowed ('e')\r\n");
  EXPECT_NE(reason, std::string::npos) << log;
  EXPECT_LT(message, reason);
}

TEST_F(PrereqFiles, SupportedVersionsAreComparedWithoutTheirBlanks) {
  const std::string undo = (base_ / "u.undo").string();
  ASSERT_EQ(Reg(Xml({{true, "NEW_SYS", "[SYSTEM] NEW_SYS\nOSTYPE 7"}}, "", " A.07.49 | A.07.50 "), undo), 0) << error_;
  ASSERT_EQ(Unreg(undo), 0) << error_;
}

TEST_F(PrereqFiles, ANamedPipeIsNoRegistrationFile) {
  const fs::path pipe = base_ / "pipe.xml";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // The run must not wait for a writer; a writer opened after a time-out lets a hung run end.
  // The watchdog waits for the run's end (told at once) or the time-out, whichever comes first.
  std::mutex m;
  std::condition_variable ended;
  bool done = false, gaveUp = false;
  std::thread release([&] {
    std::unique_lock<std::mutex> lock(m);
    if (ended.wait_for(lock, std::chrono::seconds(5), [&] { return done; })) return;
    gaveUp = true;
    lock.unlock();
    std::ofstream(pipe) << "";
  });
  const int code = Reg(pipe.string(), "");
  {
    std::lock_guard<std::mutex> lock(m);
    done = true;
  }
  ended.notify_one();
  release.join();
  const bool inTime = !gaveUp;
  EXPECT_TRUE(inTime) << "the run waited for a writer";
  EXPECT_EQ(code, 52);
  EXPECT_NE(error_.find("(TESSERA9)"), std::string::npos) << error_;
  // Nor an undo file; this one has a writer, which must not matter either.
  std::ofstream writer;
  std::thread open([&] { writer.open(pipe); });
  EXPECT_EQ(Unreg(pipe.string()), 52);
  EXPECT_NE(error_.find("(TESSERA207)"), std::string::npos) << error_;
  {
    // The writer's open waits for a reader: give it one so that the thread ends.
    std::ifstream reader(pipe);
    open.join();
  }
}
