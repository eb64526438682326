// Node groups (VR_NodeGroup) and their place in the group tree (VR_NodeGroupMember): loading
// with parents, planning the groups a registration file brings, and applying with one undo line
// per added group. Existing groups are never changed.
#pragma once
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"
#include "tessera/ModelUpdater/PlatformTypes.h"

class VrLogFile;

namespace PlatformOperations {

struct NodeGroup {
  WString Name;
  WString Caption;
  WString Parent;  // empty for a group without a parent
};

struct NodeGroupChange {
  NodeGroup from;
  NodeGroup to;
  UpdateAction updateAction = NO_CHANGE;
  UpdateAction undoAction = NO_CHANGE;
};

namespace NodeGroupOperations {

// Reads every group and gives each the parent its membership names.
HRESULT LoadValuesFromWMI(IWbemServices* services, std::vector<NodeGroup>& groups, WString& error, VrLogFile& log);

// Plans an ADD for every file group whose name WMI does not have (without regard to case).
HRESULT CreateUpdateAndUnDoVec(const std::vector<NodeGroup>& wmiGroups, const std::vector<NodeGroup>& fileGroups,
                               std::vector<NodeGroupChange>& changes, WString& error, VrLogFile& log);

// Applies the changes: groups first, then memberships; a NODEGROUP line follows each committed
// ADD (undo sink in registration modes, and the platform log) and each removal (log only).
// The undo lines the apply writes for a registration's changes, in its order.
void AppendRegistrationUndoLines(const std::vector<NodeGroupChange>& changes, std::vector<WString>& lines);

HRESULT RegisterNewNodeGroups(OperationContext& context, IWbemServices* services,
                              const std::vector<NodeGroupChange>& changes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log);

// VR_NodeGroup.Name="%s"
WString GroupPath(const WString& name);

// Creates or updates a group instance (Name, Caption), and the membership of a group below its
// Parent (an empty Parent names the empty name).
HRESULT WriteGroup(IWbemServices* services, const NodeGroup& group, WString& error, VrLogFile& log);
HRESULT WriteMembership(IWbemServices* services, const NodeGroup& group, WString& error, VrLogFile& log);
// VR_NodeGroupMember.GroupComponent="VR_NodeGroup.Name=\"%s\"",PartComponent="VR_NodeGroup.Name=\"%s\""
WString MembershipPath(const WString& parent, const WString& child);

// The group name in a reference path: the text between the first pair of double quotes (a
// backslash-escaped quote or backslash inside stands for itself), or, when the path holds no
// double quote, between the first pair of single quotes. False when there is no such pair.
bool GroupNameFromPath(WStringView path, WString& name);

// The planning behind CreateUpdateAndUnDoVec: an ADD (undo REMOVE) for each file group, in file
// order, whose name neither WMI nor an earlier file group has (without regard to case). A file
// without groups plans nothing; file groups with an empty WMI set report message 3030 and give
// E_FAIL.
HRESULT CreateUpdateAndUnDo_NodeGroupVec(const std::vector<NodeGroup>& wmiGroups,
                                         const std::vector<NodeGroup>& fileGroups,
                                         std::vector<NodeGroupChange>& changes, WString& error, VrLogFile& log);

namespace WMIInteraction {

// Enumerates VR_NodeGroup and then VR_NodeGroupMember (messages 3028, 3029, 3031); groups are
// only handed out on success.
HRESULT GetNodeGroupInfoFromWMI(IWbemServices* services, std::vector<NodeGroup>& groups, WString& error,
                                VrLogFile& log);

// Two passes over the changes, groups first, memberships second. The NODEGROUP line of an ADD
// follows the commit of its group, so that a group in WMI always has its line even when its
// membership then fails; a removal that finds the membership already gone counts as done.
// The first failure ends the apply with E_FAIL, except in OP_ROLLBACK, where the next change
// is still processed and E_FAIL is returned at the end.
HRESULT UpdateNodeGroupInfoInWMI(OperationContext& context, IWbemServices* services,
                                 const std::vector<NodeGroupChange>& changes, WString& error,
                                 VrLogFile* undoSink, VrLogFile& log);

}  // namespace WMIInteraction

}  // namespace NodeGroupOperations
}  // namespace PlatformOperations
