// The tables of vrhost: its commands, the steps of `vrhost init` and the sections of `vrhost
// snapshot`, each in the order it is used.
#include "platform/crypto/host_secret.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {

const std::vector<Command>& Commands() {
  // By name, as the help lists them.
  static const std::vector<Command> commands = {kClusterCommand, kDbCommand,       kDbAccessCommand, kInitCommand,
                                                kRegCommand,     kSnapshotCommand, kWmiCommand};
  return commands;
}

const std::vector<InitStep>& InitSteps() {
  // The folders first, as the registry values name them; the WMI repository and the Depot
  // database, the slowest, last.
  static const std::vector<InitStep> steps = {
      {"folders", MakeFolders},
      {"instrumentation sources", CopyInstrumentationSources},
      {"registry", WriteRegistry},
      {"prerequisite file", InstallPrereqFile},
      {"cluster", SetUpCluster},
      {"wmi", SeedRepository},
      {"depot database", CreateDepotDatabase},
  };
  return steps;
}

const std::vector<SnapshotSection>& SnapshotSections() {
  // The files section comes after the stores, whose files it leaves out; the ledger, printed
  // on request only, last.
  static const std::vector<SnapshotSection> sections = {
      {"registry", PrintRegistry, {"registry.db", "registry.db-journal", "registry.db-wal", "registry.db-shm"}},
      {"wmi",
       PrintRepository,
       {"wmi", "wmi/repository.db", "wmi/repository.db-wal", "wmi/repository.db-shm", "wmi/repository.db-journal"}},
      {"depot", PrintDepot, {"depot.db", "depot.db-journal", "depot.db-wal", "depot.db-shm", vr::crypto::kHostKeyFile}},
      {"files", PrintFiles, {}},
      {"ledger", PrintLedger, {"ledger/"}, true},
  };
  return sections;
}

}  // namespace vrhost
