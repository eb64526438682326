// The registration files of examples/ load on the demo host (server version A.07.50) against
// the DTD of data/.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tessera/XmlParser/XmlTestHost.h"

using xmltest::ReaderTest;

namespace {
WString Example(const char* name) {
  const char* src = std::getenv("VR_SOURCE_DIR");
  return vr::text::Utf8ToWide(std::string(src ? src : ".") + "/examples/" + name);
}
}  // namespace

TEST_F(ReaderTest, ExampleRegistrationFilesLoad) {
  CXmlReader reader(u"A.07.50");

  ASSERT_EQ(reader.Load(Example("NewPlatformRiscV.xml")), 0);
  EXPECT_NE(reader.SupportedVersions().find(u"A.07.50"), WString::npos);
  ASSERT_EQ(reader.PlatformCount(), 1u);
  const CPlatform& p = reader.Platforms()[0];
  EXPECT_EQ(p.osVersions.size(), 2u);
  EXPECT_EQ(p.nodeGroups.size(), 2u);
  EXPECT_FALSE(p.osType.snmp.empty());
  ASSERT_EQ(p.osVersions[0].instrumentation.size(), 1u);
  // The legacy fileset is for another server version.
  EXPECT_EQ(p.osVersions[0].instrumentation[0].files.size(), 2u);
  EXPECT_EQ(reader.PackageCount(), 1u);
  EXPECT_EQ(reader.SystemTagCount(), 1u);
  EXPECT_EQ(reader.PrerequisiteTagCount(), 1u);
  WString type;
  EXPECT_TRUE(reader.GetPlatformType(70, 91, type));

  ASSERT_EQ(reader.Load(Example("AgentPackages.xml")), 0);
  ASSERT_EQ(reader.PackageCount(), 3u);
  EXPECT_EQ(reader.Packages()[0].type, u"WindowsPackage");
  EXPECT_EQ(reader.Packages()[1].type, u"UnixPackage");
  EXPECT_EQ(reader.Packages()[2].type, kDefaultPackageType);
  for (const CPackage& k : reader.Packages()) {
    ASSERT_FALSE(k.platforms.empty());
    EXPECT_FALSE(k.platforms[0].policyTypes.empty());
    if (k.type == kDefaultPackageType) continue;  // "other" packages are not bookkept
    EXPECT_TRUE(reader.GetPlatformType(k.platforms[0].systemType, k.platforms[0].osType, type));
  }
  EXPECT_EQ(reader.PlatformCount(), 0u);

  ASSERT_EQ(reader.Load(Example("PrerequisiteTags.xml")), 0);
  EXPECT_EQ(reader.SystemTagCount(), 1u);
  EXPECT_EQ(reader.PrerequisiteTagCount(), 2u);
  EXPECT_EQ(reader.ReqCheckVersion(), u"7.60");
  EXPECT_EQ(reader.PlatformCount() + reader.PackageCount(), 0u);
}

#ifdef VRHOST
// On a host made by `vrhost init`: its server version selects the filesets and its registry
// gives the directories the placeholders stand for.
TEST_F(ReaderTest, ExamplesLoadOnTheDemoHost) {
  const std::string root = dir_ + "/demo";
  ASSERT_EQ(vr::testing::RunProgram(VRHOST, {"init", "--root", root}).exitCode, 0);
  SetEnv("VR_HOST_ROOT", root);
  CXmlReader::ResolveDirectories();

  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server", 0, KEY_READ, &h),
            ERROR_SUCCESS);
  WChar buf[64] = {};
  DWORD type = 0, size = sizeof buf - sizeof(WChar);
  ASSERT_EQ(RegQueryValueExW(h, u"Version", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  RegCloseKey(h);
  const WString version(buf);
  EXPECT_EQ(version, u"A.07.50");

  CXmlReader reader(version);
  for (const char* name : {"NewPlatformRiscV.xml", "AgentPackages.xml", "PrerequisiteTags.xml"}) {
    ASSERT_EQ(reader.Load(Example(name)), 0) << name;
    // The server's version is one the file supports.
    const WString versions = u"|" + reader.SupportedVersions() + u"|";
    EXPECT_NE(versions.find(u"|" + version + u"|"), WString::npos) << name;
  }
  ASSERT_EQ(reader.Load(Example("NewPlatformRiscV.xml")), 0);
  const WString& data = CXmlReader::Directory(eDIR_DATA);
  ASSERT_FALSE(data.empty());
  for (const WString& f : reader.Platforms()[0].osVersions[0].instrumentation[0].files)
    EXPECT_EQ(f.rfind(data + u"instrumentation\\riscv64\\", 0), 0u) << vr::text::WideToUtf8(f);
}
#endif
