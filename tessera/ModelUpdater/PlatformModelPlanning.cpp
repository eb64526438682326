// Planning the platform values: from what WMI holds and what the registration file wants, one
// record per entry of the new Values / ValueMap arrays (existing entries in WMI order, new ones
// after them) and one record per CPU type qualifier. Lookups go through hash maps keyed by the
// folded value, so planning grows with the sum of both sides, not their product.
#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformModelOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using vr::text::EqualsNoCase;
using vr::text::ToLower;

namespace PlatformOperations::PlatformModelOperations {
namespace {

void SetFrom(ModelValueChange& c, const ModelValue& v) {
  c.fromValue = v.value;
  c.fromCaption = v.caption;
}
void SetTo(ModelValueChange& c, const ModelValue& v) {
  c.toValue = v.value;
  c.toCaption = v.caption;
}
void SetFrom(SystemTypeChange& c, const SystemTypeValue& v) {
  c.fromValue = v.value;
  c.fromCaption = v.caption;
  c.fromCpuType = v.cpuType;
}
void SetTo(SystemTypeChange& c, const SystemTypeValue& v) {
  c.toValue = v.value;
  c.toCaption = v.caption;
  c.toCpuType = v.cpuType;
}
void SetToCaption(ModelValueChange& c, const WString& caption) { c.toCaption = caption; }
void SetToCaption(SystemTypeChange& c, const WString& caption) {
  c.toCaption = caption;
  c.toCpuType = CpuTypeOfCaption(caption);
}

template <class Change, class Value>
Change MakeChange(const Value* from, const Value* to, UpdateAction update, UpdateAction undo) {
  Change c;
  if (from) SetFrom(c, *from);
  if (to) SetTo(c, *to);
  c.updateAction = update;
  c.undoAction = undo;
  return c;
}

template <class Change>
void TraceChange(const char* vrTraceFunction_, const char* vrTraceFile_, const Change& c) {
  VR_TRACE_INFO("from ('", c.fromValue, "', '", c.fromCaption, "') to ('", c.toValue, "', '", c.toCaption,
                "') update ", static_cast<int>(c.updateAction), " undo ", static_cast<int>(c.undoAction));
}

// The shared planning of OS types, OS versions and system types.
template <class Value, class Change>
HRESULT PlanValues(const char* vrTraceFunction_, const char* vrTraceFile_, const std::vector<Value>& wmi,
                   const std::vector<Value>& config, std::vector<Change>& out, MessageId emptyMessage,
                   WString& error, VrLogFile& log) {
  out.clear();
  if (config.empty()) {
    VR_TRACE_INFO("Nothing to update");
    return S_OK;
  }
  if (wmi.empty()) {
    ReportMessage(LoadMessage(emptyMessage), error, log);
    return E_FAIL;
  }
  std::unordered_map<WString, size_t> wmiByValue;  // first entry of each value
  wmiByValue.reserve(wmi.size());
  for (size_t i = 0; i < wmi.size(); ++i) wmiByValue.emplace(ToLower(wmi[i].value), i);

  std::vector<Change> matched;
  std::vector<Change> added;
  bool changed = false;
  for (const Value& c : config) {
    const auto found = wmiByValue.find(ToLower(c.value));
    if (found == wmiByValue.end()) {
      added.push_back(MakeChange<Change>(static_cast<const Value*>(nullptr), &c, ACTION_ADD, ACTION_REMOVE));
      changed = true;
      continue;
    }
    const Value& w = wmi[found->second];
    if (EqualsNoCase(w.caption, c.caption) || !c.captionInSystemLanguage) {
      matched.push_back(MakeChange<Change>(&c, &c, NO_CHANGE, NO_CHANGE));
    } else {
      matched.push_back(MakeChange<Change>(&w, &c, ACTION_MODIFY, ACTION_MODIFY));
      changed = true;
    }
  }
  if (!changed) {
    VR_TRACE_INFO("Nothing to update: every configured entry is in WMI already");
    return S_OK;
  }
  std::unordered_map<WString, size_t> matchedByValue;  // first matched record of each to value
  for (size_t i = 0; i < matched.size(); ++i) matchedByValue.emplace(ToLower(matched[i].toValue), i);

  std::vector<Change> result;
  result.reserve(wmi.size() + added.size());
  for (const Value& w : wmi) {
    const auto found = matchedByValue.find(ToLower(w.value));
    if (found == matchedByValue.end() || EqualsNoCase(matched[found->second].toCaption, w.caption)) {
      result.push_back(MakeChange<Change>(&w, &w, NO_CHANGE, NO_CHANGE));
    } else {
      Change c = MakeChange<Change>(&w, &w, ACTION_MODIFY, ACTION_MODIFY);
      SetToCaption(c, matched[found->second].toCaption);
      result.push_back(std::move(c));
    }
  }
  for (Change& c : added) result.push_back(std::move(c));
  for (const Change& c : result) TraceChange(vrTraceFunction_, vrTraceFile_, c);
  out = std::move(result);
  return S_OK;
}

}  // namespace

HRESULT CreateUpdateAndUnDo_OSTypeVec(const std::vector<ModelValue>& wmi, const std::vector<ModelValue>& config,
                                      std::vector<ModelValueChange>& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::CreateUpdateAndUnDo_OSTypeVec", "ModelUpdater\\PlatformModelPlanning",
                    vr::trace::kModelFlags);
  try {
    return PlanValues(vrTraceFunction_, vrTraceFile_, wmi, config, changes, MessageId::kOsTypesEmpty, error, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateUpdateAndUnDo_OSVersionVec(const std::vector<ModelValue>& wmi, const std::vector<ModelValue>& config,
                                         std::vector<ModelValueChange>& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::CreateUpdateAndUnDo_OSVersionVec",
                    "ModelUpdater\\PlatformModelPlanning", vr::trace::kModelFlags);
  try {
    return PlanValues(vrTraceFunction_, vrTraceFile_, wmi, config, changes, MessageId::kOsVersionsEmpty, error, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateUpdateAndUnDo_SystemTypeVec(const std::vector<SystemTypeValue>& wmi,
                                          const std::vector<SystemTypeValue>& config,
                                          std::vector<SystemTypeChange>& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::CreateUpdateAndUnDo_SystemTypeVec",
                    "ModelUpdater\\PlatformModelPlanning", vr::trace::kModelFlags);
  try {
    return PlanValues(vrTraceFunction_, vrTraceFile_, wmi, config, changes, MessageId::kSystemTypesEmpty, error, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateUpdateAndUnDo_CpuAndOSesVec(const std::vector<CpuOsTypes>& wmi, const std::vector<CpuOsTypes>& config,
                                          std::vector<CpuOsTypesChange>& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::CreateUpdateAndUnDo_CpuAndOSesVec",
                    "ModelUpdater\\PlatformModelPlanning", vr::trace::kModelFlags);
  try {
    changes.clear();
    if (wmi.empty()) {
      ReportMessage(LoadMessage(MessageId::kSystemOsTypesEmpty), error, log);
      return E_FAIL;
    }
    std::unordered_map<WString, std::vector<size_t>> wmiByCpu;  // every entry of each CPU type
    for (size_t i = 0; i < wmi.size(); ++i) wmiByCpu[ToLower(wmi[i].cpuType)].push_back(i);

    std::vector<CpuOsTypesChange> result;
    std::vector<CpuOsTypesChange> added;
    std::unordered_set<WString> configured;
    bool changed = false;
    for (const CpuOsTypes& c : config) {
      const WString key = ToLower(c.cpuType);
      configured.insert(key);
      const auto found = wmiByCpu.find(key);
      if (found == wmiByCpu.end()) {
        added.push_back(CpuOsTypesChange{{}, {}, c.cpuType, c.osTypes, ACTION_ADD, ACTION_REMOVE});
        changed = true;
        continue;
      }
      for (size_t index : found->second) {
        const CpuOsTypes& w = wmi[index];
        std::unordered_set<WString> present;
        for (const WString& os : w.osTypes) present.insert(ToLower(os));
        std::vector<WString> to = w.osTypes;
        for (const WString& os : c.osTypes)
          if (present.insert(ToLower(os)).second) to.push_back(os);
        if (to.size() != w.osTypes.size()) {
          result.push_back(CpuOsTypesChange{w.cpuType, w.osTypes, w.cpuType, std::move(to), ACTION_MODIFY,
                                            ACTION_MODIFY});
          changed = true;
        } else {
          result.push_back(CpuOsTypesChange{w.cpuType, w.osTypes, w.cpuType, w.osTypes, NO_CHANGE, NO_CHANGE});
        }
      }
    }
    for (const CpuOsTypes& w : wmi)
      if (!configured.count(ToLower(w.cpuType)))
        result.push_back(CpuOsTypesChange{w.cpuType, w.osTypes, w.cpuType, w.osTypes, NO_CHANGE, NO_CHANGE});
    if (!changed) {
      VR_TRACE_INFO("Nothing to update: every configured CPU type lists its OS types already");
      return S_OK;
    }
    for (CpuOsTypesChange& c : added) result.push_back(std::move(c));
    for (const CpuOsTypesChange& c : result)
      VR_TRACE_INFO("CPU type from '", c.fromCpuType, "' (", static_cast<unsigned>(c.fromOsTypes.size()),
                    " OS types) to '", c.toCpuType, "' (", static_cast<unsigned>(c.toOsTypes.size()),
                    " OS types) update ", static_cast<int>(c.updateAction), " undo ", static_cast<int>(c.undoAction));
    changes = std::move(result);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateUpdateAndUnDoVec(const PlatformModelValues& wmi, const PlatformModelValues& config,
                               PlatformModelChanges& changes, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::CreateUpdateAndUnDoVec", "ModelUpdater\\PlatformModelPlanning",
                    vr::trace::kModelFlags);
  try {
    PlatformModelChanges planned;
    if (FAILED(CreateUpdateAndUnDo_OSTypeVec(wmi.osTypes, config.osTypes, planned.osTypes, error, log)))
      return E_FAIL;
    if (FAILED(CreateUpdateAndUnDo_OSVersionVec(wmi.osVersions, config.osVersions, planned.osVersions, error, log)))
      return E_FAIL;
    if (FAILED(CreateUpdateAndUnDo_SystemTypeVec(wmi.systemTypes, config.systemTypes, planned.systemTypes, error,
                                                 log)))
      return E_FAIL;
    if (FAILED(CreateUpdateAndUnDo_CpuAndOSesVec(wmi.cpuOsTypes, config.cpuOsTypes, planned.cpuOsTypes, error, log)))
      return E_FAIL;
    changes = std::move(planned);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations::PlatformModelOperations
