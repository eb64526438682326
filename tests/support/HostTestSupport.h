// Test helpers for host and end-to-end tests: temporary folders, environment overrides and
// running a program with its output captured. Tests may use POSIX directly; programs may not.
#pragma once
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace vr::testing {

// A new folder below $TMPDIR (or /tmp), named PREFIX-XXXXXX.
inline std::string MakeTempFolder(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  return templ;
}

// Removes a folder with everything in it; folders made unreadable by a test are opened again
// first.
inline void RemoveTree(const std::string& path) {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(path, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    ::chmod(it->path().c_str(), 0755);
  ::chmod(path.c_str(), 0755);
  std::filesystem::remove_all(path, ec);
}

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "vrtest") : path_(MakeTempFolder(prefix)) {}
  ~TempDir() { RemoveTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
  // Writes the file NAME in the folder with these bytes; returns its path.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string file = *this / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    return file;
  }

 private:
  std::string path_;
};

// A path NAME in a folder of this test process's own, made on first use and removed when the
// process ends: a scratch file that no other test shares, whether of this build tree or of
// another one running at the same time.
inline std::string ScratchPath(const std::string& name) {
  static const TempDir folder("vrscratch");
  return folder / name;
}

// Sets (or, with nullopt, removes) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
    else ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Environment changes made one by one and undone together, the newest first (so that two
// changes of one variable leave it as it was before the first), at Restore() or destruction.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment() { Restore(); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  // Sets (or, with nullopt, removes) an environment variable until Restore().
  void Set(const char* name, std::optional<std::string> value) {
    changes_.push_back(std::make_unique<ScopedEnv>(name, std::move(value)));
  }
  void Restore() {
    while (!changes_.empty()) changes_.pop_back();
  }

 private:
  std::vector<std::unique_ptr<ScopedEnv>> changes_;
};

// An environment for a program: the entries of `base` ("NAME=value"), each replaced by the
// entry of `extra` of the same name, and the other entries of `extra` after them. An entry
// "NAME" without a value takes NAME away (here and, in StartProgram, from ours).
inline std::vector<std::string> MergeEnv(std::vector<std::string> base, const std::vector<std::string>& extra) {
  for (const auto& x : extra) {
    const size_t equals = x.find('=');
    const std::string name = equals == std::string::npos ? x + "=" : x.substr(0, equals + 1);
    std::erase_if(base, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    base.push_back(x);
  }
  return base;
}

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Starts a program with arguments (the environment is ours plus extraEnv "NAME=value"
// entries, which replace ours; an entry "NAME" without a value takes NAME away), in workDir
// when one is given (the program's path is then best absolute), without waiting; returns its
// pid.
inline pid_t StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& extraEnv = {}, const std::string& outFile = {},
                          const std::string& errFile = {}, const std::string& inFile = {},
                          const std::string& workDir = {}) {
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& x : extraEnv)
      if (x.substr(0, x.find('=')) == name) replaced = true;
    if (!replaced) envStore.push_back(entry);
  }
  for (const auto& x : extraEnv)
    if (x.find('=') != std::string::npos) envStore.push_back(x);
  std::vector<char*> envp;
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, inFile.empty() ? "/dev/null" : inFile.c_str(), O_RDONLY, 0);
  if (!outFile.empty()) posix_spawn_file_actions_addopen(&fa, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!errFile.empty()) posix_spawn_file_actions_addopen(&fa, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&fa, workDir.c_str());
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  return pid;
}

inline int WaitProgram(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a program to its end with standard output and error captured (in files of their own,
// outside workDir).
inline RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::vector<std::string>& extraEnv = {}, const std::string& input = {},
                            const std::string& workDir = {}) {
  TempDir io("vrrun");
  std::string inFile;
  if (!input.empty()) {
    inFile = io / "in";
    WriteFileBytes(inFile, input);
  }
  const pid_t pid = StartProgram(program, args, extraEnv, io / "out", io / "err", inFile, workDir);
  RunResult r;
  r.exitCode = WaitProgram(pid);
  r.out = ReadFileBytes(io / "out");
  r.err = ReadFileBytes(io / "err");
  return r;
}

// Another program holding a host's run lock (flock(1) on the lock file). The constructor
// returns once the lock is held, which the holder says on a pipe, so that a test never
// guesses by sleeping; then the holder runs `then` (a shell command) and lets go when it ends,
// or, without one, holds the lock until Release() or destruction.
class RunLockHolder {
 public:
  explicit RunLockHolder(const std::string& lockFile, const std::string& then = {}) {
    // Close-on-exec: no other program the test starts inherits an end of these pipes (one
    // holding the write end of `hold` would keep the lock held).
    int ready[2], hold[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(hold, O_CLOEXEC) != 0) {
      ::close(ready[0]);
      ::close(ready[1]);
      throw std::runtime_error("pipe failed");
    }
    const std::string script = "echo ready; " + (then.empty() ? std::string("read line || true") : then);
    std::vector<std::string> argStore = {"/usr/bin/flock", lockFile, "/bin/sh", "-c", script};
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, hold[0], 0);
    posix_spawn_file_actions_adddup2(&fa, ready[1], 1);
    const int rc = ::posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(ready[1]);
    ::close(hold[0]);
    hold_ = hold[1];
    if (rc != 0) {
      ::close(ready[0]);
      ::close(hold_);
      throw std::runtime_error("cannot start flock");
    }
    char c = 0;
    ssize_t n;
    while ((n = ::read(ready[0], &c, 1)) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    if (n != 1) {
      Release();
      throw std::runtime_error("flock did not take the lock " + lockFile);
    }
  }
  ~RunLockHolder() { Release(); }
  RunLockHolder(const RunLockHolder&) = delete;
  RunLockHolder& operator=(const RunLockHolder&) = delete;

  // Lets go (without `then`, at once; with it, when it has ended) and waits for the holder;
  // returns its exit code.
  int Release() {
    if (hold_ >= 0) ::close(hold_);
    hold_ = -1;
    if (pid_ <= 0) return exitCode_;
    exitCode_ = WaitProgram(pid_);
    pid_ = 0;
    return exitCode_;
  }

 private:
  pid_t pid_ = 0;
  int hold_ = -1;
  int exitCode_ = -1;
};

}  // namespace vr::testing
