// The registry keys of the management server, below HKEY_LOCAL_MACHINE: written once here for
// the programs that read them and for vrhost, which makes a server that has them.
#pragma once

namespace vr::keys {

inline constexpr const char16_t* kManagementServerKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server";
inline constexpr const char16_t* kDepotKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\Depot";
inline constexpr const char16_t* kDbAccessKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess";
inline constexpr const char16_t* kClusterInstallationKey =
    u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\ClusterInstallation";
inline constexpr const char16_t* kPatchesKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Patches";
inline constexpr const char16_t* kVorantKey = u"SOFTWARE\\Tamberlin\\TB Vorant";

}  // namespace vr::keys
