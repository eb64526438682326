// vrhost init: a complete demo management server in the host root. The steps of this file
// make the folders, the registry values that name them, the prerequisite configuration file
// with its copies, and the cluster state; other files have the other steps, and
// Tables.cpp lists them all in order.
#include <memory>
#include <string>
#include <vector>

#include "platform/cluster/cluster.h"
#include "platform/com/hresult.h"
#include "platform/os/computer.h"
#include "platform/os/datadir.h"
#include "platform/os/dir.h"
#include "platform/os/file.h"
#include "platform/os/path.h"
#include "platform/os/run_lock.h"
#include "platform/fault/fault.h"
#include "platform/registry/regtools.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "tools/vrhost/HostLayout.h"
#include "tools/vrhost/InitSupport.h"
#include "tools/vrhost/PrereqFile.h"
#include "tools/vrhost/RegistryWrite.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {

std::string FolderValue(const std::string& root, const std::string& relative, bool trailingBackslash) {
  std::string path = root + (relative.empty() ? "" : "/" + relative);
  for (char& c : path)
    if (c == '/') c = '\\';
  if (trailingBackslash) path += '\\';
  return path;
}

namespace {

WString W(const std::string& s) { return vr::text::Utf8ToWide(s); }

bool Fail(std::string& error, const std::string& what, long code) {
  error = what + ": " + ErrorText(code);
  return false;
}

// Writes a whole file and flushes it to disk (the host's atomic save).
bool WriteFile(const std::string& path, const std::string& bytes, std::string& error) {
  const long rc = vr::os::SaveFileAtomic(W(path), bytes);
  return rc == 0 || Fail(error, "cannot write " + path, rc);
}

bool ReadFile(const std::string& path, std::string& bytes, std::string& error) {
  const long rc = vr::os::ReadWholeFile(W(path), bytes);
  return rc == 0 || Fail(error, "cannot read " + path, rc);
}

}  // namespace

bool MakeFolders(const InitContext& c, std::string& error) {
  std::vector<std::string> folders = {kInstallFolder, kPackagesFolder, std::string(kDataFolder) + "/log", kShareFolder,
                                      std::string(kShareInstallFolder) + "/log", kPrereqFolder, kInstrumentationFolder};
  for (const char* f : kPackageCopyFolders) folders.emplace_back(f);
  for (const auto& f : folders)
    if (long rc = vr::os::CreateDirectoryTree(W(c.root + "/" + f)); rc != ERROR_SUCCESS)
      return Fail(error, "cannot create folder " + f, rc);
  return true;
}

bool WriteRegistry(const InitContext& c, std::string& error) {
  const long rc = vr::registry::RunInTransaction([&]() -> long {
    const std::pair<const char16_t*, std::pair<const char16_t*, std::string>> strings[] = {
        {kManagementServerKey, {u"Version", c.serverVersion}},
        {kDepotKey, {u"PackagesPath", FolderValue(c.root, kPackagesFolder)}},
        {kDepotKey, {u"InstrumentationPath", FolderValue(c.root, kInstrumentationFolder, false)}},
        {kDbAccessKey, {u"Source", "VrDepot"}},
        {kDbAccessKey, {u"User", "vrdepot"}},
        {kVorantKey, {u"InstallDir", FolderValue(c.root, kInstallFolder)}},
        {kVorantKey, {u"DataDir", FolderValue(c.root, kDataFolder)}},
        {kVorantKey, {u"ShareDir", FolderValue(c.root, kShareFolder)}},
        {kVorantKey, {u"VrMsShareInstallDir", FolderValue(c.root, kShareInstallFolder)}},
    };
    for (const auto& [key, value] : strings)
      if (long r = SetString(key, value.first, W(value.second)); r != ERROR_SUCCESS) return r;
    return CreateKey(kPatchesKey);
  });
  return rc == ERROR_SUCCESS || Fail(error, "cannot write the registry", rc);
}

bool InstallPrereqFile(const InitContext& c, std::string& error) {
  std::string source;
  if (!ReadFile(c.dataDir + "/vroreqcheck.cfg", source, error)) return false;
  const std::string file = WithCrcLine(source);
  const std::string main = c.root + "/" + kPrereqFolder + "/vroreqcheck.cfg";
  if (!WriteFile(main, file, error)) return false;
  for (const char* folder : kPackageCopyFolders) {
    const std::string copy = c.root + "/" + folder + "/vroreqcheck.cfg";
    if (long rc = vr::os::CopyFile(W(main), W(copy), true); rc != ERROR_SUCCESS)
      return Fail(error, "cannot copy the prerequisite file to " + std::string(folder), rc);
  }
  return true;
}

bool SetUpCluster(const InitContext& c, std::string& error) {
  std::string why;
  if (!ApplyClusterRole(c.cluster, why)) {
    error = why;
    return false;
  }
  return true;
}

namespace {

// Removes everything inside the root but the marker and the run lock: a clear cut short by a
// kill leaves a root that still says it is vrhost's, and the lock we hold stays the one file
// every program locks.
long ClearRoot(const std::string& root) {
  vr::registry::CloseHive();
  std::vector<vr::os::DirEntry> entries;
  if (long rc = vr::os::ListDirectory(W(root), entries); rc != ERROR_SUCCESS) return rc;
  for (const auto& e : entries) {
    if (e.name == W(kMarkerFile) || e.name == u"run.lock") continue;
    if (long rc = vr::os::RemoveTree(W(root) + u"/" + e.name); rc != ERROR_SUCCESS) return rc;
  }
  return ERROR_SUCCESS;
}

// The marker, written in place (no temporary file): from the moment its name exists the root
// counts as vrhost's, even when a kill leaves it empty. Flushed, with the root's entry for it.
bool WriteMarker(const std::string& root, std::string& error) {
  const std::string path = root + "/" + kMarkerFile;
  static const char kText[] = "vrhost host root\n";
  std::unique_ptr<vr::os::File> file;
  if (long rc = vr::os::File::Open(W(path), "wb", vr::os::Share::DenyNone, file); rc != ERROR_SUCCESS)
    return Fail(error, "cannot create " + path, rc);
  size_t written = 0;
  long rc = file->Write(kText, sizeof kText - 1, written);
  if (rc == ERROR_SUCCESS) rc = file->Sync();
  if (const long closed = file->Close(); rc == ERROR_SUCCESS) rc = closed;
  if (rc == ERROR_SUCCESS) rc = vr::os::FlushFolder(W(root));
  return rc == ERROR_SUCCESS || Fail(error, "cannot write " + path, rc);
}

bool UsableRoot(const std::string& root, std::string& why) {
  const WString w = W(root);
  if (root.find('\\') != std::string::npos || vr::os::HasInvalidPathChar(w)) {
    why = "the host root '" + root + "' holds a character a server path may not hold (\\ ? * \" < > |)";
    return false;
  }
  std::string strict;
  if (!vr::text::WideToUtf8Strict(w, strict) || strict != root) {
    why = "the host root '" + root + "' is not UTF-8 text";
    return false;
  }
  return true;
}

const Command kInit{"init", "init [--root DIR] [--server-version TEXT] [--cluster none|active|passive] [--force]",
                    "creates a complete demo management server in the host root", nullptr};

}  // namespace

int RunInit(std::vector<std::string>& args) {
  bool ok = true;
  InitContext c;
  c.serverVersion = kDefaultServerVersion;
  c.cluster = "none";
  std::string value;
  if (TakeOption(args, "--server-version", value, ok)) c.serverVersion = value;
  if (TakeOption(args, "--cluster", value, ok)) c.cluster = value;
  const bool force = TakeFlag(args, "--force");
  if (!ok) return kUsage;
  if (!args.empty()) return UsageError("unexpected argument '" + args[0] + "'", kInit);
  if (c.cluster != "none" && c.cluster != "active" && c.cluster != "passive")
    return UsageError("--cluster takes none, active or passive", kInit);

  c.root = Root();
  c.dataDir = vr::os::DataDir();
  std::string why;
  if (!UsableRoot(c.root, why)) {
    Error(why);
    return kFailed;
  }
  const WString root = W(c.root);
  bool created = false;
  // Replacing a host waits for the run that may be changing it, as every program does.
  std::unique_ptr<vr::os::RunLock> lock;
  if (vr::os::PathExists(root)) {
    if (!vr::os::DirectoryExists(root)) {
      Error("the host root " + c.root + " is not a folder");
      return kFailed;
    }
    std::vector<vr::os::DirEntry> entries;
    if (long rc = vr::os::ListDirectory(root, entries); rc != ERROR_SUCCESS) {
      Error("cannot list the host root " + c.root + ": " + ErrorText(rc));
      return kFailed;
    }
    if (!entries.empty()) {
      if (!force) {
        Error("the host root " + c.root + " is not empty; use --force to replace the host in it");
        return kFailed;
      }
      if (!vr::os::PathExists(W(c.root + "/" + kMarkerFile))) {
        Error("the folder " + c.root + " is not a host root made by vrhost init; it is left as it is");
        return kFailed;
      }
      const long timeoutMs = vr::os::RunLock::TimeoutFromEnvironment();
      if (long rc = vr::os::RunLock::Acquire(c.root, timeoutMs, lock); rc != ERROR_SUCCESS) {
        Error(rc == ERROR_TIMEOUT ? "another program is changing the host in " + c.root + "; gave up after waiting " +
                                        std::to_string(timeoutMs) + " ms"
                                  : "cannot take the run lock of " + c.root + ": " + ErrorText(rc));
        return kFailed;
      }
      if (long rc = ClearRoot(c.root); rc != ERROR_SUCCESS) {
        Error("cannot clear the host root " + c.root + ": " + ErrorText(rc));
        return kFailed;
      }
    }
  } else {
    if (long rc = vr::os::CreateDirectoryTree(root); rc != ERROR_SUCCESS) {
      Error("cannot create the host root " + c.root + ": " + ErrorText(rc));
      return kFailed;
    }
    created = true;
  }

  // The marker first: a host whose init was cut short can be replaced with --force. Then the
  // run lock's file, so that every host has it from the start.
  bool done = WriteMarker(c.root, why);
  std::string failedStep = "marker";
  if (done && !lock) {
    const long rc = vr::os::RunLock::Acquire(c.root, 0, lock);
    lock.reset();
    if (rc != ERROR_SUCCESS) done = Fail(why, "cannot create the run lock", rc);
  }
  for (const InitStep& step : InitSteps()) {
    if (!done) break;
    failedStep = step.name;
    // A point before each step, so that a test can end init at each of its steps.
    if (auto error = vr::fault::InjectedWin32("vrhost.InitStep", ERROR_ACCESS_DENIED)) done = Fail(why, "injected fault", *error);
    else done = step.run(c, why);
  }
  vr::registry::CloseHive();
  if (!done) {
    Error("init failed in step '" + failedStep + "': " + why);
    ClearRoot(c.root);
    lock.reset();
    vr::os::DeleteFile(W(c.root + "/run.lock"));
    vr::os::DeleteFile(W(c.root + "/" + kMarkerFile));
    if (created) vr::os::RemoveDirectory(root);
    return kFailed;
  }
  return kOk;
}

const Command kInitCommand{kInit.name, kInit.synopsis, kInit.summary, RunInit};

}  // namespace vrhost
