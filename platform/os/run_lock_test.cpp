#include "platform/os/run_lock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "tests/support/HostTestSupport.h"

using vr::os::RunLock;

namespace {

long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

TEST(RunLock, SecondHolderWaitsItsBoundThenGivesUpAndGetsTheLockOnceFree) {
  vr::testing::TempDir root("vrlock");
  std::unique_ptr<RunLock> first, second;
  ASSERT_EQ(RunLock::Acquire(root.path(), 0, first), ERROR_SUCCESS);
  ASSERT_TRUE(first);
  EXPECT_GT(first->AcquiredAt(), 0);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunLock::Acquire(root.path(), 150, second), ERROR_TIMEOUT);
  EXPECT_FALSE(second);
  const long waited = ElapsedMs(start);
  EXPECT_GE(waited, 150);
  EXPECT_LT(waited, 3000);

  first.reset();
  EXPECT_EQ(RunLock::Acquire(root.path(), 0, second), ERROR_SUCCESS);
}

// The lock belongs to the process: one that ends without releasing it (as a killed run does)
// leaves the host free; one that holds it keeps others out.
TEST(RunLock, ALockHeldByAnotherProcessIsReleasedWhenItEnds) {
  vr::testing::TempDir root("vrlock");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<RunLock> held;
    if (RunLock::Acquire(root.path(), 0, held) != ERROR_SUCCESS) ::_exit(2);
    char c = 'x';
    if (::write(ready[1], &c, 1) != 1) ::_exit(3);
    ::usleep(400 * 1000);
    ::_exit(0);  // no destructor runs
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  std::unique_ptr<RunLock> mine;
  EXPECT_EQ(RunLock::Acquire(root.path(), 0, mine), ERROR_TIMEOUT);
  EXPECT_EQ(RunLock::Acquire(root.path(), 5000, mine), ERROR_SUCCESS);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

TEST(RunLock, MissingRootInjectedFaultAndTimeoutFromEnvironment) {
  std::unique_ptr<RunLock> lock;
  EXPECT_EQ(RunLock::Acquire("/nonexistent/vr-host-root", 0, lock), ERROR_PATH_NOT_FOUND);
  {
    vr::testing::ScopedEnv unset("VR_RUN_LOCK_TIMEOUT_MS", std::nullopt);
    EXPECT_EQ(RunLock::TimeoutFromEnvironment(), 30000);
  }
  for (const auto& [text, expected] : std::vector<std::pair<std::string, long>>{
           {"250", 250}, {"0", 0}, {"-5", 30000}, {"12x", 30000}, {"", 30000}}) {
    vr::testing::ScopedEnv set("VR_RUN_LOCK_TIMEOUT_MS", text);
    EXPECT_EQ(RunLock::TimeoutFromEnvironment(), expected) << text;
  }
  vr::testing::TempDir root("vrlock");
  vr::testing::ScopedEnv faults("VR_FAULTS", std::nullopt);
  vr::fault::Configure("os.RunLock#1");
  EXPECT_EQ(RunLock::Acquire(root.path(), 0, lock), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RunLock::Acquire(root.path(), 0, lock), ERROR_SUCCESS);
  vr::fault::Reset();
}

}  // namespace
