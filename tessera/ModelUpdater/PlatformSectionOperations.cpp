// The platform section's loading, wanted model, planning and applying over all kinds of
// platform data: VR_ManagedNode qualifiers, match records, node groups and instrumentation.
#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"
#include "tessera/XmlParser/XmlRecords.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;
using vr::text::ToLower;

namespace PlatformOperations {
namespace {

constexpr int32_t kMethodNetapi = 1;
constexpr int32_t kMethodSnmp = 2;
constexpr int32_t kMethodAgent = 3;
constexpr int32_t kPropertyOsType = 2;
constexpr int32_t kPropertyOsVersion = 3;

WString Decimal(int32_t n) {
  const std::string s = std::to_string(n);
  return WString(s.begin(), s.end());
}

bool HasCaption(const CModelEntry& entry) { return entry.caption != kNoTextFound; }

void AddMatchEntries(const CModelEntry& entry, int32_t property, std::vector<PlatformMatch>& out) {
  const WString value = Decimal(entry.value);
  for (const WString& text : entry.snmp) out.push_back(PlatformMatch{text, kMethodSnmp, property, value, 1});
  for (const WString& text : entry.netapi) out.push_back(PlatformMatch{text, kMethodNetapi, property, value, 1});
  for (const WString& text : entry.agent) out.push_back(PlatformMatch{text, kMethodAgent, property, value, 1});
}

// The instrumentation items of a platform, merged into those of earlier platforms by folder
// name (OS type value, OS version value, subfolder name).
class InstrumentationCollector {
 public:
  explicit InstrumentationCollector(std::vector<InstrumentationOsTypeItem>& items) : items_(items) {}

  void Add(const CPlatform& platform) {
    for (const COsVersionEntry& version : platform.osVersions) {
      if (version.instrumentation.empty()) continue;
      InstrumentationOsTypeItem& osType = OsType(Decimal(platform.osType.value));
      InstrumentationOsVersionItem& osVersion = OsVersion(osType, Decimal(version.value));
      for (const CInstrumentationSubdir& subdir : version.instrumentation) {
        InstrumentationSubfolderItem& subfolder = Subfolder(osVersion, subdir.name);
        for (const WString& file : subdir.files) subfolder.files.push_back(file);
      }
    }
  }

 private:
  template <class Item>
  static Item& Named(std::vector<Item>& list, std::unordered_map<WString, size_t>& index, const WString& name) {
    const auto found = index.find(ToLower(name));
    if (found != index.end()) return list[found->second];
    index.emplace(ToLower(name), list.size());
    list.push_back(Item{name, {}});
    return list.back();
  }
  InstrumentationOsTypeItem& OsType(const WString& name) { return Named(items_, osTypes_, name); }
  InstrumentationOsVersionItem& OsVersion(InstrumentationOsTypeItem& osType, const WString& name) {
    return Named(osType.osVersions, osVersions_[ToLower(osType.name)], name);
  }
  InstrumentationSubfolderItem& Subfolder(InstrumentationOsVersionItem& osVersion, const WString& name) {
    return Named(osVersion.subfolders, subfolders_[ToLower(osVersion.name)], name);
  }

  std::vector<InstrumentationOsTypeItem>& items_;
  std::unordered_map<WString, size_t> osTypes_;
  std::unordered_map<WString, std::unordered_map<WString, size_t>> osVersions_;
  std::unordered_map<WString, std::unordered_map<WString, size_t>> subfolders_;
};

template <class Value>
void KeepFirstOfEachValue(std::vector<Value>& values) {
  std::unordered_set<WString> seen;
  std::vector<Value> kept;
  kept.reserve(values.size());
  for (Value& v : values)
    if (seen.insert(ToLower(v.value)).second) kept.push_back(std::move(v));
  values = std::move(kept);
}

}  // namespace

void CaptionIndex::AddWmi(const WString& value, const WString& caption) { wmi_.emplace(ToLower(value), caption); }
void CaptionIndex::AddFile(const WString& value, const WString& caption) { file_.emplace(ToLower(value), caption); }
bool CaptionIndex::Find(const WString& value, WString& caption) const {
  const WString key = ToLower(value);
  if (const auto found = wmi_.find(key); found != wmi_.end()) {
    caption = found->second;
    return true;
  }
  if (const auto found = file_.find(key); found != file_.end()) {
    caption = found->second;
    return true;
  }
  return false;
}

bool CheckIfSystemTypeExists(const CaptionIndex& systemTypes, const WString& value, WString& caption) {
  return systemTypes.Find(value, caption);
}
bool CheckIfOSTypeExists(const CaptionIndex& osTypes, const WString& value, WString& caption) {
  return osTypes.Find(value, caption);
}

HRESULT LoadValuesFromWMI(IWbemServices* services, PlatformModel& model, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::LoadValuesFromWMI", "ModelUpdater\\PlatformSectionOperations",
                    vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemClassObject> nodeClass;
    if (FAILED(PlatformModelOperations::GetClassObjectT(services, nodeClass, error, log))) return E_FAIL;
    PlatformModel loaded;
    if (FAILED(PlatformModelOperations::LoadValuesFromWMI(nodeClass.get(), loaded.values, error, log))) return E_FAIL;
    if (FAILED(PlatformMatchOperations::LoadValuesFromWMI(services, loaded.matches, error, log))) return E_FAIL;
    if (FAILED(NodeGroupOperations::LoadValuesFromWMI(services, loaded.groups, error, log))) return E_FAIL;
    model = std::move(loaded);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateCPUOSTYPEConfigFileContainer(const std::vector<std::pair<WString, WString>>& pairs,
                                           std::vector<CpuOsTypes>& container) {
  VR_TRACE_FUNCTION("PlatformOperations::CreateCPUOSTYPEConfigFileContainer",
                    "ModelUpdater\\PlatformSectionOperations", vr::trace::kModelFlags);
  try {
    std::vector<CpuOsTypes> grouped;
    std::unordered_map<WString, size_t> byCpu;
    std::unordered_map<WString, std::unordered_set<WString>> osTypesOfCpu;
    for (const auto& [cpu, osType] : pairs) {
      const WString key = ToLower(cpu);
      auto found = byCpu.find(key);
      if (found == byCpu.end()) {
        found = byCpu.emplace(key, grouped.size()).first;
        grouped.push_back(CpuOsTypes{cpu, {}});
      }
      if (osTypesOfCpu[key].insert(ToLower(osType)).second) grouped[found->second].osTypes.push_back(osType);
    }
    container = std::move(grouped);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreateWantedPlatformModel(const std::vector<CPlatform>& platforms, const PlatformModel& wmi,
                                  PlatformModel& wanted, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CreateWantedPlatformModel", "ModelUpdater\\PlatformSectionOperations",
                    vr::trace::kModelFlags);
  try {
    CaptionIndex systemTypes;
    CaptionIndex osTypes;
    for (const SystemTypeValue& v : wmi.values.systemTypes) systemTypes.AddWmi(v.value, v.caption);
    for (const ModelValue& v : wmi.values.osTypes) osTypes.AddWmi(v.value, v.caption);
    std::unordered_set<WString> wmiOsVersions;
    for (const ModelValue& v : wmi.values.osVersions) wmiOsVersions.insert(ToLower(v.value));
    for (const CPlatform& p : platforms) {
      if (HasCaption(p.systemType)) systemTypes.AddFile(Decimal(p.systemType.value), p.systemType.caption);
      if (HasCaption(p.osType)) osTypes.AddFile(Decimal(p.osType.value), p.osType.caption);
    }

    PlatformModel model;
    std::vector<std::pair<WString, WString>> pairs;
    InstrumentationCollector instrumentation(model.instrumentation);
    for (const CPlatform& p : platforms) {
      const WString systemType = Decimal(p.systemType.value);
      WString systemCaption;
      if (!CheckIfSystemTypeExists(systemTypes, systemType, systemCaption)) {
        ReportMessage(LoadMessage(MessageId::kSystemTypeNotInModel, systemType), error, log);
        return E_FAIL;
      }
      const WString osType = Decimal(p.osType.value);
      WString osCaption;
      if (!CheckIfOSTypeExists(osTypes, osType, osCaption)) {
        ReportMessage(LoadMessage(MessageId::kOsTypeNotInModel, osType), error, log);
        return E_FAIL;
      }
      // An entry without a caption names a value that exists already; it asks for no change.
      if (HasCaption(p.systemType))
        model.values.systemTypes.push_back(SystemTypeValue{systemType, p.systemType.caption,
                                                           PlatformModelOperations::CpuTypeOfCaption(p.systemType.caption),
                                                           p.systemType.captionInSystemLanguage});
      if (HasCaption(p.osType))
        model.values.osTypes.push_back(ModelValue{osType, p.osType.caption, p.osType.captionInSystemLanguage});
      pairs.emplace_back(PlatformModelOperations::CpuTypeOfCaption(systemCaption), osType);
      AddMatchEntries(p.osType, kPropertyOsType, model.matches);
      for (const COsVersionEntry& version : p.osVersions) {
        const WString value = Decimal(version.value);
        if (HasCaption(version) || !wmiOsVersions.count(ToLower(value)))
          model.values.osVersions.push_back(ModelValue{value, version.caption, version.captionInSystemLanguage});
        AddMatchEntries(version, kPropertyOsVersion, model.matches);
      }
      for (const CNodeGroup& group : p.nodeGroups) model.groups.push_back(NodeGroup{group.name, group.caption, group.parent});
      instrumentation.Add(p);
    }
    if (FAILED(CreateCPUOSTYPEConfigFileContainer(pairs, model.values.cpuOsTypes))) {
      ReportMessage(LoadMessage(MessageId::kPlatformRegFailed), error, log);
      return E_FAIL;
    }
    VR_TRACE_INFO("Wanted: ", static_cast<unsigned>(model.values.systemTypes.size()), " system types, ",
                  static_cast<unsigned>(model.values.osTypes.size()), " OS types, ",
                  static_cast<unsigned>(model.values.osVersions.size()), " OS versions, ",
                  static_cast<unsigned>(model.matches.size()), " match entries, ",
                  static_cast<unsigned>(model.groups.size()), " node groups");
    wanted = std::move(model);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT EliminateDuplicates(PlatformModel& wanted) {
  VR_TRACE_FUNCTION("PlatformOperations::EliminateDuplicates", "ModelUpdater\\PlatformSectionOperations",
                    vr::trace::kModelFlags);
  try {
    KeepFirstOfEachValue(wanted.values.osTypes);
    KeepFirstOfEachValue(wanted.values.osVersions);
    KeepFirstOfEachValue(wanted.values.systemTypes);
    std::unordered_set<WString> names;
    std::vector<NodeGroup> groups;
    for (NodeGroup& g : wanted.groups)
      if (names.insert(ToLower(g.Name)).second) groups.push_back(std::move(g));
    wanted.groups = std::move(groups);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT CreatePlatformUpdateAndUnDoVect(const OperationContext& context, const PlatformModel& wmi,
                                        const PlatformModel& wanted, PlatformChanges& changes, WString& error,
                                        VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CreatePlatformUpdateAndUnDoVect", "ModelUpdater\\PlatformSectionOperations",
                    vr::trace::kModelFlags);
  try {
    PlatformChanges planned;
    if (FAILED(PlatformModelOperations::CreateUpdateAndUnDoVec(wmi.values, wanted.values, planned.model, error, log)))
      return E_FAIL;
    if (context.clusterMode != 2) {
      if (FAILED(PlatformMatchOperations::CreateUpdateAndUnDoVec(context, wmi.matches, wanted.matches, planned.matches,
                                                                 error, log)))
        return E_FAIL;
      if (FAILED(NodeGroupOperations::CreateUpdateAndUnDoVec(wmi.groups, wanted.groups, planned.groups, error, log)))
        return E_FAIL;
      if (FAILED(CreateInstrumentationUpdateAndUnDoVect(context, wanted.instrumentation, planned.instrumentation, error,
                                                        log)))
        return E_FAIL;
    }
    changes = std::move(planned);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT RegisterUnregisterNewPlatforms(OperationContext& context, IWbemServices* services,
                                       const PlatformChanges& changes, WString& error, VrLogFile* undoSink,
                                       VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::RegisterUnregisterNewPlatforms", "ModelUpdater\\PlatformSectionOperations",
                    vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemClassObject> nodeClass;
    if (FAILED(PlatformModelOperations::GetClassObjectT(services, nodeClass, error, log))) return E_FAIL;
    const bool rollback = context.mode == OP_ROLLBACK;
    bool failed = false;
    // In rollback every step runs, so that as much as possible is restored.
    auto step = [&](HRESULT hr, const char* name) {
      if (SUCCEEDED(hr)) return true;
      VR_TRACE_ERROR(name, " FAILED");
      failed = true;
      return rollback;
    };
    if (!step(PlatformModelOperations::RegisterUnregisterNewPlatforms(context, services, nodeClass.get(), changes.model,
                                                                      error, undoSink, log),
              "PlatformModelOperations::RegisterUnregisterNewPlatforms"))
      return E_FAIL;
    if (context.clusterMode == 2) return failed ? E_FAIL : S_OK;
    if (!step(PlatformMatchOperations::RegisterUnregisterNewPlatforms(context, services, changes.matches, error,
                                                                      undoSink, log),
              "PlatformMatchOperations::RegisterUnregisterNewPlatforms"))
      return E_FAIL;
    if (!step(NodeGroupOperations::RegisterNewNodeGroups(context, services, changes.groups, error, undoSink, log),
              "NodeGroupOperations::RegisterNewNodeGroups"))
      return E_FAIL;
    if (context.mode == OP_REGISTER || context.mode == OP_REINSTALL) {
      if (!step(RegisterNewInstrumentaions(context, changes.instrumentation, error, log), "RegisterNewInstrumentaions"))
        return E_FAIL;
    }
    return failed ? E_FAIL : S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

std::vector<WString> RegistrationUndoLines(const OperationContext& context, const PlatformChanges& changes) {
  std::vector<WString> lines;
  PlatformModelOperations::AppendRegistrationUndoLines(changes.model, lines);
  if (context.clusterMode == 2) return lines;
  PlatformMatchOperations::AppendRegistrationUndoLines(changes.matches, lines);
  NodeGroupOperations::AppendRegistrationUndoLines(changes.groups, lines);
  return lines;
}

}  // namespace PlatformOperations
