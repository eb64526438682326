// The platform section through the registration run on demo hosts made by vrhost: the fault
// sweep of a registration of the RISC-V example, and a rollback after a later section failed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "platform/wmi/mof_compiler.h"
#include "platform/wmi/object_path.h"
#include "platform/wmi/repository.h"
#include "tessera/AppErrors.h"
#include "tessera/Console.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/VrPlatformRegistration.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using vr::text::Utf8ToWide;

namespace {

constexpr int kPlatformSection = 4;

class PlatformSectionRun : public vr::testing::HostFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    const char* src = std::getenv("VR_SOURCE_DIR");
    ASSERT_TRUE(src);
    example_ = fs::path(src) / "examples/NewPlatformRiscV.xml";
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    CaptureConsole(vr::console::SetConsoleWriter);
    before_ = Namespace();
    // The export read in this process is vrhost's, byte for byte.
    ASSERT_EQ(before_, WmiExport());
    ASSERT_NE(before_.find("instance of"), std::string::npos);
    fs::copy(root_ / "wmi", base_ / "wmi.saved", fs::copy_options::recursive);
  }
  void TearDown() override {
    vr::fault::Reset();
    CoUninitialize();
    HostFixture::TearDown();
  }

  // The whole product namespace as `vrhost wmi export` writes it, read in this process: starting
  // vrhost at every fault point took a third of the sweep's time. The repository is opened for
  // the export only, so that the next one reads the files as they are then.
  std::string Namespace() {
    std::shared_ptr<vr::wmi::Repository> repo;
    WString server, ns, why;
    std::string text;
    HRESULT hr = vr::wmi::ParseNamespacePath(PlatformOperations::kVorantNamespace, &server, &ns);
    if (SUCCEEDED(hr)) hr = vr::wmi::Repository::OpenRoot(root_.string(), &repo, &why);
    if (SUCCEEDED(hr))
      hr = vr::wmi::ExportNamespace(*repo, ns, u"", true,
                                    [&](const WString& part) { text += vr::text::WideToUtf8(part); }, &why);
    EXPECT_TRUE(SUCCEEDED(hr)) << vr::text::WideToUtf8(why);
    return SUCCEEDED(hr) ? text : std::string();
  }
  // The instrumentation folders that registering the example makes.
  fs::path Copies() const { return root_ / "server/share/instrumentation/91"; }
  void RestoreNamespace() {
    fs::remove_all(root_ / "wmi");
    fs::copy(base_ / "wmi.saved", root_ / "wmi", fs::copy_options::recursive);
  }

  int Run(bool reg, const std::string& undo, const WString& patch = u"VRPATCH_RISCV_01") {
    WString message;
    int status = -1;
    CVrPlatformRegistration r(0, nullptr, message, status);
    if (status != 0) {
      error_ = vr::text::WideToUtf8(message);
      return status;
    }
    try {
      return reg ? r.RegisterPlatform(Utf8ToWide(example_.string()), patch, false, Utf8ToWide(undo), kPlatformSection)
                 : r.UnregisterPlatform(Utf8ToWide(undo), false);
    } catch (const CApp_error& e) {
      error_ = vr::text::WideToUtf8(e.Message());
      return e.ExitCode();
    } catch (const _com_error&) {  // main reports these with exit code 100
      return 100;
    }
  }

  fs::path example_;
  std::string before_, error_;
};

}  // namespace

// Every fault point that the platform section of a registration reaches, failing in turn:
// the run ends with exit 1 (rolled back: the namespace is exactly as before) or 2 (the
// rollback failed too, and says so); a point whose failure the run survives leaves a
// registration that unregisters back to the original namespace; a failure to save the undo
// file after the update says so (message 206).
// The sweep in parts that the test run spreads over the processors (tests/support/SweepParts.h).
constexpr int kSweepParts = 4;
class PlatformSectionSweep : public PlatformSectionRun, public ::testing::WithParamInterface<int> {};

TEST_P(PlatformSectionSweep, EveryFaultPointEndsRolledBackOrReportsTheFailedRollback) {
  const fs::path log = base_ / "points.log";
  // The first run of a process reads some things once for all later runs; the probe is the
  // second run, so that its fault points are those of the runs of the sweep.
  vr::fault::Configure("");
  ASSERT_EQ(Run(true, (base_ / "warmup.undo").string()), 0) << error_;
  RestoreNamespace();
  fs::remove_all(Copies());
  vr::fault::Configure("");
  vr::fault::SetLogFile(log.string());
  ASSERT_EQ(Run(true, (base_ / "probe.undo").string()), 0) << error_;
  vr::fault::SetLogFile("");
  std::vector<std::string> points;
  {
    std::ifstream in(log);
    bool inSection = false;
    // The section begins with its connection to WMI: its COM scope is the point before it.
    std::vector<std::string> all;
    for (std::string p; std::getline(in, p);) all.push_back(p);
    for (size_t i = 0; i < all.size(); ++i) {
      if (!inSection && i + 1 < all.size() && all[i + 1] == "wmi.ConnectServer#1") inSection = true;
      if (inSection) points.push_back(all[i]);
    }
  }
  ASSERT_GT(points.size(), 100u);
  RestoreNamespace();
  std::map<int, int> outcomes;
  std::string others;  // the points that did not end in a rollback, with their exit codes
  const std::string ledger = LedgerText();  // every point starts from this ledger (HostFixture.h)
  for (const auto& point : vr::testing::SweepPart(points, GetParam(), kSweepParts)) {
    RestoreNamespace();
    RestoreLedger(ledger);
    fs::remove_all(Copies());
    // Every run starts as the probe did: no undo file of that name yet.
    fs::remove(base_ / "sweep.undo");
    fs::remove(base_ / "sweep.undo.bak");
    error_.clear();
    vr::fault::Configure(point);
    const int code = Run(true, (base_ / "sweep.undo").string());
    vr::fault::Reset();
    ++outcomes[code];
    if (code != 1) others += " " + point + "=" + std::to_string(code);
    if (code == 1) {
      EXPECT_EQ(Namespace(), before_) << point;
    } else if (code == 0 || code == 5) {
      // The failure did not reach the platform section's result (the run log, a trace):
      // what it registered unregisters cleanly.
      ASSERT_EQ(Run(false, (base_ / "sweep.undo").string()), 0) << point << " " << error_;
      EXPECT_EQ(Namespace(), before_) << point;
    } else if (code == 100 && error_.find("(TESSERA206)") != std::string::npos) {
      // After every section succeeded the undo file could not be saved: the changes stay, and
      // the message says so.
    } else if (code == 100) {
      // A failure of the run before any section was updated changes nothing.
      EXPECT_EQ(Namespace(), before_) << point << " " << error_;
    } else {
      EXPECT_EQ(code, 2) << point << " " << error_;
      EXPECT_NE(error_.find("(TESSERA3052)"), std::string::npos) << point << " " << error_;
    }
  }
  std::ostringstream summary;
  summary << points.size() << " fault points:";
  for (const auto& [code, count] : outcomes) summary << " exit " << code << " x" << count;
  std::printf("%s\nnot rolled back:%s\n", summary.str().c_str(), others.c_str());
  RecordProperty("outcomes", summary.str());
  EXPECT_GT(outcomes[1], 0);
}
INSTANTIATE_TEST_SUITE_P(Part, PlatformSectionSweep, ::testing::Range(0, kSweepParts));
