// The host fixture of the in-process tests: a fresh host root made by `vrhost init` in a
// folder of the test's own, the environment pointing the program code at it (VR_HOST_ROOT,
// and PATH with the cluster tool first) for the test only, and, in TearDown, the fault
// injection state reset, the console capture ended, the environment restored and the folder
// removed. Every test gets its own folder (mkdtemp), so that tests running at the same time
// never share a file.
//
//   class MySection : public vr::testing::HostFixture {
//     void SetUp() override {
//       HostFixture::SetUp();                        // or MakeHost({"--server-version", ...})
//       CaptureConsole(vr::console::SetConsoleWriter);
//     }
//   };
//
// Folder tests/support, library vr_test_support (headers) and test_postgres: the one test
// support, linked by every test program and the benchmarks that start a database server, never
// by product code; uses platform/fault.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fault/fault.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/SweepParts.h"

namespace vr::testing {

class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override { MakeHost(); }

  void TearDown() override {
    vr::fault::Reset();
    if (uncapture_) uncapture_();
    uncapture_ = nullptr;
    while (!env_.empty()) env_.pop_back();  // the newest change is undone first
    folder_.reset();
  }

  // Makes the test's folder and a host in it (base_/host) with `vrhost init` and these extra
  // arguments, and points the environment at it.
  void MakeHost(const std::vector<std::string>& initArgs = {}) {
    const char* bin = std::getenv("VR_BINARY_DIR");
    ASSERT_TRUE(bin && *bin) << "VR_BINARY_DIR names the build tree (the test run sets it)";
    binaryDir_ = bin;
    vrhost_ = binaryDir_ + "/tools/vrhost/vrhost";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_.emplace("vr-" + PathSafe(info ? info->name() : "test"));
    base_ = folder_->path();
    root_ = base_ / "host";
    std::vector<std::string> args = {"init", "--root", root_.string()};
    args.insert(args.end(), initArgs.begin(), initArgs.end());
    const RunResult init = RunProgram(vrhost_, args);
    ASSERT_EQ(init.exitCode, 0) << "vrhost init: " << init.err;
    SetEnv("VR_HOST_ROOT", root_.string());
    const char* path = std::getenv("PATH");
    SetEnv("PATH", binaryDir_ + "/tools/VrMsClusterInfo:" + (path && *path ? path : "/usr/bin:/bin"));
  }

  // Sets (or, with nullopt, removes) an environment variable until TearDown.
  void SetEnv(const char* name, std::optional<std::string> value) {
    env_.push_back(std::make_unique<ScopedEnv>(name, std::move(value)));
  }

  // Sends what the program code writes to its console into console_ until TearDown (or, with
  // two strings, standard output into `out` and standard error into `err`). setWriter is the
  // console's SetConsoleWriter: a function taking a writer (bool toStderr, text) or nullptr.
  template <class SetWriter>
  void CaptureConsole(SetWriter setWriter) {
    setWriter([this](bool, std::string_view s) { console_ += s; });
    uncapture_ = [setWriter] { setWriter(nullptr); };
  }
  template <class SetWriter>
  void CaptureConsole(SetWriter setWriter, std::string& out, std::string& err) {
    setWriter([&out, &err](bool toStderr, std::string_view s) { (toStderr ? err : out) += s; });
    uncapture_ = [setWriter] { setWriter(nullptr); };
  }

  // The whole product namespace as vrhost exports it (empty when the export fails).
  std::string WmiExport() {
    const RunResult r = RunProgram(vrhost_, {"wmi", "export", "--root", root_.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? r.out : std::string();
  }

  std::filesystem::path base_;  // the test's folder
  std::filesystem::path root_;  // the host root in it
  std::string binaryDir_;       // the build tree
  std::string vrhost_;          // the vrhost program of the build tree
  std::string console_;         // what the console received (CaptureConsole)

 private:
  std::optional<TempDir> folder_;
  std::vector<std::unique_ptr<ScopedEnv>> env_;
  std::function<void()> uncapture_;
};

}  // namespace vr::testing
