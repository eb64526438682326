// The WQL the repository answers: SELECT * FROM class [WHERE property = value [AND ...]].
// Keywords are case-insensitive; values are quoted strings ('...' or "...", backslash escapes
// the quote and itself), integers, TRUE, FALSE or NULL.
#pragma once
#include <vector>

#include "platform/com/hresult.h"
#include "platform/text/wstring.h"

namespace vr::wmi {

struct WqlCondition {
  WString property;
  enum class Kind { kString, kNumber, kBoolean, kNull } kind = Kind::kString;
  WString text;  // unescaped string, number text, "TRUE"/"FALSE"
};

struct WqlQuery {
  WString className;
  std::vector<WqlCondition> conditions;  // all must hold
};

// WBEM_E_INVALID_QUERY with a description of the first problem in why.
HRESULT ParseWql(WStringView text, WqlQuery* out, WString* why);

}  // namespace vr::wmi
