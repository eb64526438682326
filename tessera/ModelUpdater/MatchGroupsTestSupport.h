// Test fixture of the match-record and node-group operations: a fresh host seeded with the
// product namespace, a connection to it, an undo sink and a platform log in memory, and
// direct reads of the repository that do not go through the code under test.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "platform/wmi/testing/temp_host.h"
#include "platform/wmi/wbemcli.h"
#include "tessera/Files/VrLogFile.h"

class MatchGroupsTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override {
    services_.reset();
    CoUninitialize();
    vr::fault::Reset();
  }

  // Starts again on a new host (for sweeps that need one per run).
  void Fresh() {
    if (host_) TearDown();
    vr::fault::Reset();
    host_.reset();  // the old host gives VR_HOST_ROOT back before the new one takes it
    host_ = std::make_unique<vr::wmi::testing::TempHost>();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    std::shared_ptr<IUnknown> unknown;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator, &unknown), S_OK);
    auto locator = std::dynamic_pointer_cast<IWbemLocator>(unknown);
    ASSERT_TRUE(locator);
    ASSERT_EQ(locator->ConnectServer(u"\\\\.\\root\\Tamberlin\\Vorant\\data", nullptr, nullptr, nullptr, 0, nullptr,
                                     nullptr, &services_),
              S_OK);
    undo_ = std::make_unique<VrLogFile>(u"", false);
    log_ = std::make_unique<VrLogFile>(u"", false);
    error_.clear();
  }

  void Mof(const std::string& text) {
    ASSERT_EQ(host_->Compile(vr::text::Utf8ToWide("#pragma namespace(\"\\\\\\\\.\\\\root\\\\Tamberlin\\\\Vorant\\\\data\")\n" + text)),
              "");
  }

  // The lines of a sink, blank ones (after a message's own line feed) left out.
  static std::vector<std::string> Lines(const VrLogFile& f) {
    std::vector<std::string> out;
    std::string text = vr::text::WideToUtf8(f.GetContent());
    size_t at = 0;
    while (at < text.size()) {
      size_t end = text.find("\r\n", at);
      if (end == std::string::npos) end = text.size();
      if (end > at) out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return out;
  }

  std::string Error() const { return vr::text::WideToUtf8(error_); }

  // A property of the instance at path, read straight from the repository.
  std::optional<std::string> Prop(const char16_t* path, const char16_t* name) {
    std::shared_ptr<IWbemClassObject> obj;
    if (FAILED(services_->GetObject(path, 0, nullptr, &obj, nullptr))) return std::nullopt;
    Variant v, text;
    if (FAILED(obj->Get(name, 0, &v, nullptr, nullptr))) return std::nullopt;
    if (v.vt == VT_BSTR) return vr::text::WideToUtf8(v.bstrVal);
    if (FAILED(VariantChangeType(&text, &v, 0, VT_BSTR))) return std::nullopt;
    return vr::text::WideToUtf8(text.bstrVal);
  }

  size_t Count(const char16_t* className) {
    std::shared_ptr<IEnumWbemClassObject> e;
    EXPECT_EQ(services_->CreateInstanceEnum(className, 0, nullptr, &e), S_OK);
    size_t n = 0;
    std::shared_ptr<IWbemClassObject> obj;
    ULONG got = 0;
    while (e && e->Next(1000, 1, &obj, &got) == S_OK && got == 1) ++n;
    return n;
  }

  std::unique_ptr<vr::wmi::testing::TempHost> host_;
  std::shared_ptr<IWbemServices> services_;
  std::unique_ptr<VrLogFile> undo_, log_;
  WString error_;
};
