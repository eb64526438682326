// Case-insensitive comparison and casing of UTF-16 text: simple case mapping of the Basic
// Multilingual Plane, exact for ASCII. Every case-insensitive compare in the system uses these.
#pragma once
#include "platform/text/wstring.h"

namespace vr::text {

WChar ToUpperChar(WChar c);
WChar ToLowerChar(WChar c);
WString ToUpper(WStringView s);
WString ToLower(WStringView s);
// <0, 0, >0 like wcsicmp: both sides folded to lower case, then compared by code unit.
int CompareNoCase(WStringView a, WStringView b);
bool EqualsNoCase(WStringView a, WStringView b);
// Case-insensitive search; npos when absent.
size_t FindNoCase(WStringView hay, WStringView needle, size_t from = 0);

}  // namespace vr::text
