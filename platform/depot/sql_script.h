// SQL script files of the Depot database (data/depot_schema.sql, data/depot_demo.sql): one
// statement per ';' at a line end, "--" comment lines. Run statement by statement in one
// transaction, so that a script is applied whole or not at all (PostgreSQL rolls back DDL too;
// SQLite as well).
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/ado.h"

namespace vr::depot {

inline constexpr const char* kSchemaFile = "depot_schema.sql";
inline constexpr const char* kDemoDataFile = "depot_demo.sql";
// The tables of the Depot database, in the order a snapshot prints them.
inline constexpr const char* kDepotTables[] = {"VR_PM_PolicyType", "VR_PM_DeplPack", "VR_PM_FunctionalityModule",
                                               "VR_PM_InstalledDeplPack"};

std::vector<WString> SplitSqlScript(std::string_view text);

// Runs the script file (a path) on an open connection; why names the statement that failed
// and the driver's message.
HRESULT RunSqlScriptFile(const ADODB::ConnectionPtr& connection, const std::string& path, std::string& why);

}  // namespace vr::depot
