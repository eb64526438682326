// The platform model updater below the section handlers: qualifier-vector shapes through a
// qualifier set the test controls, the CPU type of a caption, planning of values and CPU
// types, applying on a seeded host, and the reading of [[[PLATFORMS]]] bodies.
#include <gtest/gtest.h>

#include <functional>

#include "platform/com/runtime.h"
#include "platform/text/convert.h"
#include "platform/wmi/testing/temp_host.h"
#include "tessera/Files/VrLogFile.h"
#include "tessera/ModelUpdater/PlatformOperations.h"
#include "tessera/ModelUpdater/WmiAccess.h"

using namespace PlatformOperations;
using namespace PlatformOperations::PlatformModelOperations;
using vr::text::WideToUtf8;

namespace {

// A qualifier set whose Get hands out whatever the test put into value (or fails with code).
class ScriptedQualifiers final : public IWbemQualifierSet {
 public:
  std::function<HRESULT(const WString&, VARIANT*)> get;
  HRESULT Get(const WChar* name, long, VARIANT* value, long*) override { return get(name, value); }
  HRESULT Put(const WChar*, VARIANT*, long) override { return E_NOTIMPL; }
  HRESULT Delete(const WChar*) override { return E_NOTIMPL; }
  HRESULT GetNames(long, SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT BeginEnumeration(long) override { return E_NOTIMPL; }
  HRESULT Next(long, BSTR*, VARIANT*, long*) override { return E_NOTIMPL; }
  HRESULT EndEnumeration() override { return E_NOTIMPL; }
};

Variant StringArray(std::vector<WString> items, int32_t lower = 0) {
  SAFEARRAYBOUND bound{static_cast<uint32_t>(items.size()), lower};
  SafeArray* array = SafeArrayCreate(VT_BSTR, 1, &bound);
  for (size_t i = 0; i < items.size(); ++i) array->data[i] = Variant(items[i]);
  Variant v;
  v.AttachArray(array);
  return v;
}

class QualifierShapes : public ::testing::Test {
 protected:
  HRESULT Read(bool allowMissing = false) {
    return GetQualifierVector(&set_, u"OsType", u"Values", out_, error_, log_, allowMissing);
  }
  void Hand(Variant v) {
    set_.get = [v](const WString&, VARIANT* out) {
      *out = v;
      return S_OK;
    };
  }
  ScriptedQualifiers set_;
  std::vector<WString> out_{u"untouched"};
  WString error_;
  VrLogFile log_{u"", false};
};

TEST_F(QualifierShapes, EveryShapeOtherThanAZeroBasedStringVectorIsRefusedWithItsMessage) {
  Hand(StringArray({u"a", u"b"}, 1));
  EXPECT_EQ(Read(), E_FAIL);
  EXPECT_NE(WideToUtf8(error_).find("(TESSERA3040) The SAFEARRAY of BSTRs returned from the 'Values' qualifier for the "
                                    "'OsType' property of VR_ManagedNode had '1' as a lower bound."),
            std::string::npos)
      << WideToUtf8(error_);

  error_.clear();
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  Variant square;
  square.AttachArray(SafeArrayCreate(VT_BSTR, 2, bounds));
  Hand(square);
  EXPECT_EQ(Read(), E_FAIL);
  EXPECT_NE(WideToUtf8(error_).find("(TESSERA3042)"), std::string::npos);
  EXPECT_NE(WideToUtf8(error_).find("had '2' dimensions"), std::string::npos);

  error_.clear();
  Variant nullArray;
  nullArray.vt = VT_ARRAY | VT_BSTR;
  Hand(nullArray);
  EXPECT_EQ(Read(), E_FAIL);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3043) The SAFEARRAY of BSTRs returned from the 'Values' qualifier for the "
                                "'OsType' property of VR_ManagedNode to was NULL.\n");

  error_.clear();
  Hand(Variant(u"one string"));
  EXPECT_EQ(Read(), E_FAIL);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3044) Expected the 'Values' qualifier for the 'OsType' property of "
                                "'VR_ManagedNode' to return a SAFEARRAY of BSTRs.  It did not.\n");
  // Every message also went into the platform log, and the vector was never touched.
  EXPECT_NE(WideToUtf8(log_.GetContent()).find("(TESSERA3044)"), std::string::npos);
  EXPECT_EQ(out_, std::vector<WString>{u"untouched"});
}

TEST_F(QualifierShapes, AMissingQualifierIsAllowedOnlyWhenAsked) {
  set_.get = [](const WString&, VARIANT*) { return WBEM_E_NOT_FOUND; };
  EXPECT_EQ(Read(true), S_FALSE);
  EXPECT_TRUE(error_.empty());
  EXPECT_EQ(Read(false), WBEM_E_NOT_FOUND);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3045) IWbemQualifierSet::Get('Values',...) failed. hr = '0x80041002' Cause: "
                                "The 'OsType' property in VR_ManagedNode did not have qualifier named 'Values'.\n");
}

TEST_F(QualifierShapes, AZeroBasedVectorIsCopiedInOrderAndAnEmptyOneGivesAnEmptyVector) {
  Hand(StringArray({u"x", u"y", u"z"}));
  ASSERT_EQ(Read(), S_OK);
  EXPECT_EQ(out_, (std::vector<WString>{u"x", u"y", u"z"}));
  Hand(StringArray({}));
  ASSERT_EQ(Read(), S_OK);
  EXPECT_TRUE(out_.empty());
}

// A class whose only working call is GetPropertyQualifierSet, handing out the scripted set.
class ScriptedClass final : public IWbemClassObject {
 public:
  std::shared_ptr<IWbemQualifierSet> set;
  HRESULT GetPropertyQualifierSet(const WChar*, std::shared_ptr<IWbemQualifierSet>* q) override {
    *q = set;
    return S_OK;
  }
  HRESULT GetQualifierSet(std::shared_ptr<IWbemQualifierSet>*) override { return E_NOTIMPL; }
  HRESULT Get(const WChar*, long, VARIANT*, CIMTYPE*, long*) override { return E_NOTIMPL; }
  HRESULT Put(const WChar*, long, VARIANT*, CIMTYPE) override { return E_NOTIMPL; }
  HRESULT Delete(const WChar*) override { return E_NOTIMPL; }
  HRESULT GetNames(const WChar*, long, VARIANT*, SAFEARRAY**) override { return E_NOTIMPL; }
  HRESULT BeginEnumeration(long) override { return E_NOTIMPL; }
  HRESULT Next(long, BSTR*, VARIANT*, CIMTYPE*, long*) override { return E_NOTIMPL; }
  HRESULT EndEnumeration() override { return E_NOTIMPL; }
  HRESULT Clone(std::shared_ptr<IWbemClassObject>*) override { return E_NOTIMPL; }
  HRESULT GetObjectText(long, BSTR*) override { return E_NOTIMPL; }
  HRESULT SpawnDerivedClass(long, std::shared_ptr<IWbemClassObject>*) override { return E_NOTIMPL; }
  HRESULT SpawnInstance(long, std::shared_ptr<IWbemClassObject>*) override { return E_NOTIMPL; }
  HRESULT CompareTo(long, IWbemClassObject*) override { return E_NOTIMPL; }
  HRESULT GetPropertyOrigin(const WChar*, BSTR*) override { return E_NOTIMPL; }
  HRESULT InheritsFrom(const WChar*) override { return E_NOTIMPL; }
};

TEST(ValuesAndValueMap, DifferentLengthsAreReportedWithBothCountsAndNothingIsHandedOut) {
  auto set = std::make_shared<ScriptedQualifiers>();
  set->get = [](const WString& name, VARIANT* out) {
    *out = name == u"Values" ? StringArray({u"a", u"b", u"c", u"d", u"e"}) : StringArray({u"1", u"2", u"3", u"4"});
    return S_OK;
  };
  ScriptedClass cls;
  cls.set = set;
  std::shared_ptr<IWbemQualifierSet> handed;
  std::vector<WString> values, valueMap;
  WString error;
  VrLogFile log(u"", false);
  EXPECT_EQ(LoadValuesAndValueMap(&cls, u"OsType", handed, values, valueMap, error, log), E_FAIL);
  EXPECT_EQ(WideToUtf8(error), "(TESSERA3046) In the 'OsType' property of VR_ManagedNode, the 'Values' qualifier "
                               "contains '5' items and the 'ValueMap' qualifier contains '4' items. These qualifiers "
                               "should contain the same number of items.\n");
  EXPECT_FALSE(handed);
  EXPECT_TRUE(values.empty() && valueMap.empty());
}

TEST(CpuType, TheLettersOfTheCaptionsFirstWord) {
  EXPECT_EQ(CpuTypeOfCaption(u"Intel x86"), u"Intel");
  EXPECT_EQ(CpuTypeOfCaption(u"x86 Family"), u"x");
  EXPECT_EQ(CpuTypeOfCaption(u"Other"), u"Other");
  EXPECT_EQ(CpuTypeOfCaption(u"PA-RISC"), u"PARISC");
  EXPECT_EQ(CpuTypeOfCaption(u"64bit RISC"), u"Otherbit");
  EXPECT_EQ(CpuTypeOfCaption(u" Leading blank"), u"");
}

ModelValue V(const char16_t* value, const char16_t* caption, bool systemLanguage = true) {
  return ModelValue{value, caption, systemLanguage};
}

class Planning : public ::testing::Test {
 protected:
  std::vector<ModelValue> wmi_{V(u"1", u"Other"), V(u"3", u"HP-UX"), V(u"10", u"Windows NT")};
  std::vector<ModelValueChange> out_;
  WString error_;
  VrLogFile log_{u"", false};
};

TEST_F(Planning, AnExistingValueWithTheSameCaptionInAnotherCaseChangesNothing) {
  ASSERT_EQ(CreateUpdateAndUnDo_OSTypeVec(wmi_, {V(u"3", u"hp-ux")}, out_, error_, log_), S_OK);
  EXPECT_TRUE(out_.empty());
}

TEST_F(Planning, ACaptionOutsideTheSystemLanguageChangesNothingOnItsOwn) {
  ASSERT_EQ(CreateUpdateAndUnDo_OSTypeVec(wmi_, {V(u"3", u"HP-UX japanese", false)}, out_, error_, log_), S_OK);
  EXPECT_TRUE(out_.empty());
  // With another change in the same kind, every differing matched caption is rewritten.
  ASSERT_EQ(CreateUpdateAndUnDo_OSTypeVec(wmi_, {V(u"3", u"HP-UX jp", false), V(u"91", u"Linux")}, out_, error_, log_),
            S_OK);
  ASSERT_EQ(out_.size(), 4u);
  EXPECT_EQ(out_[1].updateAction, ACTION_MODIFY);
  EXPECT_EQ(out_[1].toCaption, u"HP-UX jp");
}

TEST_F(Planning, NewValuesFollowEveryExistingEntryInWmiOrder) {
  ASSERT_EQ(CreateUpdateAndUnDo_OSTypeVec(wmi_, {V(u"92", u"B"), V(u"10", u"Windows NT"), V(u"91", u"A")}, out_,
                                          error_, log_),
            S_OK);
  ASSERT_EQ(out_.size(), 5u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(out_[i].fromValue, wmi_[i].value);
    EXPECT_EQ(out_[i].updateAction, NO_CHANGE);
  }
  EXPECT_EQ(out_[3].toValue, u"92");
  EXPECT_EQ(out_[4].toValue, u"91");
  EXPECT_EQ(out_[4].updateAction, ACTION_ADD);
  EXPECT_EQ(out_[4].undoAction, ACTION_REMOVE);
  // An empty WMI side with something to plan is a broken model.
  EXPECT_EQ(CreateUpdateAndUnDo_OSVersionVec({}, {V(u"1", u"x")}, out_, error_, log_), E_FAIL);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3012) OSVersion container with values from WMI is empty.\n");
}

TEST_F(Planning, ACpuTypeGainsOnlyTheOsTypesItLacks) {
  std::vector<CpuOsTypes> wmi{{u"Intel", {u"10", u"11"}}, {u"SPARC", {u"4"}}};
  std::vector<CpuOsTypesChange> out;
  ASSERT_EQ(CreateUpdateAndUnDo_CpuAndOSesVec(wmi, {{u"intel", {u"11", u"10"}}}, out, error_, log_), S_OK);
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(CreateUpdateAndUnDo_CpuAndOSesVec(wmi, {{u"INTEL", {u"11", u"91"}}, {u"RISCV", {u"91"}}}, out, error_,
                                              log_),
            S_OK);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].updateAction, ACTION_MODIFY);
  EXPECT_EQ(out[0].toOsTypes, (std::vector<WString>{u"10", u"11", u"91"}));
  EXPECT_EQ(out[1].fromCpuType, u"SPARC");
  EXPECT_EQ(out[1].updateAction, NO_CHANGE);
  EXPECT_EQ(out[2].toCpuType, u"RISCV");
  EXPECT_EQ(out[2].updateAction, ACTION_ADD);
}

// The [[[PLATFORMS]]] reader against a seeded host's model.
class SectionReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(ConnectToWmi(&services_), S_OK);
    ASSERT_EQ(LoadValuesFromWMI(services_.get(), wmi_, error_, log_), S_OK) << WideToUtf8(error_);
  }
  void TearDown() override {
    services_.reset();
    CoUninitialize();
  }
  HRESULT Read(const std::vector<std::u16string>& body, int32_t mode = OP_UNINSTALL) {
    VrLogFile undo(u"", false);
    undo.AppendLine(u"Patch=P", true);
    undo.AppendLine(u"[[[PLATFORMS]]]", true);
    for (const auto& line : body) undo.AppendLine(line, true);
    undo.AppendLine(u"[[[PLATFORMS_END]]]", true);
    OperationContext context;
    context.mode = mode;
    changes_ = PlatformChanges();
    error_.clear();
    return CreateUninstallationAndUnDoVect(context, undo, wmi_, changes_, error_, log_);
  }
  const SystemTypeChange* System(const WString& value) const {
    for (const auto& c : changes_.model.systemTypes)
      if (c.fromValue == value) return &c;
    return nullptr;
  }
  vr::wmi::testing::TempHost host_;
  std::shared_ptr<IWbemServices> services_;
  PlatformModel wmi_;
  PlatformChanges changes_;
  WString error_;
  VrLogFile log_{u"", false};
};

TEST_F(SectionReader, MalformedLinesFailWithTheirLineNumber) {
  // Line 1 is the header, line 2 the marker; the first body line is line 3.
  EXPECT_EQ(Read({u"OS-TYPE DELETE 3 \"HP-UX\""}), kUndoSectionSyntax);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3033) Invalid syntax in Platforms section of 'UndoFile'. Please check the "
                                "'UndoFile' syntax after: 'OS-TYPE' in line: '3'.\n");
  EXPECT_EQ(Read({u"OS-TYPE ADD 3 \"HP-UX\"", u"PLATFORM ADD 3"}), kUndoSectionSyntax);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3055) Invalid syntax in Platforms section of 'UndoFile'. Please check the "
                                "'UndoFile' syntax line: '4'.\n");
  for (const char16_t* line : {u"OS-VERSION ADD 3102", u"SYSTEM-TYPE CHANGE 4 \"SPARC\"", u"OS-TYPE ADD 3 HP-UX",
                               u"OS-TYPE ADD 3 \"HP-UX", u"NODEDISC ADD 2 x \"3\" \"1.3.6\"",
                               u"NODEDISC CHANGE 2 2 \"3\" \"1.3.6\"", u"NODEDISC ADD 2 2 \"3\" \"1.3.6",
                               u"SYSTEM-TYPE-OS-TYPE ADD Intel", u"NODEGROUP ADD Unix", u"NODEGROUP REMOVE Unix \"x\""}) {
    EXPECT_EQ(Read({line}), kUndoSectionSyntax) << WideToUtf8(line);
    EXPECT_NE(WideToUtf8(error_).find("(TESSERA3033)"), std::string::npos) << WideToUtf8(line);
  }
}

TEST_F(SectionReader, AnEmptySectionReversesNothing) {
  ASSERT_EQ(Read({}), S_OK);
  EXPECT_TRUE(changes_.model.osTypes.empty() && changes_.model.systemTypes.empty() && changes_.model.cpuOsTypes.empty());
  EXPECT_TRUE(changes_.matches.empty() && changes_.groups.empty());
}

TEST_F(SectionReader, ASystemTypeLeavesOnlyWithTheLastOsTypeOfItsCpu) {
  // Intel lists 10, 11, 6 and 4: taking 4 away leaves the system type.
  ASSERT_EQ(Read({u"SYSTEM-TYPE ADD 2 \"Intel x86\"", u"SYSTEM-TYPE-OS-TYPE ADD Intel 4"}), S_OK);
  ASSERT_TRUE(System(u"2"));
  EXPECT_EQ(System(u"2")->updateAction, ACTION_REMOVE);
  EXPECT_EQ(System(u"2")->undoAction, ACTION_ADD);  // stays in unregistration
  ASSERT_FALSE(changes_.model.cpuOsTypes.empty());
  EXPECT_EQ(changes_.model.cpuOsTypes[1].updateAction, ACTION_MODIFY);
  EXPECT_EQ(changes_.model.cpuOsTypes[1].toOsTypes, (std::vector<WString>{u"10", u"11", u"6"}));
  // SPARC lists only 4: its qualifier goes; a system type of that CPU type goes with it only
  // when the section added it.
  ASSERT_EQ(Read({u"SYSTEM-TYPE-OS-TYPE ADD sparc 4"}), S_OK);
  EXPECT_TRUE(changes_.model.systemTypes.empty());  // SPARC was there before
  ASSERT_EQ(Read({u"SYSTEM-TYPE ADD 4 \"SPARC\"", u"SYSTEM-TYPE-OS-TYPE ADD sparc 4"}), S_OK);
  ASSERT_TRUE(System(u"4"));
  EXPECT_EQ(System(u"4")->updateAction, ACTION_REMOVE);
  EXPECT_EQ(System(u"4")->undoAction, ACTION_REMOVE);
  EXPECT_EQ(System(u"2")->updateAction, NO_CHANGE);
}

TEST_F(SectionReader, ChangeLinesBringTheOldCaptionAndTheOldMatchValueBack) {
  ASSERT_EQ(Read({u"OS-TYPE CHANGE 3 \"HP-UX old\" \"HP-UX\"", u"os-version add 3102 \"10.20\"",
                  u"NODEDISC CHANGE 2 2 \"9\" \"3\" \"1.3.6.1.4.1.11.2.3.2.5\"",
                  u"NODEDISC INCREMENT 1 2 \"11\" \"windows 2000\""}),
            S_OK)
      << WideToUtf8(error_);
  ASSERT_EQ(changes_.model.osTypes.size(), wmi_.values.osTypes.size());
  EXPECT_EQ(changes_.model.osTypes[1].updateAction, ACTION_MODIFY);
  EXPECT_EQ(changes_.model.osTypes[1].toCaption, u"HP-UX old");
  EXPECT_EQ(changes_.model.osVersions[1].updateAction, ACTION_REMOVE);
  ASSERT_EQ(changes_.matches.size(), 2u);
  // The seed record has RefCnt 2: one reference goes, and the Value before the change returns.
  EXPECT_EQ(changes_.matches[0].to.RefCnt, 1);
  EXPECT_EQ(changes_.matches[0].to.Value, u"9");
  EXPECT_EQ(changes_.matches[0].updateAction, ACTION_MODIFY);
  EXPECT_EQ(changes_.matches[1].to.RefCnt, 0);  // the record is deleted
}

TEST_F(SectionReader, TheConnectionAndTheModelCheck) {
  // A pointer that already holds a connection is refused without connecting.
  EXPECT_EQ(ConnectToWmi(&services_), E_FAIL);
  EXPECT_EQ(CheckIfWMIModelIsValid(services_.get(), error_, log_), S_OK);
  ASSERT_EQ(services_->DeleteClass(u"VR_NodeGroupMember", 0, nullptr, nullptr), S_OK);
  ASSERT_EQ(services_->DeleteClass(u"VR_NodeGroup", 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(CheckIfWMIModelIsValid(services_.get(), error_, log_), E_FAIL);
  EXPECT_EQ(WideToUtf8(error_), "(TESSERA3032) 'VR_NodeGroup' class does not exists, please check WMI model.\n");
}

}  // namespace
