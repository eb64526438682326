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
