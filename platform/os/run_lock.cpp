#include "platform/os/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/file.h"
#include "platform/os/hostroot.h"

namespace vr::os {

namespace {
constexpr long kDefaultTimeoutMs = 30000;
constexpr long kPollMs = 20;

long long NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
}  // namespace

RunLock::~RunLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the file releases the lock
}

long RunLock::Acquire(const std::string& root, long timeoutMs, std::unique_ptr<RunLock>& out) {
  out.reset();
  if (auto error = vr::fault::InjectedWin32("os.RunLock", ERROR_ACCESS_DENIED)) return *error;
  struct stat st;
  if (::stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
  const std::string file = LockFile(root);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return Win32FromErrno(errno);
  const long long deadline = NowMs() + (timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) {
      const long rc = Win32FromErrno(errno);
      ::close(fd);
      return rc;
    }
    // Past the deadline, not at it: the clock counts whole milliseconds, so a run that gives
    // up at the deadline's millisecond could have waited up to one less than its bound.
    if (NowMs() > deadline) {
      ::close(fd);
      return ERROR_TIMEOUT;
    }
    ::usleep(kPollMs * 1000);
  }
  out.reset(new RunLock(fd, static_cast<long long>(::time(nullptr))));
  return ERROR_SUCCESS;
}

long RunLock::TimeoutFromEnvironment() {
  const char* text = std::getenv("VR_RUN_LOCK_TIMEOUT_MS");
  if (!text || !*text) return kDefaultTimeoutMs;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (!end || *end != '\0' || value < 0) return kDefaultTimeoutMs;
  return value;
}

long RunLock::AcquireForHost(std::unique_ptr<RunLock>& out, std::string& lockFile, long& timeoutMs) {
  const std::string root = HostRoot();
  lockFile = LockFile(root);
  timeoutMs = TimeoutFromEnvironment();
  return Acquire(root, timeoutMs, out);
}

}  // namespace vr::os
