// Test fixture of the file classes: a fresh folder per test (the test support's folder
// fixture), byte-exact file access, and the trace of the test captured so that messages can be
// checked.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fault/fault.h"
#include "platform/qkit/qkit.h"
#include "platform/text/convert.h"
#include "tests/support/FolderFixture.h"

class FilesTest : public vr::testing::FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    dir_ = base_;
    // The trace lives outside the folder under test so that folder listings stay exact.
    tracePath_ = dir_.string() + ".trace";
    qkit_SetTraceSink(tracePath_, 0xFFFFFFFFu);
  }
  void TearDown() override {
    qkit_SetTraceSink("", 0);
    FolderFixture::TearDown();
    std::error_code ec;
    std::filesystem::remove(tracePath_, ec);
  }

  std::string N(const std::string& name) const { return (dir_ / name).string(); }
  WString W(const std::string& name) const { return vr::text::Utf8ToWide(N(name)); }
  // A new file each time (never written through an older name of the same file).
  void Put(const std::string& name, const std::string& bytes) const {
    std::filesystem::remove(dir_ / name);
    std::ofstream(N(name), std::ios::binary) << bytes;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(N(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }
  // Names in the folder, sorted.
  std::string Listing() const {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (auto& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
  }
  std::string Trace() const {
    std::ifstream in(tracePath_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool Traced(const std::string& text) const { return Trace().find(text) != std::string::npos; }
  void ClearTrace() const { std::ofstream(tracePath_, std::ios::trunc); }

  static std::string Utf16(const std::u16string& s) {
    std::string b;
    for (char16_t c : s) {
      b += static_cast<char>(c & 0xFF);
      b += static_cast<char>(c >> 8);
    }
    return b;
  }

  std::filesystem::path dir_;  // the test's own folder (base_), removed in TearDown
  std::string tracePath_;
};
