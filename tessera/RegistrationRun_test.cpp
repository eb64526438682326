// The registration run end to end on demo hosts made by vrhost, with sections whose outcome
// each test sets.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/FinalMessage.h"
#include "tessera/UndoFile.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

namespace {

struct SectionScript {
  int init = 0;
  int update = 0;
  bool rollback = true;
  std::vector<std::string> lines;  // undo lines the Update writes
};

// Sections that do what the test says and record every call, with the body lines a Rollback
// was given.
class ScriptedSections : public IRegistrationSections {
 public:
  ScriptedSections(CVrPlatformRegistration& reg, std::vector<std::string>& calls) : reg_(reg), calls_(calls) {}
  SectionScript platforms, packages, prereq;
  bool winOsTypes = true;
  bool notRegistered = false, deployed = false, syntaxError = false, platformWarnings = false;

  int PlatformRegInit(WString& m) override { return Init("platforms", platforms, m); }
  int PlatformRegUpdate(CXmlReader&, const WString&, bool, VrLogFile& log, WString& m) override {
    if (platformWarnings) reg_.SetWarnings();
    return Update("platforms", platforms, log, m, false);
  }
  bool PlatformRegRollback(VrLogFile& log, WString& m) override {
    if (platformWarnings) reg_.SetWarnings();
    return Rollback("platforms", platforms, log, m);
  }
  bool PlatformRegCleanup(WString&) override { calls_.push_back("cleanup platforms"); return true; }
  bool InitListOfWinOSTypes(WString& m) override {
    calls_.push_back("winos");
    reg_.WindowsOsTypes() = {u"3", u"4"};
    if (!winOsTypes) m = u"no Windows OS types\n";
    return winOsTypes;
  }
  int PackageRegInit(WString& m) override { return Init("packages", packages, m); }
  int PackageRegUpdate(CXmlReader&, const WString&, bool, VrLogFile& log, WString& m) override {
    return Update("packages", packages, log, m, false);
  }
  bool PackageRegRollback(VrLogFile& log, WString& m) override {
    if (notRegistered) reg_.SetPatchNotRegistered();
    if (deployed) reg_.SetPackageDeployed();
    if (syntaxError) reg_.SetError();
    return Rollback("packages", packages, log, m);
  }
  bool PackageRegCleanup(WString&) override { calls_.push_back("cleanup packages"); return true; }
  int ReqCheckCfgRegInit(WString& m, const WString& version) override {
    calls_.push_back("version " + WideToUtf8(version));
    return Init("prereq", prereq, m);
  }
  int ReqCheckCfgRegUpdate(CXmlReader&, const WString&, bool, VrLogFile& log, WString& m) override {
    return Update("prereq", prereq, log, m, true);
  }
  bool ReqCheckCfgRegRollback(VrLogFile& log, WString& m) override { return Rollback("prereq", prereq, log, m); }
  bool ReqCheckCfgRegCleanup(WString&) override { calls_.push_back("cleanup prereq"); return true; }

 private:
  int Init(const std::string& name, const SectionScript& s, WString& m) {
    calls_.push_back("init " + name);
    if (s.init) m = Utf8ToWide("init of " + name + " failed\n");
    return s.init;
  }
  int Update(const std::string& name, const SectionScript& s, VrLogFile& log, WString& m, bool ownMarkers) {
    calls_.push_back("update " + name);
    if (ownMarkers) log.AppendLine(vr::undo::kPrereqBegin, true);
    for (const auto& l : s.lines) log.AppendLine(Utf8ToWide(l), true);
    if (ownMarkers) log.AppendLine(vr::undo::kPrereqEnd, true);
    if (s.update != 0 && s.update != 5) m = Utf8ToWide("update of " + name + " failed\n");
    return s.update;
  }
  bool Rollback(const std::string& name, const SectionScript& s, VrLogFile& log, WString& m) {
    // What the section would undo: the lines of the text it was given, from the start.
    std::string seen;
    VrTextLine line;
    while (log.ReadLine(line, nullptr, true, true)) {
      if (!line.GetText().empty()) seen += (seen.empty() ? "" : "|") + WideToUtf8(line.GetText());
      if (line.IsAtEnd()) break;
    }
    calls_.push_back("rollback " + name + " [" + seen + "]");
    if (!s.rollback) m = Utf8ToWide("rollback of " + name + " failed\n");
    return s.rollback;
  }
  CVrPlatformRegistration& reg_;
  std::vector<std::string>& calls_;
};

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A UTF-16 LE file with FF FE as UTF-8 with LF line ends.
std::string ReadUnicode(const fs::path& p) {
  const std::string b = ReadBytes(p);
  if (b.size() < 2 || b.substr(0, 2) != "\xFF\xFE") return "(no FF FE header)";
  WString w;
  for (size_t i = 2; i + 1 < b.size(); i += 2)
    w += static_cast<char16_t>(static_cast<unsigned char>(b[i]) | (static_cast<unsigned char>(b[i + 1]) << 8));
  std::string out = WideToUtf8(w);
  std::string lf;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    lf += out[i];
  }
  return lf;
}

size_t Count(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++n;
  return n;
}

const char* kFullConfig = R"(<?xml version="1.0"?>
<!DOCTYPE VrNPConfig SYSTEM "VrNPConfig.dtd">
<VrNPConfig version="A.07.40|a.07.50">
  <PlatformList><Platform><SystemType><value>5</value></SystemType><OSType><value>30</value></OSType></Platform></PlatformList>
  <PackageList><Package><version>1.0</version></Package></PackageList>
  <VrReqCheckList><Systems_Section version="7.60"><system name="S">[SYSTEM] S</system></Systems_Section></VrReqCheckList>
</VrNPConfig>
)";

const char* kPackagesOnly = R"(<?xml version="1.0"?>
<!DOCTYPE VrNPConfig SYSTEM "VrNPConfig.dtd">
<VrNPConfig version="A.07.50">
  <PackageList><Package><version>1.0</version></Package></PackageList>
</VrNPConfig>
)";

class RegistrationRun : public vr::testing::HostFixture {
 protected:
  // Each test makes its host (MakeHost), of the server version it needs.
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void MakeHost(const std::string& version = "A.07.50") {
    HostFixture::MakeHost({"--server-version", version});
    CaptureConsole(vr::console::SetConsoleWriter, out_, err_);
  }
  void TearDown() override {
    CoUninitialize();
    HostFixture::TearDown();
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path p = base_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

  fs::path RunLog(bool shareInstall = true) const {
    return root_ / (shareInstall ? "server/share/install/log/tessera.log" : "server/data/log/tessera.log");
  }

  // One registration object: constructed, set up, one run, destroyed. Returns the exit code
  // (thrown codes included) and keeps the error text.
  template <class Setup, class Body>
  int Run(Setup setup, Body body) {
    WString message;
    int status = -1;
    int code;
    {
      CVrPlatformRegistration reg(0, nullptr, message, status);
      EXPECT_EQ(status, 0) << WideToUtf8(message);
      auto sections = std::make_unique<ScriptedSections>(reg, calls_);
      setup(*sections);
      reg.SetSections(std::move(sections));
      try {
        code = body(reg);
      } catch (const CApp_error& e) {
        code = e.ExitCode();
        error_ = WideToUtf8(e.Message());
      }
    }
    return code;
  }

  int Register(const fs::path& config, const std::string& undo, int mask,
               const std::function<void(ScriptedSections&)>& setup = [](ScriptedSections&) {}) {
    return Run(setup, [&](CVrPlatformRegistration& reg) {
      return reg.RegisterPlatform(Utf8ToWide(config.string()), u"VRMS_0200", false, Utf8ToWide(undo), mask);
    });
  }
  int Unregister(const std::string& undo, bool deleteUndo,
                 const std::function<void(ScriptedSections&)>& setup = [](ScriptedSections&) {}) {
    return Run(setup, [&](CVrPlatformRegistration& reg) {
      return reg.UnregisterPlatform(Utf8ToWide(undo), deleteUndo);
    });
  }
  // The same runs as plans (-whatif).
  int PlanRegister(const fs::path& config, const std::string& undo, int mask,
                   const std::function<void(ScriptedSections&)>& setup = [](ScriptedSections&) {}) {
    return Run(setup, [&](CVrPlatformRegistration& reg) {
      reg.SetPlanOnly(true);
      return reg.RegisterPlatform(Utf8ToWide(config.string()), u"VRMS_0200", false, Utf8ToWide(undo), mask);
    });
  }
  int PlanUnregister(const std::string& undo,
                     const std::function<void(ScriptedSections&)>& setup = [](ScriptedSections&) {}) {
    return Run(setup, [&](CVrPlatformRegistration& reg) {
      reg.SetPlanOnly(true);
      return reg.UnregisterPlatform(Utf8ToWide(undo), false);
    });
  }
  // Every file below the host root but the run log, with its bytes.
  std::string HostFiles() const {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root_))
      if (e.is_regular_file() && e.path().filename() != "tessera.log")
        files.push_back(e.path().string() + " " + ReadBytes(e.path()));
    std::sort(files.begin(), files.end());
    std::string all;
    for (const auto& f : files) all += f + "\n";
    return all;
  }

  std::string Calls() const {
    std::string s;
    for (const auto& c : calls_) s += (s.empty() ? "" : "; ") + c;
    return s;
  }

  std::string out_, err_, error_;
  std::vector<std::string> calls_;
};

void Lines(ScriptedSections& s) {
  s.platforms.lines = {"OS-TYPE ADD 30 \"Plan 9\""};
  s.packages.lines = {"PACKAGE ADD x"};
  s.prereq.lines = {"SYSTEM ADD S"};
}

}  // namespace

TEST_F(RegistrationRun, AllSectionsSucceedAndTheUndoFileRecordsThem) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "undo dir/sub/patch.undo").string();  // folders are created
  EXPECT_EQ(Register(cfg, undo, 14, Lines), 0) << error_;
  EXPECT_EQ(Calls(),
            "init platforms; winos; init packages; version 7.60; init prereq; update platforms; update packages; "
            "update prereq; cleanup platforms; cleanup packages; cleanup prereq");
  EXPECT_EQ(out_, "\nRegistration of patch VRMS_0200 succeeded.\n");
  EXPECT_EQ(err_, "");
  const std::string bytes = ReadBytes(undo);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_NE(bytes.find(std::string("\r\0\n\0", 4)), std::string::npos);
  const std::string text = ReadUnicode(undo);
  EXPECT_EQ(text.substr(0, text.find("CreatedOn=")), "Patch=VRMS_0200\n");
  EXPECT_NE(text.find("\nRegConfigFile=" + cfg.string() + "\nTesseraConfigVersion=A.07.40|a.07.50\n\n"
                      "[[[PLATFORMS]]]\nOS-TYPE ADD 30 \"Plan 9\"\n[[[PLATFORMS_END]]]\n\n"
                      "[[[PACKAGES]]]\nPACKAGE ADD x\n[[[PACKAGES_END]]]\n"
                      "[[[PREREQUISITE_CHECK]]]\nSYSTEM ADD S\n[[[PREREQUISITE_CHECK_END]]]\n"),
            std::string::npos)
      << text;
  // No section log is left behind.
  const std::string log = ReadUnicode(RunLog());
  EXPECT_EQ(Count(log, "Patch=VRMS_0200\n"), 1u);
  EXPECT_NE(log.find("# Command line:\n# tessera -reg \"" + cfg.string() + "\" -patch \"VRMS_0200\" -log \"" + undo +
                     "\"\n\n[[[PLATFORMS]]]\n[[[PLATFORMS_END]]]\n[[[PACKAGES]]]\n[[[PACKAGES_END]]]\n"),
            std::string::npos)
      << log;
  const std::string tail = "\n\n# Registration of patch VRMS_0200 succeeded.\n# Exit code = 0\n";
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
}

TEST_F(RegistrationRun, PlatformWarningsGiveExitCodeFive) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  EXPECT_EQ(Register(cfg, "", 14, [](ScriptedSections& s) { s.platforms.update = 5; }), 5);
  EXPECT_EQ(out_, "\nRegistration of patch VRMS_0200 ended with warnings.\n");
  EXPECT_NE(ReadUnicode(RunLog()).find("ended with warnings.\n# Exit code = 5\n"), std::string::npos);
}

TEST_F(RegistrationRun, FailedPackageUpdateRollsBackInOrderAndRestoresTheOlderUndoFile) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "patch.undo").string();
  ASSERT_EQ(Register(cfg, undo, 14, Lines), 0);
  const std::string older = ReadBytes(undo);
  calls_.clear();
  out_.clear();

  EXPECT_EQ(Register(cfg, undo, 14, [](ScriptedSections& s) {
              Lines(s);
              s.packages.update = 100;
            }),
            1);
  EXPECT_EQ(Calls(),
            "init platforms; winos; init packages; version 7.60; init prereq; update platforms; update packages; "
            "rollback platforms [[[[PLATFORMS]]]|OS-TYPE ADD 30 \"Plan 9\"|[[[PLATFORMS_END]]]]; "
            "rollback packages [[[[PACKAGES]]]|PACKAGE ADD x|[[[PACKAGES_END]]]]; "
            "cleanup platforms; cleanup packages; cleanup prereq");
  EXPECT_EQ(err_, "ERROR:    update of packages failed\n");
  EXPECT_EQ(out_, "Error during registration. Performing rollback...\n");
  EXPECT_EQ(ReadBytes(undo), older);
  EXPECT_FALSE(fs::exists(undo + ".bak"));
  const std::string log = ReadUnicode(RunLog());
  EXPECT_NE(log.find("# Error during registration. Performing rollback...\n\n"
                     "# Registration of patch VRMS_0200 failed. Rollback succeeded.\n# Exit code = 1\n"),
            std::string::npos)
      << log;

  calls_.clear();
  EXPECT_EQ(Register(cfg, undo, 14, [](ScriptedSections& s) {
              s.prereq.update = 7;
              s.packages.lines = {"PACKAGE ADD y"};
              s.packages.rollback = false;
            }),
            2);
  EXPECT_EQ(error_, "rollback of packages failed\n");
  EXPECT_NE(Calls().find("rollback platforms [[[[PLATFORMS]]]|[[[PLATFORMS_END]]]]; rollback packages"),
            std::string::npos);
  EXPECT_NE(Calls().find("rollback prereq [[[[PREREQUISITE_CHECK]]]|[[[PREREQUISITE_CHECK_END]]]]"), std::string::npos);
  EXPECT_EQ(ReadBytes(undo), older);
  // The failed rollback left its journal, as a killed run does: the next run (here one whose
  // rollbacks succeed) finishes it first.
  ASSERT_TRUE(fs::exists(root_ / "journal"));
  err_.clear();
  EXPECT_EQ(Unregister((base_ / "none.undo").string(), false), 52);
  EXPECT_NE(err_.find("(TESSERA262) An earlier run of tessera for patch 'VRMS_0200' was"), std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(root_ / "journal"));

  // A failed rollback of a section whose log records no change leaves nothing behind: the
  // run says the rollback succeeded (exit 1), with the section's message.
  EXPECT_EQ(Register(cfg, undo, 14, [](ScriptedSections& s) {
              s.prereq.update = 7;
              s.packages.rollback = false;
            }),
            1);
  EXPECT_EQ(error_, "rollback of packages failed\n");
  EXPECT_EQ(ReadBytes(undo), older);
}

TEST_F(RegistrationRun, ASecondRegistrationKeepsThePreviousUndoFileAsBackup) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "patch.undo").string();
  ASSERT_EQ(Register(cfg, undo, 14, Lines), 0);
  const std::string first = ReadBytes(undo);
  ASSERT_EQ(Register(cfg, undo, 14, [](ScriptedSections& s) { s.platforms.lines = {"SECOND"}; }), 0);
  EXPECT_EQ(ReadBytes(undo + ".bak"), first);
  EXPECT_NE(ReadUnicode(undo).find("SECOND"), std::string::npos);
}

TEST_F(RegistrationRun, FailuresBeforeAnyChange) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "patch.undo").string();

  // An Init that fails: its status is the exit code, nothing is updated, no undo file.
  EXPECT_EQ(Register(cfg, undo, 14, [](ScriptedSections& s) { s.packages.init = 42; }), 42);
  EXPECT_EQ(error_, "init of packages failed\n");
  EXPECT_EQ(Calls(), "init platforms; winos; init packages; cleanup platforms");
  EXPECT_FALSE(fs::exists(undo));
  calls_.clear();
  EXPECT_EQ(Register(cfg, undo, 14, [](ScriptedSections& s) { s.winOsTypes = false; }), 100);
  EXPECT_EQ(error_, "no Windows OS types\n");

  // The undo file's folder cannot be entered.
  calls_.clear();
  vr::fault::Configure("os.SetCurrentDirectory#1=5");
  EXPECT_EQ(Register(cfg, (base_ / "new/patch.undo").string(), 14), 100);
  vr::fault::Reset();
  EXPECT_NE(error_.find("(TESSERA502) Directory '/' doesn't exist or you do not have permission"), std::string::npos)
      << error_;
  EXPECT_EQ(Calls().find("update"), std::string::npos) << Calls();
  EXPECT_FALSE(fs::exists(base_ / "new"));

  // A folder that cannot be created.
  calls_.clear();
  Write("plainfile", "x");
  EXPECT_EQ(Register(cfg, (base_ / "plainfile/patch.undo").string(), 14), 100);
  EXPECT_NE(error_.find("(TESSERA503) Directory '" + (base_ / "plainfile").string() + "' cannot be created."),
            std::string::npos)
      << error_;

  // The undo file cannot be saved.
  calls_.clear();
  fs::create_directories(base_ / "ro");
  EXPECT_EQ(Register(cfg, (base_ / "ro").string(), 14), 100);  // a folder in the undo file's place
  EXPECT_NE(error_.find("(TESSERA201) Cannot create log file '" + (base_ / "ro").string() + "'."), std::string::npos)
      << error_;
  EXPECT_EQ(Calls().find("update"), std::string::npos) << Calls();
}

TEST_F(RegistrationRun, ConfigurationProblems) {
  MakeHost();
  // Missing file: message 9, exit 52, and the run log records the attempt.
  EXPECT_EQ(Register(base_ / "missing.xml", "", 14), 52);
  EXPECT_NE(error_.find("(TESSERA9) File '"), std::string::npos) << error_;
  std::string log = ReadUnicode(RunLog());
  EXPECT_EQ(Count(log, "Patch=VRMS_0200\n"), 1u);
  EXPECT_NE(log.find("\n# Registration of patch VRMS_0200 failed. Errors during initialization. No changes done.\n"
                     "# Exit code = 52\n"),
            std::string::npos)
      << log;
  // Not valid against the document type definition: result 6, exit 51.
  EXPECT_EQ(Register(Write("bad.xml", "<?xml version=\"1.0\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
                                      "<VrNPConfig><Unknown/></VrNPConfig>\n"),
                     "", 14),
            51);
  EXPECT_NE(error_.find("(TESSERA6) MS XML DOM could not open"), std::string::npos) << error_;
  // A server version the file does not list: message 811 in the log, exit 51, nothing run.
  calls_.clear();
  EXPECT_EQ(Register(Write("other.xml", std::string(kFullConfig).replace(std::string(kFullConfig).find("A.07.40|a.07.50"), 15, "A.07.40")),
                     "", 14),
            51);
  EXPECT_EQ(error_, "(TESSERA811) VRM/S version on this computer ('A.07.50') is not supported in XML "
                    "configuration file. Supported versions: 'A.07.40'.\n");
  EXPECT_EQ(Calls(), "");
  log = ReadUnicode(RunLog());
  EXPECT_NE(log.find("\n(TESSERA811) VRM/S version"), std::string::npos);
  EXPECT_EQ(Count(log, "Patch=VRMS_0200\n"), 3u);
  EXPECT_EQ(Count(log, "# Exit code = "), 3u);
}

TEST_F(RegistrationRun, SectionSelectionBelowVersion7499) {
  MakeHost("00.00.94");  // 7.0: no prerequisite section, run log below DataDir
  EXPECT_EQ(Register(Write("v.xml", std::string(kFullConfig).replace(std::string(kFullConfig).find("A.07.40|a.07.50"), 15, "00.00.94")),
                     "", 1 | 8),
            0);
  EXPECT_EQ(Calls(), "");  // "-sections prereq" below 7.499: nothing to do
  EXPECT_TRUE(fs::exists(RunLog(false)));
  EXPECT_NE(ReadUnicode(RunLog(false)).find("-sections prereq\n"), std::string::npos);

}

TEST_F(RegistrationRun, SectionSelectionByContentAndMask) {
  MakeHost();
  const std::string undo = (base_ / "p.undo").string();
  EXPECT_EQ(Register(Write("pkg.xml", kPackagesOnly), undo, 14, Lines), 0) << error_;
  EXPECT_EQ(Calls(), "winos; init packages; update packages; cleanup packages");
  EXPECT_EQ(ReadUnicode(undo).find("PLATFORMS"), std::string::npos);
  calls_.clear();
  EXPECT_EQ(Register(Write("full.xml", kFullConfig), "", 1 | 2 | 4, Lines), 0);
  EXPECT_EQ(Calls().find("prereq"), std::string::npos) << Calls();
  EXPECT_NE(ReadUnicode(RunLog()).find("-sections package|platform\n"), std::string::npos);
}

// Both runs end the command line in the run log's header with the cluster mode they were given.
TEST_F(RegistrationRun, TheRunLogsCommandLineNamesTheClusterModeOfBothRuns) {
  HostFixture::MakeHost({"--server-version", "A.07.50", "--cluster", "active"});
  CaptureConsole(vr::console::SetConsoleWriter, out_, err_);
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "cluster.undo").string();
  for (const auto& [mode, option] : {std::pair{1, " -cluster full\n"}, {2, " -cluster local\n"}}) {
    for (const bool reg : {true, false}) {
      WString message;
      int status = -1;
      CVrPlatformRegistration r(mode, nullptr, message, status);
      ASSERT_EQ(status, 0) << WideToUtf8(message);
      r.SetSections(std::make_unique<ScriptedSections>(r, calls_));
      EXPECT_EQ(reg ? r.RegisterPlatform(Utf8ToWide(cfg.string()), u"VRMS_0200", false, Utf8ToWide(undo), 14)
                    : r.UnregisterPlatform(Utf8ToWide(undo), false),
                0);
    }
    const std::string log = ReadUnicode(RunLog());
    EXPECT_NE(log.find("-log \"" + undo + "\"" + option), std::string::npos) << log;
    EXPECT_NE(log.find("# tessera -unreg \"" + undo + "\"" + option), std::string::npos) << log;
  }
}

TEST_F(RegistrationRun, Unregistration) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "patch.undo").string();
  ASSERT_EQ(Register(cfg, undo, 14, Lines), 0);

  // Uninstall order packages, platforms, prerequisites, each given the undo file.
  calls_.clear();
  out_.clear();
  EXPECT_EQ(Unregister(undo, false), 0) << error_;
  const std::string calls = Calls();
  EXPECT_EQ(calls.rfind("init platforms; winos; init packages; version ; init prereq; rollback packages [Patch=VRMS_0200|", 0), 0u)
      << calls;
  const size_t packages = calls.find("rollback packages"), platforms = calls.find("rollback platforms"),
               prereq = calls.find("rollback prereq"), cleanup = calls.find("cleanup platforms");
  EXPECT_TRUE(packages < platforms && platforms < prereq && prereq < cleanup) << calls;
  // Each Rollback reads the whole undo file from its start.
  EXPECT_NE(calls.find("[[[PACKAGES]]]|PACKAGE ADD x|[[[PACKAGES_END]]]|[[[PREREQUISITE_CHECK]]]|SYSTEM ADD S|"
                       "[[[PREREQUISITE_CHECK_END]]]]; rollback platforms [Patch=VRMS_0200|"),
            std::string::npos)
      << calls;
  EXPECT_EQ(calls.substr(cleanup), "cleanup platforms; cleanup packages; cleanup prereq");
  EXPECT_EQ(out_, "\nUnregistration of patch VRMS_0200 succeeded.\n");
  EXPECT_TRUE(fs::exists(undo));
  const std::string log = ReadUnicode(RunLog());
  EXPECT_NE(log.find("# tessera -unreg \"" + undo + "\"\n\n"), std::string::npos) << log;

  // The ledger knows it was taken back: a second unregistration does nothing (267, exit 0).
  calls_.clear();
  out_.clear();
  EXPECT_EQ(Unregister(undo, false), 0) << error_;
  EXPECT_EQ(Calls(), "");
  EXPECT_EQ(out_.rfind("\n(TESSERA267) The changes recorded in the undo file '", 0), 0u) << out_;
  // The cases below take the undo file back on a server whose ledger does not know it.
  const auto forgetLedger = [&] { fs::remove(root_ / "ledger" / "ledger.txt"); };

  // Not registered: exit 6 with message 156, nothing else touched.
  forgetLedger();
  calls_.clear();
  out_.clear();
  EXPECT_EQ(Unregister(undo, true, [](ScriptedSections& s) {
              s.notRegistered = true;
              s.packages.rollback = false;
            }),
            6);
  EXPECT_EQ(out_, "rollback of packages failed\n\nPatch VRMS_0200 was not unregistered.\n");
  EXPECT_EQ(Calls().find("rollback platforms"), std::string::npos);
  EXPECT_TRUE(fs::exists(undo));
  EXPECT_NE(ReadUnicode(RunLog()).find("\n# Patch VRMS_0200 was not unregistered.\n# Exit code = 6\n"), std::string::npos);
  forgetLedger();
  EXPECT_EQ(Unregister(undo, true, [](ScriptedSections& s) {
              s.deployed = true;
              s.packages.rollback = false;
            }),
            3);

  // Errors go on to the end: 4, or 53 when a section found a syntax error.
  forgetLedger();
  calls_.clear();
  EXPECT_EQ(Unregister(undo, true, [](ScriptedSections& s) {
              s.platforms.rollback = false;
              s.packages.rollback = false;
            }),
            4);
  EXPECT_EQ(error_, "rollback of packages failed\nrollback of platforms failed\n");
  EXPECT_NE(Calls().find("rollback prereq"), std::string::npos);
  forgetLedger();
  EXPECT_EQ(Unregister(undo, true, [](ScriptedSections& s) {
              s.syntaxError = true;
              s.packages.rollback = false;
            }),
            53);
  EXPECT_TRUE(fs::exists(undo));

  // With warnings and "-delundo": exit 5 and the undo file is gone.
  forgetLedger();
  out_.clear();
  EXPECT_EQ(Unregister(undo, true, [](ScriptedSections& s) { s.platformWarnings = true; }), 5);
  EXPECT_EQ(out_, "\nUnregistration of patch VRMS_0200 ended with warnings.\n");
  EXPECT_FALSE(fs::exists(undo));
  EXPECT_NE(ReadUnicode(RunLog()).find("ended with warnings.\n# Exit code = 5\n"), std::string::npos);
}

TEST_F(RegistrationRun, UnregistrationOfBadUndoFiles) {
  MakeHost();
  EXPECT_EQ(Unregister((base_ / "none.undo").string(), false), 52);
  EXPECT_NE(error_.find("(TESSERA207) Undo log file '"), std::string::npos);
  const fs::path bad = Write("bad.undo", std::string("\xFF\xFE", 2) + std::string("X\0=\0\r\0\n\0", 8));
  EXPECT_EQ(Unregister(bad.string(), false), 53);
  EXPECT_NE(error_.find("(TESSERA301) Syntax error in line 1 of file"), std::string::npos) << error_;
  EXPECT_EQ(Calls(), "");
  // A header-only undo file changes nothing and succeeds.
  const fs::path headerOnly = Write("h.undo", "");
  {
    VrLogFile f(Utf8ToWide(headerOnly.string()).c_str(), true);
    vr::undo::AppendHeader(f, {u"P7", u"01/01/2026 00:00:00 +00:00", u"/x.xml", u"A.07.50"});
    ASSERT_EQ(f.SaveFile(), S_OK);
  }
  out_.clear();
  EXPECT_EQ(Unregister(headerOnly.string(), true), 0);
  EXPECT_EQ(out_, "\nUnregistration of patch P7 succeeded.\n");
  EXPECT_EQ(Calls(), "");
  EXPECT_FALSE(fs::exists(headerOnly));
}


// ---- Plan runs (-whatif)

namespace {
const std::string kNothingChanged = "\nNothing was changed: this was a plan of the run (-whatif).\n";
}  // namespace

TEST_F(RegistrationRun, APlanPrintsTheSectionsUndoLinesAndChangesNothing) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "new dir/patch.undo").string();
  const std::string before = HostFiles();
  EXPECT_EQ(PlanRegister(cfg, undo, 14, Lines), 0) << error_;
  EXPECT_EQ(Calls(),
            "init platforms; winos; init packages; version 7.60; init prereq; update platforms; update packages; "
            "update prereq; cleanup platforms; cleanup packages; cleanup prereq");
  EXPECT_EQ(out_,
            "\n[[[PLATFORMS]]]\nOS-TYPE ADD 30 \"Plan 9\"\n[[[PLATFORMS_END]]]\n"
            "\n[[[PACKAGES]]]\nPACKAGE ADD x\n[[[PACKAGES_END]]]\n"
            "[[[PREREQUISITE_CHECK]]]\nSYSTEM ADD S\n[[[PREREQUISITE_CHECK_END]]]\n" +
                kNothingChanged);
  EXPECT_EQ(err_, "");
  // No undo file, no folder for it, no journal, no ledger entry.
  EXPECT_FALSE(fs::exists(base_ / "new dir"));
  EXPECT_EQ(HostFiles(), before);
  const std::string log = ReadUnicode(RunLog());
  EXPECT_NE(log.find("-log \"" + undo + "\" -whatif\n\n# Plan only (-whatif): the stores are read, nothing is "
                     "changed.\n\n# Nothing was changed: this was a plan of the run (-whatif).\n# Exit code = 0\n"),
            std::string::npos)
      << log;
}

TEST_F(RegistrationRun, APlanStopsWhereTheRealRunFailsAndRollsNothingBack) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string before = HostFiles();
  EXPECT_EQ(PlanRegister(cfg, "", 14, [](ScriptedSections& s) {
              Lines(s);
              s.packages.update = 100;
            }),
            1);
  // The sections planned before the failure are shown; nothing is rolled back.
  EXPECT_EQ(Calls(),
            "init platforms; winos; init packages; version 7.60; init prereq; update platforms; update packages; "
            "cleanup platforms; cleanup packages; cleanup prereq");
  EXPECT_EQ(err_, "ERROR:    update of packages failed\n");
  EXPECT_EQ(out_, "\n[[[PLATFORMS]]]\nOS-TYPE ADD 30 \"Plan 9\"\n[[[PLATFORMS_END]]]\n");
  EXPECT_EQ(HostFiles(), before);
  const std::string log = ReadUnicode(RunLog());
  EXPECT_NE(log.find("# update of packages failed\n# The run without -whatif would stop here.\n\n"
                     "# Registration of patch VRMS_0200 failed. Rollback succeeded.\n# Exit code = 1\n"),
            std::string::npos)
      << log;

  // An Init that fails ends the plan as it ends the real run.
  calls_.clear();
  EXPECT_EQ(PlanRegister(cfg, "", 14, [](ScriptedSections& s) { s.packages.init = 100; }), 100);
  EXPECT_EQ(error_, "init of packages failed\n");
  EXPECT_EQ(Calls(), "init platforms; winos; init packages; cleanup platforms");
}

TEST_F(RegistrationRun, AnUnregistrationPlanShowsTheUndoFilesSectionsAndTheRefusals) {
  MakeHost();
  const fs::path cfg = Write("full.xml", kFullConfig);
  const std::string undo = (base_ / "patch.undo").string();
  ASSERT_EQ(Register(cfg, undo, 14, Lines), 0) << error_;
  calls_.clear();
  out_.clear();
  const std::string before = HostFiles();
  EXPECT_EQ(PlanUnregister(undo), 0) << error_;
  // Only the package section is asked, for its checks (it is given the whole undo file, as
  // in the real run); nothing is taken back.
  const std::string calls = Calls();
  EXPECT_EQ(calls.substr(0, calls.find('[')), "init platforms; winos; init packages; version ; init prereq; rollback packages ");
  EXPECT_EQ(calls.substr(calls.rfind(']') + 1), "; cleanup platforms; cleanup packages; cleanup prereq");
  EXPECT_EQ(Count(calls, "rollback"), 1u) << calls;
  EXPECT_EQ(out_,
            "\n[[[PACKAGES]]]\nPACKAGE ADD x\n[[[PACKAGES_END]]]\n"
            "\n[[[PLATFORMS]]]\nOS-TYPE ADD 30 \"Plan 9\"\n[[[PLATFORMS_END]]]\n"
            "\n[[[PREREQUISITE_CHECK]]]\nSYSTEM ADD S\n[[[PREREQUISITE_CHECK_END]]]\n" +
                kNothingChanged);
  EXPECT_EQ(HostFiles(), before);

  // A patch the package section finds not registered: the real run's exit code 6 and texts.
  out_.clear();
  EXPECT_EQ(PlanUnregister(undo, [](ScriptedSections& s) {
              s.notRegistered = true;
              s.packages.rollback = false;
            }),
            6);
  EXPECT_EQ(out_, "rollback of packages failed\n\nPatch VRMS_0200 was not unregistered.\n"
                  "The run without -whatif would stop here.\n");
  EXPECT_EQ(HostFiles(), before);
}
