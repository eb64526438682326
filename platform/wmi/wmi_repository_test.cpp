// Repository semantics: inheritance and qualifier flavours, class updates in the three modes,
// keys, system properties, namespaces, and programs working at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/com/errorinfo.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"
#include "platform/wmi/extended_status.h"
#include "platform/wmi/repository.h"
#include "platform/wmi/sqlite_store.h"
#include "platform/wmi/testing/temp_host.h"
#include "platform/wmi/wbemcli.h"
#include "tests/support/HostTestSupport.h"

namespace {

using vr::wmi::testing::TempHost;

constexpr const char16_t* kNs = u"root\\Tamberlin\\Vorant\\data";

class Repo : public ::testing::Test {
 protected:
  void SetUp() override {
    vr::fault::Reset();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(host_.Compile(uR"(
      [Description("base"): ToSubclass ToInstance, Note("local only"), Frozen(1): ToSubclass DisableOverride]
      class T_Base
      {
        [key] string Id;
        [Units("ms"): ToSubclass] uint32 Delay = 5;
        string Label;
      };
      class T_Derived : T_Base
      {
        [Units("s")] uint32 Delay = 7;
        sint32 Extra;
      };
      instance of T_Base { Id = "b1"; };
      instance of T_Derived { Id = "d1"; Extra = 3; };
    )", kNs), "");
    services_ = Connect(u"root\\Tamberlin\\Vorant\\data");
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
    std::shared_ptr<IWbemServices> s;
    if (SUCCEEDED(hr)) hr = std::dynamic_pointer_cast<IWbemLocator>(unknown)->ConnectServer(
                           ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &s);
    if (result) *result = hr;
    return s;
  }
  std::shared_ptr<IWbemClassObject> Get(const char16_t* path, HRESULT expect = S_OK) {
    std::shared_ptr<IWbemClassObject> o;
    EXPECT_EQ(services_->GetObject(path, 0, nullptr, &o, nullptr), expect) << vr::text::WideToUtf8(path);
    return o;
  }
  static std::shared_ptr<IWbemQualifierSet> Qualifiers(IWbemClassObject* o, const char16_t* property = nullptr) {
    std::shared_ptr<IWbemQualifierSet> q;
    EXPECT_EQ(property ? o->GetPropertyQualifierSet(property, &q) : o->GetQualifierSet(&q), S_OK);
    return q;
  }
  HRESULT Compile(const char16_t* mof) {
    const std::string e = host_.Compile(mof, kNs);
    return e.empty() ? S_OK : E_FAIL;
  }
  size_t Count(const char16_t* cls) {
    std::shared_ptr<IEnumWbemClassObject> e;
    if (FAILED(services_->CreateInstanceEnum(cls, 0, nullptr, &e))) return 9999;
    size_t n = 0;
    while (true) {
      std::shared_ptr<IWbemClassObject> o;
      ULONG got = 0;
      e->Next(WBEM_INFINITE, 1, &o, &got);
      if (!got) return n;
      ++n;
    }
  }

  TempHost host_;
  std::shared_ptr<IWbemServices> services_;
};

TEST_F(Repo, QualifiersFollowTheirFlavours) {
  auto derived = Get(u"T_Derived");
  auto q = Qualifiers(derived.get());
  Variant v;
  long flavor = 0;
  ASSERT_EQ(q->Get(u"Description", 0, &v, &flavor), S_OK);
  EXPECT_EQ(v.bstrVal, u"base");
  EXPECT_TRUE(flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED);
  EXPECT_EQ(q->Get(u"Note", 0, &v, nullptr), WBEM_E_NOT_FOUND);  // restricted to the base
  Variant other(u"changed");
  EXPECT_EQ(q->Put(u"Frozen", &other, 0), WBEM_E_OVERRIDE_NOT_ALLOWED);
  EXPECT_EQ(q->Delete(u"Description"), WBEM_E_PROPAGATED_QUALIFIER);
  ASSERT_EQ(q->Put(u"Description", &other, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS), S_OK);
  ASSERT_EQ(q->Get(u"Description", 0, &v, &flavor), S_OK);
  EXPECT_EQ(v.bstrVal, u"changed");
  EXPECT_EQ(flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
  EXPECT_EQ(q->Delete(u"Description"), WBEM_S_RESET_TO_DEFAULT);
  ASSERT_EQ(q->Get(u"Description", 0, &v, nullptr), S_OK);
  EXPECT_EQ(v.bstrVal, u"base");
  EXPECT_EQ(q->Put(u"Bad Name", &other, 0), WBEM_E_INVALID_PARAMETER);
  Variant wrong;
  wrong.vt = VT_I2;
  EXPECT_EQ(q->Put(u"Odd", &wrong, 0), WBEM_E_INVALID_QUALIFIER_TYPE);
  EXPECT_EQ(q->Put(u"Odd", &other, 0x100), WBEM_E_INVALID_FLAVOR);

  // Property qualifiers: the override of the derived class, and the base's after deletion.
  auto delay = Qualifiers(derived.get(), u"Delay");
  ASSERT_EQ(delay->Get(u"Units", 0, &v, nullptr), S_OK);
  EXPECT_EQ(v.bstrVal, u"s");
  EXPECT_EQ(delay->Delete(u"Units"), WBEM_S_RESET_TO_DEFAULT);
  ASSERT_EQ(delay->Get(u"Units", 0, &v, nullptr), S_OK);
  EXPECT_EQ(v.bstrVal, u"ms");

  // Instances see what is handed to instances, and may carry their own.
  auto inst = Get(u"T_Derived.Id=\"d1\"");
  auto iq = Qualifiers(inst.get());
  EXPECT_EQ(iq->Get(u"Description", 0, &v, nullptr), S_OK);
  EXPECT_EQ(iq->Get(u"Frozen", 0, &v, nullptr), WBEM_E_NOT_FOUND);
  EXPECT_EQ(iq->Put(u"Description", &other, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS), WBEM_E_INVALID_FLAVOR);
  ASSERT_EQ(iq->Put(u"Owner", &other, 0), S_OK);
  ASSERT_EQ(services_->PutInstance(inst.get(), 0, nullptr, nullptr), S_OK);
  auto again = Get(u"T_Derived.Id=\"d1\"");
  ASSERT_EQ(Qualifiers(again.get())->Get(u"Owner", 0, &v, nullptr), S_OK);
  EXPECT_EQ(v.bstrVal, u"changed");
  SafeArray* names = nullptr;
  ASSERT_EQ(Qualifiers(again.get())->GetNames(WBEM_FLAG_LOCAL_ONLY, &names), S_OK);
  std::vector<WString> local;
  SafeArrayToStrings(names, &local);
  SafeArrayDestroy(names);
  EXPECT_EQ(local, std::vector<WString>({u"Owner"}));
}

TEST_F(Repo, DerivedInstancesShareTheKeysOfTheBase) {
  auto byBase = Get(u"T_Base.Id=\"D1\"");
  ASSERT_TRUE(byBase);
  Variant v;
  byBase->Get(u"__CLASS", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.bstrVal, u"T_Derived");
  byBase->Get(u"Delay", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.lVal, 7);  // the derived default
  Get(u"T_Derived.Id=\"b1\"", WBEM_E_NOT_FOUND);  // a base instance is not a derived one
  EXPECT_EQ(Count(u"T_Base"), 2u);
  std::shared_ptr<IEnumWbemClassObject> e;
  ASSERT_EQ(services_->CreateInstanceEnum(u"T_Base", WBEM_FLAG_SHALLOW, nullptr, &e), S_OK);
  std::shared_ptr<IWbemClassObject> objs[4];
  ULONG n = 0;
  EXPECT_EQ(e->Next(0, 4, objs, &n), WBEM_S_FALSE);
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(Compile(u"instance of T_Base { Id = \"D1\"; };"), E_FAIL);  // the key belongs to a T_Derived
  EXPECT_EQ(Compile(u"class T_Derived2 : T_Base { [key] string Second; };"), E_FAIL);
  auto derived = Get(u"T_Derived");
  BSTR origin = nullptr;
  ASSERT_EQ(derived->GetPropertyOrigin(u"Label", &origin), S_OK);
  EXPECT_EQ(WString(origin), u"T_Base");
  SysFreeString(origin);
  EXPECT_EQ(derived->InheritsFrom(u"t_base"), WBEM_S_NO_ERROR);
  EXPECT_EQ(derived->InheritsFrom(u"VR_ManagedNode"), WBEM_S_FALSE);
}

TEST_F(Repo, ClassUpdatesWithInstancesAndChildren) {
  // Adding a property to a class with instances and children: compatible mode refuses
  // because of the children, safe mode allows it; the instances take the default.
  const char16_t* withColour = uR"(
      [Description("base"): ToSubclass ToInstance, Note("local only"), Frozen(1): ToSubclass DisableOverride]
      class T_Base { [key] string Id; [Units("ms"): ToSubclass] uint32 Delay = 5; string Label; string Colour = "red"; };)";
  EXPECT_EQ(Compile(withColour), E_FAIL);
  EXPECT_NE(host_.Compile(withColour, kNs).find("has subclasses"), std::string::npos);
  EXPECT_EQ(Compile((WString(u"#pragma classflags(\"safeupdate\")\n") + withColour).c_str()), S_OK);
  Variant v;
  Get(u"T_Derived.Id=\"d1\"")->Get(u"Colour", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.bstrVal, u"red");

  // Removing a property the instances hold needs the force mode, which drops their values.
  const char16_t* withoutLabel = uR"(
      class T_Base { [key] string Id; [Units("ms"): ToSubclass] uint32 Delay = 5; string Colour = "red"; };)";
  EXPECT_NE(host_.Compile((WString(u"#pragma classflags(\"safeupdate\")\n") + withoutLabel).c_str(), kNs)
                .find("has instances"),
            std::string::npos);
  EXPECT_EQ(Compile((WString(u"#pragma classflags(\"forceupdate\")\n") + withoutLabel).c_str()), S_OK);
  EXPECT_EQ(Get(u"T_Derived.Id=\"d1\"")->Get(u"Label", 0, &v, nullptr, nullptr), WBEM_E_NOT_FOUND);
  EXPECT_EQ(Count(u"T_Base"), 2u);

  // A subclass that no longer fits (it overrides Delay, which becomes a string) is refused in
  // safe mode and deleted, with its instances, in force mode.
  const char16_t* retyped = uR"(class T_Base { [key] string Id; string Delay; string Colour = "red"; };)";
  EXPECT_EQ(Compile((WString(u"#pragma classflags(\"safeupdate\")\n") + retyped).c_str()), E_FAIL);
  Get(u"T_Derived");
  EXPECT_EQ(Compile((WString(u"#pragma classflags(\"forceupdate\")\n") + retyped).c_str()), S_OK);
  Get(u"T_Derived", WBEM_E_NOT_FOUND);
  EXPECT_EQ(Count(u"T_Base"), 1u);

  // Only qualifiers change: allowed in every mode, with instances and without.
  auto node = Get(u"VR_ManagedNode");
  Variant text(u"new");
  ASSERT_EQ(Qualifiers(node.get(), u"OsType")->Put(u"Description", &text, 0), S_OK);
  EXPECT_EQ(services_->PutClass(node.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), S_OK);
  // A new key on a class with instances changes what names them.
  ASSERT_EQ(Qualifiers(node.get(), u"IpAddress")->Put(u"key", &(v = Variant(true)), 0), S_OK);
  EXPECT_EQ(services_->PutClass(node.get(), WBEM_FLAG_UPDATE_ONLY | WBEM_FLAG_UPDATE_SAFE_MODE, nullptr, nullptr),
            WBEM_E_CLASS_HAS_INSTANCES);
  EXPECT_EQ(services_->PutClass(node.get(), WBEM_FLAG_UPDATE_SAFE_MODE | WBEM_FLAG_UPDATE_FORCE_MODE, nullptr, nullptr),
            WBEM_E_INVALID_PARAMETER);
}

TEST_F(Repo, KeysAndKindsOfClasses) {
  EXPECT_NE(host_.Compile(u"class T_Bad { [key] real64 R; };", kNs).find("cannot be a key"), std::string::npos);
  EXPECT_NE(host_.Compile(u"class T_Bad { [key] string A[]; };", kNs).find("cannot be a key"), std::string::npos);
  ASSERT_EQ(Compile(uR"(
      [abstract] class T_Abstract { [key] string Id; };
      class T_Keyless { string Text; };
      [singleton] class T_Settings { uint32 Level = 1; };
      instance of T_Settings { Level = 4; };
      class T_Loop : T_Abstract {};
  )"), S_OK);
  EXPECT_NE(host_.Compile(u"instance of T_Abstract { Id = \"x\"; };", kNs).find("abstract"), std::string::npos);
  EXPECT_NE(host_.Compile(u"instance of T_Keyless { Text = \"x\"; };", kNs).find("has no key"), std::string::npos);
  EXPECT_NE(host_.Compile(u"class T_Abstract : T_Loop {};", kNs).find("cannot derive from itself"), std::string::npos);
  auto settings = Get(u"T_Settings=@");
  ASSERT_TRUE(settings);
  Variant v;
  settings->Get(u"Level", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.lVal, 4);
  settings->Get(u"__RELPATH", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.bstrVal, u"T_Settings=@");
  auto cls = Get(u"T_Base");
  std::shared_ptr<IWbemQualifierSet> q;
  ASSERT_EQ(cls->GetPropertyQualifierSet(u"Label", &q), S_OK);
  Variant yes(true);
  ASSERT_EQ(q->Put(u"key", &yes, 0), S_OK);  // a second key of a root class
  ASSERT_EQ(cls->GetPropertyQualifierSet(u"Delay", &q), S_OK);
  EXPECT_EQ(q->Put(u"key", &yes, 0), S_OK);
  auto derived = Get(u"T_Derived");
  ASSERT_EQ(derived->GetPropertyQualifierSet(u"Extra", &q), S_OK);
  EXPECT_EQ(q->Put(u"key", &yes, 0), WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE);
}

TEST_F(Repo, SystemPropertiesAndPropertyEnumeration) {
  auto inst = Get(u"T_Derived.Id=\"d1\"");
  Variant v;
  CIMTYPE type = 0;
  long flavor = 0;
  ASSERT_EQ(inst->Get(u"__GENUS", 0, &v, &type, &flavor), S_OK);
  EXPECT_EQ(v.lVal, WBEM_GENUS_INSTANCE);
  EXPECT_EQ(flavor, WBEM_FLAVOR_ORIGIN_SYSTEM);
  ASSERT_EQ(inst->Get(u"__DERIVATION", 0, &v, &type, nullptr), S_OK);
  std::vector<WString> derivation;
  SafeArrayToStrings(v.parray(), &derivation);
  EXPECT_EQ(derivation, std::vector<WString>({u"T_Base"}));
  inst->Get(u"__DYNASTY", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.bstrVal, u"T_Base");
  inst->Get(u"__NAMESPACE", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.bstrVal, kNs);
  inst->Get(u"__PROPERTY_COUNT", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.lVal, 4);
  Variant any(u"x");
  EXPECT_EQ(inst->Put(u"__PATH", 0, &any, 0), WBEM_E_READ_ONLY);
  EXPECT_EQ(inst->Put(u"__CLASS", 0, &any, 0), WBEM_E_READ_ONLY);
  EXPECT_EQ(inst->Get(u"__NOSUCH", 0, &v, nullptr, nullptr), WBEM_E_NOT_FOUND);
  std::shared_ptr<IWbemQualifierSet> q;
  EXPECT_EQ(inst->GetPropertyQualifierSet(u"__CLASS", &q), WBEM_E_SYSTEM_PROPERTY);
  EXPECT_EQ(inst->Delete(u"Extra"), WBEM_S_RESET_TO_DEFAULT);
  inst->Get(u"Extra", 0, &v, nullptr, nullptr);
  EXPECT_EQ(v.vt, VT_NULL);

  auto names = [&](IWbemClassObject* o, const char16_t* qualifier, long flags) {
    SafeArray* psa = nullptr;
    EXPECT_EQ(o->GetNames(qualifier, flags, nullptr, &psa), S_OK);
    std::vector<WString> r;
    SafeArrayToStrings(psa, &r);
    SafeArrayDestroy(psa);
    return r;
  };
  auto derived = Get(u"T_Derived");
  EXPECT_EQ(names(derived.get(), nullptr, WBEM_FLAG_NONSYSTEM_ONLY), std::vector<WString>({u"Id", u"Delay", u"Label", u"Extra"}));
  EXPECT_EQ(names(derived.get(), nullptr, WBEM_FLAG_LOCAL_ONLY), std::vector<WString>({u"Extra"}));
  EXPECT_EQ(names(derived.get(), nullptr, WBEM_FLAG_KEYS_ONLY), std::vector<WString>({u"Id"}));
  EXPECT_EQ(names(derived.get(), u"Units", WBEM_FLAG_ONLY_IF_TRUE), std::vector<WString>({u"Delay"}));
  EXPECT_EQ(names(derived.get(), nullptr, WBEM_FLAG_SYSTEM_ONLY).size(), 10u);
  ASSERT_EQ(derived->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), S_OK);
  BSTR name = nullptr;
  std::vector<WString> seen;
  while (derived->Next(0, &name, &v, &type, &flavor) == S_OK) {
    seen.emplace_back(name);
    SysFreeString(name);
  }
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(derived->Next(0, &name, &v, &type, &flavor), WBEM_S_NO_MORE_DATA);
  EXPECT_EQ(derived->EndEnumeration(), S_OK);
  EXPECT_EQ(derived->Next(0, &name, &v, &type, &flavor), WBEM_E_UNEXPECTED);
}

TEST_F(Repo, NamespacesAreInstancesOfNamespace) {
  HRESULT hr;
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"scratch\"; };", kNs), "");
  auto scratch = Connect(u"root\\Tamberlin\\Vorant\\data\\scratch", &hr);
  ASSERT_TRUE(scratch) << hr;
  EXPECT_EQ(Count(u"__NAMESPACE"), 1u);
  Get(u"__NAMESPACE.Name=\"SCRATCH\"");
  Get(u"__NAMESPACE.Name=\"other\"", WBEM_E_NOT_FOUND);
  std::shared_ptr<IWbemClassObject> cls;
  ASSERT_EQ(scratch->GetObject(u"__Win32Provider", 0, nullptr, &cls, nullptr), S_OK);  // system classes everywhere
  EXPECT_EQ(scratch->GetObject(u"VR_ManagedNode", 0, nullptr, &cls, nullptr), WBEM_E_NOT_FOUND);
  EXPECT_EQ(services_->DeleteInstance(u"__NAMESPACE.Name=\"scratch\"", 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(scratch->GetObject(u"__Win32Provider", 0, nullptr, &cls, nullptr), WBEM_E_INVALID_NAMESPACE);
  EXPECT_FALSE(Connect(u"root\\Tamberlin\\Vorant\\data\\scratch", &hr));
  EXPECT_EQ(hr, WBEM_E_INVALID_NAMESPACE);
  // Objects of one namespace can be named from another.
  auto root = Connect(u"root");
  std::shared_ptr<IWbemClassObject> node;
  EXPECT_EQ(root->GetObject(u"\\\\.\\root\\Tamberlin\\Vorant\\data:VR_NodeGroup.Name=\"Unix\"", 0, nullptr, &node, nullptr), S_OK);
  EXPECT_EQ(services_->DeleteClass(u"T_Base", 0, nullptr, nullptr), S_OK);  // with its subclass and instances
  Get(u"T_Derived", WBEM_E_NOT_FOUND);
  EXPECT_EQ(services_->DeleteClass(u"__Win32Provider", 0, nullptr, nullptr), WBEM_E_INVALID_OPERATION);
}

// Several programs writing at once: each write is serialised by the database's lock, none is
// lost, and every one is on disk when its call returns.
TEST_F(Repo, ProgramsWritingAtOnceLoseNothing) {
  services_.reset();
  CoUninitialize();
  constexpr int kPrograms = 4, kEach = 40;
  std::vector<pid_t> children;
  for (int p = 0; p < kPrograms; ++p) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      {
        auto s = Connect(kNs);
        std::shared_ptr<IWbemClassObject> cls, inst;
        if (!s || FAILED(s->GetObject(u"VR_NodeGroup", 0, nullptr, &cls, nullptr))) ::_exit(100);
        for (int i = 0; i < kEach; ++i) {
          cls->SpawnInstance(0, &inst);
          Variant name(vr::text::Utf8ToWide("P" + std::to_string(p) + "_" + std::to_string(i)));
          inst->Put(u"Name", 0, &name, 0);
          if (FAILED(s->PutInstance(inst.get(), WBEM_FLAG_CREATE_ONLY, nullptr, nullptr))) ++failures;
        }
      }
      CoUninitialize();
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  services_ = Connect(kNs);
  EXPECT_EQ(Count(u"VR_NodeGroup"), 10u + kPrograms * kEach);
}

TEST_F(Repo, AWriterGivesUpOnALockHeldTooLong) {
  services_.reset();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((host_.root() + "/wmi/repository.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  {
    vr::testing::ScopedEnv timeout("VR_WMI_LOCK_TIMEOUT_MS", "300");
    services_ = Connect(kNs);
  }
  ASSERT_TRUE(services_);
  auto group = Get(u"VR_NodeGroup.Name=\"Unix\"");  // reading goes on
  ASSERT_TRUE(group);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(services_->PutInstance(group.get(), 0, nullptr, nullptr), WBEM_E_SERVER_TOO_BUSY);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(5));
  std::shared_ptr<ErrorInfo> info;
  EXPECT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_TRUE(std::dynamic_pointer_cast<IWbemClassObject>(info->object));
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_EQ(services_->PutInstance(group.get(), 0, nullptr, nullptr), S_OK);
}


// The store's file: an empty one is damaged, not new; a new one never shows without its tables;
// a full disk is reported as the registry and the file calls report it.
TEST(RepositoryFile, AnEmptyFileIsDamagedAndLeftAsItIs) {
  TempHost host(false);
  const std::string folder = host.root() + "/wmi";
  std::filesystem::create_directories(folder);
  const std::string path = folder + "/repository.db";
  { std::ofstream(path, std::ios::binary); }
  std::shared_ptr<vr::wmi::Repository> repo;
  WString why;
  EXPECT_EQ(vr::wmi::Repository::OpenHost(&repo, &why), WBEM_E_CRITICAL_ERROR);
  EXPECT_NE(vr::text::WideToUtf8(why).find("repository.db is damaged: the file is empty. It has been left as it is"),
            std::string::npos) << vr::text::WideToUtf8(why);
  EXPECT_FALSE(repo);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(folder)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"repository.db"});

  // Without a file, a new repository appears whole, and nothing of its making stays beside it.
  std::filesystem::remove(path);
  ASSERT_EQ(vr::wmi::Repository::OpenHost(&repo, &why), S_OK) << vr::text::WideToUtf8(why);
  EXPECT_GT(std::filesystem::file_size(path), 0u);
  repo.reset();
  for (const auto& e : std::filesystem::directory_iterator(folder))
    EXPECT_EQ(e.path().filename().string().find(".new-"), std::string::npos) << e.path();
  ASSERT_EQ(vr::wmi::Repository::OpenHost(&repo, &why), S_OK) << vr::text::WideToUtf8(why);
}

TEST(RepositoryFile, AFullDiskIsErrorOneHundredTwelve) {
  // SQLite reports a full disk as SQLITE_FULL, or, where the shared-memory file or a sync
  // cannot grow, as an I/O error whose system error is ENOSPC.
  EXPECT_EQ(vr::wmi::SqliteCode(SQLITE_FULL), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(vr::wmi::SqliteCode(SQLITE_IOERR_SHMSIZE, ENOSPC), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(vr::wmi::SqliteCode(SQLITE_IOERR_WRITE, ENOSPC), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(vr::wmi::SqliteCode(SQLITE_IOERR_WRITE, EIO), WBEM_E_FAILED);
  EXPECT_EQ(vr::text::WideToUtf8(vr::wmi::WbemStatusText(HRESULT_FROM_WIN32(ERROR_DISK_FULL))),
            "There is not enough space on the disk.");
}

}  // namespace

namespace {

// What a caller of deferred commits relies on: each commit is there for every reader at once,
// and stays after the deferral ends, also in a repository opened while it lasted.
TEST_F(Repo, DeferredCommitsAreSeenAtOnceAndFlushedWhenTheDeferralEnds) {
  ASSERT_EQ(vr::wmi::SetDeferredCommits(true), S_OK);
  auto base = Get(u"T_Base");
  ASSERT_TRUE(base);
  std::shared_ptr<IWbemClassObject> instance;
  ASSERT_EQ(base->SpawnInstance(0, &instance), S_OK);
  Variant id(WString(u"deferred"));
  ASSERT_EQ(instance->Put(u"Id", 0, &id, 0), S_OK);
  ASSERT_EQ(services_->PutInstance(instance.get(), 0, nullptr, nullptr), S_OK);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((host_.root() + "/wmi/repository.db").c_str(), &other), SQLITE_OK);
  auto instances = [&] {
    sqlite3_stmt* q = nullptr;
    int n = -1;
    if (sqlite3_prepare_v2(other, "SELECT count(*) FROM sqlite_master", -1, &q, nullptr) == SQLITE_OK &&
        sqlite3_step(q) == SQLITE_ROW)
      n = sqlite3_column_int(q, 0);
    sqlite3_finalize(q);
    return n;
  };
  EXPECT_GT(instances(), 0);  // the repository is readable by another connection meanwhile
  sqlite3_close(other);
  EXPECT_EQ(vr::wmi::SetDeferredCommits(false), S_OK);
  EXPECT_EQ(Count(u"T_Base"), 3u);  // b1, d1 and the deferred one
  // A repository opened while deferred commits the same way; ending it flushes.
  services_.reset();
  ASSERT_EQ(vr::wmi::SetDeferredCommits(true), S_OK);
  services_ = Connect(kNs);
  ASSERT_TRUE(services_);
  EXPECT_EQ(services_->DeleteInstance(u"T_Base.Id=\"deferred\"", 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(vr::wmi::SetDeferredCommits(false), S_OK);
  services_.reset();
  services_ = Connect(kNs);
  EXPECT_EQ(Count(u"T_Base"), 2u);

  vr::fault::Configure("wmi.SetDeferredCommits#1=0x80041001");
  EXPECT_EQ(vr::wmi::SetDeferredCommits(true), static_cast<HRESULT>(0x80041001));
}

}  // namespace
