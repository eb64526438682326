// Reading the [[[PLATFORMS]]] section of an undo file: every line is checked for its keyword,
// action word and fields, and turned into the change set that reverses it against the model
// WMI holds now. Values named by the section but gone from WMI produce nothing.
#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Files/VrTextFile.h"
#include "tessera/Files/VrTextLine.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"
#include "tessera/UndoFile.h"
#include "tessera/XmlParser/XmlValues.h"

using vr::msg::LoadMessage;
using vr::text::EqualsNoCase;
using vr::text::ToLower;

namespace PlatformOperations {
namespace {

// The reversing requests of one kind of platform value.
struct ValueRequests {
  std::unordered_set<WString> added;                // folded values of ADD lines
  std::unordered_map<WString, WString> oldCaption;  // folded value -> old caption of the first CHANGE line
};

struct MatchRequest {
  PlatformMatch identity;          // MatchExpression, Method, Property of the record
  int lines = 0;                   // references to take away
  std::optional<WString> oldValue; // the Value before the first CHANGE line
};

struct SectionRequests {
  ValueRequests osTypes;
  ValueRequests osVersions;
  ValueRequests systemTypes;
  std::unordered_map<WString, std::unordered_set<WString>> cpuOsTypes;  // folded CPU -> folded OS types
  std::vector<MatchRequest> matches;
  std::unordered_map<WString, size_t> matchIndex;
  std::vector<WString> groups;  // names of NODEGROUP ADD lines, in section order
};

WString MatchKey(const WString& expression, int32_t method, int32_t property) {
  WString key = ToLower(expression);
  key += u'\x1f';
  for (char c : std::to_string(method)) key += static_cast<WChar>(c);
  key += u',';
  for (char c : std::to_string(property)) key += static_cast<WChar>(c);
  return key;
}

// One line of the section, its tokens checked for shape.
class SectionLine {
 public:
  explicit SectionLine(const VrTextLine& line) : line_(line) {}
  size_t Count() const { return line_.GetTokenCount(); }
  WString Plain(size_t i) const { return line_.CopyToken(i).value_or(WString()); }
  // A field written between double quotes; nothing when it is not, or its quote is left open.
  // The tokeniser strips a closed pair of quotes, and the text between them cannot hold a
  // quote; an open quote stays in the token.
  std::optional<WString> Quoted(size_t i) const {
    const auto offset = line_.GetTokenOffset(i);
    auto token = line_.CopyToken(i);
    if (!offset || !token) return std::nullopt;
    const WString& text = line_.GetText();
    if (*offset >= text.size() || text[*offset] != u'"') return std::nullopt;
    if (token->find(u'"') != WString::npos) return std::nullopt;
    return token;
  }
  std::optional<int32_t> Number(size_t i) const {
    int32_t n = 0;
    if (!XmlValues::ParseWholeInt32(Plain(i), n)) return std::nullopt;
    return n;
  }

 private:
  const VrTextLine& line_;
};

enum class Keyword { kOsType, kOsVersion, kSystemType, kSystemTypeOsType, kNodeDisc, kNodeGroup, kUnknown };

Keyword KeywordOf(const WString& token) {
  if (EqualsNoCase(token, u"OS-TYPE")) return Keyword::kOsType;
  if (EqualsNoCase(token, u"OS-VERSION")) return Keyword::kOsVersion;
  if (EqualsNoCase(token, u"SYSTEM-TYPE")) return Keyword::kSystemType;
  if (EqualsNoCase(token, u"SYSTEM-TYPE-OS-TYPE")) return Keyword::kSystemTypeOsType;
  if (EqualsNoCase(token, u"NODEDISC")) return Keyword::kNodeDisc;
  if (EqualsNoCase(token, u"NODEGROUP")) return Keyword::kNodeGroup;
  return Keyword::kUnknown;
}

// Takes one line into the requests; false when its action word or fields are not those of its
// keyword.
bool TakeLine(Keyword keyword, const SectionLine& line, SectionRequests& requests) {
  const WString action = line.Plain(1);
  const bool add = EqualsNoCase(action, u"ADD");
  const bool change = EqualsNoCase(action, u"CHANGE");
  const bool increment = EqualsNoCase(action, u"INCREMENT");
  switch (keyword) {
    case Keyword::kOsType:
    case Keyword::kOsVersion:
    case Keyword::kSystemType: {
      ValueRequests& r = keyword == Keyword::kOsType      ? requests.osTypes
                         : keyword == Keyword::kOsVersion ? requests.osVersions
                                                          : requests.systemTypes;
      if (add) {
        if (line.Count() != 4 || !line.Quoted(3)) return false;
        r.added.insert(ToLower(line.Plain(2)));
        return true;
      }
      if (change) {
        const auto oldCaption = line.Quoted(3);
        if (line.Count() != 5 || !oldCaption || !line.Quoted(4)) return false;
        r.oldCaption.emplace(ToLower(line.Plain(2)), *oldCaption);
        return true;
      }
      return false;
    }
    case Keyword::kSystemTypeOsType:
      if (!add && !change) return false;
      if (line.Count() != 4) return false;
      if (add) requests.cpuOsTypes[ToLower(line.Plain(2))].insert(ToLower(line.Plain(3)));
      return true;
    case Keyword::kNodeDisc: {
      if (!add && !change && !increment) return false;
      const size_t count = change ? 7 : 6;
      const auto method = line.Number(2);
      const auto property = line.Number(3);
      const auto value = line.Quoted(4);
      const auto expression = line.Quoted(count - 1);
      if (line.Count() != count || !method || !property || !value || !expression) return false;
      if (change && !line.Quoted(5)) return false;
      const WString key = MatchKey(*expression, *method, *property);
      auto found = requests.matchIndex.find(key);
      if (found == requests.matchIndex.end()) {
        found = requests.matchIndex.emplace(key, requests.matches.size()).first;
        requests.matches.push_back(MatchRequest{PlatformMatch{*expression, *method, *property, {}, 0}, 0, {}});
      }
      MatchRequest& request = requests.matches[found->second];
      ++request.lines;
      if (change && !request.oldValue) request.oldValue = *value;
      return true;
    }
    case Keyword::kNodeGroup:
      if (!add && !change) return false;
      // Name, quoted Caption, Parent (empty for a top group, so the line may end after the caption).
      if ((line.Count() != 4 && line.Count() != 5) || !line.Quoted(3)) return false;
      if (add) requests.groups.push_back(line.Plain(2));
      return true;
    case Keyword::kUnknown:
      break;
  }
  return false;
}

// Reads the section's lines; S_OK with empty requests when the section is empty or absent.
HRESULT ReadSection(const OperationContext& context, VrTextFile& undo, SectionRequests& requests, WString& error,
                    VrLogFile& log, const char* vrTraceFunction_, const char* vrTraceFile_) {
  undo.ResetPosition();
  VrTextLine line;
  bool found = false;
  while (undo.ReadLine(line, nullptr, true, true)) {
    if (line.GetTokenCount() > 0 && line.GetToken(0) == WStringView(vr::undo::kPlatformsBegin)) {
      found = true;
      break;
    }
    if (line.IsAtEnd()) break;
  }
  const bool rollback = context.mode == OP_ROLLBACK;
  if (!found) {
    VR_TRACE_INFO(rollback ? "Nothing to rollback in platform section is empty"
                           : "Nothing to uninstall in platform section is empty");
    return S_OK;
  }
  bool any = false;
  while (!line.IsAtEnd() && undo.ReadLine(line, nullptr, true, true)) {
    if (line.GetTokenCount() == 0) {
      if (line.IsAtEnd()) break;
      continue;
    }
    const WString first = line.CopyToken(0).value_or(WString());
    if (first == vr::undo::kPlatformsEnd) break;
    const uint32_t number = line.GetPosition().line;
    const Keyword keyword = KeywordOf(first);
    if (keyword == Keyword::kUnknown) {
      if (first.empty() || first == u" " || first == u"\n") continue;
      ReportMessage(LoadMessage(3055, number), error, log);
      return E_FAIL;
    }
    if (line.GetTokenCount() < 2 || !TakeLine(keyword, SectionLine(line), requests)) {
      ReportMessage(LoadMessage(3033, first, number), error, log);
      return E_FAIL;
    }
    any = true;
  }
  if (!any)
    VR_TRACE_INFO(rollback ? "Nothing to rollback in platform section is empty"
                           : "Nothing to uninstall in platform section is empty");
  return S_OK;
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

void ReverseModel(const PlatformModelValues& wmi, const SectionRequests& r, PlatformModelChanges& out) {
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
      c.undoAction = cpuRemoved ? ACTION_REMOVE : ACTION_ADD;
    } else if (const auto old = r.systemTypes.oldCaption.find(key); old != r.systemTypes.oldCaption.end()) {
      c.toCaption = old->second;
      c.toCpuType = PlatformModelOperations::CpuTypeOfCaption(old->second);
      c.updateAction = ACTION_MODIFY;
      c.undoAction = ACTION_MODIFY;
    } else if (cpuRemoved) {
      c.toValue.clear();
      c.toCaption.clear();
      c.toCpuType.clear();
      c.updateAction = ACTION_REMOVE;
      c.undoAction = ACTION_REMOVE;
    }
    if (c.updateAction != NO_CHANGE) systemChanged = true;
    out.systemTypes.push_back(std::move(c));
  }
  if (!systemChanged) out.systemTypes.clear();
  if (!cpuChanged && !systemChanged) out.cpuOsTypes.clear();
}

// Each line takes one reference from the record it names; a CHANGE line also brings the Value
// before the change back, so that uninstalling restores the record as it was.
void ReverseMatches(const std::vector<PlatformMatch>& wmi, const SectionRequests& r,
                    std::vector<PlatformMatchChange>& out) {
  std::unordered_map<WString, size_t> wmiIndex;
  for (size_t i = 0; i < wmi.size(); ++i)
    wmiIndex.emplace(MatchKey(wmi[i].MatchExpression, wmi[i].Method, wmi[i].Property), i);
  for (const MatchRequest& request : r.matches) {
    const auto found =
        wmiIndex.find(MatchKey(request.identity.MatchExpression, request.identity.Method, request.identity.Property));
    if (found == wmiIndex.end()) continue;
    const PlatformMatch& current = wmi[found->second];
    PlatformMatchChange change{current, current, NO_CHANGE, NO_CHANGE};
    change.to.RefCnt = current.RefCnt - request.lines;
    if (request.oldValue && !EqualsNoCase(*request.oldValue, current.Value)) {
      change.to.Value = *request.oldValue;
      change.updateAction = ACTION_MODIFY;
      change.undoAction = ACTION_MODIFY;
    }
    out.push_back(std::move(change));
  }
}

// Groups of ADD lines leave with their membership, the last added first.
void ReverseGroups(const std::vector<NodeGroup>& wmi, const SectionRequests& r, std::vector<NodeGroupChange>& out) {
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

HRESULT CreateUninstallationAndUnDoVect(const OperationContext& context, VrTextFile& undo, const PlatformModel& wmi,
                                        PlatformChanges& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CreateUninstallationAndUnDoVect", "ModelUpdater\\PlatformsSectionReader",
                    vr::trace::kModelFlags);
  try {
    SectionRequests requests;
    if (FAILED(ReadSection(context, undo, requests, error, log, vrTraceFunction_, vrTraceFile_))) return E_FAIL;
    PlatformChanges reversed;
    ReverseModel(wmi.values, requests, reversed.model);
    ReverseMatches(wmi.matches, requests, reversed.matches);
    ReverseGroups(wmi.groups, requests, reversed.groups);
    changes = std::move(reversed);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations
