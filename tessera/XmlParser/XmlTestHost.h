// Test fixture of the reader: a fresh host root with the server's directory values in its
// registry, COM on the thread, English locale, and registration files written beside it.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/registry/product_keys.h"
#include "platform/registry/registry.h"
#include "platform/text/convert.h"
#include "tessera/AppErrors.h"
#include "tessera/XmlParser/XmlReader.h"
#include "tests/support/FolderFixture.h"

namespace xmltest {

inline constexpr const char16_t* kVorantKey = vr::keys::kVorantKey;
inline constexpr const char16_t* kDepotKey = vr::keys::kDepotKey;

inline void SetRegString(const char16_t* key, const char16_t* name, const WString& text) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &h, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(WChar))),
            ERROR_SUCCESS);
  RegCloseKey(h);
}

inline void SetRegDword(const char16_t* key, const char16_t* name, DWORD v) {
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &h, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v), ERROR_SUCCESS);
  RegCloseKey(h);
}

inline void DeleteRegValue(const char16_t* key, const char16_t* name) {
  HKEY h = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return;
  RegDeleteValueW(h, name);
  RegCloseKey(h);
}

// The head and tail of a registration file that names the installed DTD.
inline std::string Doc(const std::string& body, const std::string& versions = "A.07.50|A.07.51") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
         "<VrNPConfig version=\"" + versions + "\">\n" + body + "\n</VrNPConfig>\n";
}

class ReaderTest : public vr::testing::FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    dir_ = base_.string();
    std::filesystem::create_directory(base_ / "host");
    SetEnv("VR_HOST_ROOT", dir_ + "/host");
    SetEnv("LANG", "en_US.UTF-8");
    SetEnv("LC_ALL", std::nullopt);
    SetEnv("LC_MESSAGES", std::nullopt);
    CXmlReader::DetermineLanguage();
    SetRegString(kVorantKey, u"InstallDir", u"C:\\Vorant\\");
    SetRegString(kVorantKey, u"DataDir", u"C:\\Vorant\\data\\");
    SetRegString(kVorantKey, u"ShareDir", u"\\\\srv\\share\\");
    SetRegString(kVorantKey, u"VrMsShareInstallDir", u"C:\\Vorant\\shared\\");
    SetRegString(kDepotKey, u"PackagesPath", u"C:\\Vorant\\Packages\\");
    CXmlReader::ResolveDirectories();
  }
  void TearDown() override {
    CoUninitialize();
    FolderFixture::TearDown();
  }

  WString Write(const std::string& name, const std::string& content) const {
    const std::string p = dir_ + "/" + name;
    std::ofstream(p, std::ios::binary) << content;
    return vr::text::Utf8ToWide(p);
  }

  // Loads the body as a registration file: the load result, or the CApp_error message.
  int Load(CXmlReader& reader, const std::string& body, WString* appError = nullptr) {
    const WString path = Write("config.xml", Doc(body));
    try {
      return reader.Load(path);
    } catch (const CApp_error& e) {
      EXPECT_EQ(e.ExitCode(), 51);
      if (appError) *appError = e.Message();
      return -51;
    }
  }

  std::string dir_;  // the test's folder (base_) as text
};

}  // namespace xmltest
