#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/fault/fault.h"
#include "tests/support/HostTestSupport.h"

using vr::fault::Hit;

TEST(Fault, NthCallOfAPointFailsWithItsCode) {
  vr::fault::Configure("wmi.PutInstance#3=0x80041001;registry.SetValue#1=5");
  EXPECT_FALSE(Hit("wmi.PutInstance"));
  EXPECT_FALSE(Hit("wmi.PutInstance"));
  auto third = Hit("wmi.PutInstance");
  ASSERT_TRUE(third);
  EXPECT_EQ(*third, static_cast<int32_t>(0x80041001u));
  EXPECT_FALSE(Hit("wmi.PutInstance"));
  auto reg = Hit("registry.SetValue");
  ASSERT_TRUE(reg);
  EXPECT_EQ(*reg, 5);
  EXPECT_FALSE(Hit("registry.GetValue"));
  vr::fault::Reset();
}

TEST(Fault, EveryCallDefaultCodeAndMalformedRules) {
  vr::fault::Configure("file.Write#*;bad;#2=1;x#0=1;y#abc=2; file.Rename#2=-7 ");
  for (int i = 0; i < 3; ++i) {
    auto w = Hit("file.Write");
    ASSERT_TRUE(w);
    EXPECT_EQ(*w, 0);
  }
  EXPECT_FALSE(Hit("x"));
  EXPECT_FALSE(Hit("y"));
  EXPECT_FALSE(Hit("file.Rename"));
  EXPECT_EQ(Hit("file.Rename").value_or(0), -7);
  vr::fault::Reset();
}

TEST(Fault, LogRecordsEveryPointReached) {
  const std::string path = vr::testing::ScratchPath("faults.log");
  std::remove(path.c_str());
  vr::fault::Configure("");
  vr::fault::SetLogFile(path);
  Hit("a.One");
  Hit("b.Two");
  Hit("a.One");
  vr::fault::SetLogFile("");
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "a.One#1\nb.Two#1\na.One#2\n");
  vr::fault::Reset();
}

// An "exit" rule ends the process at exactly that call, with no cleanup of any kind: the
// earlier calls of the point go ahead, and nothing after the point runs.
TEST(FaultDeathTest, ExitRuleEndsTheProcessAtItsCall) {
  EXPECT_EXIT(
      {
        vr::fault::Configure("file.Write#2=exit");
        if (Hit("file.Write")) std::_Exit(3);  // first call goes ahead
        Hit("file.Write");
        std::_Exit(4);  // not reached
      },
      ::testing::ExitedWithCode(vr::fault::kExitStatus), "");
  vr::fault::Configure("file.Write#1=exit;file.Write#1=5");
  EXPECT_EXIT(Hit("file.Write"), ::testing::ExitedWithCode(vr::fault::kExitStatus), "");
  vr::fault::Reset();
}

// One code means the same failure at an HRESULT point and at a Win32 point.
TEST(Fault, OneMappingOfAnInjectedCodeForHresultAndWin32Points) {
  using vr::fault::HresultFromInjected;
  using vr::fault::Win32FromInjected;
  constexpr int32_t kUsualHr = static_cast<int32_t>(0x80004005u);  // E_FAIL
  constexpr long kUsualWin32 = 5;
  const struct {
    long long code;
    int32_t hresult;
    long win32;
  } cases[] = {
      {0, kUsualHr, kUsualWin32},
      {2, static_cast<int32_t>(0x80070002u), 2},
      {0xFFFF, static_cast<int32_t>(0x8007FFFFu), 0xFFFF},
      {static_cast<int32_t>(0x8007000Eu), static_cast<int32_t>(0x8007000Eu), 14},
      {static_cast<int32_t>(0x80070000u), static_cast<int32_t>(0x80070000u), kUsualWin32},
      {static_cast<int32_t>(0x80041001u), static_cast<int32_t>(0x80041001u), kUsualWin32},
      {-7, -7, kUsualWin32},
      {0x40004, 0x40004, kUsualWin32},
      {0x100000000LL, kUsualHr, kUsualWin32},
      {-0x100000000LL, kUsualHr, kUsualWin32},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HresultFromInjected(c.code, kUsualHr), c.hresult) << c.code;
    EXPECT_EQ(Win32FromInjected(c.code, kUsualWin32), c.win32) << c.code;
  }
}

TEST(Fault, HelpersFailOnlyTheConfiguredCallWithTheMappedCode) {
  vr::fault::Configure("com.Call#2=5;registry.Call#1=0x80070020;os.Call#1");
  EXPECT_FALSE(vr::fault::InjectedHresult("com.Call", 1));
  EXPECT_EQ(vr::fault::InjectedHresult("com.Call", 1), static_cast<int32_t>(0x80070005u));
  EXPECT_FALSE(vr::fault::InjectedHresult("com.Call", 1));
  EXPECT_EQ(vr::fault::InjectedWin32("registry.Call", 2), 32);
  EXPECT_EQ(vr::fault::InjectedWin32("os.Call", 1117), 1117);
  EXPECT_FALSE(vr::fault::InjectedWin32("os.Call", 1117));
  vr::fault::Reset();
}
