#include "tessera/ModelUpdater/MatchGroupsSupport.h"

#include "platform/text/format.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace PlatformOperations::MatchGroupsSupport {

namespace {

constexpr long kNextTimeoutMs = 20000;

// The text a value shows in a message: strings as they are, integers in decimal.
WString ValueText(const Variant& v) {
  if (v.vt == VT_BSTR) return v.bstrVal;
  Variant text;
  if (SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR))) return text.bstrVal;
  return WString();
}

}  // namespace

WString HrText(HRESULT hr) { return vr::text::Format(u"0x%08X", static_cast<uint32_t>(hr)); }

void Report(WString& error, VrLogFile& log, const WString& message) {
  error += message;
  log.AppendLine(message, true);
}

HRESULT ForEachInstance(IWbemServices* services, const WChar* className,
                        const std::function<HRESULT(IWbemClassObject&)>& visit, WString& error,
                        VrLogFile& log, size_t* count) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::ForEachInstance", "ModelUpdater\\MatchGroupsSupport",
                    vr::trace::kModelFlags);
  std::shared_ptr<IEnumWbemClassObject> instances;
  HRESULT hr = services->CreateInstanceEnum(className, 0, nullptr, &instances);
  if (FAILED(hr) || !instances) {
    if (SUCCEEDED(hr)) hr = E_FAIL;
    VR_TRACE_FAILURE("IWbemServices::CreateInstanceEnum(", WString(className), ")", hr);
    Report(error, log, LoadMessage(MessageId::kWmiInstanceEnumFailed, HrText(hr)));
    return E_FAIL;
  }
  VR_TRACE_INFO("IWbemServices::CreateInstanceEnum(", WString(className), ") SUCCEEDED");
  size_t read = 0;
  for (;;) {
    std::shared_ptr<IWbemClassObject> object;
    ULONG returned = 0;
    hr = instances->Next(kNextTimeoutMs, 1, &object, &returned);
    if (hr == WBEM_S_NO_ERROR && returned == 1 && object) {
      if (const HRESULT visited = visit(*object); FAILED(visited)) return visited;
      ++read;
      continue;
    }
    if (hr == WBEM_S_FALSE && returned == 0) break;
    // A failure or a time-out: the rest of the instances is unknown.
    if (hr == WBEM_S_NO_ERROR) hr = E_FAIL;
    VR_TRACE_FAILURE("IEnumWbemClassObject::Next(", WString(className), ")", hr);
    Report(error, log, LoadMessage(MessageId::kWmiInstanceEnumFailed, HrText(hr)));
    return E_FAIL;
  }
  VR_TRACE_INFO("Read ", static_cast<unsigned long>(read), " instances of ", WString(className), ".");
  if (count) *count = read;
  return S_OK;
}

HRESULT ReadString(IWbemClassObject& object, const WChar* property, WString& value, WString& error,
                   VrLogFile& log) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::ReadString", "ModelUpdater\\MatchGroupsSupport", vr::trace::kModelFlags);
  Variant v;
  HRESULT hr = object.Get(property, 0, &v, nullptr, nullptr);
  if (SUCCEEDED(hr)) {
    if (v.vt == VT_BSTR) {
      value = v.bstrVal;
      return S_OK;
    }
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) {
      value.clear();
      return S_OK;
    }
    hr = DISP_E_TYPEMISMATCH;
  }
  VR_TRACE_FAILURE("IWbemClassObject::Get(", WString(property), ")", hr);
  Report(error, log, LoadMessage(MessageId::kWmiGetFailed, property, ValueText(v), HrText(hr)));
  return E_FAIL;
}

HRESULT ReadInt(IWbemClassObject& object, const WChar* property, int32_t& value, WString& error,
                VrLogFile& log) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::ReadInt", "ModelUpdater\\MatchGroupsSupport", vr::trace::kModelFlags);
  Variant v;
  HRESULT hr = object.Get(property, 0, &v, nullptr, nullptr);
  if (SUCCEEDED(hr)) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) {
      value = 0;
      return S_OK;
    }
    Variant n;
    hr = VariantChangeType(&n, &v, 0, VT_I4);
    if (SUCCEEDED(hr)) {
      value = n.lVal;
      return S_OK;
    }
  }
  VR_TRACE_FAILURE("IWbemClassObject::Get(", WString(property), ")", hr);
  Report(error, log, LoadMessage(MessageId::kWmiGetFailed, property, ValueText(v), HrText(hr)));
  return E_FAIL;
}

HRESULT WriteString(IWbemClassObject& instance, const WChar* property, const WString& value,
                    WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::WriteString", "ModelUpdater\\MatchGroupsSupport", vr::trace::kModelFlags);
  Variant v(value);
  if (const HRESULT hr = instance.Put(property, 0, &v, 0); FAILED(hr)) {
    VR_TRACE_FAILURE("IWbemClassObject::Put(", WString(property), ")", hr);
    Report(error, log, LoadMessage(MessageId::kWmiPutFailed, property, value, HrText(hr)));
    return E_FAIL;
  }
  return S_OK;
}

HRESULT WriteInt(IWbemClassObject& instance, const WChar* property, int32_t value, WString& error,
                 VrLogFile& log) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::WriteInt", "ModelUpdater\\MatchGroupsSupport", vr::trace::kModelFlags);
  Variant v(value);
  if (const HRESULT hr = instance.Put(property, 0, &v, 0); FAILED(hr)) {
    VR_TRACE_FAILURE("IWbemClassObject::Put(", WString(property), ")", hr);
    Report(error, log, LoadMessage(MessageId::kWmiPutFailed, property, static_cast<int>(value), HrText(hr)));
    return E_FAIL;
  }
  return S_OK;
}

HRESULT SpawnInstanceOf(IWbemServices* services, const WChar* className,
                        std::shared_ptr<IWbemClassObject>& instance, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::SpawnInstanceOf", "ModelUpdater\\MatchGroupsSupport",
                    vr::trace::kModelFlags);
  std::shared_ptr<IWbemClassObject> cls;
  HRESULT hr = services->GetObject(className, 0, nullptr, &cls, nullptr);
  if (FAILED(hr) || !cls) {
    if (SUCCEEDED(hr)) hr = E_FAIL;
    VR_TRACE_FAILURE("IWbemServices::GetObject(", WString(className), ")", hr);
    Report(error, log, LoadMessage(MessageId::kWmiGetObjectFailed, className, HrText(hr)));
    return E_FAIL;
  }
  std::shared_ptr<IWbemClassObject> spawned;
  hr = cls->SpawnInstance(0, &spawned);
  if (FAILED(hr) || !spawned) {
    if (SUCCEEDED(hr)) hr = E_FAIL;
    VR_TRACE_FAILURE("IWbemClassObject::SpawnInstance(", WString(className), ")", hr);
    Report(error, log, LoadMessage(MessageId::kWmiSpawnInstanceFailed, className, HrText(hr)));
    return E_FAIL;
  }
  instance = std::move(spawned);
  return S_OK;
}

HRESULT PutNewInstance(IWbemServices* services, IWbemClassObject& instance, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::PutNewInstance", "ModelUpdater\\MatchGroupsSupport", vr::trace::kModelFlags);
  if (const HRESULT hr = services->PutInstance(&instance, 0, nullptr, nullptr); FAILED(hr)) {
    VR_TRACE_FAILURE("IWbemServices::PutInstance", hr);
    // The catalogue text of 3026 carries no insert; the code is in the trace.
    Report(error, log, LoadMessage(MessageId::kWmiPutInstanceFailed));
    return E_FAIL;
  }
  VR_TRACE_INFO("IWbemServices::PutInstance SUCCEEDED");
  return S_OK;
}

HRESULT DeleteInstanceAt(IWbemServices* services, const WString& path, WString& error, VrLogFile& log,
                         bool reportNotFound) {
  VR_TRACE_FUNCTION("MatchGroupsSupport::DeleteInstanceAt", "ModelUpdater\\MatchGroupsSupport",
                    vr::trace::kModelFlags);
  const HRESULT hr = services->DeleteInstance(path.c_str(), 0, nullptr, nullptr);
  if (FAILED(hr)) {
    VR_TRACE_FAILURE("IWbemServices::DeleteInstance(", path, ")", hr);
    if (hr != WBEM_E_NOT_FOUND || reportNotFound) Report(error, log, LoadMessage(MessageId::kWmiDeleteInstanceFailed, path, HrText(hr)));
    return hr;
  }
  VR_TRACE_INFO("IWbemServices::DeleteInstance(", path, ") SUCCEEDED");
  return S_OK;
}

WString QuotedKey(WStringView value) {
  WString r(1, u'"');
  for (WChar c : value) {
    if (c == u'"' || c == u'\\') r += u'\\';
    r += c;
  }
  r += u'"';
  return r;
}

}  // namespace PlatformOperations::MatchGroupsSupport
