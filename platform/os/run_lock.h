// The run lock of a host: one registration, unregistration, qualifier update, event-provider
// restoration or host replacement at a time. It is an exclusive lock (flock) on the file
// "run.lock" in the host root, held by an open file: the operating system releases it when
// the process ends, however it ends, so a killed run never leaves the host locked.
//
// A second run waits for the lock a bounded time, VR_RUN_LOCK_TIMEOUT_MS milliseconds
// (default 30000; 0 tries once), then gives up with ERROR_TIMEOUT and changes nothing.
#pragma once
#include <memory>
#include <string>

namespace vr::os {

class RunLock {
 public:
  ~RunLock();  // releases the lock
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock of the host root (POSIX path), creating the lock file when missing.
  // ERROR_SUCCESS with out set; ERROR_TIMEOUT when another run held it for the whole wait;
  // ERROR_PATH_NOT_FOUND when the root does not exist; another Win32 error when the lock file
  // cannot be opened. Point "os.RunLock" (ERROR_ACCESS_DENIED).
  static long Acquire(const std::string& root, long timeoutMs, std::unique_ptr<RunLock>& out);

  // The wait that VR_RUN_LOCK_TIMEOUT_MS asks for (a bad or missing value gives 30000).
  static long TimeoutFromEnvironment();

  // The lock of HostRoot() with the wait of the environment: the one call a program makes
  // before it changes a host. The path of the lock file is put in lockFile for messages.
  static long AcquireForHost(std::unique_ptr<RunLock>& out, std::string& lockFile, long& timeoutMs);

  // Seconds since the epoch at which the lock was taken: temporary files of the host older
  // than this belong to runs that are over.
  long long AcquiredAt() const { return acquiredAt_; }

  static std::string LockFile(const std::string& root) { return root + "/run.lock"; }

 private:
  RunLock(int fd, long long at) : fd_(fd), acquiredAt_(at) {}
  int fd_;
  long long acquiredAt_;
};

}  // namespace vr::os
