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

// The file `vrhost init` writes into a root before anything else and removes only when it
// takes back a failed init: its presence marks a host.
inline constexpr const char* kHostMarkerFile = ".vrhost";

// True when a host exists at the host root (its marker file is there). Programs ask before
// they open any store, so that a wrong or missing root is reported as such and nothing is
// made there.
bool HostExists();

}  // namespace vr::os
