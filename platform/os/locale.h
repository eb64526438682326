// The user's locale as the programs see it.
#pragma once
#include <cstdint>

#include "platform/text/wstring.h"

namespace vr::os {

using LANGID = uint16_t;
// From LC_ALL, LC_MESSAGES or LANG: ja 0x411, ko 0x412, zh_CN 0x804, anything else 0x409.
LANGID GetUserDefaultLangId();
// "," or ";" where the locale's decimal separator is ",". False only when fault injection
// says the locale cannot be read.
bool GetListSeparator(WString& out);

}  // namespace vr::os
