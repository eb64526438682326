// The Windows integer types the system's interfaces are written in.
#pragma once
#include <cstdint>

using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using HANDLE = void*;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
