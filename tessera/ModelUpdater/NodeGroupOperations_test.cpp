// Node groups against a real repository: loading with parents, planning only what WMI lacks,
// the NODEGROUP lines, removal, and failures of the WMI calls.
#include "tessera/ModelUpdater/MatchGroupsTestSupport.h"
#include "tessera/ModelUpdater/NodeGroupOperations.h"

using namespace PlatformOperations;
using namespace PlatformOperations::NodeGroupOperations;

namespace {

class NodeGroupTest : public MatchGroupsTest {
 protected:
  std::vector<NodeGroup> Load(HRESULT expect = S_OK) {
    std::vector<NodeGroup> groups;
    EXPECT_EQ(LoadValuesFromWMI(services_.get(), groups, error_, *log_), expect);
    return groups;
  }
  static WString ParentOf(const std::vector<NodeGroup>& groups, const WString& name) {
    for (const NodeGroup& g : groups)
      if (g.Name == name) return g.Parent;
    return u"(none)";
  }
  HRESULT Apply(const std::vector<NodeGroupChange>& changes, int32_t mode) {
    OperationContext context;
    context.mode = mode;
    return RegisterNewNodeGroups(context, services_.get(), changes, error_, undo_.get(), *log_);
  }
  static NodeGroupChange Add(const NodeGroup& g) { return {{}, g, ACTION_ADD, ACTION_REMOVE}; }
  static NodeGroupChange Remove(const NodeGroup& g) { return {g, {}, ACTION_REMOVE, ACTION_ADD}; }
};

TEST_F(NodeGroupTest, LoadsGroupsWithTheirParentsFromEitherQuoting) {
  Mof("instance of VR_NodeGroup { Name = \"Irix\"; Caption = \"IRIX\"; };\n"
      "instance of VR_NodeGroupMember { GroupComponent = \"VR_NodeGroup.Name='unix'\"; "
      "PartComponent = \"VR_NodeGroup.Name='IRIX'\"; };\n");
  const std::vector<NodeGroup> groups = Load();
  ASSERT_EQ(groups.size(), 11u);
  EXPECT_EQ(ParentOf(groups, u"Nodes"), u"");
  EXPECT_EQ(ParentOf(groups, u"WinNT"), u"Windows");
  EXPECT_EQ(ParentOf(groups, u"Irix"), u"unix");

  WString name;
  EXPECT_TRUE(GroupNameFromPath(u"VR_NodeGroup.Name=\"a\\\"b\"", name));
  EXPECT_EQ(name, u"a\"b");
  EXPECT_FALSE(GroupNameFromPath(u"VR_NodeGroup=@", name));
  EXPECT_FALSE(GroupNameFromPath(u"VR_NodeGroup.Name=\"open", name));
}

TEST_F(NodeGroupTest, LoadFailuresReportAndHandNothingOut) {
  Mof("instance of VR_NodeGroupMember { GroupComponent = \"VR_NodeGroup.Name=\\\"Unix\\\"\"; "
      "PartComponent = \"VR_NodeGroup=@\"; };\n");
  Load(E_FAIL);
  EXPECT_EQ(Error(), "(TESSERA3031) Could not parse 'Name' property value from instance "
                     "'VR_NodeGroupMember.GroupComponent=\"VR_NodeGroup.Name=\\\"Unix\\\"\",PartComponent=\"VR_NodeGroup=@\"'.\n");
  Fresh();
  const struct { const char* fault; const char* message; } cases[] = {
      {"wmi.CreateInstanceEnum#2=0x80041003", "(TESSERA3028) IEnumWbemClassObject::CreateInstanceEnum failed hr = '0x80041003'.\n"},
      {"wmi.Get#2=0x80041001", "(TESSERA3029) IWbemClassObject::Get('Caption') - value = '' failed. hr='0x80041001'.\n"},
      {"wmi.Get#22=0x80041001", "(TESSERA3029) IWbemClassObject::Get('PartComponent') - value = '' failed. hr='0x80041001'.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    error_.clear();
    vr::fault::Configure(c.fault);
    EXPECT_TRUE(Load(E_FAIL).empty());
    EXPECT_EQ(Error(), c.message);
  }
}

TEST_F(NodeGroupTest, PlansOnlyGroupsWmiLacks) {
  const std::vector<NodeGroup> wmi{{u"Unix", u"UNIX nodes", u"Nodes"}};
  std::vector<NodeGroupChange> ch;
  ASSERT_EQ(CreateUpdateAndUnDo_NodeGroupVec(wmi, {{u"UNIX", u"Other", u""}, {u"Irix", u"IRIX", u"Unix"}, {u"irix", u"x", u""}},
                                             ch, error_, *log_),
            S_OK);
  ASSERT_EQ(ch.size(), 1u);
  EXPECT_EQ(ch[0].to.Name, u"Irix");
  EXPECT_EQ(ch[0].to.Parent, u"Unix");
  EXPECT_EQ(ch[0].updateAction, ACTION_ADD);
  EXPECT_EQ(ch[0].undoAction, ACTION_REMOVE);
  EXPECT_EQ(CreateUpdateAndUnDo_NodeGroupVec({}, {}, ch, error_, *log_), S_OK);
  EXPECT_TRUE(ch.empty());
  EXPECT_EQ(CreateUpdateAndUnDo_NodeGroupVec({}, {{u"Irix", u"IRIX", u"Unix"}}, ch, error_, *log_), E_FAIL);
  EXPECT_EQ(Error(), "(TESSERA3030) NodeGroup container with values from WMI is empty. \n");
}

TEST_F(NodeGroupTest, AddWritesGroupMembershipAndLineThenRemovalUndoesIt) {
  const NodeGroup irix{u"Irix", u"IRIX nodes", u"Unix"}, top{u"Lab", u"Lab", u""};
  ASSERT_EQ(Apply({Add(irix), Add(top)}, OP_REGISTER), S_OK);
  const std::vector<std::string> lines{"NODEGROUP ADD Irix \"IRIX nodes\" Unix", "NODEGROUP ADD Lab \"Lab\" "};
  EXPECT_EQ(Lines(*undo_), lines);
  EXPECT_EQ(Lines(*log_), lines);
  EXPECT_EQ(Prop(u"VR_NodeGroup.Name=\"Irix\"", u"Caption"), "IRIX nodes");
  EXPECT_TRUE(Prop(MembershipPath(u"", u"Lab").c_str(), u"GroupComponent"));
  EXPECT_EQ(ParentOf(Load(), u"Irix"), u"Unix");

  undo_ = std::make_unique<VrLogFile>(u"", false);
  ASSERT_EQ(Apply({Remove(irix), Remove(top)}, OP_UNINSTALL), S_OK);
  EXPECT_TRUE(Lines(*undo_).empty());
  EXPECT_EQ(Lines(*log_).back(), "NODEGROUP REMOVE Lab \"Lab\" ");
  EXPECT_EQ(Count(u"VR_NodeGroup"), 10u);
  EXPECT_EQ(Count(u"VR_NodeGroupMember"), 10u);
}

TEST_F(NodeGroupTest, ApplyFailuresReportAndKeepTheSinkTrue) {
  const NodeGroup irix{u"Irix", u"IRIX", u"Unix"}, lab{u"Lab", u"Lab", u""};
  const struct { const char* fault; const char* message; size_t groups; } cases[] = {
      {"wmi.GetObject#1=0x80041002", "(TESSERA3018) IWbemServices::GetObject('VR_NodeGroup',...) failed. hr='0x80041002'.\n", 0},
      {"wmi.SpawnInstance#2=0x80041001", "(TESSERA3019) IWbemClassObject::SpawnInstance('VR_NodeGroup',...) failed. hr= '0x80041001'.\n", 1},
      {"wmi.Put#2=0x80041005", "(TESSERA2021) IWbemClassObject::Put('Caption') - value = 'IRIX' failed. hr='0x80041005'.\n", 0},
      {"wmi.PutInstance#1=0x80041003", "(TESSERA3026) IWbemClassObject::PutInstance failed. hr='1'.\n", 0},
      // The membership fails after its group was written: the group keeps its line.
      {"wmi.PutInstance#3=0x80041003", "(TESSERA3026) IWbemClassObject::PutInstance failed. hr='1'.\n", 2},
  };
  for (int32_t mode : {OP_REGISTER, OP_ROLLBACK})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.fault) + (mode == OP_ROLLBACK ? " rollback" : " register"));
      Fresh();
      vr::fault::Configure(c.fault);
      EXPECT_EQ(Apply({Add(irix), Add(lab)}, mode), E_FAIL);
      EXPECT_EQ(Error(), c.message);
      // Rollback goes on past the failure; registration stops at it.
      const size_t written = mode == OP_ROLLBACK ? (c.groups == 2 ? 2 : 1) : c.groups;
      EXPECT_EQ(Count(u"VR_NodeGroup"), 10u + written);
      std::vector<std::string> logged;
      for (const std::string& l : Lines(*log_))
        if (l.rfind("NODEGROUP", 0) == 0) logged.push_back(l);
      EXPECT_EQ(logged.size(), written);
      EXPECT_EQ(Lines(*undo_).size(), mode == OP_REGISTER ? written : 0u);
    }
  // A membership already gone does not fail the removal of its group; a group gone does.
  Fresh();
  ASSERT_EQ(Apply({Add(lab)}, OP_REGISTER), S_OK);
  ASSERT_EQ(services_->DeleteInstance(MembershipPath(u"", u"Lab").c_str(), 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(Apply({Remove(lab)}, OP_UNINSTALL), S_OK);
  EXPECT_EQ(Apply({Remove(lab)}, OP_UNINSTALL), E_FAIL);
  EXPECT_EQ(Error(), "(TESSERA3020) IWbemClassObject::DeleteInstance - instance value = 'VR_NodeGroup.Name=\"Lab\"' failed. hr ='0x80041002'.\n");
}

}  // namespace
