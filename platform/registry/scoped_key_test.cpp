#include "platform/registry/scoped_key.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fault/fault.h"
#include "platform/registry/regtools.h"
#include "tests/support/HostTestSupport.h"

namespace {

using vr::registry::ScopedKey;

// Counts the registry's key closes through the fault log, which sees every close that reaches
// the registry (a freed handle's address may be reused, so its own state proves nothing).
class ScopedKeyTest : public ::testing::Test {
 protected:
  ScopedKeyTest() : env_("VR_HOST_ROOT", root_.path()) {
    vr::fault::Reset();
    vr::fault::SetLogFile(root_ / "faults.log");
  }
  ~ScopedKeyTest() override {
    vr::fault::SetLogFile("");
    vr::fault::Reset();
    vr::registry::CloseHive();
  }

  int Closes() const {
    const std::string log = vr::testing::ReadFileBytes(root_ / "faults.log");
    int n = 0;
    for (size_t at = log.find("registry.CloseKey#"); at != std::string::npos;
         at = log.find("registry.CloseKey#", at + 1))
      ++n;
    return n;
  }

  HKEY Open(const WChar* path) {
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    return h;
  }

  vr::testing::TempDir root_;
  vr::testing::ScopedEnv env_;
};

TEST_F(ScopedKeyTest, ClosesItsKeyOnceOnEveryWayOut) {
  {
    ScopedKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"S\\One", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_NE(key.get(), nullptr);
    EXPECT_EQ(Closes(), 0);
  }
  EXPECT_EQ(Closes(), 1);

  // A second key taken into the same owner closes the first, and the last goes with the owner.
  {
    ScopedKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"S", 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"S\\One", 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(Closes(), 2);
    DWORD values = 1;
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 0u);
  }
  EXPECT_EQ(Closes(), 3);

  // Moving hands the key on: the moved-from owner closes nothing, the one assigned to closes
  // what it held before.
  {
    ScopedKey first(Open(u"S"));
    ScopedKey second(std::move(first));
    EXPECT_EQ(first.get(), nullptr);
    ScopedKey third(Open(u"S\\One"));
    third = std::move(second);
    EXPECT_EQ(Closes(), 4);
  }
  EXPECT_EQ(Closes(), 5);

  // A failed open leaves the owner empty, and an empty owner makes no call.
  {
    ScopedKey missing;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"S\\None", 0, KEY_READ, missing.Receive()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.get(), nullptr);
    EXPECT_EQ(missing.Close(), ERROR_SUCCESS);
  }
  EXPECT_EQ(Closes(), 5);
}

TEST_F(ScopedKeyTest, AnEarlyCloseReportsAndAReleasedKeyIsTheCallers) {
  ScopedKey key(Open(u"E"));
  vr::fault::Configure("registry.CloseKey#1=6");
  EXPECT_EQ(key.Close(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(key.get(), nullptr);
  EXPECT_EQ(key.Close(), ERROR_SUCCESS);  // nothing left for a second close or the destructor
  vr::fault::Reset();

  HKEY mine = nullptr;
  {
    ScopedKey given(Open(u"E"));
    mine = given.Release();
    EXPECT_EQ(given.get(), nullptr);
  }
  EXPECT_EQ(RegCloseKey(mine), ERROR_SUCCESS);
}

TEST_F(ScopedKeyTest, TheMachineKeyOfAConnectionIsHeldLikeAnyOther) {
  {
    ScopedKey machine;
    ASSERT_EQ(RegConnectRegistryW(nullptr, HKEY_LOCAL_MACHINE, machine.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(machine.get(), HKEY_LOCAL_MACHINE);
  }
  EXPECT_EQ(Closes(), 0);  // the predefined key is never really closed
  ScopedKey key;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"After", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                            nullptr),
            ERROR_SUCCESS);
}

}  // namespace
