// The host root: the one folder that holds the state of one simulated management server
// (registry hive, WMI repository, Depot database, the server's folders, the host key).
// VR_HOST_ROOT names it; without it the root is $XDG_DATA_HOME/vorant/host, or
// $HOME/.local/share/vorant/host, or /var/lib/vorant/host when there is no home.
#pragma once
#include <string>

namespace vr::os {

// POSIX path (UTF-8) of the host root, without a trailing '/'. Not created here.
std::string HostRoot();
// A path below the host root: HostRoot() + "/" + relative.
std::string HostPath(const std::string& relative);

}  // namespace vr::os
