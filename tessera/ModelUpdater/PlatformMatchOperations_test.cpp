// Platform match records against a real repository: loading, planning with reference counts,
// the NODEDISC lines and where they go, and failures of every WMI call on the way.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "tessera/ModelUpdater/MatchGroupsTestSupport.h"
#include "platform/text/casefold.h"
#include "tessera/ModelUpdater/PlatformMatchOperations.h"

using namespace PlatformOperations;
using namespace PlatformOperations::PlatformMatchOperations;

namespace {

constexpr const char16_t* kHpux = u"VR_PlatformMatch.MatchExpression=\"1.3.6.1.4.1.11.2.3.2.5\",Method=2,Property=2";
constexpr const char16_t* kWin2000 = u"VR_PlatformMatch.MatchExpression=\"Windows 2000\",Method=1,Property=2";

PlatformMatch Entry(const char16_t* me, int method, int property, const char16_t* value) {
  return PlatformMatch{me, method, property, value, 1};
}

class PlatformMatchTest : public MatchGroupsTest {
 protected:
  // Loads WMI, plans the entries and applies them in the mode given.
  HRESULT Register(const std::vector<PlatformMatch>& entries, int32_t mode = OP_REGISTER) {
    OperationContext context;
    context.mode = mode;
    std::vector<PlatformMatch> wmi;
    std::vector<PlatformMatchChange> changes;
    if (FAILED(LoadValuesFromWMI(services_.get(), wmi, error_, *log_))) return E_FAIL;
    if (FAILED(CreateUpdateAndUnDoVec(context, wmi, entries, changes, error_, *log_))) return E_FAIL;
    return RegisterUnregisterNewPlatforms(context, services_.get(), changes, error_, undo_.get(), *log_);
  }
  // A reversal as the section reader builds it: the current record with one reference less.
  HRESULT Reverse(const PlatformMatch& current, int32_t mode, const WString& oldValue = WString()) {
    PlatformMatchChange c{current, current, NO_CHANGE, NO_CHANGE};
    --c.to.RefCnt;
    if (!oldValue.empty()) c.to.Value = oldValue;
    OperationContext context;
    context.mode = mode;
    return RegisterUnregisterNewPlatforms(context, services_.get(), {c}, error_, undo_.get(), *log_);
  }
};

TEST_F(PlatformMatchTest, LoadsEveryRecordWithItsFields) {
  std::vector<PlatformMatch> wmi;
  ASSERT_EQ(LoadValuesFromWMI(services_.get(), wmi, error_, *log_), S_OK);
  ASSERT_EQ(wmi.size(), 8u);
  bool found = false;
  for (const PlatformMatch& r : wmi)
    if (r.MatchExpression == u"1.3.6.1.4.1.11.2.3.2.5")
      found = r.Method == 2 && r.Property == 2 && r.Value == u"3" && r.RefCnt == 2;
  EXPECT_TRUE(found);
  EXPECT_EQ(vr::text::WideToUtf8(ObjectPath({u"1.3.6.1.4.1.311.1.1.3.1.2", 2, 3, u"10", 1})),
            "VR_PlatformMatch.MatchExpression=\"1.3.6.1.4.1.311.1.1.3.1.2\",Method=2,Property=3");
}

TEST_F(PlatformMatchTest, LoadFailuresReportAndHandNothingOut) {
  const struct { const char* fault; const char* message; } cases[] = {
      {"wmi.CreateInstanceEnum#1=0x80041003", "(TESSERA3028) IEnumWbemClassObject::CreateInstanceEnum failed hr = '0x80041003'.\n"},
      {"wmi.Next#3=0x80041001", "(TESSERA3028) IEnumWbemClassObject::CreateInstanceEnum failed hr = '0x80041001'.\n"},
      {"wmi.Next#2=0x40004", "(TESSERA3028) IEnumWbemClassObject::CreateInstanceEnum failed hr = '0x00040004'.\n"},
      {"wmi.Get#3=0x80041002", "(TESSERA3029) IWbemClassObject::Get('Value') - value = '' failed. hr='0x80041002'.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    error_.clear();
    vr::fault::Configure(c.fault);
    std::vector<PlatformMatch> wmi{Entry(u"kept", 1, 2, u"1")};
    EXPECT_EQ(LoadValuesFromWMI(services_.get(), wmi, error_, *log_), E_FAIL);
    EXPECT_EQ(Error(), c.message);
    ASSERT_EQ(wmi.size(), 1u);
    EXPECT_EQ(Lines(*log_).back(), std::string(c.message, strlen(c.message) - 1));
  }
}

TEST_F(PlatformMatchTest, PlanningCountsReferencesPerOccurrence) {
  std::vector<PlatformMatch> wmi{{u"Windows 2000", 1, 2, u"11", 1}, {u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3", 2}};
  const std::vector<PlatformMatch> file{Entry(u"WINDOWS 2000", 1, 2, u"11"), Entry(u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3"),
                                        Entry(u"windows 2000", 1, 2, u"11"), Entry(u"New", 3, 3, u"7"),
                                        Entry(u"new", 3, 3, u"7"),          Entry(u"New", 3, 2, u"7")};
  for (int32_t mode : {OP_REGISTER, OP_REINSTALL}) {
    SCOPED_TRACE(mode);
    OperationContext context;
    context.mode = mode;
    std::vector<PlatformMatchChange> ch;
    ASSERT_EQ(CreateUpdateAndUnDo_PlatformMatchVec(context, wmi, file, ch, error_, *log_), S_OK);
    ASSERT_EQ(ch.size(), 4u);  // one per distinct entry, in file order
    const bool re = mode == OP_REINSTALL;
    EXPECT_EQ(ch[0].to.RefCnt, re ? 1 : 3);  // twice in the file: two references
    EXPECT_EQ(ch[0].to.MatchExpression, u"Windows 2000");
    EXPECT_EQ(ch[0].updateAction, NO_CHANGE);
    EXPECT_EQ(ch[1].to.RefCnt, re ? 2 : 3);
    EXPECT_EQ(ch[2].updateAction, ACTION_ADD);
    EXPECT_EQ(ch[2].undoAction, ACTION_REMOVE);
    EXPECT_EQ(ch[2].to.RefCnt, re ? 1 : 2);
    EXPECT_EQ(ch[3].to.Property, 2);  // another Property is another record
    EXPECT_EQ(ch[3].to.RefCnt, 1);
  }
}

TEST_F(PlatformMatchTest, PlanningOfAnotherValueModifiesAndKeepsEveryReference) {
  const std::vector<PlatformMatch> wmi{{u"Windows 2000", 1, 2, u"11", 1}};
  OperationContext context;
  std::vector<PlatformMatchChange> ch;
  ASSERT_EQ(CreateUpdateAndUnDo_PlatformMatchVec(context, wmi, {Entry(u"Windows 2000", 1, 2, u"11"), Entry(u"Windows 2000", 1, 2, u"12")},
                                                 ch, error_, *log_),
            S_OK);
  ASSERT_EQ(ch.size(), 2u);
  EXPECT_EQ(ch[1].updateAction, ACTION_MODIFY);
  EXPECT_EQ(ch[1].from.Value, u"11");
  EXPECT_EQ(ch[1].from.RefCnt, 2);  // builds on the increment planned before it
  EXPECT_EQ(ch[1].to.Value, u"12");
  EXPECT_EQ(ch[1].to.RefCnt, 3);
}

TEST_F(PlatformMatchTest, PlanningWithAnEmptySide) {
  OperationContext context;
  std::vector<PlatformMatchChange> ch{{}};
  EXPECT_EQ(CreateUpdateAndUnDo_PlatformMatchVec(context, {{u"x", 1, 2, u"1", 1}}, {}, ch, error_, *log_), S_OK);
  EXPECT_TRUE(ch.empty());
  EXPECT_EQ(CreateUpdateAndUnDo_PlatformMatchVec(context, {}, {}, ch, error_, *log_), S_OK);
  EXPECT_EQ(Error(), "");
  EXPECT_EQ(CreateUpdateAndUnDo_PlatformMatchVec(context, {}, {Entry(u"x", 1, 2, u"1")}, ch, error_, *log_), E_FAIL);
  EXPECT_EQ(Error(), "(TESSERA3027) PlatformMatch container with values from WMI is empty.\n");
}

TEST_F(PlatformMatchTest, RegistrationWritesCountsAndLines) {
  ASSERT_EQ(Register({Entry(u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3"), Entry(u"Linux 2.6", 3, 3, u"6260"),
                      Entry(u"LINUX 2.6", 3, 3, u"6260"), Entry(u"windows 2000", 1, 2, u"12")}),
            S_OK);
  // One line per reference added: the entry listed twice adds two, and takes two on reversal.
  const std::vector<std::string> lines{"NODEDISC INCREMENT 2 2 \"3\" \"1.3.6.1.4.1.11.2.3.2.5\"",
                                       "NODEDISC ADD 3 3 \"6260\" \"Linux 2.6\"",
                                       "NODEDISC INCREMENT 3 3 \"6260\" \"Linux 2.6\"",
                                       "NODEDISC CHANGE 1 2 \"11\" \"12\" \"Windows 2000\""};
  EXPECT_EQ(Lines(*undo_), lines);
  EXPECT_EQ(Lines(*log_), lines);
  EXPECT_EQ(Prop(kHpux, u"RefCnt"), "3");
  EXPECT_EQ(Prop(u"VR_PlatformMatch.MatchExpression=\"Linux 2.6\",Method=3,Property=3", u"RefCnt"), "2");
  EXPECT_EQ(Prop(kWin2000, u"Value"), "12");
  EXPECT_EQ(Prop(kWin2000, u"RefCnt"), "2");
  EXPECT_EQ(Count(u"VR_PlatformMatch"), 9u);
}

TEST_F(PlatformMatchTest, ReinstallKeepsTheCountAndWritesNoLine) {
  ASSERT_EQ(Register({Entry(u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3")}, OP_REINSTALL), S_OK);
  EXPECT_EQ(Prop(kHpux, u"RefCnt"), "2");
  EXPECT_TRUE(Lines(*undo_).empty());
  EXPECT_TRUE(Lines(*log_).empty());
}

TEST_F(PlatformMatchTest, ReversalLowersTheCountOrDeletesAndLogsOnly) {
  ASSERT_EQ(Reverse({u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3", 3}, OP_UNINSTALL), S_OK);
  EXPECT_EQ(Prop(kHpux, u"RefCnt"), "2");
  ASSERT_EQ(Reverse({u"Windows 2000", 1, 2, u"11", 1}, OP_ROLLBACK), S_OK);
  EXPECT_FALSE(Prop(kWin2000, u"RefCnt"));
  // The reversal of a CHANGE line brings the earlier Value back with the lowered count.
  ASSERT_EQ(Reverse({u"Linux 2.4", 3, 3, u"6249", 2}, OP_UNINSTALL, u"6240"), S_OK);
  const char16_t* linux24 = u"VR_PlatformMatch.MatchExpression=\"Linux 2.4\",Method=3,Property=3";
  EXPECT_EQ(Prop(linux24, u"Value"), "6240");
  EXPECT_EQ(Prop(linux24, u"RefCnt"), "1");
  EXPECT_TRUE(Lines(*undo_).empty());
  EXPECT_EQ(Lines(*log_), (std::vector<std::string>{"NODEDISC DECREMENT 2 2 \"3\" \"1.3.6.1.4.1.11.2.3.2.5\"",
                                                    "NODEDISC REMOVE 1 2 \"11\" \"Windows 2000\"",
                                                    "NODEDISC DECREMENT 3 3 \"6240\" \"Linux 2.4\""}));
}

TEST_F(PlatformMatchTest, BackslashesAndQuotesInAMatchExpressionNameTheirInstance) {
  ASSERT_EQ(Register({Entry(u"SunOS\\s5\\.8", 3, 3, u"4580"), Entry(u"say \"5\"", 3, 3, u"4581")}), S_OK);
  EXPECT_EQ(Lines(*undo_).at(0), "NODEDISC ADD 3 3 \"4580\" \"SunOS\\s5\\.8\"");
  EXPECT_EQ(Count(u"VR_PlatformMatch"), 10u);
  ASSERT_EQ(Reverse({u"SunOS\\s5\\.8", 3, 3, u"4580", 1}, OP_UNINSTALL), S_OK);
  ASSERT_EQ(Reverse({u"say \"5\"", 3, 3, u"4581", 1}, OP_UNINSTALL), S_OK);
  EXPECT_EQ(Count(u"VR_PlatformMatch"), 8u);
}

// Every WMI call of an apply can fail: the message names it, the apply stops with E_FAIL, and
// only changes that reached WMI have lines.
TEST_F(PlatformMatchTest, ApplyFailuresStopAndLeaveNoLineForTheFailedWrite) {
  const struct { const char* fault; const char* message; } cases[] = {
      {"wmi.GetObject#2=0x80041002", "(TESSERA3018) IWbemServices::GetObject('VR_PlatformMatch',...) failed. hr='0x80041002'.\n"},
      {"wmi.SpawnInstance#2=0x80041001", "(TESSERA3019) IWbemClassObject::SpawnInstance('VR_PlatformMatch',...) failed. hr= '0x80041001'.\n"},
      {"wmi.Put#10=0x80041005", "(TESSERA2021) IWbemClassObject::Put('RefCnt') - value = '1' failed. hr='0x80041005'.\n"},
      {"wmi.Put#6=0x80041005", "(TESSERA2021) IWbemClassObject::Put('MatchExpression') - value = 'Linux 2.6' failed. hr='0x80041005'.\n"},
      {"wmi.PutInstance#2=0x80041003", "(TESSERA3026) IWbemClassObject::PutInstance failed. hr='1'.\n"},
      {"wmi.DeleteInstance#1=0x80041003",
       "(TESSERA3020) IWbemClassObject::DeleteInstance - instance value = 'VR_PlatformMatch.MatchExpression=\"Windows 2000\",Method=1,Property=2' failed. hr ='0x80041003'.\n"},
  };
  const std::vector<PlatformMatchChange> changes{
      {{u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3", 2}, {u"1.3.6.1.4.1.11.2.3.2.5", 2, 2, u"3", 3}, NO_CHANGE, NO_CHANGE},
      {{}, {u"Linux 2.6", 3, 3, u"6260", 1}, ACTION_ADD, ACTION_REMOVE},
      {{u"Windows 2000", 1, 2, u"11", 1}, {u"Windows 2000", 1, 2, u"11", 0}, NO_CHANGE, NO_CHANGE},
      {{}, {u"Linux 2.8", 3, 3, u"6280", 1}, ACTION_ADD, ACTION_REMOVE}};
  for (int32_t mode : {OP_REGISTER, OP_ROLLBACK})
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.fault) + (mode == OP_ROLLBACK ? " rollback" : " register"));
      Fresh();
      vr::fault::Configure(c.fault);
      OperationContext context;
      context.mode = mode;
      EXPECT_EQ(RegisterUnregisterNewPlatforms(context, services_.get(), changes, error_, undo_.get(), *log_), E_FAIL);
      EXPECT_EQ(Error(), c.message);
      const bool deleteFailed = std::string(c.fault).find("Delete") != std::string::npos;
      // In rollback the other changes still happen; otherwise the apply stops at the failure.
      const bool rollback = mode == OP_ROLLBACK;
      EXPECT_EQ(Prop(kHpux, u"RefCnt"), "3");
      EXPECT_EQ(Prop(u"VR_PlatformMatch.MatchExpression=\"Linux 2.6\",Method=3,Property=3", u"RefCnt").has_value(),
                deleteFailed);
      EXPECT_EQ(Prop(kWin2000, u"RefCnt").has_value(), !rollback || deleteFailed);
      EXPECT_EQ(Prop(u"VR_PlatformMatch.MatchExpression=\"Linux 2.8\",Method=3,Property=3", u"RefCnt").has_value(), rollback);
      // The lines of the changes that reached WMI: the undo sink's when registering, the
      // log's (without the undo sink) in rollback.
      std::vector<std::string> expect{rollback ? "NODEDISC DECREMENT 2 2 \"3\" \"1.3.6.1.4.1.11.2.3.2.5\""
                                               : "NODEDISC INCREMENT 2 2 \"3\" \"1.3.6.1.4.1.11.2.3.2.5\""};
      if (deleteFailed) expect.push_back("NODEDISC ADD 3 3 \"6260\" \"Linux 2.6\"");
      if (rollback && !deleteFailed) expect.push_back("NODEDISC REMOVE 1 2 \"11\" \"Windows 2000\"");
      if (rollback) expect.push_back("NODEDISC ADD 3 3 \"6280\" \"Linux 2.8\"");
      std::vector<std::string> logged;
      for (const std::string& l : Lines(*log_))
        if (l.rfind("NODEDISC", 0) == 0) logged.push_back(l);
      EXPECT_EQ(logged, expect);
      EXPECT_EQ(Lines(*undo_), rollback ? std::vector<std::string>() : expect);
    }
}

// A registration file of 500 platforms with 10 OS versions each and 5 texts per OS type and
// version plans in time linear in the entries (up to the log of the index).
TEST_F(PlatformMatchTest, LargeRegistrationPlansAndAppliesQuickly) {
  std::vector<PlatformMatch> wmi, file;
  for (int p = 0; p < 500; ++p)
    for (int v = 0; v <= 10; ++v)
      for (int t = 0; t < 5; ++t) {
        const WString me = vr::text::Utf8ToWide("Platform " + std::to_string(p) + "." + std::to_string(v) + " text " + std::to_string(t));
        const WString value = vr::text::Utf8ToWide(std::to_string(p * 1000 + v));
        file.push_back(PlatformMatch{me, t % 3 + 1, v == 0 ? 2 : 3, value, 1});
        if (t == 0) wmi.push_back(PlatformMatch{vr::text::ToUpper(me), t % 3 + 1, v == 0 ? 2 : 3, value, 1});
      }
  OperationContext context;
  std::vector<PlatformMatchChange> ch;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(CreateUpdateAndUnDo_PlatformMatchVec(context, wmi, file, ch, error_, *log_), S_OK);
  const double planned = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(ch.size(), file.size());
  EXPECT_EQ(ch[0].updateAction, NO_CHANGE);
  EXPECT_EQ(ch[1].updateAction, ACTION_ADD);
  EXPECT_LT(planned, 5.0);
  std::vector<PlatformMatchChange> some(ch.begin(), ch.begin() + 1000);
  const auto applyStart = std::chrono::steady_clock::now();
  ASSERT_EQ(RegisterUnregisterNewPlatforms(context, services_.get(), some, error_, undo_.get(), *log_), S_OK);
  const double applied = std::chrono::duration<double>(std::chrono::steady_clock::now() - applyStart).count();
  std::printf("planned %zu entries in %.3f s; applied 1000 changes in %.3f s\n", file.size(), planned, applied);
  EXPECT_EQ(Lines(*undo_).size(), 1000u);
}

}  // namespace
