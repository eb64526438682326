// The platform lists in VR_ManagedNode of a seeded host: loading, the shape checks of the
// qualifiers, the writers and the add and remove actions.
#include "mordant/PlatformInfo.h"

#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/testing/temp_host.h"
#include "tests/support/HostTestSupport.h"
#include "wbem/WbemUtils.h"

using vr::testing::ScopedEnv;
using vr::testing::TempDir;
using vr::testing::WriteFileBytes;

namespace {

class PlatformInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(InitializeWbem(&services_), S_OK);
    managedNode_ = Fetch();
    ASSERT_TRUE(managedNode_);
  }
  void TearDown() override {
    vr::fault::Reset();
    managedNode_.reset();
    services_.reset();
    CoUninitialize();
  }
  std::shared_ptr<IWbemClassObject> Fetch() {
    std::shared_ptr<IWbemClassObject> cls;
    EXPECT_EQ(services_->GetObject(u"VR_ManagedNode", 0, nullptr, &cls, nullptr), S_OK);
    return cls;
  }
  std::vector<WString> Qualifier(IWbemClassObject* cls, const WChar* property, const WChar* name) {
    std::shared_ptr<IWbemQualifierSet> q;
    EXPECT_EQ(cls->GetPropertyQualifierSet(property, &q), S_OK);
    Variant v;
    std::vector<WString> out;
    if (SUCCEEDED(q->Get(name, 0, &v, nullptr))) SafeArrayToStrings(v.parray(), &out);
    return out;
  }
  void PutQualifier(IWbemClassObject* cls, const WChar* property, const WChar* name, Variant value) {
    std::shared_ptr<IWbemQualifierSet> q;
    ASSERT_EQ(cls->GetPropertyQualifierSet(property, &q), S_OK);
    ASSERT_EQ(q->Put(name, &value, 0), S_OK);
  }
  static Variant Strings(const std::vector<WString>& s) {
    Variant v;
    v.AttachArray(SafeArrayFromStrings(s));
    return v;
  }
  HRESULT Load() {
    lists_ = {};
    return LoadInfoFromWbem(managedNode_.get(), &lists_.st, &lists_.co, &lists_.ot, &lists_.ov);
  }
  std::string Input(const std::string& text) {
    WriteFileBytes(dir_ / "in.txt", text);
    return dir_ / "in.txt";
  }
  HRESULT Add(const std::string& text) {
    EXPECT_EQ(Load(), S_OK);
    const WString in = vr::text::Utf8ToWide(Input(text));
    return AddPlatformInfo(services_.get(), managedNode_.get(), lists_.st, lists_.co, lists_.ot, lists_.ov,
                           in.c_str(), nullptr);
  }

  vr::wmi::testing::TempHost host_;
  TempDir dir_{"vrpinfo"};
  std::shared_ptr<IWbemServices> services_;
  std::shared_ptr<IWbemClassObject> managedNode_;
  struct {
    SystemTypeList st;
    CpuOsList co;
    OsTypeList ot;
    OsVersionList ov;
  } lists_;
};

TEST_F(PlatformInfoTest, LoadsTheSeedModel) {
  ASSERT_EQ(Load(), S_OK);
  ASSERT_EQ(lists_.st.size(), 7u);
  EXPECT_EQ(lists_.st[4].description, u"PA-RISC");
  EXPECT_EQ(lists_.st[4].cpuKey, u"PARISC");
  // "Other" (value 1) has no CPU qualifier lookup; the six others do.
  ASSERT_EQ(lists_.co.size(), 6u);
  EXPECT_EQ(lists_.co[0].cpuKey, u"Intel");
  EXPECT_EQ(lists_.co[0].osTypes, (std::vector<WString>{u"10", u"11", u"6", u"4"}));
  EXPECT_EQ(lists_.ot.size(), 8u);
  EXPECT_EQ(lists_.ov.size(), 17u);
  EXPECT_EQ(lists_.ov[0].version, u"Unknown");
}

TEST_F(PlatformInfoTest, AMissingCpuQualifierIsAWarning) {
  std::shared_ptr<IWbemQualifierSet> q;
  ASSERT_EQ(managedNode_->GetPropertyQualifierSet(u"SystemType", &q), S_OK);
  ASSERT_EQ(q->Delete(u"SPARC"), S_OK);
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(Load(), S_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\nWARNING: The SystemType property of VR_ManagedNode did not have a\n  CPU Type qualifier (that is, "
            "\"SPARC\") which matched the\n  \"SPARC\" Values qualifier entry for the property.\n");
  EXPECT_EQ(lists_.co.size(), 5u);
  ::testing::internal::CaptureStdout();
  DumpPlatformInfo(lists_.st, lists_.co, lists_.ot, lists_.ov);
  EXPECT_EQ(::testing::internal::GetCapturedStdout().find("SYSTEM-CPU-OS: SPARC"), std::string::npos);
}

TEST_F(PlatformInfoTest, QualifiersOfTheWrongShapeStopTheLoad) {
  PutQualifier(managedNode_.get(), u"OsType", u"Values", Strings({u"a", u"b", u"c", u"d", u"e"}));
  PutQualifier(managedNode_.get(), u"OsType", u"ValueMap", Strings({u"1", u"2", u"3", u"4"}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Load(), E_FAIL);
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("  In the \"OsType\" property of VR_ManagedNode, the \"Values\" qualifier\n  contains 5 items and "
                     "the \"ValueMap\" qualifier contains 4 items.\n  These qualifiers should contain the same number "
                     "of items.\n"),
            std::string::npos)
      << err;
  EXPECT_TRUE(lists_.st.empty());  // nothing is handed out from a failed load

  PutQualifier(managedNode_.get(), u"OsVersion", u"Values", Variant(u"not an array"));
  // OsType repaired, OsVersion broken.
  PutQualifier(managedNode_.get(), u"OsType", u"ValueMap", Strings({u"1", u"2", u"3", u"4", u"5"}));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Load(), E_FAIL);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("  Expected the \"Values\" qualifier for the \"OsVersion\" property of\n  VR_ManagedNode to return "
                     "a SAFEARRAY of BSTRs.  It did not.\n"),
            std::string::npos)
      << err;

  vr::fault::Configure("wmi.QualifierGet#2=0x80041002");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Load(), WBEM_E_NOT_FOUND);
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("  IWbemQualifierSet::Get(L\"ValueMap\",...) failed.\n    hr = 0x80041002  WBEM_E_NOT_FOUND\n"
                     "    Cause: The \"SystemType\" property in VR_ManagedNode did not have a\n      qualifier named "
                     "\"ValueMap\".\n"),
            std::string::npos)
      << err;
}

TEST_F(PlatformInfoTest, OsVersionsAreStoredInNumericOrder) {
  ASSERT_EQ(Add("OS-TYPE: Plan9, 20;\nOS-VERSION: 5, 20500;\nOS-VERSION: 1.0, 3100;\nOS-VERSION: 4.1, 10410;\n"), S_OK);
  const auto stored = Fetch();
  const std::vector<WString> map = Qualifier(stored.get(), u"OsVersion", u"ValueMap");
  const std::vector<WString> values = Qualifier(stored.get(), u"OsVersion", u"Values");
  ASSERT_EQ(map.size(), 20u);
  EXPECT_EQ(std::vector<WString>(map.begin(), map.begin() + 3), (std::vector<WString>{u"0", u"3100", u"3102"}));
  EXPECT_EQ(map.back(), u"20500");
  EXPECT_EQ(values[1], u"1.0");
  EXPECT_EQ(values.back(), u"5");

  // Equal numbers keep their model order.
  OsVersionList same{{u"b", u"03110"}, {u"a", u"3110"}, {u"c", u" 3110"}, {u"z", u"0"}};
  ASSERT_EQ(PutOsVersionQualifiers(managedNode_.get(), same), S_OK);
  EXPECT_EQ(Qualifier(managedNode_.get(), u"OsVersion", u"Values"), (std::vector<WString>{u"z", u"b", u"a", u"c"}));
}

TEST_F(PlatformInfoTest, ACpuChangeLeavesTheSystemTypesAlone) {
  ASSERT_EQ(Add("SYSTEM-CPU-OS: SPARC, 6;\n"), S_OK);
  const auto stored = Fetch();
  EXPECT_EQ(Qualifier(stored.get(), u"SystemType", u"SPARC"), (std::vector<WString>{u"4", u"6"}));
  EXPECT_EQ(Qualifier(stored.get(), u"SystemType", u"Values").size(), 7u);
  EXPECT_EQ(Qualifier(stored.get(), u"SystemType", u"Intel"), (std::vector<WString>{u"10", u"11", u"6", u"4"}));
}

// A changed description leaves two system types of one CPU key (and a key that differs only in
// letter case is the same qualifier): the key is one qualifier, loaded once, and an addition
// to it is stored.
TEST_F(PlatformInfoTest, SystemTypesOfOneCpuKeyShareOneQualifier) {
  ::testing::internal::CaptureStderr();
  ASSERT_EQ(Add("SYSTEM-TYPE: SPARC v9, 4;\nSYSTEM-TYPE: Sparc T-series, 8;\n"), S_OK);
  managedNode_ = Fetch();
  ASSERT_EQ(Load(), S_OK);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(lists_.st.size(), 9u);
  EXPECT_EQ(std::count_if(lists_.co.begin(), lists_.co.end(),
                          [](const CpuOsEntry& e) { return vr::text::EqualsNoCase(e.cpuKey, u"SPARC"); }),
            1);

  ASSERT_EQ(Add("SYSTEM-CPU-OS: sparc, 6;\n"), S_OK);
  EXPECT_EQ(Qualifier(Fetch().get(), u"SystemType", u"SPARC"), (std::vector<WString>{u"4", u"6"}));
  ::testing::internal::CaptureStdout();
  managedNode_ = Fetch();
  ASSERT_EQ(Load(), S_OK);
  DumpPlatformInfo(lists_.st, lists_.co, lists_.ot, lists_.ov);
  const std::string dump = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(dump.find("SYSTEM-CPU-OS: SPARC   , 4, 6;\n"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("SYSTEM-CPU-OS: SPARC", dump.find("SYSTEM-CPU-OS: SPARC") + 1), std::string::npos) << dump;

  // Lists handed in with the key twice are merged the same way.
  CpuOsList twice{{u"SPARC", {u"4"}}, {u"Intel", {u"10"}}, {u"sparc", {u"4", u"3"}}};
  EXPECT_EQ(MergeCpuOsEntries(twice).size(), 2u);
  EXPECT_EQ(MergeCpuOsEntries(twice)[0].osTypes, (std::vector<WString>{u"4", u"3"}));
}

TEST_F(PlatformInfoTest, NothingNewNeverStoresTheClass) {
  vr::fault::Configure("wmi.PutClass#*=0x80041001");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Add("OS-TYPE: Linux, 6;\nSYSTEM-CPU-OS: Intel, 10;\n"), S_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "\nWARNING: No updates were made, because the model already\n  contained all of the updates.\n");
}

// A failure on the way leaves the stored class as it was: the changes were made on the local
// copy only.
TEST_F(PlatformInfoTest, AFailedWriterStoresNothing) {
  const std::string file = "SYSTEM-TYPE: MIPS R4000, 9;\nOS-TYPE: IRIX, 12;\nOS-VERSION: 6.5, 12650;\n";
  for (const char* fault : {"wmi.QualifierPut#3=0x80041001", "wmi.GetPropertyQualifierSet#5=0x80041002",
                            "wmi.PutClass#1=0x80041003"}) {
    managedNode_ = Fetch();
    vr::fault::Configure(fault);
    ::testing::internal::CaptureStderr();
    const HRESULT hr = Add(file);
    const std::string err = ::testing::internal::GetCapturedStderr();
    vr::fault::Reset();
    EXPECT_TRUE(FAILED(hr)) << fault;
    EXPECT_NE(err.find("\nERROR: In PlatformInfo"), std::string::npos) << fault << err;
    const auto stored = Fetch();
    EXPECT_EQ(Qualifier(stored.get(), u"OsType", u"Values").size(), 8u) << fault;
    EXPECT_EQ(Qualifier(stored.get(), u"SystemType", u"Values").size(), 7u) << fault;
  }
}

TEST_F(PlatformInfoTest, RemoveAndTheOtherActions) {
  ASSERT_EQ(Load(), S_OK);
  const WString in = vr::text::Utf8ToWide(Input("OS-VERSION: 2.4, 6240;\nOS-VERSION: 2.6, 6260;\n"));
  ASSERT_EQ(RemoveVersionInfo(services_.get(), managedNode_.get(), lists_.ot, lists_.ov, in.c_str()), S_OK);
  const std::vector<WString> map = Qualifier(Fetch().get(), u"OsVersion", u"ValueMap");
  EXPECT_EQ(map.size(), 15u);
  EXPECT_EQ(std::find(map.begin(), map.end(), u"6240"), map.end());

  EXPECT_EQ(ProcessPlatformInfo(7, services_.get(), managedNode_.get(), lists_.st, lists_.co, lists_.ot, lists_.ov,
                                nullptr, nullptr),
            E_UNEXPECTED);
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const WString bad = vr::text::Utf8ToWide(Input("OS-TYPE Linux;"));
  EXPECT_EQ(CheckPlatformInfo(lists_.st, lists_.co, lists_.ot, lists_.ov, bad.c_str()), E_FAIL);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "\n\"" + (dir_ / "in.txt") + "\" fails compliance checks!!!\n");
}

}  // namespace
