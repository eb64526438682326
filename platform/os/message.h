// The system's message texts as FormatMessageW and LocalFree give them: the texts of
// vr::com::SystemMessage for Win32 error numbers and HRESULTs.
#pragma once
#include <string>

#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/text/wstring.h"

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD MAKELANGID(WORD primary, WORD sub) { return static_cast<WORD>((sub << 10) | primary); }
constexpr long ERROR_MR_MID_NOT_FOUND = 317;

using HLOCAL = void*;

// Only FORMAT_MESSAGE_FROM_SYSTEM is served. With FORMAT_MESSAGE_ALLOCATE_BUFFER, buffer is
// really a WChar** that receives a text to free with LocalFree; otherwise the text is copied
// into buffer (size units). messageId is a Win32 error number (up to 0xFFFF) or an HRESULT.
// Returns the text's length, or 0 with the last error set (317 when the system has no text).
// Point "os.FormatMessage" (usual failure 317), as last error.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD messageId, DWORD languageId, WChar* buffer, DWORD size,
                     void* arguments);
HLOCAL LocalFree(HLOCAL memory);

namespace vr::os {
// The system's text of a Win32 error for the host's own messages, in UTF-8 without a line end:
// "The system cannot find the file specified."; "error N" when the system has none.
std::string ErrorReason(long win32Error);
}  // namespace vr::os
