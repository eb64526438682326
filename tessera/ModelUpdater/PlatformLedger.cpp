// The platform section's ledger entries and their reversal (PlatformLedger.h).
#include "tessera/ModelUpdater/PlatformLedger.h"

#include <map>
#include <set>

#include "platform/text/casefold.h"
#include "tessera/UndoFile.h"
#include "tessera/XmlParser/XmlRecords.h"

using vr::ledger::Entry;
using vr::text::EqualsNoCase;
using vr::text::ToLower;

namespace PlatformOperations {
namespace {

constexpr int kSection = vr::undo::kSectionPlatforms;
constexpr const char* kOsType = "os-type";
constexpr const char* kOsVersion = "os-version";
constexpr const char* kSystemType = "system-type";
constexpr const char* kCpuOsType = "cpu-os-type";
constexpr const char* kNodeDisc = "nodedisc";
constexpr const char* kNodeGroup = "nodegroup";

WString Decimal(int32_t n) {
  const std::string s = std::to_string(n);
  return WString(s.begin(), s.end());
}

// "a<TAB>b"; the parts never hold a tab (values, CPU types and group names cannot).
WString Pair(const WString& a, const WString& b) { return a + u'\t' + b; }
WString Second(const WString& pair) {
  const size_t tab = pair.find(u'\t');
  return tab == WString::npos ? WString() : pair.substr(tab + 1);
}
WString First(const WString& pair) { return pair.substr(0, pair.find(u'\t')); }

WString MatchKey(const PlatformMatch& m) {
  return m.MatchExpression + u'\t' + Decimal(m.Method) + u'\t' + Decimal(m.Property);
}
bool ParseMatchKey(const WString& key, PlatformMatch& m) {
  const size_t second = key.rfind(u'\t');
  if (second == WString::npos || second == 0) return false;
  const size_t first = key.rfind(u'\t', second - 1);
  if (first == WString::npos) return false;
  const std::string method(key.begin() + first + 1, key.begin() + second);
  const std::string property(key.begin() + second + 1, key.end());
  try {
    m.Method = std::stoi(method);
    m.Property = std::stoi(property);
  } catch (...) {
    return false;
  }
  m.MatchExpression = key.substr(0, first);
  return true;
}

// The references a nodedisc entry's registration added to its record.
int ReferencesAdded(const Entry& e) {
  int references = 0;
  for (WChar c : Second(e.after))
    if (c >= u'0' && c <= u'9' && references < 1000000) references = references * 10 + (c - u'0');
  return references;
}

Entry MakeEntry(const char* kind, const WString& key, bool existed, const WString& before, const WString& after) {
  Entry e;
  e.section = kSection;
  e.kind = kind;
  e.key = key;
  e.existedBefore = existed;
  if (existed) e.before = before;
  e.after = after;
  return e;
}

// One entry per named value of a kind: its caption in WMI before, and after the planned change.
template <class Value, class Change>
void AddValueEntries(const char* kind, const std::vector<WString>& named, const std::vector<Value>& wmi,
                     const std::vector<Change>& planned, std::vector<Entry>& entries) {
  std::set<WString> done;
  for (const WString& value : named) {
    if (!done.insert(ToLower(value)).second) continue;
    const Value* before = nullptr;
    for (const Value& w : wmi)
      if (EqualsNoCase(w.value, value)) {
        before = &w;
        break;
      }
    WString after = before ? before->caption : WString();
    for (const Change& c : planned) {
      if (c.updateAction == ACTION_REMOVE) continue;
      const bool to = c.updateAction != NO_CHANGE;
      if (EqualsNoCase(to ? c.toValue : c.fromValue, value)) {
        after = to ? c.toCaption : c.fromCaption;
        break;
      }
    }
    entries.push_back(MakeEntry(kind, value, before != nullptr, before ? before->caption : WString(), after));
  }
}

}  // namespace

void AppendLedgerEntries(const std::vector<CPlatform>& platforms, const PlatformModel& wmi,
                         const PlatformModel& wanted, const PlatformChanges& changes, bool localCluster,
                         std::vector<Entry>& entries) {
  std::vector<WString> systemTypes, osTypes, osVersions;
  for (const CPlatform& p : platforms) {
    systemTypes.push_back(Decimal(p.systemType.value));
    osTypes.push_back(Decimal(p.osType.value));
    for (const COsVersionEntry& v : p.osVersions) osVersions.push_back(Decimal(v.value));
  }
  AddValueEntries(kOsType, osTypes, wmi.values.osTypes, changes.model.osTypes, entries);
  AddValueEntries(kOsVersion, osVersions, wmi.values.osVersions, changes.model.osVersions, entries);
  AddValueEntries(kSystemType, systemTypes, wmi.values.systemTypes, changes.model.systemTypes, entries);

  for (const CpuOsTypes& wantedCpu : wanted.values.cpuOsTypes) {
    const CpuOsTypes* cpu = nullptr;
    for (const CpuOsTypes& w : wmi.values.cpuOsTypes)
      if (EqualsNoCase(w.cpuType, wantedCpu.cpuType)) {
        cpu = &w;
        break;
      }
    for (const WString& os : wantedCpu.osTypes) {
      bool listed = false;
      if (cpu)
        for (const WString& o : cpu->osTypes) listed = listed || EqualsNoCase(o, os);
      entries.push_back(MakeEntry(kCpuOsType, Pair(cpu ? cpu->cpuType : wantedCpu.cpuType, os), listed, {}, {}));
    }
  }
  if (localCluster) return;

  // One entry per record: the planned changes of one record follow each other, the last one
  // holding its state after the run.
  std::vector<WString> order;
  std::map<WString, const PlatformMatchChange*> last;
  for (const PlatformMatchChange& c : changes.matches) {
    const WString key = ToLower(MatchKey(c.to));
    if (!last.count(key)) order.push_back(key);
    last[key] = &c;
  }
  for (const WString& key : order) {
    const PlatformMatchChange& c = *last[key];
    const PlatformMatch* before = nullptr;
    for (const PlatformMatch& w : wmi.matches)
      if (PlatformMatchOperations::SameIdentity(w, c.to)) {
        before = &w;
        break;
      }
    const int32_t added = c.to.RefCnt - (before ? before->RefCnt : 0);
    entries.push_back(MakeEntry(kNodeDisc, MatchKey(before ? *before : c.to), before != nullptr,
                                before ? before->Value : WString(), Pair(c.to.Value, Decimal(added))));
  }

  std::set<WString> groups;
  for (const NodeGroup& g : wanted.groups) {
    if (!groups.insert(ToLower(g.Name)).second) continue;
    const NodeGroup* before = nullptr;
    for (const NodeGroup& w : wmi.groups)
      if (EqualsNoCase(w.Name, g.Name)) {
        before = &w;
        break;
      }
    const NodeGroup& after = before ? *before : g;
    entries.push_back(MakeEntry(kNodeGroup, after.Name, before != nullptr,
                                before ? Pair(before->Caption, before->Parent) : WString(),
                                Pair(after.Caption, after.Parent)));
  }
}

ReversalRequests CreateLedgerReversal(vr::ledger::Ledger& ledger, vr::ledger::Registration& registration) {
  ReversalRequests requests;
  std::vector<WString> groups;  // newest first
  for (auto e = registration.entries.rbegin(); e != registration.entries.rend(); ++e) {
    if (e->section != kSection || e->reversed) continue;
    // The live entries of the same object, oldest first: a later registration's entry takes
    // over this one's before-state, and the store is left as that registration has it.
    const auto chain = ledger.Chain(kSection, e->kind, e->key);
    Entry* later = nullptr;
    for (const auto& ref : chain)
      if (ref.registration->seq > registration.seq && ref.entry != &*e) {
        later = ref.entry;
        break;
      }
    e->reversed = true;
    if (later) {
      later->existedBefore = e->existedBefore;
      later->before = e->before;
      // The references this registration added are still its own to take away.
      if (e->kind == kNodeDisc) {
        PlatformMatch identity;
        if (ParseMatchKey(e->key, identity)) AddMatchRequest(requests, identity, ReferencesAdded(*e), std::nullopt);
      }
      continue;
    }
    const std::string& kind = e->kind;
    ValueRequests* values = kind == kOsType       ? &requests.osTypes
                            : kind == kOsVersion  ? &requests.osVersions
                            : kind == kSystemType ? &requests.systemTypes
                                                  : nullptr;
    if (values) {
      if (!e->existedBefore) values->added.insert(ToLower(e->key));
      else if (e->before != e->after) values->oldCaption.emplace(ToLower(e->key), e->before);
    } else if (kind == kCpuOsType) {
      if (!e->existedBefore) requests.cpuOsTypes[ToLower(First(e->key))].insert(ToLower(Second(e->key)));
    } else if (kind == kNodeDisc) {
      PlatformMatch identity;
      if (!ParseMatchKey(e->key, identity)) continue;
      const int references = ReferencesAdded(*e);
      const WString afterValue = First(e->after);
      std::optional<WString> back;
      if (e->existedBefore && !EqualsNoCase(e->before, afterValue)) back = e->before;
      AddMatchRequest(requests, identity, references, back);
    } else if (kind == kNodeGroup) {
      if (!e->existedBefore) groups.push_back(e->key);
    }
  }
  // The reversal removes groups the last added first: hand them over oldest first.
  requests.groups.assign(groups.rbegin(), groups.rend());
  return requests;
}

}  // namespace PlatformOperations
