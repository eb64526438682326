// vrhost wmi: the WMI repository of the host. `wmi import FILE.mof|-` compiles MOF (all or
// nothing), `wmi export [--namespace NS] [CLASS]` writes a namespace or a class with its
// instances as MOF, `wmi query [--namespace NS] WQL` writes the instances a query returns.
// The namespace is \\.\root\Tamberlin\Vorant\data unless --namespace names another.
// init compiles the seed namespace (data/vorant_namespace.mof) into the new host; snapshot
// prints every namespace and its export.
#pragma once
#include <string>
#include <vector>

#include "tools/vrhost/Vrhost.h"

namespace vrhost {

int RunWmi(std::vector<std::string>& args);
bool SeedRepository(const InitContext& context, std::string& error);
bool PrintRepository(const SnapshotContext& context, std::string& out, std::string& error);

}  // namespace vrhost
