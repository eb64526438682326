// Reading a REG_SZ value of HKEY_LOCAL_MACHINE as the run and its sections do it.
#pragma once
#include "platform/text/wstring.h"

// False when the key or value is missing or not a string (each case traced).
bool ReadRegistryString(const WChar* key, const WChar* name, WString& text);
