// The stored form of an instance: its non-null property values by name, and the qualifiers
// the instance carries of its own. Values are matched to the class by name when read back, so
// an instance survives the addition or removal of other properties of its class.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "platform/wmi/object_model.h"

namespace vr::wmi {

struct InstanceRecord {
  std::shared_ptr<const ResolvedClass> cls;
  std::vector<Variant> values;  // one per cls->properties entry; VT_NULL for null
  QualifierList qualifiers;     // the instance's own qualifiers
  std::vector<std::pair<WString, QualifierList>> propertyQualifiers;  // own, per property
};

std::string EncodeInstance(const InstanceRecord& rec);
// Fills values from the class defaults and overwrites them with the stored ones.
// WBEM_E_INVALID_STREAM when the bytes are damaged.
HRESULT DecodeInstance(const void* data, size_t size, std::shared_ptr<const ResolvedClass> cls,
                       InstanceRecord* out);

}  // namespace vr::wmi
