// HKEY_LOCAL_MACHINE, with the Win32 calls the programs make and their error codes
// (2 not found, 5 access denied, 234 more data, 259 no more items). Key and value names are
// case-insensitive and case-preserving. The hive lives in the host root; every change is
// durable when the call returns.
//
// Folder platform/registry, library vr_registry: host layer of HKEY_LOCAL_MACHINE (hive, calls,
// key owners, .reg text, product key names); uses platform/sqlite, os, com, text and fault.
#pragma once
#include "platform/com/hresult.h"
#include "platform/com/types.h"
#include "platform/text/wstring.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;
using REGSAM = DWORD;

extern const HKEY HKEY_LOCAL_MACHINE;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

LONG RegConnectRegistryW(const WChar* machineName, HKEY key, HKEY* result);
LONG RegOpenKeyExW(HKEY key, const WChar* subKey, DWORD options, REGSAM sam, HKEY* result);
LONG RegCreateKeyExW(HKEY key, const WChar* subKey, DWORD reserved, WChar* keyClass, DWORD options,
                     REGSAM sam, void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);
// data == nullptr asks for the size; a buffer too small gives ERROR_MORE_DATA with the size.
LONG RegQueryValueExW(HKEY key, const WChar* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* cbData);
LONG RegSetValueExW(HKEY key, const WChar* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD cbData);
LONG RegDeleteValueW(HKEY key, const WChar* valueName);
// Deletes a key without subkeys (ERROR_ACCESS_DENIED when it has some, as Win32 does).
LONG RegDeleteKeyW(HKEY key, const WChar* subKey);
LONG RegEnumKeyExW(HKEY key, DWORD index, WChar* name, DWORD* cchName, DWORD* reserved,
                   WChar* keyClass, DWORD* cchClass, void* lastWriteTime);
LONG RegEnumValueW(HKEY key, DWORD index, WChar* valueName, DWORD* cchValueName, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* cbData);
LONG RegQueryInfoKeyW(HKEY key, WChar* keyClass, DWORD* cchClass, DWORD* reserved, DWORD* subKeys,
                      DWORD* maxSubKeyLen, DWORD* maxClassLen, DWORD* values, DWORD* maxValueNameLen,
                      DWORD* maxValueLen, DWORD* securityDescriptor, void* lastWriteTime);

namespace vr::registry {

// The text of string data (REG_SZ, REG_EXPAND_SZ): up to its first NUL, or all of it when it
// was stored without one; an odd last byte is no character. The one reading of such data.
WString StringFromData(const BYTE* data, size_t size);

// A string value of HKEY_LOCAL_MACHINE, read in two steps (size and type, then the data):
// ERROR_INVALID_DATA when it is not REG_SZ (or REG_EXPAND_SZ, when allowExpand); the Win32
// error of the failing call otherwise. The key is closed on every path.
LONG ReadStringValue(const WChar* key, const WChar* name, WString& out, bool allowExpand = false);

}  // namespace vr::registry
