// The calling thread's last error, as the Win32-shaped calls that report failure by their
// result alone (BOOL, a null handle, a state) leave it: GetLastError reads it, SetLastError sets it.
#pragma once
#include "platform/com/types.h"

DWORD GetLastError();
void SetLastError(DWORD error);
