// Applying planned platform values to VR_ManagedNode: the new Values / ValueMap arrays of a
// property, then the CPU type qualifiers of SystemType, each committed with PutClass. Undo
// lines are written only after the commit they describe, so the undo section never records a
// change that did not happen.
#include <unordered_set>

#include "platform/text/casefold.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/ModelUpdater/PlatformModelOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace PlatformOperations::PlatformModelOperations {
namespace {

constexpr long kPropagateFlavour = 3;  // to instances and to derived classes

bool IsRegistering(const OperationContext& context) {
  return context.mode == OP_REGISTER || context.mode == OP_REINSTALL;
}

// An undo line: into the undo sink when registering, and into the platform log always.
void WriteUndoLine(const OperationContext& context, const WString& line, VrLogFile* undoSink, VrLogFile& log) {
  if (undoSink && IsRegistering(context)) undoSink->AppendLine(line, true);
  log.AppendLine(line, true);
}

WString Quoted(const WString& text) { return u"\"" + text + u"\""; }

// The undo line a registration writes for one value change, or an empty text when it writes
// none (a removal or no change).
template <class Change>
WString ValueUndoLine(const WString& keyword, const Change& c) {
  switch (c.updateAction) {
    case ACTION_ADD:
      return keyword + u" ADD " + c.toValue + u" " + Quoted(c.toCaption);
    case ACTION_MODIFY:
      return keyword + u" CHANGE " + c.toValue + u" " + Quoted(c.fromCaption) + u" " + Quoted(c.toCaption);
    default:
      return WString();
  }
}

// The undo lines a registration writes for one CPU type qualifier change: one ADD line for
// each OS type the change adds to it.
std::vector<WString> CpuOsTypesUndoLines(const CpuOsTypesChange& c) {
  const WString kLine = u"SYSTEM-TYPE-OS-TYPE ";
  std::vector<WString> lines;
  if (c.updateAction == ACTION_ADD) {
    for (const WString& os : c.toOsTypes) lines.push_back(kLine + u"ADD " + c.toCpuType + u" " + os);
  } else if (c.updateAction == ACTION_MODIFY) {
    std::unordered_set<WString> before;
    for (const WString& os : c.fromOsTypes) before.insert(vr::text::ToLower(os));
    for (const WString& os : c.toOsTypes)
      if (!before.count(vr::text::ToLower(os))) lines.push_back(kLine + u"ADD " + c.toCpuType + u" " + os);
  }
  return lines;
}

HRESULT Commit(IWbemServices* services, IWbemClassObject* nodeClass, WString& error, VrLogFile& log) {
  const HRESULT hr = services->PutClass(nodeClass, WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
  if (FAILED(hr)) ReportMessage(LoadMessage(MessageId::kManagedNodeCommitFailed, HrText(hr)), error, log);
  return hr;
}

// The part shared by OS types, OS versions and system types: new Values / ValueMap arrays of
// the property, one commit, then the lines. keepRemoved says whether a record whose update
// action is ACTION_REMOVE keeps its entry (system types in unregistration).
template <class Change, class KeepRemoved>
HRESULT WriteValueArrays(const char* vrTraceFunction_, const char* vrTraceFile_, const OperationContext& context,
                         IWbemServices* services, IWbemClassObject* nodeClass, const WString& property,
                         const WString& keyword, const std::vector<Change>& changes, KeepRemoved keepRemoved,
                         WString& error, VrLogFile* undoSink, VrLogFile& log) {
  if (changes.empty()) return S_OK;
  std::shared_ptr<IWbemQualifierSet> qualifiers;
  HRESULT hr = nodeClass->GetPropertyQualifierSet(property.c_str(), &qualifiers);
  if (FAILED(hr) || !qualifiers) {
    ReportMessage(LoadMessage(MessageId::kQualifierSetGetFailed, property, HrText(FAILED(hr) ? hr : E_FAIL)), error, log);
    return E_FAIL;
  }
  std::vector<WString> values;
  std::vector<WString> valueMap;
  for (const Change& c : changes) {
    if (c.updateAction == ACTION_REMOVE && !keepRemoved(c)) continue;
    const bool from = c.updateAction == NO_CHANGE || c.updateAction == ACTION_REMOVE;
    values.push_back(from ? c.fromCaption : c.toCaption);
    valueMap.push_back(from ? c.fromValue : c.toValue);
  }
  Variant valuesArray;
  hr = BuildStringArray(values, valuesArray);
  if (FAILED(hr)) {
    ReportMessage(LoadMessage(MessageId::kValuesAccessFailed, HrText(hr)), error, log);
    return E_FAIL;
  }
  Variant valueMapArray;
  hr = BuildStringArray(valueMap, valueMapArray);
  if (FAILED(hr)) {
    ReportMessage(LoadMessage(MessageId::kValueMapAccessFailed, HrText(hr)), error, log);
    return E_FAIL;
  }
  hr = qualifiers->Put(u"Values", &valuesArray, kPropagateFlavour);
  if (FAILED(hr)) {
    ReportMessage(LoadMessage(MessageId::kValuesQualifierPutFailed, u"Values", property, HrText(hr)), error, log);
    return E_FAIL;
  }
  hr = qualifiers->Put(u"ValueMap", &valueMapArray, kPropagateFlavour);
  if (FAILED(hr)) {
    ReportMessage(LoadMessage(MessageId::kValueMapQualifierPutFailed, u"ValueMap", property, HrText(hr)), error, log);
    return E_FAIL;
  }
  if (FAILED(Commit(services, nodeClass, error, log))) return E_FAIL;
  VR_TRACE_INFO("Committed ", static_cast<unsigned>(values.size()), " entries of '", property, "' SUCCEEDED");
  // One commit wrote every entry: its lines reach the disk with one flush.
  VrLogFile::SyncBatch batch(undoSink);
  for (const Change& c : changes) {
    if (c.updateAction == ACTION_REMOVE) {
      if (!keepRemoved(c)) log.AppendLine(keyword + u" REMOVE " + c.fromValue + u" " + Quoted(c.fromCaption), true);
    } else if (const WString line = ValueUndoLine(keyword, c); !line.empty()) {
      WriteUndoLine(context, line, undoSink, log);
    }
  }
  return S_OK;
}

bool NeverKeep(const ModelValueChange&) { return false; }

}  // namespace

// A one-dimensional BSTR array of the strings, lower bound 0, filled through AccessData.
HRESULT BuildStringArray(const std::vector<WString>& strings, Variant& out) {
  CSafeArray array(SafeArrayCreateVector(VT_BSTR, 0, static_cast<uint32_t>(strings.size())));
  if (!array) return E_OUTOFMEMORY;
  Variant* data = nullptr;
  HRESULT hr = SafeArrayAccessData(array, &data);
  if (FAILED(hr)) return hr;
  for (size_t i = 0; i < strings.size(); ++i) data[i] = Variant(strings[i]);
  hr = SafeArrayUnaccessData(array);
  if (FAILED(hr)) return hr;
  out.AttachArray(array.Detach());
  return S_OK;
}

namespace WMIInteraction {

HRESULT UpdateOSTypeInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                          const std::vector<ModelValueChange>& changes, WString& error, VrLogFile* undoSink,
                          VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::UpdateOSTypeInWMI", "ModelUpdater\\PlatformModelApply",
                    vr::trace::kModelFlags);
  try {
    return WriteValueArrays(vrTraceFunction_, vrTraceFile_, context, services, nodeClass, u"OsType", u"OS-TYPE",
                            changes, NeverKeep, error, undoSink, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT UpdateOSVersionInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                             const std::vector<ModelValueChange>& changes, WString& error, VrLogFile* undoSink,
                             VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::UpdateOSVersionInWMI",
                    "ModelUpdater\\PlatformModelApply", vr::trace::kModelFlags);
  try {
    return WriteValueArrays(vrTraceFunction_, vrTraceFile_, context, services, nodeClass, u"OsVersion",
                            u"OS-VERSION", changes, NeverKeep, error, undoSink, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT UpdateCPUAndOSesInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                              const std::vector<CpuOsTypesChange>& changes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::UpdateCPUAndOSesInWMI",
                    "ModelUpdater\\PlatformModelApply", vr::trace::kModelFlags);
  try {
    if (changes.empty()) return S_OK;
    std::shared_ptr<IWbemQualifierSet> qualifiers;
    HRESULT hr = nodeClass->GetPropertyQualifierSet(u"SystemType", &qualifiers);
    if (FAILED(hr) || !qualifiers) {
      ReportMessage(LoadMessage(MessageId::kQualifierSetGetFailed, u"SystemType", HrText(FAILED(hr) ? hr : E_FAIL)), error, log);
      return E_FAIL;
    }
    const WString kLine = u"SYSTEM-TYPE-OS-TYPE ";
    for (const CpuOsTypesChange& c : changes) {
      if (c.updateAction == ACTION_REMOVE) {
        hr = qualifiers->Delete(c.fromCpuType.c_str());
        if (FAILED(hr)) {
          ReportMessage(LoadMessage(MessageId::kQualifierDeleteFailed, c.fromCpuType, u"SystemType", HrText(hr)), error, log);
          return E_FAIL;
        }
        if (FAILED(Commit(services, nodeClass, error, log))) return E_FAIL;
        for (const WString& os : c.fromOsTypes) log.AppendLine(kLine + u"REMOVE " + c.fromCpuType + u" " + os, true);
        log.AppendLine(kLine + u"REMOVE QUALIFIER " + c.fromCpuType, true);
        continue;
      }
      Variant list;
      hr = BuildStringArray(c.toOsTypes, list);
      if (FAILED(hr)) {
        ReportMessage(LoadMessage(MessageId::kOsesAccessFailed, HrText(hr)), error, log);
        return E_FAIL;
      }
      hr = qualifiers->Put(c.toCpuType.c_str(), &list, 0);
      if (FAILED(hr)) {
        ReportMessage(LoadMessage(MessageId::kQualifierPutFailed, c.toCpuType, u"SystemType", HrText(hr)), error, log);
        return E_FAIL;
      }
      if (c.updateAction == NO_CHANGE) continue;
      if (FAILED(Commit(services, nodeClass, error, log))) return E_FAIL;
      VrLogFile::SyncBatch batch(undoSink);
      for (const WString& line : CpuOsTypesUndoLines(c)) WriteUndoLine(context, line, undoSink, log);
      if (c.updateAction == ACTION_ADD) continue;
      std::unordered_set<WString> after;
      for (const WString& os : c.toOsTypes) after.insert(vr::text::ToLower(os));
      for (const WString& os : c.fromOsTypes)
        if (!after.count(vr::text::ToLower(os))) log.AppendLine(kLine + u"REMOVE " + c.fromCpuType + u" " + os, true);
    }
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT UpdateSystemTypeInWMI(const OperationContext& context, IWbemServices* services, IWbemClassObject* nodeClass,
                              const std::vector<SystemTypeChange>& systemTypes,
                              const std::vector<CpuOsTypesChange>& cpuOsTypes, WString& error, VrLogFile* undoSink,
                              VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::WMIInteraction::UpdateSystemTypeInWMI",
                    "ModelUpdater\\PlatformModelApply", vr::trace::kModelFlags);
  try {
    if (systemTypes.empty() && cpuOsTypes.empty()) return S_OK;
    if (!systemTypes.empty()) {
      // In unregistration a system type leaves only when its CPU type lost all its OS types.
      const bool uninstall = context.mode == OP_UNINSTALL;
      auto keep = [uninstall](const SystemTypeChange& c) { return uninstall && c.undoAction != ACTION_REMOVE; };
      if (FAILED(WriteValueArrays(vrTraceFunction_, vrTraceFile_, context, services, nodeClass, u"SystemType",
                                  u"SYSTEM-TYPE", systemTypes, keep, error, undoSink, log)))
        return E_FAIL;
    }
    return UpdateCPUAndOSesInWMI(context, services, nodeClass, cpuOsTypes, error, undoSink, log);
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace WMIInteraction

HRESULT RegisterUnregisterNewPlatforms(OperationContext& context, IWbemServices* services,
                                       IWbemClassObject* nodeClass, const PlatformModelChanges& changes,
                                       WString& error, VrLogFile* undoSink, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::RegisterUnregisterNewPlatforms", "ModelUpdater\\PlatformModelApply",
                    vr::trace::kModelFlags);
  try {
    const bool rollback = context.mode == OP_ROLLBACK;
    // A step that failed may have left uncommitted edits in the class object; in rollback the
    // next step starts from the class as WMI holds it, so that it cannot commit them.
    std::shared_ptr<IWbemClassObject> fresh;
    IWbemClassObject* current = nodeClass;
    bool failed = false;
    auto step = [&](HRESULT hr, const char* name) {
      if (SUCCEEDED(hr)) return true;
      VR_TRACE_ERROR(name, " FAILED");
      failed = true;
      if (!rollback) return false;
      fresh.reset();
      if (SUCCEEDED(GetClassObjectT(services, fresh, error, log))) current = fresh.get();
      return true;
    };
    if (!step(WMIInteraction::UpdateOSTypeInWMI(context, services, current, changes.osTypes, error, undoSink, log),
              "UpdateOSTypeInWMI"))
      return E_FAIL;
    if (!step(WMIInteraction::UpdateOSVersionInWMI(context, services, current, changes.osVersions, error, undoSink,
                                                   log),
              "UpdateOSVersionInWMI"))
      return E_FAIL;
    if (!step(WMIInteraction::UpdateSystemTypeInWMI(context, services, current, changes.systemTypes,
                                                    changes.cpuOsTypes, error, undoSink, log),
              "UpdateSystemTypeInWMI"))
      return E_FAIL;
    return failed ? E_FAIL : S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

void AppendRegistrationUndoLines(const PlatformModelChanges& changes, std::vector<WString>& lines) {
  // The order of the apply: OS types, OS versions, system types, then the CPU type qualifiers.
  for (const auto& c : changes.osTypes)
    if (WString line = ValueUndoLine(u"OS-TYPE", c); !line.empty()) lines.push_back(std::move(line));
  for (const auto& c : changes.osVersions)
    if (WString line = ValueUndoLine(u"OS-VERSION", c); !line.empty()) lines.push_back(std::move(line));
  for (const auto& c : changes.systemTypes)
    if (WString line = ValueUndoLine(u"SYSTEM-TYPE", c); !line.empty()) lines.push_back(std::move(line));
  for (const auto& c : changes.cpuOsTypes)
    for (WString& line : CpuOsTypesUndoLines(c)) lines.push_back(std::move(line));
}

}  // namespace PlatformOperations::PlatformModelOperations
