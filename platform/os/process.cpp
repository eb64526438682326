#include "platform/os/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/native_internal.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

using vr::fault::InjectedWin32;

extern char** environ;

namespace vr::os {
namespace {

bool IsRunnable(const std::string& path, long& why) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    why = ERROR_FILE_NOT_FOUND;
    return false;
  }
  if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
    why = ERROR_ACCESS_DENIED;
    return false;
  }
  return true;
}

// The program file a command names: a name with a separator as it stands, else the first
// runnable file of that name in the running program's folder, the current folder, then along
// PATH, the order of the home platform's own process start, so that a program finds the tools
// installed beside it whatever PATH holds. "name.exe" also finds "name".
long FindProgram(const WString& word, std::string& program) {
  std::vector<std::string> names{internal::Native(word)};
  if (word.size() > 4 && vr::text::EqualsNoCase(WStringView(word).substr(word.size() - 4), u".exe"))
    names.push_back(internal::Native(WStringView(word).substr(0, word.size() - 4)));
  long why = ERROR_FILE_NOT_FOUND;
  if (names[0].find('/') != std::string::npos) {
    for (const auto& n : names)
      if (IsRunnable(n, why)) {
        program = n;
        return ERROR_SUCCESS;
      }
    return why;
  }
  std::vector<std::string> folders;
  if (const std::string own = RunningProgramFolder(); !own.empty()) folders.push_back(own + '/');
  folders.push_back("./");
  const char* env = std::getenv("PATH");
  const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find(':', i);
    if (j == std::string::npos) j = path.size();
    // An empty entry stands for the current directory.
    folders.push_back((j > i ? path.substr(i, j - i) : std::string(1, '.')) + '/');
    i = j + 1;
  }
  long best = ERROR_FILE_NOT_FOUND;
  for (const std::string& dir : folders) {
    for (const auto& n : names) {
      const std::string candidate = dir + n;
      if (IsRunnable(candidate, why)) {
        program = candidate;
        return ERROR_SUCCESS;
      }
      if (why == ERROR_ACCESS_DENIED) best = why;
    }
  }
  return best;
}

bool PassedOn(const char* entry) {
  return std::strncmp(entry, "VR_FAULTS=", 10) != 0 && std::strncmp(entry, "VR_FAULTS_LOG=", 14) != 0;
}

DWORD ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return static_cast<DWORD>(128 + WTERMSIG(status));
  return 1;
}

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

std::string RunningProgramFolder() {
  std::string exe(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
  if (n <= 0) return std::string();
  exe.resize(static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

Process::~Process() {
  if (!ended_ && pid_ > 0) {
    int status;
    ::waitpid(pid_, &status, WNOHANG);  // reaps a child that has ended; a running one goes on
  }
}

std::vector<WString> SplitCommandLine(WStringView line) {
  std::vector<WString> words;
  size_t i = 0;
  const size_t n = line.size();
  while (i < n) {
    while (i < n && (line[i] == u' ' || line[i] == u'\t')) ++i;
    if (i >= n) break;
    WString word;
    bool quoted = false;
    while (i < n && (quoted || (line[i] != u' ' && line[i] != u'\t'))) {
      if (line[i] == u'\\') {
        size_t slashes = 0;
        while (i < n && line[i] == u'\\') {
          ++slashes;
          ++i;
        }
        if (i < n && line[i] == u'"') {
          word.append(slashes / 2, u'\\');
          if (slashes % 2) {
            word += u'"';
            ++i;
          }
        } else {
          word.append(slashes, u'\\');
        }
        continue;
      }
      if (line[i] == u'"') {
        if (quoted && i + 1 < n && line[i + 1] == u'"') {
          word += u'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      word += line[i++];
    }
    words.push_back(std::move(word));
  }
  return words;
}

long StartProcess(WStringView commandLine, WStringView stdoutPath, std::unique_ptr<Process>& out) {
  out.reset();
  if (auto injected = InjectedWin32("os.StartProcess", ERROR_FILE_NOT_FOUND)) return *injected;
  const std::vector<WString> words = SplitCommandLine(commandLine);
  if (words.empty() || words[0].empty()) return ERROR_INVALID_PARAMETER;
  std::string program;
  if (long rc = FindProgram(words[0], program); rc != ERROR_SUCCESS) return rc;

  std::vector<std::string> args;
  for (const auto& w : words) args.push_back(vr::text::WideToUtf8(w));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e)
    if (PassedOn(*e)) envp.push_back(*e);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string outFile = internal::Native(stdoutPath);
  if (!stdoutPath.empty()) {
    // Check here, so that a file that cannot be written is the caller's error, not the child's.
    const int fd = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
      posix_spawn_file_actions_destroy(&actions);
      return internal::ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
    }
    ::close(fd);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  pid_t pid = 0;
  const int err = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return err == ENOEXEC ? ERROR_BAD_EXE_FORMAT : internal::ErrorFromErrno(err);
  out.reset(new Process(pid));
  return ERROR_SUCCESS;
}

long WaitForProcess(Process& process, long timeoutMs) {
  if (auto injected = InjectedWin32("os.WaitProcess", ERROR_INVALID_HANDLE)) return *injected;
  if (process.ended_) return ERROR_SUCCESS;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(process.pid_, &status, timeoutMs < 0 ? 0 : WNOHANG);
    if (r == process.pid_) {
      process.ended_ = true;
      process.exitCode_ = ExitCodeOf(status);
      return ERROR_SUCCESS;
    }
    if (r < 0 && errno != EINTR) return ERROR_INVALID_HANDLE;
    if (timeoutMs >= 0) {
      if (std::chrono::steady_clock::now() >= deadline) return ERROR_WAIT_TIMEOUT;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
}

long TerminateProcess(Process& process) {
  if (auto injected = InjectedWin32("os.TerminateProcess", ERROR_ACCESS_DENIED)) return *injected;
  if (process.ended_ || process.pid_ <= 0) return ERROR_SUCCESS;
  if (::kill(process.pid_, SIGKILL) != 0 && errno != ESRCH) return internal::ErrorFromErrno(errno);
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(process.pid_, &status, 0)) < 0 && errno == EINTR) {
  }
  if (r != process.pid_) return ERROR_INVALID_HANDLE;
  process.ended_ = true;
  process.exitCode_ = ExitCodeOf(status);
  return ERROR_SUCCESS;
}

long GetProcessExitCode(Process& process, DWORD& code) {
  if (auto injected = InjectedWin32("os.GetExitCode", ERROR_INVALID_HANDLE)) return *injected;
  if (!process.ended_) {
    int status = 0;
    const pid_t r = ::waitpid(process.pid_, &status, WNOHANG);
    if (r == process.pid_) {
      process.ended_ = true;
      process.exitCode_ = ExitCodeOf(status);
    } else if (r < 0) {
      return ERROR_INVALID_HANDLE;
    }
  }
  code = process.ended_ ? process.exitCode_ : STILL_ACTIVE;
  return ERROR_SUCCESS;
}

}  // namespace vr::os
