// The registry bookkeeping of packages and the undo lines of the package section.
#include <gtest/gtest.h>

#include "platform/fault/fault.h"
#include "platform/registry/regtools.h"
#include "platform/registry/registry.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Packages/PackageRegistry.h"
#include "tessera/Packages/PackageUndoLines.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ScopedEnv;
using vr::testing::TempDir;
using namespace vr::pkg;

namespace {

class Bookkeeping : public ::testing::Test {
 protected:
  Bookkeeping() : env_("VR_HOST_ROOT", root_.path()) { vr::fault::Reset(); }
  ~Bookkeeping() override {
    vr::fault::Reset();
    vr::registry::CloseHive();
  }
  WString Patch(const WString& name) { return PatchesKey(0) + u"\\" + name; }

  TempDir root_{"vrpkgreg"};
  ScopedEnv env_;
};

}  // namespace

TEST(PackageInfo, FieldsAndFailures) {
  WString version, platform;
  bool flag = false;
  ASSERT_TRUE(ParsePackageInfo(u"1.0|PLAT", version, platform, flag));
  EXPECT_EQ(version, u"1.0");
  EXPECT_EQ(platform, u"PLAT");
  EXPECT_FALSE(flag);
  ASSERT_TRUE(ParsePackageInfo(u"1.0|PLAT|1", version, platform, flag));
  EXPECT_TRUE(flag);
  bool left = true;  // a 0 leaves the caller's value
  ASSERT_TRUE(ParsePackageInfo(u"2.0|P X|0", version, platform, left));
  EXPECT_EQ(platform, u"P X");
  EXPECT_TRUE(left);
  EXPECT_FALSE(ParsePackageInfo(u"1.0||1", version, platform, flag));
  EXPECT_FALSE(ParsePackageInfo(u"|PLAT", version, platform, flag));
  EXPECT_FALSE(ParsePackageInfo(u"no bar", version, platform, flag));
}

TEST_F(Bookkeeping, CreateKeepsTheFirstValueAndRemoveTakesTheEmptyKey) {
  const WString key = Patch(u"P1");
  bool created = false;
  ASSERT_TRUE(HKLMRegistryKeyCreate(key, kUxAgtInfoValue, u"2.1|PLAT", nullptr, &created));
  EXPECT_TRUE(created);
  ASSERT_TRUE(HKLMRegistryKeyCreate(key, kUxAgtInfoValue, u"9.9|OTHER", nullptr, &created));
  EXPECT_FALSE(created);
  WString text;
  ASSERT_TRUE(HKLMGetRegistryKeyValue(key, kUxAgtInfoValue, text));
  EXPECT_EQ(text, u"2.1|PLAT");
  ASSERT_TRUE(HKLMRegistryKeyCreate(key, kWinPkgInfoValue, u"1|W", nullptr));

  VrLogFile log(nullptr, false);
  EXPECT_TRUE(HKLMRegistryKeyValueRemove(key, kUxAgtInfoValue, &log));
  EXPECT_TRUE(HKLMRegistryKeyExist(key));  // WinPkgInfo is still there
  EXPECT_TRUE(HKLMRegistryKeyValueRemove(key, kUxAgtInfoValue, &log));  // already gone: a warning only
  EXPECT_TRUE(HKLMRegistryKeyValueRemove(key, kWinPkgInfoValue, &log));
  EXPECT_FALSE(HKLMRegistryKeyExist(key));
  EXPECT_NE(log.GetContent().find(u"Registry key successfully removed [HKEY_LOCAL_MACHINE\\" + key + u"]"),
            WString::npos);
  EXPECT_TRUE(HKLMRegistryKeyValueRemove(key, kWinPkgInfoValue, &log));  // missing key: a warning only
  EXPECT_TRUE(HKLMRegistryKeyRemove(key));
  EXPECT_FALSE(HKLMGetRegistryKeyValue(key, kWinPkgInfoValue, text));
}

TEST_F(Bookkeeping, FailuresOfTheRegistryAreReported) {
  const WString key = Patch(u"P2");
  vr::fault::Configure("registry.SetValue#1=5");
  EXPECT_FALSE(HKLMRegistryKeyCreate(key, kWinPkgInfoValue, u"1|W", nullptr));
  EXPECT_FALSE(HKLMRegistryKeyExist(key));  // the key made for the value went again
  vr::fault::Reset();
  ASSERT_TRUE(HKLMRegistryKeyCreate(key, kWinPkgInfoValue, u"1|W", nullptr));
  ASSERT_TRUE(HKLMRegistryKeyCreate(key, kInstalledValue, u"1", nullptr));
  vr::fault::Configure("registry.DeleteValue#1=5");
  EXPECT_FALSE(HKLMRegistryKeyValueRemove(key, kWinPkgInfoValue, nullptr));
  WString text;
  EXPECT_TRUE(HKLMGetRegistryKeyValue(key, kWinPkgInfoValue, text));
}

TEST_F(Bookkeeping, PatchCountsCompareVersionAndPlatformWhole) {
  ASSERT_TRUE(HKLMRegistryKeyCreate(Patch(u"A"), kUxAgtInfoValue, u"2.1|PLAT", nullptr));
  ASSERT_TRUE(HKLMRegistryKeyCreate(Patch(u"B"), kUxAgtInfoValue, u"2.1|PLAT|1", nullptr));
  ASSERT_TRUE(HKLMRegistryKeyCreate(Patch(u"C"), kUxAgtInfoValue, u"2.1|PLAT5", nullptr));
  ASSERT_TRUE(HKLMRegistryKeyCreate(Patch(u"D"), kUxAgtInfoValue, u"12.1|PLAT|0", nullptr));
  ASSERT_TRUE(HKLMRegistryKeyCreate(Patch(u"E"), kWinPkgInfoValue, u"2.1|PLAT", nullptr));
  long n = 0, m = 0;
  ASSERT_TRUE(HKLMGetPatchCounts(PatchesKey(0), u"2.1", u"PLAT", n, m));
  EXPECT_EQ(n, 2);
  EXPECT_EQ(m, 0);
  n = m = 0;
  ASSERT_TRUE(HKLMGetPatchCounts(PatchesKey(0), u"12.1", u"PLAT", n, m));
  EXPECT_EQ(n, 1);
  EXPECT_EQ(m, 1);
  EXPECT_FALSE(HKLMGetPatchCounts(PatchesKey(1), u"2.1", u"PLAT", n, m));  // no cluster patches
  EXPECT_EQ(PatchKey(1, u"X"), u"SOFTWARE\\Tamberlin\\VREnterprise\\Cluster\\Patches\\X");
}

TEST(PackageUndoLines, TextsReadBackWithTheirTokenCounts) {
  VrLogFile log(nullptr, false);
  log.AppendLine(PackageLine(u"WindowsPackage", u"17", u"Name \"quoted\"; -- x", u"1.0", u"{L}", u"", u"Desc, with blanks"),
                 true);
  log.AppendLine(PackageUnixLine(u"18", u"Agent ä 'x'", u"2 0", u"{L}", u"D", u"", 2, 6) + u" 3", true);
  log.AppendLine(PlatPolicyLine(u"17", u"{L}", 2, 11, u"{P}"), true);
  log.AppendLine(u"PLAT_POLICY 17 {L} 2 11", true);
  log.AppendLine(u"SOMETHING else", false);
  log.ResetPosition();
  VrTextLine line;
  bool known = false;
  ASSERT_TRUE(log.ReadLine(line, nullptr, true, true));
  EXPECT_TRUE(HasValidTokenCount(line, known));
  EXPECT_EQ(*line.GetToken(3), u"Name 'quoted'; -- x");
  EXPECT_EQ(*line.GetToken(6), u"");  // an empty deployer id keeps its place
  EXPECT_EQ(*line.GetToken(7), u"Desc, with blanks");
  ASSERT_TRUE(log.ReadLine(line, nullptr, true, true));
  EXPECT_TRUE(HasValidTokenCount(line, known));
  EXPECT_EQ(line.GetTokenCount(), 10u);
  EXPECT_EQ(*line.GetToken(2), u"Agent ä 'x'");
  EXPECT_EQ(*line.GetToken(3), u"2 0");
  EXPECT_EQ(*line.GetToken(7), u"2");
  EXPECT_EQ(*line.GetToken(8), u"6");
  EXPECT_EQ(*line.GetToken(9), u"3");
  ASSERT_TRUE(log.ReadLine(line, nullptr, true, true));
  EXPECT_TRUE(HasValidTokenCount(line, known));
  EXPECT_EQ(*line.GetToken(5), u"{P}");
  ASSERT_TRUE(log.ReadLine(line, nullptr, true, true));
  EXPECT_FALSE(HasValidTokenCount(line, known));
  EXPECT_TRUE(known);
  ASSERT_TRUE(log.ReadLine(line, nullptr, true, true));
  EXPECT_FALSE(HasValidTokenCount(line, known));
  EXPECT_FALSE(known);
  EXPECT_EQ(PackageKindOf(u"windowspackage"), eOTHER_PACKAGE);  // the comparison is exact
  EXPECT_EQ(PackageKindOf(u"UnixPackage"), eUNIX_PACKAGE);
}
