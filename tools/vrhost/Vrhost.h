// vrhost, the host administration program: its commands, the steps of `vrhost init` and the
// sections of `vrhost snapshot` are listed in explicit tables (Tables.cpp), in the order they
// are used; each part is defined in its own file and declared in VrhostParts.h. Every command
// finds the host root through --root DIR (taken out of the arguments before the command sees
// them) or VR_HOST_ROOT.
//
// Folder tools/vrhost, the program vrhost: host administration that uses the host layers
// (platform/depot, ado, crypto, wmi, cluster, registry, os, com, text, fault) and no program
// code.
#pragma once
#include <string>
#include <vector>

namespace vrhost {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct Command {
  const char* name;      // first word after "vrhost"
  const char* synopsis;  // usage line without "vrhost "
  const char* summary;   // one line for the help
  int (*run)(std::vector<std::string>& args);  // the words after the name; returns the exit code
};

// What init knows when its steps run. Paths are POSIX paths without a trailing '/'.
struct InitContext {
  std::string root;           // the host root, absolute
  std::string serverVersion;  // --server-version, "A.07.50" by default
  std::string cluster;        // --cluster: "none", "active" or "passive"
  std::string dataDir;        // the installed data folder (vroreqcheck.cfg, seed files)
};

struct InitStep {
  const char* name;
  // Builds its part of the new host; false with error set stops init, which then removes
  // everything it made.
  bool (*run)(const InitContext& context, std::string& error);
};

struct SnapshotContext {
  std::string root;  // the host root, absolute
  // --relative: the root's path (as a POSIX path and in the registry's backslash form) is
  // written as "$ROOT", so that hosts in different folders compare equal. The command
  // replaces it in every section's text; a section that prints digests of content applies
  // RootRelative to that content first.
  bool relative = false;
  std::vector<std::string> ownedFiles;  // of all sections
  std::string RootRelative(std::string text) const;
};

struct SnapshotSection {
  const char* name;
  // Appends the section's canonical text for the host; false with error on failure.
  bool (*print)(const SnapshotContext& context, std::string& out, std::string& error);
  // Files below the root that the section stands for, left out of the files section; a name
  // ending in '/' stands for that folder and everything in it.
  std::vector<std::string> ownedFiles;
  // Printed only when asked for by name (--section): bookkeeping that is meant to outlive the
  // changes it records, so that it does not tell two otherwise equal hosts apart.
  bool onRequest = false;
};

const std::vector<Command>& Commands();                // by name
const std::vector<InitStep>& InitSteps();              // in order
const std::vector<SnapshotSection>& SnapshotSections();  // in order

// The host root as the command line and environment name it (absolute, no trailing '/').
std::string Root();

// False, with a message, when the host root is not an existing folder.
bool RequireRoot();

// Messages on standard error, prefixed "vrhost: ".
void Error(const std::string& text);
int UsageError(const std::string& text, const Command& command);

// Takes "--name VALUE" or "--name=VALUE" out of args; false when absent. A missing value is a
// usage error reported through ok.
bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value, bool& ok);
bool TakeFlag(std::vector<std::string>& args, const std::string& name);

}  // namespace vrhost
