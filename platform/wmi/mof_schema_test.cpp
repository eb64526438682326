// The shapes public schemas use: methods, embedded objects, qualifier declarations that last
// from one import to the next, typed qualifier values, include pragmas, references to
// classes that must exist; the repository format of older hosts; and a generated schema of
// the CIM's shape imported in pieces and whole.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <random>

#include "platform/com/safearray.h"
#include "platform/fault/fault.h"
#include "platform/os/dir.h"
#include "platform/text/convert.h"
#include "platform/wmi/mof_compiler.h"
#include "platform/wmi/mof_include.h"
#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"
#include "platform/wmi/repository.h"
#include "platform/wmi/services.h"
#include "platform/wmi/testing/temp_host.h"

namespace {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace vr::wmi;
using vr::wmi::testing::TempHost;

std::shared_ptr<Repository> Open() {
  std::shared_ptr<Repository> repo;
  EXPECT_EQ(Repository::OpenHost(&repo, nullptr), S_OK);
  return repo;
}

std::string Export(const WString& ns, const WString& cls = u"") {
  auto repo = Open();
  WString text, why;
  EXPECT_EQ(ExportNamespace(*repo, ns, cls, false, [&](const WString& t) { text += t; }, &why), S_OK) << WideToUtf8(why);
  return WideToUtf8(text);
}

std::shared_ptr<const ResolvedClass> Class(const WString& ns, const WString& name) {
  auto repo = Open();
  Session s(*repo, false);
  NamespaceInfo info;
  std::shared_ptr<const ResolvedClass> cls;
  EXPECT_EQ(s.FindNamespace(ns, &info, nullptr), S_OK);
  EXPECT_EQ(s.GetClass(info, name, &cls, nullptr), S_OK) << WideToUtf8(name);
  return cls;
}

class Schema : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char16_t* ns : {u"a", u"b", u"c", u"d"})
      ASSERT_EQ(host_.Compile(WString(u"instance of __NAMESPACE { Name = \"") + ns + u"\"; };"), "");
  }
  TempHost host_{false};
};

constexpr const char16_t* kDeclarations = uR"(
Qualifier Description : string = null, Scope(any), Flavor(EnableOverride, ToSubclass, Translatable);
Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, ToSubclass);
Qualifier In : boolean = true, Scope(parameter), Flavor(DisableOverride, ToSubclass);
Qualifier Out : boolean = false, Scope(parameter), Flavor(DisableOverride, ToSubclass);
Qualifier Max : uint32 = null, Scope(reference);
Qualifier MaxValue : sint64 = null, Scope(property, method, parameter);
Qualifier Big : uint64[], Scope(any);
Qualifier Units : string = "bytes", Scope(property);
Qualifier Fixed : string = null, Scope(any), Flavor(DisableOverride, ToSubclass);
Qualifier EmbeddedInstance : string = null, Scope(property, method, parameter);
)";

TEST_F(Schema, DeclarationsLastFromOneImportToTheNext) {
  ASSERT_EQ(host_.Compile(kDeclarations, u"root\\a"), "");
  // A later import types and flavours its uses by the stored declarations.
  ASSERT_EQ(host_.Compile(u"[Description(\"Top\"), Fixed(\"f\")]\nclass T_Top {\n"
                          u"  [Key, Description(\"Id\"), MaxValue(9223372036854775807), Units] string Id;\n"
                          u"  [Big{1, 18446744073709551615}, MaxValue(NULL)] uint64 Size;\n};",
                          u"root\\a"),
            "");
  auto top = Class(u"root\\a", u"T_Top");
  const Qualifier* d = top->qualifiers.Find(u"Description");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS | WBEM_FLAVOR_AMENDED);
  const PropertyDef& id = top->properties[static_cast<size_t>(top->FindProperty(u"Id"))];
  EXPECT_EQ(id.qualifiers.Find(u"Key")->flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS | WBEM_FLAVOR_NOT_OVERRIDABLE);
  EXPECT_EQ(id.qualifiers.Find(u"MaxValue")->value.vt, VT_I8);
  EXPECT_EQ(id.qualifiers.Find(u"MaxValue")->value.llVal, 9223372036854775807LL);
  EXPECT_EQ(id.qualifiers.Find(u"Units")->value.bstrVal, u"bytes");  // a use without a value has the default
  const PropertyDef& size = top->properties[static_cast<size_t>(top->FindProperty(u"Size"))];
  const Qualifier* big = size.qualifiers.Find(u"Big");
  ASSERT_TRUE(big && big->value.IsArray());
  EXPECT_EQ(big->value.vt, VT_ARRAY | VT_UI8);
  EXPECT_EQ(big->value.parray()->data[1].ullVal, 18446744073709551615ULL);
  EXPECT_EQ(size.qualifiers.Find(u"MaxValue")->value.vt, VT_NULL);
  // An override the declaration forbids is refused in a later import too; an allowed one is taken.
  EXPECT_EQ(host_.Compile(u"[Fixed(\"g\")] class T_Sub : T_Top {};", u"root\\a"),
            "1:1: error: class T_Sub: The qualifier Fixed of T_Sub cannot be overridden.");
  EXPECT_EQ(host_.Compile(u"[Description(\"Sub\")] class T_Sub : T_Top {};", u"root\\a"), "");
  // A use that does not fit the declared type is refused where its value stands.
  EXPECT_EQ(host_.Compile(u"class T_Bad { [Max(\"many\")] T_Top ref R; };", u"root\\a"),
            "1:20: error: the value of the qualifier Max does not fit its declared type uint32");
  // Export writes the declarations first, and reads back to the same text elsewhere.
  const std::string exported = Export(u"root\\a");
  EXPECT_EQ(exported.find("\nQualifier Big : uint64[], Scope(any), Flavor(EnableOverride, ToSubclass);\n"), 0u) << exported;
  EXPECT_NE(exported.find("Qualifier Description : string, Scope(any), Flavor(EnableOverride, ToSubclass, Translatable);"),
            std::string::npos);
  EXPECT_NE(exported.find("[Big{1, 18446744073709551615}: ToSubclass, MaxValue(NULL): ToSubclass] uint64 Size;"), std::string::npos)
      << exported;
  ASSERT_EQ(host_.Compile(Utf8ToWide(exported), u"root\\b"), "");
  EXPECT_EQ(Export(u"root\\b"), exported);
  // The declarations go with their namespace.
  ASSERT_EQ(host_.Compile(u"#pragma deleteinstance(\"__NAMESPACE.Name=\\\"a\\\"\", FAIL)", u"root"), "");
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"a\"; };"), "");
  EXPECT_EQ(Export(u"root\\a"), "");
}

TEST_F(Schema, AUseMayNameEveryAspectOfItsFlavour) {
  ASSERT_EQ(host_.Compile(kDeclarations, u"root\\a"), "");
  // Against the declaration's ToSubclass and DisableOverride, a use keeps its own words; the
  // export names what differs from the declaration, so the uses read back the same.
  ASSERT_EQ(host_.Compile(u"class T_Flavored {\n  [Key: NotToSubclass EnableOverride ToInstance, Description(\"x\"): Restricted]"
                          u" string Id;\n};",
                          u"root\\a"),
            "");
  const std::string exported = Export(u"root\\a");
  EXPECT_NE(exported.find("[Key: ToInstance NotToSubclass EnableOverride, Description(\"x\"): NotToSubclass Amended] string Id;"),
            std::string::npos)
      << exported;
  ASSERT_EQ(host_.Compile(Utf8ToWide(exported), u"root\\b"), "");
  EXPECT_EQ(Export(u"root\\b"), exported);
  // What the object text says (WMI's own form) is unchanged: the flavours set, nothing else.
  auto cls = Class(u"root\\b", u"T_Flavored");
  EXPECT_NE(WideToUtf8(MofClassText(LocalDeclaration(*cls), 0)).find("[Key: ToInstance, Description(\"x\"): Amended]"),
            std::string::npos);
}

constexpr const char16_t* kMethods = uR"(
class T_Job { [Key] string Id; };
class T_Service {
  [Key] string Name;
  [Description("Starts the service"), MaxValue(4294967296)]
  uint32 Start([In, Description("Seconds")] uint32 Timeout = 30, [In, Out] string Names[],
               [Out] T_Job ref Job, [In, EmbeddedInstance("T_Job")] string Settings, T_Job Template);
  [Static] void Reset();
  T_Job ref Current();
  object Anything(object Any);
};
class T_Special : T_Service {
  [Description("Starts it specially")]
  uint32 Start([In, Description("Milliseconds")] uint32 Timeout, [In, Out] string Names[],
               [Out] T_Job ref Job, [In] string Settings, T_Job Template);
  uint32 Stop();
};
)";

TEST_F(Schema, MethodsAreStoredInheritedOverriddenAndWritten) {
  ASSERT_EQ(host_.Compile(kDeclarations, u"root\\a"), "");
  ASSERT_EQ(host_.Compile(kMethods, u"root\\a"), "");
  auto special = Class(u"root\\a", u"T_Special");
  ASSERT_EQ(special->methods.size(), 5u);
  const MethodDef& start = special->methods[static_cast<size_t>(special->FindMethod(u"Start"))];
  EXPECT_EQ(start.returnType, CIM_UINT32);
  EXPECT_EQ(start.origin, u"T_Service");
  EXPECT_TRUE(start.overridden);
  EXPECT_EQ(start.qualifiers.Find(u"Description")->value.bstrVal, u"Starts it specially");
  // Declared without a Flavor clause: ToSubclass, so handed down with its 64-bit value.
  ASSERT_TRUE(start.qualifiers.Find(u"MaxValue"));
  EXPECT_EQ(start.qualifiers.Find(u"MaxValue")->value.llVal, 4294967296LL);
  ASSERT_EQ(start.parameters.size(), 5u);
  EXPECT_EQ(start.parameters[0].value.lVal, 30);  // the inherited default stays
  EXPECT_EQ(start.parameters[0].qualifiers.Find(u"Description")->value.bstrVal, u"Milliseconds");
  EXPECT_EQ(start.parameters[1].type, CIM_STRING | CIM_FLAG_ARRAY);
  EXPECT_EQ(start.parameters[2].type, CIM_REFERENCE);
  EXPECT_EQ(start.parameters[2].refClass, u"T_Job");
  EXPECT_TRUE(start.parameters[3].qualifiers.Find(u"EmbeddedInstance") != nullptr);
  EXPECT_EQ(start.parameters[4].type, CIM_OBJECT);
  EXPECT_EQ(start.parameters[4].refClass, u"T_Job");
  auto service = Class(u"root\\a", u"T_Service");
  EXPECT_EQ(service->methods[static_cast<size_t>(service->FindMethod(u"Reset"))].returnType, CIM_EMPTY);
  EXPECT_EQ(service->methods[static_cast<size_t>(service->FindMethod(u"Current"))].returnClass, u"T_Job");
  EXPECT_EQ(service->FindMethod(u"Stop"), -1);
  // The object text and the export carry the methods; the export reads back to the same.
  const std::string text = WideToUtf8(MofClassText(LocalDeclaration(*special), 0));
  EXPECT_NE(text.find("\t[Description(\"Starts it specially\"): ToSubclass Amended] uint32 Start([In: ToSubclass DisableOverride, Description(\"Milliseconds\"): ToSubclass Amended] uint32 "
                      "Timeout, [In: ToSubclass DisableOverride, Out: ToSubclass DisableOverride] string Names[], "
                      "[Out: ToSubclass DisableOverride] T_Job ref Job, [In: ToSubclass DisableOverride] string Settings, "
                      "T_Job Template);\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\tuint32 Stop();\n"), std::string::npos);
  const std::string exported = Export(u"root\\a");
  EXPECT_NE(exported.find("\t[Static] void Reset();\n\tT_Job ref Current();\n\tobject Anything(object Any);\n"),
            std::string::npos)
      << exported;
  ASSERT_EQ(host_.Compile(Utf8ToWide(exported), u"root\\b"), "");
  EXPECT_EQ(Export(u"root\\b"), exported);
}

TEST_F(Schema, AMethodOverrideKeepsItsSignature) {
  ASSERT_EQ(host_.Compile(kDeclarations, u"root\\a"), "");
  ASSERT_EQ(host_.Compile(kMethods, u"root\\a"), "");
  const char* const refused[][2] = {
      {"class T_X : T_Service {\n  sint32 Stop2(); uint64 Start();\n};", "2:19: error: class T_X: The method T_X.Start overrides"},
      {"class T_X : T_Service {\n  uint32 Start(uint32 Seconds, string Names[], T_Job ref Job, string Settings, T_Job Template);\n};",
       "2:3: error: class T_X: The method T_X.Start overrides"},
      {"class T_X : T_Service { [Description(\"d\")] void Reset([In] uint32 Now); };", "1:25: error: class T_X: The method"},
      {"class T_X : T_Service {\n  void Reset([In(false)] uint32 A);\n};", "2:3: error: class T_X: The method T_X.Reset"},
      // A parameter qualifier the declaration fixes cannot change in an override.
      {"class T_X : T_Service {\n  uint32 Start([In(false)] uint32 Timeout, string Names[], T_Job ref Job, string Settings, "
       "T_Job Template);\n};",
       "2:3: error: class T_X: The qualifier In of T_X.Start(Timeout) cannot be overridden."},
  };
  for (const auto& c : refused) {
    const std::string error = host_.Compile(Utf8ToWide(c[0]), u"root\\a");
    EXPECT_EQ(error.rfind(c[1], 0), 0u) << error;
  }
  // A reference parameter may be narrowed to a subclass of its class.
  EXPECT_EQ(host_.Compile(u"class T_SpecialJob : T_Job {};\nclass T_X : T_Service {\n"
                          u"  uint32 Start(uint32 Timeout, string Names[], T_SpecialJob ref Job, string Settings, T_Job Template);\n};",
                          u"root\\a"),
            "");
  // A class taken through the API keeps its methods when its qualifiers change and it is put back.
  auto repo = Open();
  NamespaceInfo ns;
  {
    Session s(*repo, false);
    ASSERT_EQ(s.FindNamespace(u"root\\a", &ns, nullptr), S_OK);
  }
  Services services(repo, ns);
  std::shared_ptr<IWbemClassObject> obj;
  ASSERT_EQ(services.GetObject(u"T_Special", 0, nullptr, &obj, nullptr), S_OK);
  std::shared_ptr<IWbemQualifierSet> qs;
  ASSERT_EQ(obj->GetQualifierSet(&qs), S_OK);
  VARIANT v = Variant(WString(u"changed"));
  ASSERT_EQ(qs->Put(u"Note", &v, 0), S_OK);
  ASSERT_EQ(services.PutClass(obj.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr), S_OK);
  auto after = Class(u"root\\a", u"T_Special");
  EXPECT_EQ(after->methods.size(), 5u);
  EXPECT_TRUE(after->methods[static_cast<size_t>(after->FindMethod(u"Stop"))].origin == u"T_Special");
}

TEST_F(Schema, EmbeddedObjectsAreStoredAndTheirValuesRefusedByName) {
  ASSERT_EQ(host_.Compile(u"class Part { [key] string Id; };\n"
                          u"class Whole { [key] string Id; Part Main; Part Spares[]; object Anything;\n"
                          u"  [EmbeddedObject] string Text; };\n",
                          u"root\\a"),
            "");
  auto whole = Class(u"root\\a", u"Whole");
  const PropertyDef& main = whole->properties[static_cast<size_t>(whole->FindProperty(u"Main"))];
  EXPECT_EQ(main.type, CIM_OBJECT);
  EXPECT_EQ(main.refClass, u"Part");
  EXPECT_EQ(whole->properties[static_cast<size_t>(whole->FindProperty(u"Spares"))].type, CIM_OBJECT | CIM_FLAG_ARRAY);
  // A later import knows the stored class as a type.
  ASSERT_EQ(host_.Compile(u"class Holder { [key] string Id; Part Held; };", u"root\\a"), "");
  EXPECT_EQ(host_.Compile(u"instance of Whole { Id = \"w\"; Main = \"x\"; };", u"root\\a"),
            "1:38: error: the value of Main is an embedded object: such values are not supported by this repository");
  EXPECT_EQ(host_.Compile(u"instance of Whole { Id = \"w\"; Main = NULL; Text = \"t\"; };", u"root\\a"), "");
  // A class named as a type must exist when the import ends, as a superclass must.
  EXPECT_EQ(host_.Compile(u"class Loose { Nowhere_Class Held; };", u"root\\a"),
            "1:15: error: class Loose: the class Nowhere_Class of the property Held does not exist.");
  EXPECT_EQ(host_.Compile(u"class Loose { uint32 M([In] T_Nowhere ref A); };", u"root\\a"),
            "1:15: error: class Loose: the class T_Nowhere of the parameter A of the method M does not exist.");
  const std::string exported = Export(u"root\\a");
  EXPECT_NE(exported.find("\tPart Main;\n\tPart Spares[];\n\tobject Anything;\n"), std::string::npos) << exported;
  ASSERT_EQ(host_.Compile(Utf8ToWide(exported), u"root\\b"), "");
  EXPECT_EQ(Export(u"root\\b"), exported);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

TEST_F(Schema, IncludesReadFilesBesideTheIncludingOne) {
  const std::string dir = host_.root() + "/schema";
  ASSERT_EQ(vr::os::CreateDirectoryTree(Utf8ToWide(dir + "/Core/Deep")), 0L);
  WriteFile(dir + "/top.mof", "#pragma include (\"qualifiers.mof\")\n#pragma include (\"Core\\Base.mof\")\n"
                              "class T_Last : T_Deep {};\n");
  WriteFile(dir + "/qualifiers.mof", "Qualifier Key : boolean = false, Scope(property), Flavor(DisableOverride, ToSubclass);\n");
  // Names differ in letter case from the files, as on the systems schemas are written on.
  WriteFile(dir + "/Core/base.mof", "class T_Base { [Key] string Id; };\n#pragma include (\"deep/DEEP.mof\")\n");
  WriteFile(dir + "/Core/Deep/Deep.mof", "class T_Deep : T_Base {};\n");
  auto repo = Open();
  auto import = [&](const std::string& file, const WString& ns) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WString text;
    EXPECT_TRUE(DecodeMofBytes(bytes, &text));
    MofError error;
    MofImportCounts counts;
    const HRESULT hr = CompileMof(*repo, text, ns, &counts, &error, MofFileIncludes(Utf8ToWide(file)));
    return SUCCEEDED(hr) ? "ok " + std::to_string(counts.classes) + " " + std::to_string(counts.qualifiers)
                         : WideToUtf8(error.Format(Utf8ToWide(file)));
  };
  EXPECT_EQ(import(dir + "/top.mof", u"root\\a"), "ok 3 1");
  EXPECT_EQ(Class(u"root\\a", u"T_Last")->keys.size(), 1u);
  // An error in an included file names that file, its line and column; nothing is imported.
  WriteFile(dir + "/Core/Deep/Deep.mof", "class T_Deep : T_Base {\n  strin X;\n};\n");
  EXPECT_EQ(import(dir + "/top.mof", u"root\\b"), dir + "/Core/Deep/Deep.mof:2:3: error: unknown type \"strin\"");
  EXPECT_EQ(Export(u"root\\b"), "");
  // Nothing outside the including file's folder tree, nothing absolute, no endless nesting.
  WriteFile(dir + "/Core/up.mof", "#pragma include (\"../qualifiers.mof\")\n");
  EXPECT_EQ(import(dir + "/Core/up.mof", u"root\\c"),
            dir + "/Core/up.mof:1:18: error: cannot include \"../qualifiers.mof\": the file is outside the including "
                  "file's folder");
  WriteFile(dir + "/abs.mof", "#pragma include (\"" + dir + "/qualifiers.mof\")\n");
  EXPECT_NE(import(dir + "/abs.mof", u"root\\c").find("only a name relative to the including file's folder"),
            std::string::npos);
  WriteFile(dir + "/self.mof", "#pragma include (\"./self.mof\")\n");
  EXPECT_NE(import(dir + "/self.mof", u"root\\c").find("nests more than 16 files deep"), std::string::npos);
  // A file that cannot be read fails the import with the system's error.
  vr::fault::Configure("file.ReadWhole#1=5");
  EXPECT_EQ(import(dir + "/top.mof", u"root\\c"),
            dir + "/top.mof:1:18: error: cannot include \"qualifiers.mof\": the file cannot be read (error 5)");
  vr::fault::Reset();
  EXPECT_EQ(Export(u"root\\c"), "");
  WriteFile(dir + "/missing.mof", "\n#pragma include (\"nope.mof\")\n");
  EXPECT_EQ(import(dir + "/missing.mof", u"root\\c"),
            dir + "/missing.mof:2:18: error: cannot include \"nope.mof\": there is no such file");
}

TEST(RepositoryFormat, AHostMadeBeforeQualifierDeclarationsOpensAndKeepsThem) {
  TempHost host(false);
  ASSERT_EQ(host.Compile(u"class Old { [key] string Id; };\ninstance of Old { Id = \"kept\"; };"), "");
  const std::string path = Repository::HostDatabasePath();
  // Make it what an older host wrote: format 1, without the declarations' table.
  {
    std::weak_ptr<Repository> gone;
    {
      auto repo = Open();
      gone = repo;
    }
    ASSERT_TRUE(gone.expired());
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE qualifier_decls; UPDATE meta SET value=1 WHERE name='format';", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
  }
  ASSERT_EQ(host.Compile(u"Qualifier Note : string = null, Scope(any), Flavor(ToInstance);\n[Note(\"n\")] class New {};"), "");
  EXPECT_EQ(Class(u"root", u"New")->qualifiers.Find(u"Note")->flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE |
                                                                          WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
  const std::string exported = Export(u"root");
  EXPECT_NE(exported.find("Qualifier Note : string, Scope(any), Flavor(EnableOverride, ToSubclass, ToInstance);"),
            std::string::npos)
      << exported;
  EXPECT_NE(exported.find("Id = \"kept\";"), std::string::npos);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* q = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE name='format'", -1, &q, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(q), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(q, 0), 2);
  sqlite3_finalize(q);
  sqlite3_close(db);
}

}  // namespace
