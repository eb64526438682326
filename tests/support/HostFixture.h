// The host fixture of the in-process tests: a fresh host root made by `vrhost init` in the
// test's own folder (FolderFixture), the environment pointing the program code at it
// (VR_HOST_ROOT, and PATH with the cluster tool first) for the test only, and, in TearDown,
// what FolderFixture puts back: the fault injection state, the console capture, the
// environment, the folder.
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
#include <string>
#include <vector>

#include "tests/support/FolderFixture.h"
#include "tests/support/HostTestSupport.h"

namespace vr::testing {

// The build tree: VR_BINARY_DIR, which the test run sets ("" without it).
inline std::string BinaryDir() {
  const char* bin = std::getenv("VR_BINARY_DIR");
  return bin ? bin : "";
}

// PATH with the build tree's cluster tool first, as the programs find it on a server.
inline std::string PathWithClusterTool() {
  const char* path = std::getenv("PATH");
  return BinaryDir() + "/tools/VrMsClusterInfo:" + (path && *path ? path : "/usr/bin:/bin");
}

// Makes a host at `root` with the build tree's `vrhost init` and these extra arguments.
inline RunResult InitHost(const std::string& root, const std::vector<std::string>& initArgs = {}) {
  std::vector<std::string> args = {"init", "--root", root};
  args.insert(args.end(), initArgs.begin(), initArgs.end());
  return RunProgram(BinaryDir() + "/tools/vrhost/vrhost", args);
}

class HostFixture : public FolderFixture {
 protected:
  void SetUp() override { MakeHost(); }

  // Makes the test's folder and a host in it (base_/host) with `vrhost init` and these extra
  // arguments, and points the environment at it.
  void MakeHost(const std::vector<std::string>& initArgs = {}) {
    binaryDir_ = BinaryDir();
    ASSERT_FALSE(binaryDir_.empty()) << "VR_BINARY_DIR names the build tree (the test run sets it)";
    vrhost_ = binaryDir_ + "/tools/vrhost/vrhost";
    MakeFolder();
    root_ = base_ / "host";
    const RunResult init = InitHost(root_.string(), initArgs);
    ASSERT_EQ(init.exitCode, 0) << "vrhost init: " << init.err;
    SetEnv("VR_HOST_ROOT", root_.string());
    SetEnv("PATH", PathWithClusterTool());
  }

  // The whole product namespace as vrhost exports it (empty when the export fails).
  std::string WmiExport() {
    const RunResult r = RunProgram(vrhost_, {"wmi", "export", "--root", root_.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.exitCode == 0 ? r.out : std::string();
  }

  // The registration ledger's text ("" while the host has none), and putting a text back. A
  // sweep that registers the same patch at every point starts each point from the same
  // ledger: a registration of a patch that the ledger already holds with the same creation
  // second waits for the next second, and those waits were most of such a sweep's time.
  std::string LedgerText() const {
    return std::filesystem::exists(LedgerPath()) ? ReadFileBytes(LedgerPath().string()) : std::string();
  }
  void RestoreLedger(const std::string& text) const {
    if (text.empty()) std::filesystem::remove(LedgerPath());
    else WriteFileBytes(LedgerPath().string(), text);
  }
  std::filesystem::path LedgerPath() const { return root_ / "ledger/ledger.txt"; }

  std::filesystem::path root_;  // the host root in the test's folder
  std::string binaryDir_;       // the build tree
  std::string vrhost_;          // the vrhost program of the build tree
};

}  // namespace vr::testing
