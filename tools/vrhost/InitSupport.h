// Pieces of init that other commands reuse.
#pragma once
#include <string>

namespace vrhost {

// Makes the host registry describe the cluster role: "none" a standalone server, "active"
// this computer owning the server's resource group, "passive" another node owning it.
bool ApplyClusterRole(const std::string& role, std::string& error);

}  // namespace vrhost
