// Status codes: HRESULT and the Win32 error codes the host services return, with the values
// the Windows SDK gives them.
//
// Folder platform/com, library vr_com: host layer of status codes, BSTR, VARIANT, SAFEARRAY and
// their owners, error information and the COM runtime; uses platform/text and platform/fault.
#pragma once
#include <cstdint>

#include "platform/com/types.h"

using HRESULT = int32_t;

constexpr HRESULT MakeHr(uint32_t v) { return static_cast<HRESULT>(v); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
// A Win32 error e > 0 becomes 0x8007xxxx; zero and negative values are kept.
constexpr HRESULT HRESULT_FROM_WIN32(long e) {
  return e > 0 ? MakeHr(0x80070000u | (static_cast<uint32_t>(e) & 0xFFFFu)) : static_cast<HRESULT>(e);
}
constexpr uint32_t HRESULT_FACILITY(HRESULT hr) { return (static_cast<uint32_t>(hr) >> 16) & 0x1FFF; }
constexpr uint32_t HRESULT_CODE(HRESULT hr) { return static_cast<uint32_t>(hr) & 0xFFFF; }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
constexpr HRESULT E_POINTER = MakeHr(0x80004003);
constexpr HRESULT E_ABORT = MakeHr(0x80004004);
constexpr HRESULT E_FAIL = MakeHr(0x80004005);
constexpr HRESULT E_ACCESSDENIED = MakeHr(0x80070005);
constexpr HRESULT E_HANDLE = MakeHr(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHr(0x80020005);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008);
constexpr HRESULT DISP_E_OVERFLOW = MakeHr(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MakeHr(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHr(0x8002000D);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHr(0x800401F0);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHr(0x80010106);
constexpr HRESULT RPC_E_TOO_LATE = MakeHr(0x80010119);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);

// Win32 error codes.
constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_PATH_NOT_FOUND = 3;
constexpr long ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr long ERROR_INVALID_DATA = 13;
constexpr long ERROR_OUTOFMEMORY = 14;
constexpr long ERROR_INVALID_DRIVE = 15;
constexpr long ERROR_WRITE_FAULT = 29;
constexpr long ERROR_READ_FAULT = 30;
constexpr long ERROR_GEN_FAILURE = 31;
constexpr long ERROR_SHARING_VIOLATION = 32;
constexpr long ERROR_LOCK_VIOLATION = 33;
constexpr long ERROR_HANDLE_EOF = 38;
constexpr long ERROR_HANDLE_DISK_FULL = 39;
constexpr long ERROR_NOT_SUPPORTED = 50;
constexpr long ERROR_BAD_NETPATH = 53;
constexpr long ERROR_FILE_EXISTS = 80;
constexpr long ERROR_INVALID_PARAMETER = 87;
constexpr long ERROR_BROKEN_PIPE = 109;
constexpr long ERROR_BUFFER_OVERFLOW = 111;
constexpr long ERROR_DISK_FULL = 112;
constexpr long ERROR_INSUFFICIENT_BUFFER = 122;
constexpr long ERROR_INVALID_NAME = 123;
constexpr long ERROR_DIR_NOT_EMPTY = 145;
constexpr long ERROR_BUSY = 170;
constexpr long ERROR_BAD_ARGUMENTS = 160;
constexpr long ERROR_ALREADY_EXISTS = 183;
constexpr long ERROR_BAD_EXE_FORMAT = 193;
constexpr long ERROR_FILENAME_EXCED_RANGE = 206;
constexpr long ERROR_MORE_DATA = 234;
constexpr long ERROR_WAIT_TIMEOUT = 258;
constexpr long ERROR_NO_MORE_ITEMS = 259;
constexpr long ERROR_DIRECTORY = 267;
constexpr long ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr long ERROR_BADDB = 1009;
constexpr long ERROR_BADKEY = 1010;
constexpr long ERROR_CANTOPEN = 1011;
constexpr long ERROR_CANTREAD = 1012;
constexpr long ERROR_CANTWRITE = 1013;
constexpr long ERROR_REGISTRY_CORRUPT = 1015;
constexpr long ERROR_KEY_DELETED = 1018;
constexpr long ERROR_NOT_FOUND = 1168;
constexpr long ERROR_TIMEOUT = 1460;
constexpr long ERROR_CLUSTER_NODE_NOT_FOUND = 5042;
constexpr long ERROR_CLUSTER_GROUP_NOT_FOUND = 5013;
constexpr long ERROR_CLUSTER_NOT_INSTALLED = 5073;

namespace vr::com {
// The system's text of a status code, as the operating system's message table gives it;
// empty when the system has no text for it.
const char16_t* SystemMessage(HRESULT hr);
}  // namespace vr::com
