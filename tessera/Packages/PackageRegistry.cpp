// The registry functions of the package bookkeeping, each traced step by step.
#include "tessera/Packages/PackageRegistry.h"

#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/TesseraTrace.h"

namespace {

// Warnings: something the caller asked for was not there to do.
#define PKG_TRACE_WARNING(...) VR_TRACE(_qkit_TraceTypeMap_t::eSevWarning, __VA_ARGS__)

constexpr const char* kFile = "Packages\\PackageRegistry";
constexpr unsigned kFlags = vr::trace::kRunFlags;
constexpr const char16_t* kHklm = u"HKEY_LOCAL_MACHINE\\";

void Log(VrLogFile* log, const WString& line) {
  if (log) log->AppendLine(line, true);
}

// Reads a string value of an open key: the size first, then the data of that size.
LONG QueryString(HKEY key, const WString& name, WString& text) {
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<BYTE> buffer(size + 2, 0);
  rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, buffer.data(), &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  text.clear();
  for (DWORD i = 0; i + 1 < size; i += 2) {
    const WChar c = static_cast<WChar>(buffer[i] | (buffer[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return ERROR_SUCCESS;
}

}  // namespace

namespace vr::pkg {

WString PatchesKey(int clusterMode) {
  return WString(kProductKey) + (clusterMode == 1 ? u"\\Cluster\\Patches" : u"\\Patches");
}

WString PatchKey(int clusterMode, const WString& patch) { return PatchesKey(clusterMode) + u"\\" + patch; }

}  // namespace vr::pkg

bool HKLMRegistryKeyCreate(const WString& key, const WString& name, const WString& value, VrLogFile* log,
                           bool* created) {
  VR_TRACE_FUNCTION("HKLMRegistryKeyCreate", kFile, kFlags);
  if (created) *created = false;
  const WString described = kHklm + key + u"' with value '" + name + u"=" + value + u"'";
  VR_TRACE_INFO("Try to create registry key '", described);
  WString existing;
  vr::registry::ScopedKey h;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, h.Receive()) == ERROR_SUCCESS) {
    const LONG rc = QueryString(h, name, existing);
    h.Close();
    if (rc == ERROR_SUCCESS) {
      PKG_TRACE_WARNING("Registry key '", kHklm, key, "' with value '", name, "=", existing,
               "' already exist and cannot be recreated");
      return true;
    }
  }
  DWORD disposition = 0;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, h.Receive(), &disposition);
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_ERROR("Could not create registry key '", kHklm, key);
    VR_TRACE_FAILURE("RegCreateKeyEx (\"HKEY_LOCAL_MACHINE\\", key, "\")", rc);
    return false;
  }
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(WChar));
  std::vector<BYTE> data(bytes, 0);
  for (size_t i = 0; i < value.size(); ++i) {
    data[2 * i] = static_cast<BYTE>(value[i] & 0xFF);
    data[2 * i + 1] = static_cast<BYTE>(value[i] >> 8);
  }
  rc = RegSetValueExW(h, name.c_str(), 0, REG_SZ, data.data(), bytes);
  if (rc != ERROR_SUCCESS) {
    h.Close();  // before the key it made may be deleted
    VR_TRACE_ERROR("Could not set value for registry key name'", name);
    VR_TRACE_FAILURE("RegSetValueEx (\"", name, "\")", rc);
    // A key this call made for the value is not left behind empty.
    if (disposition == REG_CREATED_NEW_KEY) RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    return false;
  }
  h.Close();
  if (created) *created = true;
  Log(log, u"Registry key '" + described + u" successfully created");
  VR_TRACE_INFO("Registry key successfully created");
  return true;
}

bool HKLMRegistryKeyExist(const WString& key) {
  VR_TRACE_FUNCTION("HKLMRegistryKeyExist", kFile, kFlags);
  VR_TRACE_INFO("Checking if registry key '", kHklm, key, "' exist");
  vr::registry::ScopedKey h;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, h.Receive()) != ERROR_SUCCESS) {
    VR_TRACE_INFO("Registry key does not exist");
    return false;
  }
  VR_TRACE_INFO("Registry key '", kHklm, key, "' exist");
  return true;
}

bool HKLMRegistryKeyRemove(const WString& key) {
  VR_TRACE_FUNCTION("HKLMRegistryKeyRemove", kFile, kFlags);
  VR_TRACE_INFO("Removing registry key '", kHklm, key);
  if (!HKLMRegistryKeyExist(key)) {
    PKG_TRACE_WARNING("Registry key '", kHklm, key, "' does not exist and cannot be removed");
    return true;
  }
  const LONG rc = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
  if (rc != ERROR_SUCCESS) {
    PKG_TRACE_WARNING("Cannot remove registry key '", kHklm, key);
    VR_TRACE_FAILURE("RegDeleteKey (\"HKEY_LOCAL_MACHINE\\", key, "\")", rc);
    return false;
  }
  VR_TRACE_INFO("Registry key successfully removed");
  return true;
}

bool HKLMRegistryKeyValueRemove(const WString& key, const WString& name, VrLogFile* log) {
  VR_TRACE_FUNCTION("HKLMRegistryKeyValueRemove", kFile, kFlags);
  VR_TRACE_INFO("Removing value '", name, ", of registry key '", kHklm, key);
  if (!HKLMRegistryKeyExist(key)) {
    PKG_TRACE_WARNING("Registry key '", kHklm, key, "' does not exist and value cannot be removed");
    return true;
  }
  vr::registry::ScopedKey h;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                          h.Receive());
  if (rc != ERROR_SUCCESS) {
    PKG_TRACE_WARNING("Cannot find registry key");
    VR_TRACE_FAILURE("RegOpenKeyEx (\"HKEY_LOCAL_MACHINE\\", key, "\")", rc);
    return false;
  }
  rc = RegDeleteValueW(h, name.c_str());
  if (rc == ERROR_FILE_NOT_FOUND) {
    PKG_TRACE_WARNING("Cannot remove registry key value");
    return true;  // nothing to remove
  }
  if (rc != ERROR_SUCCESS) {
    PKG_TRACE_WARNING("Cannot remove registry key value");
    VR_TRACE_FAILURE("RegDeleteValue (\"", name, "\")", rc);
    return false;
  }
  Log(log, u"Registry key value successfully removed [" + WString(kHklm) + key + u"\\" + name + u"]");
  VR_TRACE_INFO("Registry key value successfully removed");
  WChar valueName[260];
  DWORD chars = 260;
  rc = RegEnumValueW(h, 0, valueName, &chars, nullptr, nullptr, nullptr, nullptr);
  h.Close();  // before the emptied key may be removed
  if (rc == ERROR_NO_MORE_ITEMS) {
    if (!HKLMRegistryKeyRemove(key)) return false;
    Log(log, u"Registry key successfully removed [" + WString(kHklm) + key + u"]");
  } else if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) {
    VR_TRACE_FAILURE("RegEnumValue (\"HKEY_LOCAL_MACHINE\\", key, "\")", rc);
    return false;
  }
  return true;
}

bool HKLMGetRegistryKeyValue(const WString& key, const WString& name, WString& text) {
  VR_TRACE_FUNCTION("HKLMGetRegistryKeyValue", kFile, kFlags);
  VR_TRACE_INFO("Get '", kHklm, key, "' registry key value");
  vr::registry::ScopedKey h;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, h.Receive());
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_ERROR("Registry key '", kHklm, key, "' does not exist");
    return false;
  }
  rc = QueryString(h, name, text);
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_ERROR("Cannot get registry key value");
    return false;
  }
  VR_TRACE_INFO("Value '", text, "' received");
  return true;
}

bool ParsePackageInfo(const WString& info, WString& version, WString& platform, bool& uninstallable) {
  VR_TRACE_FUNCTION("ParsePackageInfo", kFile, kFlags);
  const size_t first = info.find(u'|');
  if (first == WString::npos || first == 0) {
    VR_TRACE_ERROR("Delimiter '|' not found in package info string");
    return false;
  }
  version = info.substr(0, first);
  VR_TRACE_INFO("PkgVersion: ", version);
  const size_t second = info.find(u'|', first + 1);
  if (second == first + 1) {
    VR_TRACE_ERROR("String parsing failed");
    return false;
  }
  if (second != WString::npos) {
    platform = info.substr(first + 1, second - first - 1);
    VR_TRACE_INFO("OSTypeForReg: ", platform);
    const WString flag = second + 1 < info.size() ? info.substr(second + 1, 1) : WString();
    VR_TRACE_INFO("bUninstallable: ", flag);
    if (flag == u"1") uninstallable = true;
  } else {
    platform = info.substr(first + 1);
    VR_TRACE_INFO("OSTypeForReg: ", platform);
    VR_TRACE_INFO("No info about patch uninstallation");
  }
  return true;
}

bool HKLMGetPatchCounts(const WString& patchesKey, const WString& version, const WString& platform, long& n,
                        long& m) {
  VR_TRACE_FUNCTION("HKLMGetPatchCounts", kFile, kFlags);
  VR_TRACE_INFO("Read '", kHklm, patchesKey, "' registry key subkeys");
  vr::registry::ScopedKey h;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, patchesKey.c_str(), 0, KEY_READ, h.Receive());
  if (rc != ERROR_SUCCESS) {
    VR_TRACE_ERROR("Cannot find '", kHklm, patchesKey, "' registry key");
    return false;
  }
  const WString nText = version + u"|" + platform;
  const WString mText = nText + u"|0";
  VR_TRACE_INFO("Compare string for N: '", nText, "'");
  VR_TRACE_INFO("Compare string for M: '", mText, "'");
  bool ok = true;
  for (DWORD index = 0;; ++index) {
    WChar name[261];
    DWORD chars = 261;
    rc = RegEnumKeyExW(h, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      // A patch that cannot be listed could be one that shares the package: no count.
      VR_TRACE_FAILURE("RegEnumKeyEx (\"HKEY_LOCAL_MACHINE\\", patchesKey, "\")", rc);
      ok = false;
      break;
    }
    const WString patch(name, chars);
    VR_TRACE_INFO("Check patch '", patch, "'");
    WString info;
    if (!HKLMGetRegistryKeyValue(patchesKey + u"\\" + patch, vr::pkg::kUxAgtInfoValue, info)) {
      VR_TRACE_INFO("Cannot get registry key value");
      continue;
    }
    VR_TRACE_INFO("UxAgtInfo value: ", info);
    // The texts are compared from their start: version 2.1 is not part of version 12.1.
    if (info.compare(0, mText.size(), mText) == 0) ++m;
    const size_t at = 0;
    if (info.compare(0, nText.size(), nText) == 0) {
      VR_TRACE_INFO("nInfoLength: ", static_cast<unsigned long>(info.size()));
      VR_TRACE_INFO("nCmpLength: ", static_cast<unsigned long>(nText.size()));
      if (info.size() == nText.size()) {
        VR_TRACE_INFO("String is equal to the reg key info string.");
        ++n;
      } else {
        VR_TRACE_INFO("Strings are not of equal length.");
        const size_t next = at + nText.size();
        const WString end = next < info.size() ? info.substr(next, 1) : WString();
        VR_TRACE_INFO("End char: '", end, "'");
        if (end == u"|") {
          VR_TRACE_INFO("Reg key string is equal up to the '|', we conclude the strings are equal.");
          ++n;
        }
      }
    }
    VR_TRACE_INFO("N = ", n, "; M = ", m);
  }
  return ok;
}
