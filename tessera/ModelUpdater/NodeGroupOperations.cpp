// Node groups: a registration file may bring groups for the nodes of its platforms. A group is
// a VR_NodeGroup instance; its place below its parent is a VR_NodeGroupMember instance. Only
// groups that WMI does not have are added, and existing groups are never changed.
#include "tessera/ModelUpdater/NodeGroupOperations.h"

#include <map>
#include <set>

#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/MatchGroupsSupport.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using namespace PlatformOperations::MatchGroupsSupport;

namespace PlatformOperations::NodeGroupOperations {

namespace {

constexpr const WChar* kGroupClass = u"VR_NodeGroup";
constexpr const WChar* kMemberClass = u"VR_NodeGroupMember";

// NODEGROUP ADD|REMOVE Name "Caption" Parent; an empty Parent leaves the line ending in a blank.
WString Line(const WChar* action, const NodeGroup& g) {
  return vr::text::Format(u"NODEGROUP %S %S \"%S\" %S", action, g.Name, g.Caption, g.Parent);
}

bool IsAdd(UpdateAction a) { return a == ACTION_ADD || a == ACTION_MODIFY; }

bool IsRegistering(const OperationContext& context) {
  return context.mode == OP_REGISTER || context.mode == OP_REINSTALL;
}

// The path of a membership instance for message 3031.
WString InstancePath(IWbemClassObject& instance) {
  Variant v;
  if (SUCCEEDED(instance.Get(u"__RELPATH", 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR) return v.bstrVal;
  return WString();
}

}  // namespace

HRESULT WriteGroup(IWbemServices* services, const NodeGroup& g, WString& error, VrLogFile& log) {
  std::shared_ptr<IWbemClassObject> instance;
  if (FAILED(SpawnInstanceOf(services, kGroupClass, instance, error, log))) return E_FAIL;
  if (FAILED(WriteString(*instance, u"Name", g.Name, error, log)) ||
      FAILED(WriteString(*instance, u"Caption", g.Caption, error, log)))
    return E_FAIL;
  return PutNewInstance(services, *instance, error, log);
}

HRESULT WriteMembership(IWbemServices* services, const NodeGroup& g, WString& error, VrLogFile& log) {
  std::shared_ptr<IWbemClassObject> instance;
  if (FAILED(SpawnInstanceOf(services, kMemberClass, instance, error, log))) return E_FAIL;
  if (FAILED(WriteString(*instance, u"GroupComponent", GroupPath(g.Parent), error, log)) ||
      FAILED(WriteString(*instance, u"PartComponent", GroupPath(g.Name), error, log)))
    return E_FAIL;
  return PutNewInstance(services, *instance, error, log);
}

WString GroupPath(const WString& name) { return u"VR_NodeGroup.Name=" + QuotedKey(name); }

WString MembershipPath(const WString& parent, const WString& child) {
  return u"VR_NodeGroupMember.GroupComponent=" + QuotedKey(GroupPath(parent)) +
         u",PartComponent=" + QuotedKey(GroupPath(child));
}

bool GroupNameFromPath(WStringView path, WString& name) {
  const size_t open = path.find(u'"');
  if (open == WStringView::npos) {
    const size_t first = path.find(u'\'');
    if (first == WStringView::npos) return false;
    const size_t second = path.find(u'\'', first + 1);
    if (second == WStringView::npos) return false;
    name = WString(path.substr(first + 1, second - first - 1));
    return true;
  }
  WString text;
  for (size_t i = open + 1; i < path.size(); ++i) {
    const WChar c = path[i];
    if (c == u'"') {
      name = std::move(text);
      return true;
    }
    if (c == u'\\' && i + 1 < path.size() && (path[i + 1] == u'"' || path[i + 1] == u'\\')) {
      text += path[++i];
      continue;
    }
    text += c;
  }
  return false;
}

HRESULT LoadValuesFromWMI(IWbemServices* services, std::vector<NodeGroup>& groups, WString& error, VrLogFile& log) {
  return WMIInteraction::GetNodeGroupInfoFromWMI(services, groups, error, log);
}

HRESULT CreateUpdateAndUnDoVec(const std::vector<NodeGroup>& wmiGroups, const std::vector<NodeGroup>& fileGroups,
                               std::vector<NodeGroupChange>& changes, WString& error, VrLogFile& log) {
  return CreateUpdateAndUnDo_NodeGroupVec(wmiGroups, fileGroups, changes, error, log);
}

HRESULT CreateUpdateAndUnDo_NodeGroupVec(const std::vector<NodeGroup>& wmiGroups,
                                         const std::vector<NodeGroup>& fileGroups,
                                         std::vector<NodeGroupChange>& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("NodeGroupOperations::CreateUpdateAndUnDo_NodeGroupVec", "ModelUpdater\\NodeGroupOperations",
                    vr::trace::kModelFlags);
  try {
    if (fileGroups.empty()) {
      VR_TRACE_INFO("No node groups in the registration file; nothing to plan.");
      changes.clear();
      return S_OK;
    }
    if (wmiGroups.empty()) {
      VR_TRACE_ERROR("The node groups of WMI are empty.");
      Report(error, log, LoadMessage(MessageId::kNodeGroupsEmpty));
      return E_FAIL;
    }
    // Names known so far: WMI's, then every group planned (a group listed twice is added once).
    std::set<WString> known;
    for (const NodeGroup& w : wmiGroups) known.insert(vr::text::ToLower(w.Name));
    std::vector<NodeGroupChange> result;
    for (const NodeGroup& g : fileGroups) {
      if (!known.insert(vr::text::ToLower(g.Name)).second) {
        VR_TRACE_INFO("Node group '", g.Name, "' exists already.");
        continue;
      }
      NodeGroupChange c;
      c.to = g;
      c.updateAction = ACTION_ADD;
      c.undoAction = ACTION_REMOVE;
      VR_TRACE_INFO("Planned the new node group '", g.Name, "' (\"", g.Caption, "\") below '", g.Parent, "'.");
      result.push_back(std::move(c));
    }
    changes = std::move(result);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

void AppendRegistrationUndoLines(const std::vector<NodeGroupChange>& changes, std::vector<WString>& lines) {
  // Only a group that was not there gets a line (see UpdateNodeGroupInfoInWMI).
  for (const NodeGroupChange& c : changes)
    if (c.updateAction == ACTION_ADD) lines.push_back(Line(u"ADD", c.to));
}

HRESULT RegisterNewNodeGroups(OperationContext& context, IWbemServices* services,
                              const std::vector<NodeGroupChange>& changes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log) {
  return WMIInteraction::UpdateNodeGroupInfoInWMI(context, services, changes, error, undoSink, log);
}

namespace WMIInteraction {

HRESULT GetNodeGroupInfoFromWMI(IWbemServices* services, std::vector<NodeGroup>& groups, WString& error,
                                VrLogFile& log) {
  VR_TRACE_FUNCTION("NodeGroupOperations::WMIInteraction::GetNodeGroupInfoFromWMI",
                    "ModelUpdater\\NodeGroupOperations", vr::trace::kModelFlags);
  try {
    std::vector<NodeGroup> read;
    HRESULT hr = ForEachInstance(
        services, kGroupClass,
        [&](IWbemClassObject& instance) {
          NodeGroup g;
          if (FAILED(ReadString(instance, u"Name", g.Name, error, log)) ||
              FAILED(ReadString(instance, u"Caption", g.Caption, error, log)))
            return E_FAIL;
          read.push_back(std::move(g));
          return S_OK;
        },
        error, log);
    if (FAILED(hr)) return E_FAIL;

    std::map<WString, size_t> byName;
    for (size_t i = 0; i < read.size(); ++i) byName.emplace(vr::text::ToLower(read[i].Name), i);
    hr = ForEachInstance(
        services, kMemberClass,
        [&](IWbemClassObject& instance) {
          WString parentPath, childPath, parent, child;
          if (FAILED(ReadString(instance, u"GroupComponent", parentPath, error, log)) ||
              FAILED(ReadString(instance, u"PartComponent", childPath, error, log)))
            return E_FAIL;
          if (!GroupNameFromPath(childPath, child)) {
            VR_TRACE_ERROR("No group name in the PartComponent '", childPath, "'.");
            Report(error, log, LoadMessage(MessageId::kPropertyValueUnparsed, u"Name", InstancePath(instance)));
            return E_FAIL;
          }
          if (!GroupNameFromPath(parentPath, parent)) {
            VR_TRACE_ERROR("No group name in the GroupComponent '", parentPath, "'.");
            Report(error, log, LoadMessage(MessageId::kPropertyValueUnparsed, u"Parent", InstancePath(instance)));
            return E_FAIL;
          }
          if (auto g = byName.find(vr::text::ToLower(child)); g != byName.end()) read[g->second].Parent = parent;
          else VR_TRACE_INFO("The membership of '", child, "' below '", parent, "' names no group.");
          return S_OK;
        },
        error, log);
    if (FAILED(hr)) return E_FAIL;
    VR_TRACE_INFO("Read ", static_cast<unsigned long>(read.size()), " node groups from WMI.");
    groups = std::move(read);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT UpdateNodeGroupInfoInWMI(OperationContext& context, IWbemServices* services,
                                 const std::vector<NodeGroupChange>& changes, WString& error,
                                 VrLogFile* undoSink, VrLogFile& log) {
  VR_TRACE_FUNCTION("NodeGroupOperations::WMIInteraction::UpdateNodeGroupInfoInWMI",
                    "ModelUpdater\\NodeGroupOperations", vr::trace::kModelFlags);
  try {
    const bool goOn = context.mode == OP_ROLLBACK;
    bool failed = false;
    // Groups whose own write failed (rollback only) get no membership.
    std::vector<bool> groupWritten(changes.size(), false);

    for (size_t i = 0; i < changes.size(); ++i) {
      const NodeGroupChange& c = changes[i];
      HRESULT hr = S_OK;
      if (IsAdd(c.updateAction)) {
        hr = WriteGroup(services, c.to, error, log);
        if (SUCCEEDED(hr)) {
          groupWritten[i] = true;
          if (c.updateAction == ACTION_ADD) {
            const WString line = Line(u"ADD", c.to);
            if (undoSink && IsRegistering(context)) undoSink->AppendLine(line, true);
            log.AppendLine(line, true);
          } else {
            // A rewritten group existed before: an ADD line would have its reversal remove
            // it, so the change is only logged.
            log.AppendLine(Line(u"CHANGE", c.to), true);
          }
        }
      } else if (c.updateAction == ACTION_REMOVE) {
        hr = DeleteInstanceAt(services, GroupPath(c.from.Name), error, log);
        if (SUCCEEDED(hr)) log.AppendLine(Line(u"REMOVE", c.from), true);
      }
      if (FAILED(hr)) {
        failed = true;
        VR_TRACE_ERROR("The change of node group '", IsAdd(c.updateAction) ? c.to.Name : c.from.Name, "' FAILED");
        if (!goOn) return E_FAIL;
      }
    }

    for (size_t i = 0; i < changes.size(); ++i) {
      const NodeGroupChange& c = changes[i];
      HRESULT hr = S_OK;
      if (IsAdd(c.updateAction)) {
        if (!groupWritten[i]) continue;
        hr = WriteMembership(services, c.to, error, log);
      } else if (c.updateAction == ACTION_REMOVE) {
        hr = DeleteInstanceAt(services, MembershipPath(c.from.Parent, c.from.Name), error, log, false);
        // A membership that is not there is what the removal wants.
        if (hr == WBEM_E_NOT_FOUND) hr = S_OK;
      }
      if (FAILED(hr)) {
        failed = true;
        VR_TRACE_ERROR("The membership of node group '", IsAdd(c.updateAction) ? c.to.Name : c.from.Name, "' FAILED");
        if (!goOn) return E_FAIL;
      }
    }
    return failed ? E_FAIL : S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace WMIInteraction
}  // namespace PlatformOperations::NodeGroupOperations
