// The system classes every namespace has: the namespace, provider and registration classes,
// the event roots, and __ExtendedStatus, the error object of failed calls. They are read-only
// and not stored in the repository; instances of them are.
#pragma once
#include <memory>
#include <vector>

#include "platform/wmi/object_model.h"

namespace vr::wmi {

// Null when name is not a system class.
std::shared_ptr<const ResolvedClass> SystemClass(WStringView name);
// All of them, every class after its superclass.
const std::vector<std::shared_ptr<const ResolvedClass>>& SystemClasses();

}  // namespace vr::wmi
