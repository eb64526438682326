// Small registry writers of vrhost over the Win32-shaped calls. Results are Win32 errors.
#pragma once
#include <string>

#include "platform/com/types.h"
#include "platform/text/wstring.h"

namespace vrhost {

long CreateKey(const WString& key);
long SetValue(const WString& key, const WString& name, DWORD type, const std::string& data);
long SetString(const WString& key, const WString& name, const WString& text);
long SetDword(const WString& key, const WString& name, DWORD value);
// Text of a Win32 error for messages: "error 2 (The system cannot find the file specified.)".
std::string ErrorText(long code);

}  // namespace vrhost
