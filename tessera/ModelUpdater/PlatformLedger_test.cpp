// The platform section's ledger entries on a demo host: registrations taken back from the
// ledger end exactly as before, in any order, with the newest remaining registration's caption
// and match Value standing in between, and what was there before never goes.
#include "tessera/ModelUpdater/PlatformLedger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/com/runtime.h"
#include "platform/text/convert.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/UndoFile.h"
#include "tessera/XmlParser/XmlRecords.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using namespace PlatformOperations;

namespace {

class PlatformLedger : public vr::testing::HostFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(ConnectToWmi(&services_), S_OK);
    before_ = Namespace();
  }
  void TearDown() override {
    services_.reset();
    CoUninitialize();
    HostFixture::TearDown();
  }
  std::string Namespace() { return WmiExport(); }
  std::string Query(const char* wql) {
    std::string text;
    FILE* pipe = ::popen((vrhost_ + " wmi query --root '" + root_.string() + "' \"" + wql + "\"").c_str(), "r");
    if (!pipe) return text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    ::pclose(pipe);
    return text;
  }
  // A patch: OS type 6 (Linux) with its caption, the seed's SNMP rule of HP-UX given to it, a
  // new system type of the existing CPU type Intel running OS type 6, and a new group.
  static std::vector<CPlatform> Patch(const WString& caption, const WString& group) {
    CPlatform p;
    p.systemType = {101, u"Intel Xeon " + caption, true, {}, {}, {}};
    p.osType = {6, caption, true, {u"1.3.6.1.4.1.11.2.3.2.5"}, {}, {u"^" + caption + u"$"}};
    p.nodeGroups = {{group, u"Group " + caption, u"Unix"}};
    return {p};
  }
  void Register(vr::ledger::Registration& registration, const std::vector<CPlatform>& platforms) {
    PlatformModel wmi, wanted;
    PlatformChanges changes;
    OperationContext context;
    ASSERT_EQ(LoadValuesFromWMI(services_.get(), wmi, error_, log_), S_OK) << vr::text::WideToUtf8(error_);
    ASSERT_EQ(CreateWantedPlatformModel(platforms, wmi, wanted, error_, log_), S_OK);
    ASSERT_EQ(EliminateDuplicates(wanted), S_OK);
    ASSERT_EQ(CreatePlatformUpdateAndUnDoVect(context, wmi, wanted, changes, error_, log_), S_OK);
    AppendLedgerEntries(platforms, wmi, wanted, changes, false, registration.entries);
    registration.sections = vr::undo::kSectionPlatforms;
    ASSERT_EQ(RegisterUnregisterNewPlatforms(context, services_.get(), changes, error_, nullptr, log_), S_OK);
  }
  void Unregister(vr::ledger::Registration& registration) {
    PlatformModel wmi;
    PlatformChanges changes;
    OperationContext context;
    context.mode = OP_UNINSTALL;
    ASSERT_EQ(LoadValuesFromWMI(services_.get(), wmi, error_, log_), S_OK);
    CreateReversalChanges(wmi, CreateLedgerReversal(ledger_, registration), true, changes);
    ASSERT_EQ(RegisterUnregisterNewPlatforms(context, services_.get(), changes, error_, nullptr, log_), S_OK)
        << vr::text::WideToUtf8(error_);
    registration.reversedSections |= vr::undo::kSectionPlatforms;
  }
  bool Holds(const char* wql, const char* text) { return Query(wql).find(text) != std::string::npos; }

  std::string before_;
  std::shared_ptr<IWbemServices> services_;
  vr::ledger::Ledger ledger_;
  WString error_;
  VrLogFile log_{u"", false};
  ComScope com_;
};

TEST_F(PlatformLedger, PatchesTakenBackInEitherOrderEndWithTheOriginal) {
  for (const bool newestFirst : {false, true}) {
    auto& a = ledger_.Add(u"PATCH_A", newestFirst ? u"1" : u"3", u"a.undo");
    Register(a, Patch(u"Linux A", u"GROUP_A"));
    auto& b = ledger_.Add(u"PATCH_B", newestFirst ? u"2" : u"4", u"b.undo");
    Register(b, Patch(u"Linux B", u"GROUP_B"));
    EXPECT_NE(Namespace().find("\"Linux B\""), std::string::npos);
    EXPECT_TRUE(Holds("SELECT * FROM VR_PlatformMatch WHERE MatchExpression = '1.3.6.1.4.1.11.2.3.2.5'",
                      "RefCnt = 4;"));
    if (newestFirst) {
      Unregister(b);  // A's caption and A's system type come back
      const std::string between = Namespace();
      EXPECT_NE(between.find("\"Linux A\""), std::string::npos);
      EXPECT_NE(between.find("\"Intel Xeon Linux A\""), std::string::npos);
      EXPECT_EQ(between.find("GROUP_B"), std::string::npos);
      Unregister(a);
    } else {
      Unregister(a);  // B stands: its caption, its system type, and the record keeps B's reference
      const std::string between = Namespace();
      EXPECT_NE(between.find("\"Linux B\""), std::string::npos);
      EXPECT_NE(between.find("\"Intel Xeon Linux B\""), std::string::npos);
      EXPECT_NE(between.find("GROUP_B"), std::string::npos);
      EXPECT_EQ(between.find("GROUP_A"), std::string::npos);
      EXPECT_TRUE(Holds("SELECT * FROM VR_PlatformMatch WHERE MatchExpression = '1.3.6.1.4.1.11.2.3.2.5'",
                        "RefCnt = 3;"));
      Unregister(b);
    }
    // The original caption "Linux", Value "3" and RefCnt 2 of the seed's record, no system
    // type 101 (Intel still lists OS type 6, as before), no groups of the patches.
    EXPECT_TRUE(Namespace() == before_) << (newestFirst ? "B then A" : "A then B");
  }
}

TEST_F(PlatformLedger, WhatWasThereBeforeStaysAndAnotherRegistrationKeepsWhatItUses) {
  // A adds OS type 95 and the group G; B names both as they are now.
  CPlatform p;
  p.systemType = {2, kNoTextFound, false, {}, {}, {}};
  p.osType = {95, u"Plan 9", true, {}, {}, {u"^plan9$"}};
  p.nodeGroups = {{u"G", u"Plan 9 nodes", u""}, {u"Linux", u"Linux nodes", u"Nodes"}};
  auto& a = ledger_.Add(u"PATCH_A", u"1", u"a.undo");
  Register(a, {p});
  auto& b = ledger_.Add(u"PATCH_B", u"2", u"b.undo");
  Register(b, {p});
  Unregister(a);
  std::string between = Namespace();
  EXPECT_NE(between.find("\"Plan 9\""), std::string::npos);  // B still uses them
  EXPECT_NE(between.find("Intel{\"10\", \"11\", \"6\", \"4\", \"95\"}"), std::string::npos) << between;
  EXPECT_TRUE(Holds("SELECT * FROM VR_NodeGroup WHERE Name = 'G'", "Plan 9 nodes"));
  Unregister(b);
  // The group Linux and every Intel OS type were there before: they stay.
  EXPECT_TRUE(Namespace() == before_);
}

}  // namespace
