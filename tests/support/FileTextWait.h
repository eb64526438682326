// A wait for text that another process writes into a file: the readiness signal of a test
// that must not guess by sleeping how long the other side takes.
#pragma once
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "tests/support/HostTestSupport.h"

namespace vr::testing {

// Waits until the file holds `text` at or after byte `from`, for at most `timeout`; whether
// it does. The wait follows the writes to the file's folder (inotify) rather than looking
// again after a sleep, so that it ends as soon as the other side has written the text.
inline bool WaitForFileText(const std::string& path, const std::string& text, size_t from,
                            std::chrono::milliseconds timeout) {
  const auto has = [&] { return ReadFileBytes(path).find(text, from) != std::string::npos; };
  const int fd = ::inotify_init1(IN_CLOEXEC);
  if (fd < 0) throw std::runtime_error("inotify_init1 failed");
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (::inotify_add_watch(fd, folder.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
    ::close(fd);
    throw std::runtime_error("cannot watch " + folder);
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool found = has();  // after the watch is in place, so that no write goes unnoticed
  while (!found) {
    // Rounded up, so that the wait never ends before the time given.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0) {
      char events[4096];
      while (::read(fd, events, sizeof events) < 0 && errno == EINTR) {
      }
    }
    found = has();
  }
  ::close(fd);
  return found;
}

}  // namespace vr::testing
