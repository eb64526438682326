// The platform section's before-images: their text survives any field, a damaged line is
// named, and restoring a record puts a demo host's namespace back exactly, whatever part of
// the change set was applied before the run stopped, and again when restored twice.
#include "tessera/ModelUpdater/PlatformRecord.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/ModelUpdater/WmiAccess.h"
#include "tessera/XmlParser/XmlRecords.h"
#include "tests/support/HostFixture.h"

namespace fs = std::filesystem;
using namespace PlatformOperations;

namespace {

TEST(PlatformRecordText, EveryFieldComesBackAndADamagedLineIsNamed) {
  PlatformRecord record;
  record.arrays.push_back({u"OsType", u"Values", {u"Other", u"tab\there", u"line\nend\r", u"back\\slash", u"", u"Ü€𝄞"}});
  record.cpus.push_back({u"RISCV", std::nullopt});
  record.cpus.push_back({u"Intel", std::vector<WString>{u"10", u"6"}});
  record.cpus.push_back({u"Empty", std::vector<WString>{}});
  record.matches.push_back({PlatformMatch{u"^a\tb$", 2, 3, u"91", 4}, true});
  record.matches.push_back({PlatformMatch{u"x", 1, 2, {}, 0}, false});
  record.groups.push_back({u"G1", WString(u"Caption \"quoted\"")});
  record.groups.push_back({u"G2", std::nullopt});
  record.members.push_back({u"", u"G2", false});
  record.members.push_back({u"G1", u"G2", true});
  const std::string text = FormatPlatformRecord(record);
  PlatformRecord back;
  size_t bad = 0;
  ASSERT_TRUE(ParsePlatformRecord(text, back, bad));
  EXPECT_EQ(FormatPlatformRecord(back), text);
  ASSERT_EQ(back.arrays.size(), 1u);
  EXPECT_EQ(back.arrays[0].entries, record.arrays[0].entries);
  ASSERT_EQ(back.cpus.size(), 3u);
  EXPECT_FALSE(back.cpus[0].osTypes);
  ASSERT_TRUE(back.cpus[2].osTypes);
  EXPECT_TRUE(back.cpus[2].osTypes->empty());
  EXPECT_EQ(back.matches[0].identity.MatchExpression, u"^a\tb$");
  EXPECT_EQ(back.matches[0].identity.RefCnt, 4);
  EXPECT_FALSE(back.matches[1].present);
  EXPECT_EQ(*back.groups[0].caption, u"Caption \"quoted\"");
  EXPECT_TRUE(back.members[1].present);

  for (const std::string& damaged : {std::string("MATCH\tx\tone\t2\tabsent\n"), std::string("GROUP\tG\tmaybe\n"),
                                     std::string("SOMETHING\n"), std::string("MEMBER\ta\tb\n")}) {
    EXPECT_FALSE(ParsePlatformRecord("CPU\tX\tabsent\n" + damaged, back, bad)) << damaged;
    EXPECT_EQ(bad, 2u) << damaged;
  }
}

// A demo host made by vrhost, and the change set of a platform that adds a system type, an
// OS type with a version, a CPU qualifier, three match records (one changing an existing
// record's Value) and two groups.
class PlatformRecordRestore : public vr::testing::HostFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    HostFixture::SetUp();
    if (HasFatalFailure()) return;
    before_ = Namespace();
  }
  void TearDown() override {
    vr::fault::Reset();
    CoUninitialize();
    HostFixture::TearDown();
  }
  std::string Namespace() { return WmiExport(); }
  static std::vector<CPlatform> Platforms() {
    CPlatform p;
    p.systemType = {70, u"RISCV 64-bit", true, {}, {}, {}};
    p.osType = {91, u"Linux (RISC-V)", true, {u"^Linux .* riscv64$", u"1.3.6.1.4.1.11.2.3.2.5"}, {}, {u"^Linux-riscv64$"}};
    COsVersionEntry version;
    version.value = 9101;
    version.caption = u"Debian 12 (RISC-V)";
    version.captionInSystemLanguage = true;
    p.osVersions.push_back(version);
    p.nodeGroups = {{u"RISCV_LINUX", u"Linux on RISC-V", u""}, {u"RISCV_DEBIAN", u"Debian on RISC-V", u"RISCV_LINUX"}};
    return {p};
  }
  // Plans the platforms against the namespace as it is and records the objects the plan touches.
  void Plan(std::shared_ptr<IWbemServices>& services, PlatformChanges& changes, std::string& record) {
    ASSERT_EQ(ConnectToWmi(&services), S_OK);
    PlatformModel wmi, wanted;
    ASSERT_EQ(LoadValuesFromWMI(services.get(), wmi, error_, log_), S_OK) << vr::text::WideToUtf8(error_);
    ASSERT_EQ(CreateWantedPlatformModel(Platforms(), wmi, wanted, error_, log_), S_OK);
    ASSERT_EQ(EliminateDuplicates(wanted), S_OK);
    OperationContext context;
    ASSERT_EQ(CreatePlatformUpdateAndUnDoVect(context, wmi, wanted, changes, error_, log_), S_OK);
    PlatformRecord made;
    ASSERT_EQ(CreatePlatformRecord(services.get(), wmi, changes, made, error_, log_), S_OK);
    record = FormatPlatformRecord(made);
  }
  void Restore(IWbemServices* services, const std::string& text) {
    PlatformRecord record;
    size_t bad = 0;
    ASSERT_TRUE(ParsePlatformRecord(text, record, bad)) << bad;
    ASSERT_EQ(RestorePlatformRecord(services, record, error_, log_), S_OK) << vr::text::WideToUtf8(error_);
  }

  std::string before_;
  WString error_;
  VrLogFile log_{u"", false};
};

TEST_F(PlatformRecordRestore, ARunStoppedAnywhereIsPutBackExactlyAndRestoringTwiceChangesNothing) {
  ComScope com;
  // The change set stopped at each write in turn (the n-th class commit or instance write
  // fails), and applied whole.
  std::vector<std::string> stops;
  for (int n = 1; n <= 3; ++n) stops.push_back("wmi.PutClass#" + std::to_string(n) + "=0x80041001");
  for (int n = 1; n <= 6; ++n) stops.push_back("wmi.PutInstance#" + std::to_string(n) + "=0x80041001");
  stops.push_back("");
  for (const std::string& stop : stops) {
    std::shared_ptr<IWbemServices> services;
    PlatformChanges changes;
    std::string record;
    Plan(services, changes, record);
    ASSERT_NE(record.find("MATCH\t1.3.6.1.4.1.11.2.3.2.5\t2\t2\tpresent\t3\t2\n"), std::string::npos) << record;
    ASSERT_NE(record.find("CPU\tRISCV\tabsent\n"), std::string::npos) << record;
    vr::fault::Configure(stop);
    OperationContext context;
    const HRESULT applied = RegisterUnregisterNewPlatforms(context, services.get(), changes, error_, nullptr, log_);
    vr::fault::Reset();
    EXPECT_EQ(SUCCEEDED(applied), stop.empty()) << stop;
    if (stop.empty()) {
      EXPECT_TRUE(Namespace() != before_);
    }
    Restore(services.get(), record);
    EXPECT_TRUE(Namespace() == before_) << stop;
    Restore(services.get(), record);
    EXPECT_TRUE(Namespace() == before_) << stop;
  }
}

}  // namespace
