#include "platform/wmi/extended_status.h"

#include "platform/com/errorinfo.h"
#include "platform/wmi/sqlite_store.h"
#include "platform/wmi/system_classes.h"
#include "platform/wmi/wbem_object.h"

namespace vr::wmi {

WString WbemStatusText(HRESULT hr) {
  struct Entry { HRESULT hr; const char16_t* text; };
  static const Entry kTexts[] = {
      {WBEM_E_FAILED, u"Generic failure"},
      {WBEM_E_NOT_FOUND, u"Not found"},
      {WBEM_E_ACCESS_DENIED, u"Access denied"},
      {WBEM_E_TYPE_MISMATCH, u"Type mismatch"},
      {WBEM_E_OUT_OF_MEMORY, u"Out of memory"},
      {WBEM_E_INVALID_PARAMETER, u"Invalid parameter"},
      {WBEM_E_CRITICAL_ERROR, u"Critical error"},
      {WBEM_E_INVALID_STREAM, u"Invalid stream"},
      {WBEM_E_NOT_SUPPORTED, u"Not supported"},
      {WBEM_E_INVALID_SUPERCLASS, u"Invalid superclass"},
      {WBEM_E_INVALID_NAMESPACE, u"Invalid namespace"},
      {WBEM_E_INVALID_OBJECT, u"Invalid object"},
      {WBEM_E_INVALID_CLASS, u"Invalid class"},
      {WBEM_E_INVALID_OPERATION, u"Invalid operation"},
      {WBEM_E_INVALID_QUERY, u"Invalid query"},
      {WBEM_E_INVALID_QUERY_TYPE, u"Invalid query type"},
      {WBEM_E_ALREADY_EXISTS, u"Already exists"},
      {WBEM_E_OVERRIDE_NOT_ALLOWED, u"Override not allowed"},
      {WBEM_E_PROPAGATED_QUALIFIER, u"Propagated qualifier"},
      {WBEM_E_PROPAGATED_PROPERTY, u"Propagated property"},
      {WBEM_E_CANNOT_BE_KEY, u"Cannot be key"},
      {WBEM_E_INCOMPLETE_CLASS, u"Incomplete class"},
      {WBEM_E_READ_ONLY, u"Read-only"},
      {WBEM_E_CLASS_HAS_CHILDREN, u"Class has children"},
      {WBEM_E_CLASS_HAS_INSTANCES, u"Class has instances"},
      {WBEM_E_ILLEGAL_NULL, u"Illegal null value"},
      {WBEM_E_INVALID_QUALIFIER_TYPE, u"Invalid qualifier type"},
      {WBEM_E_INVALID_PROPERTY_TYPE, u"Invalid property type"},
      {WBEM_E_INVALID_PROPERTY, u"Invalid property"},
      {WBEM_E_INVALID_OBJECT_PATH, u"Invalid object path"},
      {WBEM_E_OUT_OF_DISK_SPACE, u"Out of disk space"},
      {kWmiDiskFull, u"There is not enough space on the disk."},
      {WBEM_E_INVALID_QUALIFIER, u"Invalid qualifier"},
      {WBEM_E_SERVER_TOO_BUSY, u"Server too busy"},
      {WBEM_E_INVALID_FLAVOR, u"Invalid flavor"},
      {WBEM_E_CIRCULAR_REFERENCE, u"Circular reference"},
      {WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE, u"Cannot change key inheritance"},
      {WBEM_E_LOCAL_CREDENTIALS, u"User credentials cannot be used for local connections"},
  };
  for (const auto& e : kTexts)
    if (e.hr == hr) return e.text;
  return u"The call failed";
}

std::shared_ptr<IWbemClassObject> MakeExtendedStatus(HRESULT hr, WStringView operation, WStringView parameterInfo,
                                                     WStringView description) {
  InstanceRecord rec;
  rec.cls = SystemClass(u"__ExtendedStatus");
  rec.values.assign(rec.cls->properties.size(), Variant::Null());
  auto set = [&](const char16_t* name, Variant v) {
    const int at = rec.cls->FindProperty(name);
    if (at >= 0) rec.values[static_cast<size_t>(at)] = std::move(v);
  };
  set(u"StatusCode", Variant(static_cast<int32_t>(hr)));
  set(u"Operation", Variant(WString(operation)));
  set(u"ParameterInfo", Variant(WString(parameterInfo)));
  set(u"Description", Variant(description.empty() ? WbemStatusText(hr) : WString(description)));
  set(u"ProviderName", Variant(WString(u"WinMgmt")));
  return WbemObject::FromInstance(std::move(rec), ObjectLocation());
}

void SetExtendedStatus(HRESULT hr, WStringView operation, WStringView parameterInfo, WStringView description) {
  auto info = std::make_shared<ErrorInfo>();
  info->description = description.empty() ? WbemStatusText(hr) : WString(description);
  info->source = u"WinMgmt";
  info->guid = IID_IWbemServices;
  info->object = MakeExtendedStatus(hr, operation, parameterInfo, description);
  SetErrorInfo(0, std::move(info));
}

}  // namespace vr::wmi
