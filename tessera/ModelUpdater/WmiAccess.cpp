// The connection to the product namespace, the model check and the qualifier-vector reading
// that every platform operation stands on.
#include "tessera/ModelUpdater/WmiAccess.h"

#include "platform/com/runtime.h"
#include "platform/text/format.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/Messages.h"
#include "tessera/TesseraTrace.h"

using vr::msg::LoadMessage;
using vr::msg::MessageId;

namespace PlatformOperations {

void ReportMessage(const WString& message, WString& error, VrLogFile& log) {
  error += message;
  log.AppendLine(message, true);
}

WString HrText(HRESULT hr) { return vr::text::Format(u"0x%08X", static_cast<uint32_t>(hr)); }

ComScope::ComScope() { initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
ComScope::~ComScope() {
  if (initialised_) CoUninitialize();
}

HRESULT ConnectToWmi(std::shared_ptr<IWbemServices>* services) {
  VR_TRACE_FUNCTION("PlatformOperations::ConnectToWmi", "ModelUpdater\\WmiAccess", vr::trace::kModelFlags);
  try {
    if (!services || *services) {
      VR_TRACE_ERROR("The services pointer must be given and empty FAILED");
      return E_FAIL;
    }
    std::shared_ptr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator, &unknown);
    std::shared_ptr<IWbemLocator> locator = std::dynamic_pointer_cast<IWbemLocator>(unknown);
    if (FAILED(hr) || !locator) {
      VR_TRACE_FAILURE("CoCreateInstance(CLSID_WbemLocator)", hr);
      return E_FAIL;
    }
    VR_TRACE_INFO("CoCreateInstance(CLSID_WbemLocator) SUCCEEDED");
    std::shared_ptr<IWbemServices> connection;
    CBstr resource(kVorantNamespace);
    hr = locator->ConnectServer(resource.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, &connection);
    if (FAILED(hr) || !connection) {
      VR_TRACE_FAILURE("IWbemLocator::ConnectServer", hr);
      return E_FAIL;
    }
    VR_TRACE_INFO("IWbemLocator::ConnectServer SUCCEEDED");
    hr = CoSetProxyBlanket(connection.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
      VR_TRACE_FAILURE("CoSetProxyBlanket", hr);
      return E_FAIL;
    }
    VR_TRACE_INFO("CoSetProxyBlanket SUCCEEDED");
    *services = std::move(connection);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

namespace PlatformModelOperations {

HRESULT GetClassObjectT(IWbemServices* services, std::shared_ptr<IWbemClassObject>& nodeClass, WString& error,
                        VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformModelOperations::GetClassObjectT", "ModelUpdater\\WmiAccess", vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemClassObject> found;
    const HRESULT hr = services->GetObject(u"VR_ManagedNode", 0, nullptr, &found, nullptr);
    if (FAILED(hr) || !found) {
      VR_TRACE_ERROR("IWbemServices::GetObject(VR_ManagedNode) hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kManagedNodeGetFailed, HrText(FAILED(hr) ? hr : E_FAIL)), error, log);
      return E_FAIL;
    }
    VR_TRACE_INFO("IWbemServices::GetObject(VR_ManagedNode) SUCCEEDED");
    nodeClass = std::move(found);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformModelOperations

HRESULT CheckIfWMIModelIsValid(IWbemServices* services, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::CheckIfWMIModelIsValid", "ModelUpdater\\WmiAccess",
                    vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemClassObject> nodeClass;
    if (FAILED(PlatformModelOperations::GetClassObjectT(services, nodeClass, error, log))) {
      ReportMessage(LoadMessage(MessageId::kWmiClassMissing, u"VR_ManagedNode"), error, log);
      return E_FAIL;
    }
    for (const char16_t* name : {u"VR_PlatformMatch", u"VR_NodeGroup", u"VR_NodeGroupMember"}) {
      std::shared_ptr<IEnumWbemClassObject> enumerator;
      const HRESULT hr = services->CreateInstanceEnum(name, 0, nullptr, &enumerator);
      enumerator.reset();
      if (hr != S_OK) {
        VR_TRACE_ERROR("IWbemServices::CreateInstanceEnum(", name, ") hr = '", vr::trace::Hr(hr), "'");
        ReportMessage(LoadMessage(MessageId::kWmiClassMissing, name), error, log);
        return E_FAIL;
      }
      VR_TRACE_INFO("IWbemServices::CreateInstanceEnum(", name, ") SUCCEEDED");
    }
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT GetQualifierVector(IWbemQualifierSet* qualifiers, const WString& property, const WString& qualifier,
                           std::vector<WString>& out, WString& error, VrLogFile& log, bool allowMissing) {
  VR_TRACE_FUNCTION("PlatformOperations::GetQualifierVector", "ModelUpdater\\WmiAccess", vr::trace::kModelFlags);
  try {
    VARIANT value;
    HRESULT hr = qualifiers->Get(qualifier.c_str(), 0, &value, nullptr);
    if (FAILED(hr)) {
      if (allowMissing && hr == WBEM_E_NOT_FOUND) {
        VR_TRACE_INFO("Qualifier '", qualifier, "' of '", property, "' is missing; allowed");
        return S_FALSE;
      }
      VR_TRACE_ERROR("IWbemQualifierSet::Get(", qualifier, ") hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kQualifierMissing, qualifier, HrText(hr), property, qualifier), error, log);
      return hr;
    }
    if (value.vt != (VT_ARRAY | VT_BSTR)) {
      VR_TRACE_ERROR("Qualifier '", qualifier, "' is no array of strings FAILED");
      ReportMessage(LoadMessage(MessageId::kQualifierNotStringArray, qualifier, property), error, log);
      return E_FAIL;
    }
    SAFEARRAY* array = value.parray();
    if (!array) {
      VR_TRACE_ERROR("Qualifier '", qualifier, "' holds a null array FAILED");
      ReportMessage(LoadMessage(MessageId::kQualifierArrayNull, qualifier, property), error, log);
      return E_FAIL;
    }
    const uint32_t dims = SafeArrayGetDim(array);
    if (dims != 1) {
      VR_TRACE_ERROR("Qualifier '", qualifier, "' has ", dims, " dimensions FAILED");
      ReportMessage(LoadMessage(MessageId::kQualifierArrayDimensions, qualifier, property, dims), error, log);
      return E_FAIL;
    }
    int32_t lower = 0;
    hr = SafeArrayGetLBound(array, 1, &lower);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("SafeArrayGetLBound hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kSafeArrayLowerBoundFailed, HrText(hr)), error, log);
      return hr;
    }
    if (lower != 0) {
      VR_TRACE_ERROR("Qualifier '", qualifier, "' has lower bound ", static_cast<int>(lower), " FAILED");
      ReportMessage(LoadMessage(MessageId::kQualifierArrayLowerBound, qualifier, property, static_cast<int>(lower)), error, log);
      return E_FAIL;
    }
    int32_t upper = -1;
    hr = SafeArrayGetUBound(array, 1, &upper);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("SafeArrayGetUBound hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kSafeArrayUpperBoundFailed, HrText(hr)), error, log);
      return hr;
    }
    Variant* data = nullptr;
    hr = SafeArrayAccessData(array, &data);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("SafeArrayAccessData hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kSafeArrayUnaccessFailed, HrText(hr)), error, log);
      return hr;
    }
    std::vector<WString> copied;
    copied.reserve(static_cast<size_t>(upper + 1));
    for (int32_t i = 0; i <= upper; ++i) copied.push_back(data[i].bstrVal);
    hr = SafeArrayUnaccessData(array);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("SafeArrayUnaccessData hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kSafeArrayUnaccessFailed, HrText(hr)), error, log);
      return hr;
    }
    VR_TRACE_INFO("Qualifier '", qualifier, "' of '", property, "' read with ", static_cast<unsigned>(copied.size()),
                  " entries SUCCEEDED");
    out = std::move(copied);
    VariantClear(&value);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

HRESULT LoadValuesAndValueMap(IWbemClassObject* nodeClass, const WString& property,
                              std::shared_ptr<IWbemQualifierSet>& qualifiers, std::vector<WString>& values,
                              std::vector<WString>& valueMap, WString& error, VrLogFile& log) {
  VR_TRACE_FUNCTION("PlatformOperations::LoadValuesAndValueMap", "ModelUpdater\\WmiAccess",
                    vr::trace::kModelFlags);
  try {
    std::shared_ptr<IWbemQualifierSet> set;
    HRESULT hr = nodeClass->GetPropertyQualifierSet(property.c_str(), &set);
    if (FAILED(hr) || !set) {
      if (SUCCEEDED(hr)) hr = E_FAIL;
      VR_TRACE_ERROR("IWbemClassObject::GetPropertyQualifierSet(", property, ") hr = '", vr::trace::Hr(hr), "'");
      ReportMessage(LoadMessage(MessageId::kPropertyQualifierSetFailed, property, HrText(hr)), error, log);
      return hr;
    }
    std::vector<WString> v;
    std::vector<WString> m;
    hr = GetQualifierVector(set.get(), property, u"Values", v, error, log, false);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    hr = GetQualifierVector(set.get(), property, u"ValueMap", m, error, log, false);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    if (v.size() != m.size()) {
      VR_TRACE_ERROR("Values and ValueMap of '", property, "' differ in length FAILED");
      ReportMessage(LoadMessage(MessageId::kQualifierCountsDiffer, property, u"Values", static_cast<unsigned>(v.size()), u"ValueMap",
                                static_cast<unsigned>(m.size())),
                    error, log);
      return E_FAIL;
    }
    qualifiers = std::move(set);
    values = std::move(v);
    valueMap = std::move(m);
    return S_OK;
  } catch (...) {
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);
    return E_FAIL;
  }
}

}  // namespace PlatformOperations
