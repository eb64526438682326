// The prerequisite section end to end on demo hosts made by vrhost: registration and
// unregistration of the demo example, rollback after a failure, and its version order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/Prereq/PrereqVersion.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using vr::text::Utf8ToWide;

namespace {

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class PrereqSectionRun : public vr::testing::HostFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const char* src = std::getenv("VR_SOURCE_DIR");
    ASSERT_TRUE(src);
    example_ = fs::path(src) / "examples/PrerequisiteTags.xml";
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    CaptureConsole(vr::console::SetConsoleWriter);
    for (const auto& f : Files()) before_.push_back(Read(f));
  }
  void TearDown() override {
    vr::fault::Reset();
    CoUninitialize();
    HostFixture::TearDown();
  }
  // The configuration file and its copies in the packages tree.
  std::vector<fs::path> Files() const {
    return {root_ / "server/share/install/conf/PrereqCheck/vroreqcheck.cfg",
            root_ / "server/install/Packages/Windows/x64/vroreqcheck.cfg",
            root_ / "server/install/Packages/Linux/x64/vroreqcheck.cfg"};
  }
  fs::path NewVersionFile() const { return root_ / "server/share/install/conf/PrereqCheck/7.60/vroreqcheck.cfg"; }

  int Run(bool reg, const std::string& undo, const WString& patch = u"VRPATCH_REQ_01") {
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    if (status != 0) {
      error_ = vr::text::WideToUtf8(message);
      return status;
    }
    try {
      return reg ? r.RegisterPlatform(Utf8ToWide(example_.string()), patch, false, Utf8ToWide(undo), 1 | 8)
                 : r.UnregisterPlatform(Utf8ToWide(undo), false);
    } catch (const CApp_error& e) {
      error_ = vr::text::WideToUtf8(e.Message());
      return e.ExitCode();
    } catch (const _com_error&) {  // main reports these with exit code 100
      return 100;
    }
  }

  fs::path example_;
  std::vector<std::string> before_;
  std::string error_;
};

}  // namespace

TEST(PrereqVersion, Order) {
  using vr::prereq::CompareVersions;
  EXPECT_LT(CompareVersions(u"7.5", u"7.10"), 0);
  EXPECT_EQ(CompareVersions(u"1.0", u"1.0.0"), 0);
  EXPECT_GT(CompareVersions(u"1.0.1", u"1.0"), 0);
  EXPECT_LT(CompareVersions(u"7.5", u"7.5a"), 0);
  EXPECT_EQ(CompareVersions(u"7.5B", u"7.5b"), 0);
  EXPECT_EQ(CompareVersions(u"7.*", u"7.99"), 0);
  EXPECT_GT(CompareVersions(u"8.0", u"7.10"), 0);
  EXPECT_EQ(CompareVersions(u"8-0", u"8.0"), 0);
}

TEST_F(PrereqSectionRun, RegisterThenUnregisterLeavesOnlyWhatIsMeantToStay) {
  const std::string undo = (base_ / "u.undo").string();
  ASSERT_EQ(Run(true, undo), 0) << error_;
  // The requested version 7.60 is above the highest (1.0.0): a new folder with the new file.
  const std::string registered = Read(NewVersionFile());
  EXPECT_NE(registered.find("VER 7.60"), std::string::npos);
  EXPECT_NE(registered.find("UPDATES: ++VRPATCH_REQ_01"), std::string::npos);
  EXPECT_NE(registered.find("[PREREQUISITES] LINUX_ARM64_AGENT"), std::string::npos);
  EXPECT_NE(registered.find("[SYSTEM] LINUX_ARM64\n"), std::string::npos);
  EXPECT_EQ(Read(Files()[0]), before_[0]);  // the folder's own file stays 1.0.0
  EXPECT_EQ(Read(Files()[1]), registered);  // the copies follow the saved file
  EXPECT_EQ(Read(Files()[2]), registered);

  // Registering the same tags again changes nothing; while that registration stands, taking
  // back the first leaves the tags it still lists, and taking it back then removes them.
  const std::string again = (base_ / "again.undo").string();
  ASSERT_EQ(Run(true, again), 0) << error_;
  EXPECT_EQ(Read(NewVersionFile()), registered);
  ASSERT_EQ(Run(false, undo), 0) << error_;
  EXPECT_EQ(Read(NewVersionFile()), registered);

  ASSERT_EQ(Run(false, again), 0) << error_;
  std::string expected = before_[1];
  const std::string after = Read(Files()[1]);
  EXPECT_NE(after.find("UPDATES: ++VRPATCH_REQ_01 --VRPATCH_REQ_01\n"), std::string::npos) << after;
  EXPECT_NE(after.find("VER 7.60\n"), std::string::npos);
  // Apart from the VER and UPDATES lines and the CRC, the copy is what it was.
  auto body = [](const std::string& s) { return s.substr(s.find("[PREREQUISITES_SECTION]"), s.find("CONFIG FILE CRC:") - s.find("[PREREQUISITES_SECTION]")); };
  EXPECT_EQ(body(after), body(expected));
  EXPECT_EQ(Read(Files()[2]), after);
  EXPECT_EQ(Read(NewVersionFile()), after);
}

TEST_F(PrereqSectionRun, ARequestedVersionMustBeAVersion) {
  WString message;
  int status = -1;
  CVrPlatformRegistration r(0, nullptr, message, status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(r.ReqCheckCfgRegInit(message, u"9.5/../../x"), 100);
  EXPECT_EQ(message, u"(TESSERA210) Version '9.5/../../x' of the prerequisite entries is not a valid version.\n");
  EXPECT_FALSE(fs::exists(root_ / "server/share/install/conf/x"));
  EXPECT_EQ(r.ReqCheckCfgRegInit(message, u"8.0"), 0);
  EXPECT_TRUE(fs::exists(root_ / "server/share/install/conf/PrereqCheck/8.0/vroreqcheck.cfg"));
}

TEST_F(PrereqSectionRun, AFailedCopyRollsTheFileBack) {
  // The second instance copy fails: the run rolls back, the saved file and the first copy get
  // their tags removed again.
  vr::fault::Configure("os.CopyFile#3");
  const std::string undo = (base_ / "u.undo").string();
  EXPECT_EQ(Run(true, undo), 1) << error_;
  vr::fault::Reset();
  EXPECT_FALSE(fs::exists(undo));
  for (const auto& f : Files()) EXPECT_EQ(Read(f).find("LINUX_ARM64"), std::string::npos) << f;
  EXPECT_EQ(Read(NewVersionFile()).find("LINUX_ARM64"), std::string::npos);
  EXPECT_NE(console_.find("Error during registration. Performing rollback..."), std::string::npos);
}

// The sweep in parts that the test run spreads over the processors (tests/support/SweepParts.h).
constexpr int kSweepParts = 4;
class PrereqSectionSweep : public PrereqSectionRun, public ::testing::WithParamInterface<int> {};

TEST_P(PrereqSectionSweep, EveryFaultPointLeavesTheFilesWholeOrRegistered) {
  const fs::path log = base_ / "points.log";
  vr::fault::Configure("");
  vr::fault::SetLogFile(log.string());
  ASSERT_EQ(Run(true, (base_ / "probe.undo").string(), u"SWEEP"), 0);
  vr::fault::SetLogFile("");
  std::vector<std::string> points;
  {
    std::ifstream in(log);
    for (std::string p; std::getline(in, p);) points.push_back(p);
  }
  ASSERT_GT(points.size(), 10u);
  const auto files = Files();
  const std::string ledger = LedgerText();
  auto restore = [&] {
    for (size_t i = 0; i < files.size(); ++i) std::ofstream(files[i], std::ios::binary) << before_[i];
    fs::remove_all(NewVersionFile().parent_path());
    RestoreLedger(ledger);
  };
  size_t failed = 0;
  for (const auto& point : vr::testing::SweepPart(points, GetParam(), kSweepParts)) {
    restore();
    vr::fault::Configure(point);
    const int code = Run(true, (base_ / "sweep.undo").string(), u"SWEEP");
    vr::fault::Reset();
    // Exit 2 (the rollback itself failed) and message 206 (done, but the undo file could not be
    // saved) report that the changes stay; every other failure must leave the files alone.
    if (code == 2 || error_.find("(TESSERA206)") != std::string::npos) {
      error_.clear();
      continue;
    }
    error_.clear();
    if (code == 0) {
      for (const auto& f : {files[1], files[2], NewVersionFile()})
        EXPECT_NE(Read(f).find("++SWEEP"), std::string::npos) << point << " " << f;
    } else {
      ++failed;
      // A failed run leaves the file's copies as they were (rolled back, or never changed).
      for (size_t i = 1; i < files.size(); ++i) {
        const std::string now = Read(files[i]);
        EXPECT_EQ(now.find("LINUX_ARM64_AGENT"), std::string::npos) << point << " exit " << code << " " << files[i];
      }
      EXPECT_EQ(Read(files[0]), before_[0]) << point;
      // Nor does it leave the version folder it made: it would be the highest from then on.
      EXPECT_FALSE(fs::exists(NewVersionFile().parent_path())) << point << " exit " << code;
    }
  }
  EXPECT_GT(failed, 0u);
}
INSTANTIATE_TEST_SUITE_P(Part, PrereqSectionSweep, ::testing::Range(0, kSweepParts));
