// The registry bookkeeping of the package section: which agent package each installed patch
// brought, kept under HKEY_LOCAL_MACHINE so that unregistering one patch does not remove a
// package another installed patch still needs.
//
//   <patches key>\<patch>   values "Installed" (written by the installer), "WinPkgInfo",
//                           "UxAgtInfo": "version|platform text[|1 when uninstallable]"
#pragma once
#include "platform/text/wstring.h"

class VrLogFile;

namespace vr::pkg {

inline constexpr const char16_t* kProductKey = u"SOFTWARE\\Tamberlin\\VREnterprise";
inline constexpr const char16_t* kInstalledValue = u"Installed";
inline constexpr const char16_t* kWinPkgInfoValue = u"WinPkgInfo";
inline constexpr const char16_t* kUxAgtInfoValue = u"UxAgtInfo";

// The patches key: below "Cluster" in cluster mode "full" (1), directly below the product key
// otherwise.
WString PatchesKey(int clusterMode);
// The patches key, a backslash and the patch name.
WString PatchKey(int clusterMode, const WString& patch);

}  // namespace vr::pkg

// Creates the key when needed and sets the REG_SZ value; a value that can already be read is
// left as it is (the first package of a kind recorded for a patch stays). created (optional)
// tells whether this call wrote the value. log (optional) gets the success line. True when the
// value exists afterwards.
bool HKLMRegistryKeyCreate(const WString& key, const WString& name, const WString& value, VrLogFile* log,
                           bool* created = nullptr);
// True when the key can be opened for reading.
bool HKLMRegistryKeyExist(const WString& key);
// Removes the key; a missing key is only warned about. False when an existing key could not be
// removed.
bool HKLMRegistryKeyRemove(const WString& key);
// Removes the value, and the key too when no value is left. A missing key or value is only
// warned about; false when an existing value (or the emptied key) could not be removed.
bool HKLMRegistryKeyValueRemove(const WString& key, const WString& name, VrLogFile* log);
// Reads a string value (size first, then the data); false when the key or value is missing.
bool HKLMGetRegistryKeyValue(const WString& key, const WString& name, WString& text);
// Splits a package text "version|platform[|flag]"; uninstallable is set when the third field
// begins with the digit 1 and left as the caller set it otherwise. False when fewer than two
// fields were found.
bool ParsePackageInfo(const WString& info, WString& version, WString& platform, bool& uninstallable);
// Over every patch below the patches key: n counts those whose "UxAgtInfo" holds the same
// version and platform text, m those whose text holds "version|platform|0". False when the
// patches key cannot be opened.
bool HKLMGetPatchCounts(const WString& patchesKey, const WString& version, const WString& platform, long& n,
                        long& m);
