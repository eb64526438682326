// The parts of vrhost that its tables (Tables.cpp) list: each command with its name, synopsis
// and summary, defined beside its code, and the functions of the init steps and snapshot
// sections. A new part is declared here, defined in its own file and listed in a table.
#pragma once
#include <string>

#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/WmiCommands.h"

namespace vrhost {

extern const Command kClusterCommand;    // ClusterCommand.cpp
extern const Command kDbCommand;         // DbCommands.cpp
extern const Command kDbAccessCommand;   // DbCommands.cpp
extern const Command kInitCommand;       // InitCommand.cpp
extern const Command kRegCommand;        // RegCommands.cpp
extern const Command kSnapshotCommand;   // SnapshotCommand.cpp
extern const Command kWmiCommand;        // WmiCommands.cpp

// Init steps.
bool MakeFolders(const InitContext& context, std::string& error);                 // InitCommand.cpp
bool CopyInstrumentationSources(const InitContext& context, std::string& error);  // InstrumentationSources.cpp
bool WriteRegistry(const InitContext& context, std::string& error);               // InitCommand.cpp
bool InstallPrereqFile(const InitContext& context, std::string& error);           // InitCommand.cpp
bool SetUpCluster(const InitContext& context, std::string& error);                // InitCommand.cpp
bool CreateDepotDatabase(const InitContext& context, std::string& error);         // DbInit.cpp
// SeedRepository: WmiCommands.h

// Snapshot sections.
bool PrintRegistry(const SnapshotContext& context, std::string& out, std::string& error);  // SnapshotCommand.cpp
bool PrintDepot(const SnapshotContext& context, std::string& out, std::string& error);     // DbSnapshot.cpp
bool PrintFiles(const SnapshotContext& context, std::string& out, std::string& error);     // SnapshotCommand.cpp
bool PrintLedger(const SnapshotContext& context, std::string& out, std::string& error);    // SnapshotCommand.cpp
// PrintRepository: WmiCommands.h

}  // namespace vrhost
