// Building the change set that reverses a registration's platform changes (PlatformReversal.h).
#include "tessera/ModelUpdater/PlatformReversal.h"

#include "platform/text/casefold.h"

using vr::text::EqualsNoCase;
using vr::text::ToLower;

namespace PlatformOperations {
namespace {

WString MatchKey(const WString& expression, int32_t method, int32_t property) {
  WString key = ToLower(expression);
  key += u'\x1f';
  for (char c : std::to_string(method)) key += static_cast<WChar>(c);
  key += u',';
  for (char c : std::to_string(property)) key += static_cast<WChar>(c);
  return key;
}

// OS types and OS versions: ADD lines leave, CHANGE lines get their old caption back.
std::vector<ModelValueChange> ReverseValues(const std::vector<ModelValue>& wmi, const ValueRequests& r) {
  std::vector<ModelValueChange> out;
  bool changed = false;
  for (const ModelValue& w : wmi) {
    const WString key = ToLower(w.value);
    if (r.added.count(key)) {
      out.push_back(ModelValueChange{w.value, w.caption, {}, {}, ACTION_REMOVE, ACTION_ADD});
      changed = true;
    } else if (const auto old = r.oldCaption.find(key); old != r.oldCaption.end()) {
      out.push_back(ModelValueChange{w.value, w.caption, w.value, old->second, ACTION_MODIFY, ACTION_MODIFY});
      changed = true;
    } else {
      out.push_back(ModelValueChange{w.value, w.caption, w.value, w.caption, NO_CHANGE, NO_CHANGE});
    }
  }
  if (!changed) out.clear();
  return out;
}

void ReverseModel(const PlatformModelValues& wmi, const ReversalRequests& r, bool removeSystemTypes,
                  PlatformModelChanges& out) {
  out.osTypes = ReverseValues(wmi.osTypes, r.osTypes);
  out.osVersions = ReverseValues(wmi.osVersions, r.osVersions);

  // CPU types first: which lose OS types, and which lose them all.
  std::unordered_set<WString> removedCpus;
  std::unordered_set<WString> seen;
  bool cpuChanged = false;
  for (const CpuOsTypes& w : wmi.cpuOsTypes) {
    const WString key = ToLower(w.cpuType);
    if (!seen.insert(key).second) continue;  // several system types of one CPU type: one qualifier
    const auto drop = r.cpuOsTypes.find(key);
    std::vector<WString> left;
    for (const WString& os : w.osTypes)
      if (drop == r.cpuOsTypes.end() || !drop->second.count(ToLower(os))) left.push_back(os);
    if (left.size() == w.osTypes.size()) {
      out.cpuOsTypes.push_back(CpuOsTypesChange{w.cpuType, w.osTypes, w.cpuType, w.osTypes, NO_CHANGE, NO_CHANGE});
    } else if (!left.empty()) {
      out.cpuOsTypes.push_back(
          CpuOsTypesChange{w.cpuType, w.osTypes, w.cpuType, std::move(left), ACTION_MODIFY, ACTION_MODIFY});
      cpuChanged = true;
    } else {
      out.cpuOsTypes.push_back(CpuOsTypesChange{w.cpuType, w.osTypes, {}, {}, ACTION_REMOVE, ACTION_ADD});
      removedCpus.insert(key);
      cpuChanged = true;
    }
  }

  bool systemChanged = false;
  for (const SystemTypeValue& w : wmi.systemTypes) {
    const WString key = ToLower(w.value);
    const bool cpuRemoved = removedCpus.count(ToLower(w.cpuType)) > 0;
    SystemTypeChange c{w.value, w.caption, w.cpuType, w.value, w.caption, w.cpuType, NO_CHANGE, NO_CHANGE};
    if (r.systemTypes.added.count(key)) {
      c.toValue.clear();
      c.toCaption.clear();
      c.toCpuType.clear();
      c.updateAction = ACTION_REMOVE;
      c.undoAction = cpuRemoved || removeSystemTypes ? ACTION_REMOVE : ACTION_ADD;
    } else if (const auto old = r.systemTypes.oldCaption.find(key); old != r.systemTypes.oldCaption.end()) {
      c.toCaption = old->second;
      c.toCpuType = PlatformModelOperations::CpuTypeOfCaption(old->second);
      c.updateAction = ACTION_MODIFY;
      c.undoAction = ACTION_MODIFY;
    }
    // A system type the section did not add stays, even when its CPU type's qualifier goes:
    // it was there before this registration.
    if (c.updateAction != NO_CHANGE) systemChanged = true;
    out.systemTypes.push_back(std::move(c));
  }
  if (!systemChanged) out.systemTypes.clear();
  if (!cpuChanged && !systemChanged) out.cpuOsTypes.clear();
}

// Each line takes one reference from the record it names; a CHANGE line also brings the Value
// before the change back, so that uninstalling restores the record as it was.
void ReverseMatches(const std::vector<PlatformMatch>& wmi, const ReversalRequests& r,
                    std::vector<PlatformMatchChange>& out) {
  std::unordered_map<WString, size_t> wmiIndex;
  for (size_t i = 0; i < wmi.size(); ++i)
    wmiIndex.emplace(MatchKey(wmi[i].MatchExpression, wmi[i].Method, wmi[i].Property), i);
  for (const MatchRequest& request : r.matches) {
    const auto found =
        wmiIndex.find(MatchKey(request.identity.MatchExpression, request.identity.Method, request.identity.Property));
    if (found == wmiIndex.end()) continue;
    const PlatformMatch& current = wmi[found->second];
    const bool valueBack = request.oldValue && !EqualsNoCase(*request.oldValue, current.Value);
    if (request.lines == 0 && !valueBack) continue;
    PlatformMatchChange change{current, current, NO_CHANGE, NO_CHANGE};
    change.to.RefCnt = current.RefCnt - request.lines;
    if (valueBack) {
      change.to.Value = *request.oldValue;
      change.updateAction = ACTION_MODIFY;
      change.undoAction = ACTION_MODIFY;
    }
    out.push_back(std::move(change));
  }
}

// Groups of ADD lines leave with their membership, the last added first.
void ReverseGroups(const std::vector<NodeGroup>& wmi, const ReversalRequests& r, std::vector<NodeGroupChange>& out) {
  std::unordered_map<WString, size_t> wmiIndex;
  for (size_t i = 0; i < wmi.size(); ++i) wmiIndex.emplace(ToLower(wmi[i].Name), i);
  std::unordered_set<WString> done;
  for (auto name = r.groups.rbegin(); name != r.groups.rend(); ++name) {
    const WString key = ToLower(*name);
    const auto found = wmiIndex.find(key);
    if (found == wmiIndex.end() || !done.insert(key).second) continue;
    out.push_back(NodeGroupChange{wmi[found->second], NodeGroup{}, ACTION_REMOVE, ACTION_ADD});
  }
}

}  // namespace

void AddMatchRequest(ReversalRequests& requests, const PlatformMatch& identity, int references,
                     const std::optional<WString>& oldValue) {
  const WString key = MatchKey(identity.MatchExpression, identity.Method, identity.Property);
  auto found = requests.matchIndex.find(key);
  if (found == requests.matchIndex.end()) {
    found = requests.matchIndex.emplace(key, requests.matches.size()).first;
    requests.matches.push_back(MatchRequest{identity, 0, {}});
  }
  MatchRequest& request = requests.matches[found->second];
  request.lines += references;
  if (oldValue && !request.oldValue) request.oldValue = oldValue;
}

void CreateReversalChanges(const PlatformModel& wmi, const ReversalRequests& requests, bool removeSystemTypes,
                           PlatformChanges& changes) {
  PlatformChanges reversed;
  ReverseModel(wmi.values, requests, removeSystemTypes, reversed.model);
  ReverseMatches(wmi.matches, requests, reversed.matches);
  ReverseGroups(wmi.groups, requests, reversed.groups);
  changes = std::move(reversed);
}

}  // namespace PlatformOperations
