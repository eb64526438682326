// The local computer's name, as the Windows calls give it: upper case, at most 15 characters
// (the NetBIOS name). It comes from VR_COMPUTER_NAME when that is set (a test or a demo host
// can pose as a given cluster node), else from the host name up to its first full stop.
#pragma once
#include "platform/com/types.h"
#include "platform/text/wstring.h"

constexpr DWORD MAX_COMPUTERNAME_LENGTH = 15;

// GetComputerNameW shape: *size is the buffer's size in characters on entry; on success the
// name's length without the terminator. A buffer too small gives FALSE with last error
// ERROR_BUFFER_OVERFLOW and *size the characters needed, terminator included.
// Point "os.GetComputerName" (usual failure ERROR_ACCESS_DENIED), as last error.
BOOL GetComputerNameW(WChar* buffer, DWORD* size);

namespace vr::os {
// The same name without the fault point; empty when the host name cannot be read.
WString ComputerName();
}  // namespace vr::os
