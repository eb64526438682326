// The fixture of an in-process test that works in a folder of its own, without a host: the
// folder (mkdtemp, so that tests running at the same time never share a file), and, in
// TearDown, the fault injection state reset, the console capture ended, the environment
// changes undone and the folder removed. It needs nothing above the platform's fault library,
// so the platform libraries' tests use it as well; HostFixture builds a host on it.
//
//   class MyTest : public vr::testing::FolderFixture {
//     void SetUp() override {
//       FolderFixture::SetUp();
//       SetEnv("LC_ALL", "C");
//     }
//   };
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/fault/fault.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/SweepParts.h"

namespace vr::testing {

class FolderFixture : public ::testing::Test {
 protected:
  FolderFixture() { MakeFolder(); }
  void SetUp() override { MakeFolder(); }

  void TearDown() override {
    vr::fault::Reset();
    if (uncapture_) uncapture_();
    uncapture_ = nullptr;
    env_.Restore();
    folder_.reset();
  }

  // Makes the test's folder (base_), named after the test, unless it has one (the fixture
  // makes it at construction, again after a TearDown); no fault is left over from before.
  void MakeFolder() {
    vr::fault::Reset();
    if (folder_) return;
    folder_.emplace("vr-" + CurrentTestName());
    base_ = folder_->path();
  }

  // The test's folder, until TearDown.
  const TempDir& folder() const { return *folder_; }
  // Writes the file NAME in the test's folder with these bytes; returns its path.
  std::string WriteFile(const std::string& name, const std::string& bytes) const { return folder_->Write(name, bytes); }

  // Sets (or, with nullopt, removes) an environment variable until TearDown.
  void SetEnv(const char* name, std::optional<std::string> value) { env_.Set(name, std::move(value)); }

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

  std::filesystem::path base_;  // the test's folder
  std::string console_;         // what the console received (CaptureConsole)

 private:
  std::optional<TempDir> folder_;
  ScopedEnvironment env_;
  std::function<void()> uncapture_;
};

}  // namespace vr::testing
