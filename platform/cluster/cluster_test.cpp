// The cluster calls and the cluster-information tool, answered from the host registry.
#include "platform/cluster/cluster.h"

#include <gtest/gtest.h>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/lasterror.h"
#include "platform/registry/registry.h"
#include "platform/registry/regtools.h"
#include "tests/support/HostTestSupport.h"

using vr::testing::ScopedEnv;
using vr::testing::TempDir;

namespace {

class ClusterTest : public ::testing::Test {
 protected:
  ClusterTest() { vr::fault::Reset(); }
  ~ClusterTest() override {
    vr::fault::Reset();
    vr::registry::CloseHive();
  }
  vr::testing::RunResult Tool(const std::string& option) {
    return vr::testing::RunProgram(CLUSTER_INFO_TOOL, {option}, {"VR_HOST_ROOT=" + root_.path()});
  }
  TempDir root_{"vrcluster"};
  ScopedEnv env_{"VR_HOST_ROOT", root_.path()};
};

TEST_F(ClusterTest, AStandaloneServerIsNoClusterNode) {
  SetLastError(0);
  EXPECT_EQ(OpenCluster(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLUSTER_NOT_INSTALLED));
  DWORD status = 9;
  WString group = u"x";
  EXPECT_EQ(vr::cluster::ReadInstallation(status, group), ERROR_SUCCESS);
  EXPECT_EQ(status, vr::cluster::kStandalone);
  EXPECT_TRUE(group.empty());
  const auto r = Tool("-getInstallationStatus");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(ClusterTest, TheGroupOwnerTellsActiveFromPassive) {
  ASSERT_EQ(vr::cluster::WriteClusterState(u"VRMSCLUSTER", u"VRMS Group", u"NODE-WITH-15-CH"), ERROR_SUCCESS);
  HCLUSTER c = OpenCluster(nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(OpenClusterGroup(c, u"Other Group"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLUSTER_GROUP_NOT_FOUND));
  HGROUP g = OpenClusterGroup(c, u"vrms group");
  ASSERT_NE(g, nullptr);
  WChar node[16];
  DWORD cch = 15;  // a fifteen-character name does not fit fifteen characters with its terminator
  EXPECT_EQ(GetClusterGroupState(g, node, &cch), ClusterGroupStateUnknown);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  cch = 16;
  EXPECT_EQ(GetClusterGroupState(g, node, &cch), ClusterGroupOnline);
  EXPECT_EQ(WString(node, cch), u"NODE-WITH-15-CH");
  // The state is read at each call: a group taken offline says so.
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Cluster\\Groups\\VRMS Group", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
  const DWORD offline = ClusterGroupOffline;
  ASSERT_EQ(RegSetValueExW(h, u"State", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&offline), 4), ERROR_SUCCESS);
  const DWORD unknown = 0xFFFFFFFF;
  cch = 16;
  EXPECT_EQ(GetClusterGroupState(g, node, &cch), ClusterGroupOffline);
  ASSERT_EQ(RegSetValueExW(h, u"State", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&unknown), 4), ERROR_SUCCESS);
  EXPECT_EQ(GetClusterGroupState(g, node, &cch), ClusterGroupStateUnknown);
  RegCloseKey(h);
  EXPECT_TRUE(CloseClusterGroup(g));
  EXPECT_FALSE(CloseClusterGroup(g));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseCluster(c));
  EXPECT_EQ(OpenCluster(u"ANOTHERCLUSTER"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));

  const auto status = Tool("-getInstallationStatus");
  EXPECT_EQ(status.exitCode, 5);
  const auto name = Tool("-GETRESOURCEGROUPNAME");
  EXPECT_EQ(name.exitCode, 0);
  EXPECT_EQ(name.out, "VRMS Group");  // the bare name

  ASSERT_EQ(vr::cluster::ClearClusterState(), ERROR_SUCCESS);
  EXPECT_EQ(Tool("-getInstallationStatus").exitCode, 0);
  EXPECT_EQ(OpenCluster(nullptr), nullptr);
}

TEST_F(ClusterTest, FaultsAndBadStateAreReported) {
  ASSERT_EQ(vr::cluster::WriteClusterState(u"C", u"G", u"N"), ERROR_SUCCESS);
  vr::fault::Configure("cluster.OpenCluster#1;cluster.OpenClusterGroup#1=5;cluster.GetClusterGroupState#1=1460");
  EXPECT_EQ(OpenCluster(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLUSTER_NOT_INSTALLED));
  HCLUSTER c = OpenCluster(nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(OpenClusterGroup(c, u"G"), nullptr);
  EXPECT_EQ(GetLastError(), 5u);
  HGROUP g = OpenClusterGroup(c, u"G");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(GetClusterGroupState(g, nullptr, nullptr), ClusterGroupStateUnknown);
  EXPECT_EQ(GetLastError(), 1460u);
  EXPECT_EQ(GetClusterGroupState(g, nullptr, nullptr), ClusterGroupOnline);
  // An HRESULT given to a call that reports Win32 errors: its Win32 error when it carries
  // one, the call's usual failure when not.
  vr::fault::Configure("cluster.GetClusterGroupState#1=0x80070005;cluster.GetClusterGroupState#2=0x80041001");
  EXPECT_EQ(GetClusterGroupState(g, nullptr, nullptr), ClusterGroupStateUnknown);
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(GetClusterGroupState(g, nullptr, nullptr), ClusterGroupStateUnknown);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseClusterGroup(g);
  CloseCluster(c);
  vr::fault::Reset();

  // The tool's answers from a state that cannot be read, or of the wrong type.
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, vr::cluster::kInstallationKey, 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(h, u"Status", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"5"), 4), ERROR_SUCCESS);
  RegCloseKey(h);
  const auto wrongType = Tool("-getInstallationStatus");
  EXPECT_EQ(wrongType.exitCode, 1);
  EXPECT_NE(wrongType.err.find("cannot be read (error 13)"), std::string::npos) << wrongType.err;
  const auto usage = Tool("-status");
  EXPECT_EQ(usage.exitCode, 1);
  EXPECT_NE(usage.err.find("usage:"), std::string::npos);
  vr::registry::CloseHive();
  vr::testing::WriteFileBytes(root_ / "registry.db", std::string(4096, 'x'));
  EXPECT_EQ(Tool("-getResourceGroupName").exitCode, 1);
}

}  // namespace
