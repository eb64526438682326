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
HRESULT RegisterNewNodeGroups(OperationContext& context, IWbemServices* services,
                              const std::vector<NodeGroupChange>& changes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log);

// VR_NodeGroup.Name="%s"
WString GroupPath(const WString& name);
// VR_NodeGroupMember.GroupComponent="VR_NodeGroup.Name=\"%s\"",PartComponent="VR_NodeGroup.Name=\"%s\""
WString MembershipPath(const WString& parent, const WString& child);

}  // namespace NodeGroupOperations
}  // namespace PlatformOperations
