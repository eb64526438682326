#include <gtest/gtest.h>

#include "tessera/XmlParser/XmlTestHost.h"

using xmltest::ReaderTest;

TEST_F(ReaderTest, LanguageFromTheUsersLocale) {
  for (auto [lang, id] : {std::pair<const char*, const char16_t*>{"ja_JP.UTF-8", u"1041"}, {"ko_KR", u"1042"},
                          {"zh_CN.GB18030", u"2052"}, {"zh_TW.UTF-8", u"1033"}, {"fr_FR", u"1033"}, {"C", u"1033"}}) {
    SetEnv("LANG", lang);
    CXmlReader::DetermineLanguage();
    EXPECT_EQ(CXmlReader::Language(), id) << lang;
  }
  // LC_ALL wins over LANG, as the locale does.
  SetEnv("LC_ALL", "ko_KR.UTF-8");
  CXmlReader::DetermineLanguage();
  EXPECT_EQ(CXmlReader::Language(), u"1042");
  SetEnv("LC_ALL", std::nullopt);
}

TEST_F(ReaderTest, DirectoriesComeFromTheRegistry) {
  using xmltest::kDepotKey;
  using xmltest::kVorantKey;
  EXPECT_EQ(CXmlReader::Directory(eDIR_INSTALL), u"C:\\Vorant\\");
  EXPECT_EQ(CXmlReader::Directory(eDIR_AGENT), u"C:\\Vorant\\");
  EXPECT_EQ(CXmlReader::Directory(eDIR_DATA), u"C:\\Vorant\\data\\");
  EXPECT_EQ(CXmlReader::Directory(eDIR_SHARE), u"\\\\srv\\share\\");
  EXPECT_EQ(CXmlReader::Directory(eDIR_SHARE_INSTALL), u"C:\\Vorant\\shared\\");
  EXPECT_EQ(CXmlReader::Directory(eDIR_PACKAGES), u"C:\\Vorant\\Packages\\");

  // No packages path: the installation directory's Packages folder, with a separator added
  // where the installation directory lacks one.
  xmltest::DeleteRegValue(kDepotKey, u"PackagesPath");
  xmltest::SetRegString(kVorantKey, u"InstallDir", u"/srv/vorant");
  CXmlReader::ResolveDirectories();
  EXPECT_EQ(CXmlReader::Directory(eDIR_PACKAGES), u"/srv/vorant\\Packages\\");
  WString resolved, message;
  ASSERT_TRUE(CXmlReader::ReplaceDirectoryPlaceholder(u"[VR_INSTALL_DIR]\\bin\\x", resolved, message));
  EXPECT_EQ(resolved, u"/srv/vorant\\bin\\x");

  // A value that is not a string is as good as missing; so is a missing key.
  xmltest::SetRegDword(kVorantKey, u"ShareDir", 7);
  xmltest::DeleteRegValue(kVorantKey, u"InstallDir");
  CXmlReader::ResolveDirectories();
  EXPECT_EQ(CXmlReader::Directory(eDIR_SHARE), u"");
  EXPECT_EQ(CXmlReader::Directory(eDIR_PACKAGES), u"");
  struct { const char16_t* path; const char16_t* message; } unknown[] = {
      {u"[PACKAGE_DIR]\\x", u"(TESSERA808) VRM/S packages path could not be determined from registry.\n"},
      {u"[VR_INSTALL_DIR]\\x", u"(TESSERA807) VRM/S installation path could not be determined from registry.\n"},
      {u"[VR_AGENT_DIR]\\x", u"(TESSERA809) VRM/S agent installation path could not be determined from registry.\n"},
      {u"[VR_SHARE_DIR]\\x", u"(TESSERA813) VRM/S share directory path could not be determined from registry.\n"},
  };
  for (const auto& u : unknown) {
    EXPECT_FALSE(CXmlReader::ReplaceDirectoryPlaceholder(u.path, resolved, message));
    EXPECT_EQ(message, u.message);
  }
  // A registry that cannot be read at all (the host root is not a folder) leaves the table
  // empty and reports nothing yet.
  Write("notafolder", "x");
  SetEnv("VR_HOST_ROOT", dir_ + "/notafolder");
  CXmlReader::ResolveDirectories();
  EXPECT_FALSE(CXmlReader::ReplaceDirectoryPlaceholder(u"[VR_VRMSSHAREINST_DIR]\\x", resolved, message));
  EXPECT_EQ(message, u"(TESSERA814) VRM/S share installation path could not be determined from registry.\n");
}
