// The WMI service as the programs use it: connect, classes and qualifiers, instances,
// enumeration, queries, errors with __ExtendedStatus, and several connections at once.
#include <gtest/gtest.h>

#include <map>

#include "platform/com/errorinfo.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "platform/wmi/testing/temp_host.h"
#include "platform/wmi/wbemcli.h"

namespace {

using vr::wmi::testing::TempHost;

constexpr const char16_t* kProduct = u"\\\\.\\root\\Tamberlin\\Vorant\\data";

class Wmi : public ::testing::Test {
 protected:
  void SetUp() override {
    vr::fault::Reset();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    services_ = Connect(kProduct);
    ASSERT_TRUE(services_);
  }
  void TearDown() override {
    services_.reset();
    CoUninitialize();
    vr::fault::Reset();
  }

  static std::shared_ptr<IWbemServices> Connect(const char16_t* ns, HRESULT* result = nullptr) {
    std::shared_ptr<IUnknown> unknown;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator, &unknown);
    auto locator = std::dynamic_pointer_cast<IWbemLocator>(unknown);
    if (SUCCEEDED(hr) && !locator) hr = E_NOINTERFACE;
    std::shared_ptr<IWbemServices> services;
    if (SUCCEEDED(hr)) hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    if (result) *result = hr;
    return services;
  }

  std::shared_ptr<IWbemClassObject> Get(const char16_t* path, HRESULT expect = S_OK) {
    std::shared_ptr<IWbemClassObject> obj;
    EXPECT_EQ(services_->GetObject(path, 0, nullptr, &obj, nullptr), expect) << vr::text::WideToUtf8(path);
    return obj;
  }

  static std::vector<WString> Strings(IWbemQualifierSet* qs, const char16_t* name) {
    Variant v;
    std::vector<WString> out;
    if (FAILED(qs->Get(name, 0, &v, nullptr))) return out;
    EXPECT_EQ(v.vt, VT_ARRAY | VT_BSTR);
    SafeArrayToStrings(v.parray(), &out);
    return out;
  }

  static WString Text(IWbemClassObject* obj) {
    BSTR text = nullptr;
    EXPECT_EQ(obj->GetObjectText(0, &text), S_OK);
    WString r(text ? WString(text, SysStringLen(text)) : WString());
    SysFreeString(text);
    return r;
  }

  // Takes the thread's error object: the __ExtendedStatus property values, or empty.
  static std::map<WString, WString> ExtendedStatus() {
    std::shared_ptr<ErrorInfo> info;
    std::map<WString, WString> r;
    if (GetErrorInfo(0, &info) != S_OK) return r;
    auto obj = std::dynamic_pointer_cast<IWbemClassObject>(info->object);
    if (!obj) return r;
    for (const char16_t* p : {u"__CLASS", u"Description", u"Operation", u"ParameterInfo", u"ProviderName"}) {
      Variant v;
      if (SUCCEEDED(obj->Get(p, 0, &v, nullptr, nullptr)) && v.vt == VT_BSTR) r[p] = v.bstrVal;
    }
    return r;
  }

  std::vector<std::shared_ptr<IWbemClassObject>> All(IEnumWbemClassObject* e) {
    std::vector<std::shared_ptr<IWbemClassObject>> out;
    while (true) {
      std::shared_ptr<IWbemClassObject> objs[3];
      ULONG n = 0;
      HRESULT hr = e->Next(WBEM_INFINITE, 3, objs, &n);
      for (ULONG i = 0; i < n; ++i) out.push_back(objs[i]);
      if (hr != S_OK) {
        EXPECT_EQ(hr, WBEM_S_FALSE);
        break;
      }
    }
    return out;
  }

  TempHost host_;
  std::shared_ptr<IWbemServices> services_;
};

TEST_F(Wmi, ReadsThePlatformQualifiersOfManagedNode) {
  auto cls = Get(u"VR_ManagedNode");
  ASSERT_TRUE(cls);
  std::shared_ptr<IWbemQualifierSet> qs;
  ASSERT_EQ(cls->GetPropertyQualifierSet(u"SystemType", &qs), S_OK);
  auto values = Strings(qs.get(), u"Values");
  auto map = Strings(qs.get(), u"ValueMap");
  ASSERT_EQ(values.size(), map.size());
  EXPECT_EQ(values[4], u"PA-RISC");
  EXPECT_EQ(map[4], u"5");
  EXPECT_EQ(Strings(qs.get(), u"PARISC"), std::vector<WString>({u"3"}));
  long flavor = -1;
  Variant v;
  EXPECT_EQ(qs->Get(u"values", 0, &v, &flavor), S_OK);  // names are case-insensitive
  EXPECT_EQ(flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
  EXPECT_EQ(qs->Get(u"Intel", 0, &v, &flavor), S_OK);
  EXPECT_EQ(flavor, 0);
  EXPECT_EQ(qs->Get(u"NoSuchCpu", 0, &v, nullptr), WBEM_E_NOT_FOUND);
  std::shared_ptr<IWbemQualifierSet> none;
  EXPECT_EQ(cls->GetPropertyQualifierSet(u"NoSuchProperty", &none), WBEM_E_NOT_FOUND);
}

TEST_F(Wmi, QualifierChangesReachTheRepositoryOnlyWithPutClass) {
  auto cls = Get(u"VR_ManagedNode");
  std::shared_ptr<IWbemQualifierSet> qs;
  ASSERT_EQ(cls->GetPropertyQualifierSet(u"OsType", &qs), S_OK);
  Variant values;
  values.AttachArray(SafeArrayFromStrings({u"Other", u"Windows 2003"}));
  Variant map;
  map.AttachArray(SafeArrayFromStrings({u"1", u"12"}));
  ASSERT_EQ(qs->Put(u"Values", &values, 3), S_OK);
  ASSERT_EQ(qs->Put(u"ValueMap", &map, 3), S_OK);
  ASSERT_EQ(qs->Delete(u"Description"), S_OK);
  EXPECT_EQ(qs->Delete(u"Description"), WBEM_E_NOT_FOUND);

  // Nothing is stored yet.
  std::shared_ptr<IWbemQualifierSet> fresh;
  ASSERT_EQ(Get(u"VR_ManagedNode")->GetPropertyQualifierSet(u"OsType", &fresh), S_OK);
  EXPECT_EQ(Strings(fresh.get(), u"Values").size(), 8u);

  ASSERT_EQ(services_->PutClass(cls.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), S_OK);
  auto other = Connect(kProduct);
  std::shared_ptr<IWbemClassObject> stored;
  ASSERT_EQ(other->GetObject(u"VR_ManagedNode", 0, nullptr, &stored, nullptr), S_OK);
  ASSERT_EQ(stored->GetPropertyQualifierSet(u"OsType", &fresh), S_OK);
  EXPECT_EQ(Strings(fresh.get(), u"Values"), std::vector<WString>({u"Other", u"Windows 2003"}));
  Variant gone;
  EXPECT_EQ(fresh->Get(u"Description", 0, &gone, nullptr), WBEM_E_NOT_FOUND);
  // The instances keep their values: only qualifiers changed.
  auto node = Get(u"VR_ManagedNode.Name=\"WEB03.corp.example.com\"");
  ASSERT_TRUE(node);
  Variant os;
  ASSERT_EQ(node->Get(u"OsType", 0, &os, nullptr, nullptr), S_OK);
  EXPECT_EQ(os.lVal, 6);
}

TEST_F(Wmi, PutClassFlagsFollowWmi) {
  std::shared_ptr<IWbemClassObject> blank;
  ASSERT_EQ(services_->GetObject(nullptr, 0, nullptr, &blank, nullptr), S_OK);
  EXPECT_EQ(services_->PutClass(blank.get(), 0, nullptr, nullptr), WBEM_E_INVALID_OBJECT);
  Variant name(u"VR_Scratch");
  ASSERT_EQ(blank->Put(u"__CLASS", 0, &name, 0), S_OK);
  Variant text(u"x");
  ASSERT_EQ(blank->Put(u"Key", 0, &text, CIM_STRING), S_OK);
  std::shared_ptr<IWbemQualifierSet> qs;
  ASSERT_EQ(blank->GetPropertyQualifierSet(u"Key", &qs), S_OK);
  Variant yes(true);
  ASSERT_EQ(qs->Put(u"key", &yes, 0), S_OK);
  EXPECT_EQ(services_->PutClass(blank.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), WBEM_E_NOT_FOUND);
  EXPECT_EQ(services_->PutClass(blank.get(), WBEM_FLAG_CREATE_ONLY, nullptr, nullptr), S_OK);
  EXPECT_EQ(services_->PutClass(blank.get(), WBEM_FLAG_CREATE_ONLY, nullptr, nullptr), WBEM_E_ALREADY_EXISTS);
  auto ext = ExtendedStatus();
  EXPECT_EQ(ext[u"__CLASS"], u"__ExtendedStatus");
  EXPECT_EQ(ext[u"Operation"], u"PutClass");
  EXPECT_EQ(ext[u"ParameterInfo"], u"VR_Scratch");
  EXPECT_EQ(services_->PutClass(blank.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), S_OK);
  Get(u"VR_Scratch");
  EXPECT_EQ(services_->DeleteClass(u"VR_Scratch", 0, nullptr, nullptr), S_OK);
  Get(u"VR_Scratch", WBEM_E_NOT_FOUND);
}

TEST_F(Wmi, InstancesAreKeyedWithoutRegardToCase) {
  auto cls = Get(u"VR_PlatformMatch");
  std::shared_ptr<IWbemClassObject> inst;
  ASSERT_EQ(cls->SpawnInstance(0, &inst), S_OK);
  Variant expr(u"Windows Server 2003"), method(int32_t(1)), prop(int32_t(2)), value(u"12"), ref(int32_t(1));
  ASSERT_EQ(inst->Put(u"MatchExpression", 0, &expr, 0), S_OK);
  ASSERT_EQ(inst->Put(u"Method", 0, &method, 0), S_OK);
  ASSERT_EQ(inst->Put(u"Property", 0, &prop, 0), S_OK);
  ASSERT_EQ(inst->Put(u"Value", 0, &value, 0), S_OK);
  ASSERT_EQ(inst->Put(u"RefCnt", 0, &ref, 0), S_OK);
  Variant bad(u"not a number");
  EXPECT_EQ(inst->Put(u"RefCnt", 0, &bad, 0), WBEM_E_TYPE_MISMATCH);
  EXPECT_EQ(inst->Put(u"NoSuch", 0, &bad, 0), WBEM_E_NOT_FOUND);
  EXPECT_EQ(services_->PutInstance(inst.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), WBEM_E_NOT_FOUND);
  ASSERT_EQ(services_->PutInstance(inst.get(), 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(services_->PutInstance(inst.get(), WBEM_FLAG_CREATE_ONLY, nullptr, nullptr), WBEM_E_ALREADY_EXISTS);

  auto got = Get(u"VR_PlatformMatch.MatchExpression=\"WINDOWS server 2003\",Method=1,Property=2");
  ASSERT_TRUE(got);
  Variant v;
  ASSERT_EQ(got->Get(u"__RELPATH", 0, &v, nullptr, nullptr), S_OK);
  EXPECT_EQ(v.bstrVal, u"VR_PlatformMatch.MatchExpression=\"Windows Server 2003\",Method=1,Property=2");
  ASSERT_EQ(got->Get(u"__PATH", 0, &v, nullptr, nullptr), S_OK);
  EXPECT_NE(v.bstrVal.find(u"\\root\\Tamberlin\\Vorant\\data:VR_PlatformMatch."), WString::npos);
  Get(u"VR_PlatformMatch.MatchExpression=\"Windows Server 2003\",Method=2,Property=2", WBEM_E_NOT_FOUND);
  Get(u"VR_PlatformMatch.MatchExpression=\"Windows Server 2003\",Method=1", WBEM_E_INVALID_OBJECT_PATH);
  EXPECT_EQ(services_->DeleteInstance(u"VR_PlatformMatch.MatchExpression='windows server 2003',Method=1,Property=2",
                                      0, nullptr, nullptr), S_OK);
  EXPECT_EQ(services_->DeleteInstance(u"VR_PlatformMatch.MatchExpression='windows server 2003',Method=1,Property=2",
                                      0, nullptr, nullptr), WBEM_E_NOT_FOUND);
}

TEST_F(Wmi, MembershipPathsWithEscapedReferences) {
  auto cls = Get(u"VR_NodeGroupMember");
  std::shared_ptr<IWbemClassObject> inst;
  ASSERT_EQ(cls->SpawnInstance(0, &inst), S_OK);
  Variant parent(u"VR_NodeGroup.Name=\"Unix\""), child(u"VR_NodeGroup.Name=\"Irix\"");
  ASSERT_EQ(inst->Put(u"GroupComponent", 0, &parent, 0), S_OK);
  ASSERT_EQ(inst->Put(u"PartComponent", 0, &child, 0), S_OK);
  Variant notAPath(u"this is not a path");
  EXPECT_EQ(inst->Put(u"PartComponent", 0, &notAPath, 0), WBEM_E_TYPE_MISMATCH);
  ASSERT_EQ(services_->PutInstance(inst.get(), 0, nullptr, nullptr), S_OK);
  const char16_t* path =
      u"VR_NodeGroupMember.GroupComponent=\"VR_NodeGroup.Name=\\\"Unix\\\"\",PartComponent=\"VR_NodeGroup.Name=\\\"Irix\\\"\"";
  auto got = Get(path);
  ASSERT_TRUE(got);
  Variant v;
  ASSERT_EQ(got->Get(u"PartComponent", 0, &v, nullptr, nullptr), S_OK);
  EXPECT_EQ(v.bstrVal, u"VR_NodeGroup.Name=\"Irix\"");
  // The same reference written with single quotes names the same membership.
  Get(u"VR_NodeGroupMember.GroupComponent=\"VR_NodeGroup.Name='unix'\",PartComponent=\"VR_NodeGroup.Name='IRIX'\"");
  EXPECT_EQ(services_->DeleteInstance(path, 0, nullptr, nullptr), S_OK);
}

TEST_F(Wmi, EnumerationEndsWithFalseAndForwardOnlyCannotReset) {
  std::shared_ptr<IEnumWbemClassObject> e;
  ASSERT_EQ(services_->CreateInstanceEnum(u"VR_NodeGroup", WBEM_FLAG_FORWARD_ONLY, nullptr, &e), S_OK);
  auto groups = All(e.get());
  EXPECT_EQ(groups.size(), 10u);
  std::shared_ptr<IWbemClassObject> one;
  ULONG n = 7;
  EXPECT_EQ(e->Next(20000, 1, &one, &n), WBEM_S_FALSE);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(e->Reset(), WBEM_E_INVALID_OPERATION);

  ASSERT_EQ(services_->CreateInstanceEnum(u"VR_NodeGroup", 0, nullptr, &e), S_OK);
  EXPECT_EQ(e->Skip(0, 4), S_OK);
  EXPECT_EQ(All(e.get()).size(), 6u);
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(All(e.get()).size(), 10u);

  EXPECT_EQ(services_->CreateInstanceEnum(u"VR_NoSuchClass", 0, nullptr, &e), WBEM_E_INVALID_CLASS);
  // Registrations are instances of a system class, found through its superclass too.
  ASSERT_EQ(services_->CreateInstanceEnum(u"__ProviderRegistration", 0, nullptr, &e), S_OK);
  EXPECT_EQ(All(e.get()).size(), 5u);
}

TEST_F(Wmi, QueriesSelectByKeyAndByOtherProperties) {
  std::shared_ptr<IEnumWbemClassObject> e;
  ASSERT_EQ(services_->ExecQuery(u"WQL", u"SELECT * FROM VR_PlatformMatch WHERE Method = 2", 0, nullptr, &e), S_OK);
  EXPECT_EQ(All(e.get()).size(), 4u);
  ASSERT_EQ(services_->ExecQuery(u"wql", u"select * from VR_PlatformMatch where Method = 2 and Value = '3'", 0,
                                 nullptr, &e), S_OK);
  auto hp = All(e.get());
  ASSERT_EQ(hp.size(), 1u);
  Variant v;
  hp[0]->Get(u"RefCnt", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.lVal, 2);
  ASSERT_EQ(services_->ExecQuery(u"WQL", u"SELECT * FROM VR_ManagedNode WHERE Name = 'LDAP1.corp.example.com'", 0,
                                 nullptr, &e), S_OK);
  EXPECT_EQ(All(e.get()).size(), 1u);
  ASSERT_EQ(services_->ExecQuery(u"WQL", u"SELECT * FROM VR_ManagedNode WHERE Managed = FALSE", 0, nullptr, &e), S_OK);
  EXPECT_EQ(All(e.get()).size(), 1u);
  EXPECT_EQ(services_->ExecQuery(u"WQL", u"SELECT * FROM VR_ManagedNode WHERE Nope = 1", 0, nullptr, &e),
            WBEM_E_INVALID_QUERY);
  EXPECT_EQ(services_->ExecQuery(u"WQL", u"SELECT * FROM VR_ManagedNode WHERE Name > 'a'", 0, nullptr, &e),
            WBEM_E_INVALID_QUERY);
  EXPECT_EQ(services_->ExecQuery(u"SQL", u"SELECT * FROM VR_ManagedNode", 0, nullptr, &e), WBEM_E_INVALID_QUERY_TYPE);
  EXPECT_EQ(services_->ExecQuery(u"WQL", u"SELECT * FROM VR_Nothing", 0, nullptr, &e), WBEM_E_INVALID_CLASS);
}

TEST_F(Wmi, MissingNamespaceAndRemoteServersFailToConnect) {
  HRESULT hr = S_OK;
  EXPECT_FALSE(Connect(u"\\\\.\\root\\Tamberlin\\Vorant\\nothing", &hr));
  EXPECT_EQ(hr, WBEM_E_INVALID_NAMESPACE);
  auto ext = ExtendedStatus();
  EXPECT_EQ(ext[u"Operation"], u"ConnectServer");
  EXPECT_EQ(ext[u"ParameterInfo"], u"\\\\.\\root\\Tamberlin\\Vorant\\nothing");
  EXPECT_EQ(ext[u"ProviderName"], u"WinMgmt");
  EXPECT_FALSE(Connect(u"\\\\faraway\\root", &hr));
  EXPECT_EQ(hr, MakeHr(0x800706BA));
  EXPECT_TRUE(Connect(u"//./root/tamberlin/vorant/DATA", &hr));
  EXPECT_EQ(hr, S_OK);
}

TEST_F(Wmi, FaultInjectionFailsTheNamedCall) {
  vr::fault::Configure("wmi.PutInstance#2=0x80041003;wmi.Next#2=0x40004");
  auto node = Get(u"VR_NodeGroup.Name=\"Unix\"");
  EXPECT_EQ(services_->PutInstance(node.get(), 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(services_->PutInstance(node.get(), 0, nullptr, nullptr), WBEM_E_ACCESS_DENIED);
  EXPECT_EQ(ExtendedStatus()[u"Operation"], u"PutInstance");
  std::shared_ptr<IEnumWbemClassObject> e;
  ASSERT_EQ(services_->CreateInstanceEnum(u"VR_NodeGroup", 0, nullptr, &e), S_OK);
  std::shared_ptr<IWbemClassObject> one;
  ULONG n = 0;
  EXPECT_EQ(e->Next(1000, 1, &one, &n), S_OK);
  EXPECT_EQ(e->Next(1000, 1, &one, &n), WBEM_S_TIMEDOUT);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(e->Next(1000, 1, &one, &n), S_OK);
}

TEST_F(Wmi, ObjectTextOfAClassReadsBackToTheSameClass) {
  auto cls = Get(u"VR_ManagedNode");
  const WString text = Text(cls.get());
  EXPECT_EQ(text.find(u"\n[Description(\"A node that the management server manages.\"): ToSubclass, Locale(1033): ToInstance]\n"
                      u"class VR_ManagedNode\n{\n\t[key, Description("), 0u);
  EXPECT_NE(text.find(u"PARISC{\"3\"}"), WString::npos);
  EXPECT_NE(text.find(u"\tboolean Managed = TRUE;\n"), WString::npos);
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"copy\"; };"), "");
  ASSERT_EQ(host_.Compile(text, u"root\\copy"), "");
  auto copy = Connect(u"\\\\.\\root\\copy");
  std::shared_ptr<IWbemClassObject> again;
  ASSERT_EQ(copy->GetObject(u"VR_ManagedNode", 0, nullptr, &again, nullptr), S_OK);
  EXPECT_EQ(Text(again.get()), text);
  EXPECT_EQ(again->CompareTo(0, cls.get()), WBEM_S_SAME);
}

}  // namespace
