// MOF in and out: the reader's grammar and its errors, the writer's text, the round trip of a
// whole namespace, all-or-nothing import, and the undo MOF that puts a class back.
#include <gtest/gtest.h>

#include <limits>

#include "platform/text/convert.h"
#include "platform/com/safearray.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/mof_compiler.h"
#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"
#include "platform/wmi/repository.h"
#include "platform/wmi/testing/temp_host.h"

namespace {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace vr::wmi;
using vr::wmi::testing::TempHost;

MofError ReadError(const char* text) {
  MofDocument doc;
  MofError error;
  EXPECT_TRUE(FAILED(ReadMof(Utf8ToWide(text), u"root", &doc, &error))) << text;
  EXPECT_TRUE(doc.statements.empty());
  return error;
}

MofDocument Read(const char16_t* text) {
  MofDocument doc;
  MofError error;
  EXPECT_EQ(ReadMof(text, u"root\\default", &doc, &error), S_OK) << WideToUtf8(error.Format(u""));
  return doc;
}

std::string Export(const WString& ns, bool pragma = false) {
  std::shared_ptr<Repository> repo;
  EXPECT_EQ(Repository::OpenHost(&repo, nullptr), S_OK);
  WString text, why;
  EXPECT_EQ(ExportNamespace(*repo, ns, u"", pragma, [&](const WString& t) { text += t; }, &why), S_OK)
      << WideToUtf8(why);
  return WideToUtf8(text);
}

TEST(MofReader, ErrorsNameLineAndColumn) {
  struct Case {
    const char* text;
    uint32_t line, column;
    HRESULT code;
    const char* words;
  };
  const Case cases[] = {
      {"class A\n{\n\tstring Name\n};", 4, 1, WBEMMOF_E_EXPECTED_SEMI, "expected ';' after the property Name"},
      {"class A { strin Name; };", 1, 11, WBEMMOF_E_UNRECOGNIZED_TYPE, "unknown type \"strin\""},
      {"class A {\n  [key, key] string N; };", 2, 9, WBEMMOF_E_DUPLICATE_QUALIFIER, "given twice"},
      {"instance of A\n{\n  Name = \"x;\n};", 3, 10, WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, "not closed on its line"},
      {"#pragma namespace(\"\\\\\\\\.\\\\root\")\n#pragma frobnicate(\"x\")", 2, 1, WBEMMOF_E_INVALID_PRAGMA,
       "unknown pragma"},
      {"#pragma classflags(\"updateonly\", \"createonly\")", 1, 1, WBEMMOF_E_INVALID_PRAGMA, "exclude each other"},
      {"class A { uint32 X = 0x; };", 1, 22, WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, "is not a number"},
      {"class A { uint8 X = 300; };", 1, 21, WBEMMOF_E_TYPE_MISMATCH, "does not fit the type of X"},
      {"class A { string X = \"C:\\Program\"; };", 1, 25, WBEMMOF_E_ILLEGAL_CONSTANT_VALUE,
       "unknown escape sequence \\P"},
      {"/* never closed\nclass A {};", 1, 1, WBEMMOF_E_UNRECOGNIZED_TOKEN, "comment"},
      {"instance of A { B = $nowhere; };", 1, 21, WBEMMOF_E_UNEXPECTED_ALIAS, "not defined"},
      {"[Values{\"a\", 1}] class A {};", 1, 8, WBEMMOF_E_TYPE_MISMATCH, "one type"},
      {"class A { uint32 M(); void M(); };", 1, 23, WBEMMOF_E_INVALID_CLASS_DECLARATION, "method M is declared twice"},
      {"class A { uint32 M([IN] uint32 P, string p); };", 1, 35, WBEMMOF_E_INVALID_CLASS_DECLARATION,
       "parameter p is declared twice"},
      {"class A { uint32 M(strin P); };", 1, 20, WBEMMOF_E_UNRECOGNIZED_TYPE, "unknown type \"strin\""},
      {"class A { void P; };", 1, 11, WBEMMOF_E_UNRECOGNIZED_TYPE, "unknown type \"void\""},
      {"class A { uint32 M(uint32 P; };", 1, 28, WBEMMOF_E_EXPECTED_CLOSE_PAREN, "',' or ')' in the parameter list"},
      {"class A { CIM_Error E = \"x\"; };", 1, 25, WBEMMOF_E_TYPE_MISMATCH, "embedded object (E) cannot have a default"},
      // A declaration types its uses: a value of another type, an array for a scalar, a
      // number beyond the declared range.
      {"Qualifier MaxValue : sint64 = null, Scope(property);\nclass A { [MaxValue(\"big\")] uint32 P; };", 2, 21,
       WBEMMOF_E_TYPE_MISMATCH, "the value of the qualifier MaxValue does not fit its declared type sint64"},
      {"Qualifier Max : uint32 = null, Scope(reference);\n[Max(-1)] class A {};", 2, 6, WBEMMOF_E_TYPE_MISMATCH,
       "declared type uint32"},
      {"Qualifier Units : string, Scope(property);\n[Units{\"a\"}] class A {};", 2, 7, WBEMMOF_E_TYPE_MISMATCH,
       "declared type string"},
      {"Qualifier Q : strin, Scope(any);", 1, 15, WBEMMOF_E_UNRECOGNIZED_TYPE, "unknown qualifier type \"strin\""},
      {"Qualifier Q : string, Sope(any);", 1, 27, WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, "expected Scope or Flavor"},
      // Without a declaration a qualifier integer is a sint32, and NULL is no value.
      {"class A { [MaxValue(4294967295)] uint32 P; };", 1, 21, WBEMMOF_E_OUT_OF_RANGE, "32-bit signed"},
      {"[Max(NULL)] class A {};", 1, 6, WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, "cannot be NULL"},
      {"#pragma include (\"other.mof\")", 1, 1, WBEMMOF_E_INVALID_PRAGMA, "#pragma include is not supported"},
      {"[key: ToSubclass Restricted] class A {};", 1, 18, WBEMMOF_E_INCOMPATIBLE_FLAVOR_TYPES, "contradicts"},
      {"class A { string X; string x; };", 1, 21, WBEMMOF_E_DUPLICATE_PROPERTY, "declared twice"},
      {"@", 1, 1, WBEMMOF_E_UNRECOGNIZED_TOKEN, "unexpected character"},
  };
  for (const auto& c : cases) {
    const MofError e = ReadError(c.text);
    EXPECT_EQ(e.position.line, c.line) << c.text;
    EXPECT_EQ(e.position.column, c.column) << c.text;
    EXPECT_EQ(e.code, c.code) << c.text;
    EXPECT_NE(WideToUtf8(e.message).find(c.words), std::string::npos) << WideToUtf8(e.message);
  }
  EXPECT_EQ(WideToUtf8(ReadError("class A {").Format(u"x.mof")), "x.mof:1:10: error: expected a property type or '}' "
                                                                  "instead of the end of the text");
}

TEST(MofReader, ValuesFlavorsPragmasAndDeclarations) {
  MofDocument doc = Read(uR"(
    // A qualifier declaration sets the flavour of later uses.
    qualifier Description : ToSubclass Amended;
    Qualifier Units : string = NULL, Scope(property), Flavor(ToInstance, DisableOverride);
    #pragma classflags ("updateonly", "forceupdate")
    #pragma namespace ("sub")
    [abstract, Description("multi" "part\n")]
    class A : B
    {
      [key, MaxLen(256), Units("s")] string Name;
      sint32 Hex = 0x1F;
      sint32 Octal = 017;
      uint8 Binary = 101b;
      sint64 Big = -9223372036854775808;
      uint64 Bigger = 18446744073709551615;
      real64 Real = -1.5e3;
      char16 Letter = '\x41';
      string List[] = {"a", "b\"c"};
      boolean Flag = true;
      datetime When = "20240131120000.000000+060";
      object ref Anything;
      B ref Typed = "B.Name=\"x\"";
    };
    #pragma instanceflags("createonly")
    instance of A as $First { Name = "one"; List = {}; };
    [Locale(1033): ToInstance] instance of A { [Units("m")] Name = "two"; Typed = $First; };
    #pragma deleteclass("Old", NOFAIL)
  )");
  ASSERT_EQ(doc.statements.size(), 6u);
  EXPECT_EQ(doc.statements[0].kind, MofStatement::Kind::kQualifier);
  EXPECT_EQ(doc.statements[0].qualifier.type, CIM_ILLEGAL);
  const QualifierDecl& units = doc.statements[1].qualifier;
  EXPECT_EQ(units.type, CIM_STRING);
  ASSERT_EQ(units.scopes.size(), 1u);
  EXPECT_EQ(units.scopes[0], u"property");
  doc.statements.erase(doc.statements.begin(), doc.statements.begin() + 2);
  const MofStatement& c = doc.statements[0];
  EXPECT_EQ(c.nameSpace, u"root\\default\\sub");
  EXPECT_EQ(c.flags, WBEM_FLAG_UPDATE_ONLY | WBEM_FLAG_UPDATE_FORCE_MODE);
  EXPECT_EQ(c.cls.name, u"A");
  EXPECT_EQ(c.cls.superclass, u"B");
  const Qualifier* d = c.cls.qualifiers.Find(u"description");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->value.bstrVal, u"multipart\n");
  EXPECT_EQ(d->flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS | WBEM_FLAVOR_AMENDED);
  EXPECT_EQ(c.cls.Find(u"Name")->qualifiers.Find(u"Units")->flavor,
            WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS |
                WBEM_FLAVOR_NOT_OVERRIDABLE);
  EXPECT_EQ(c.cls.Find(u"Name")->qualifiers.Find(u"MaxLen")->value.lVal, 256);
  EXPECT_EQ(c.cls.Find(u"Hex")->value.lVal, 31);
  EXPECT_EQ(c.cls.Find(u"Octal")->value.lVal, 15);
  EXPECT_EQ(c.cls.Find(u"Binary")->value.bVal, 5);
  EXPECT_EQ(c.cls.Find(u"Big")->value.bstrVal, u"-9223372036854775808");
  EXPECT_EQ(c.cls.Find(u"Bigger")->value.bstrVal, u"18446744073709551615");
  EXPECT_EQ(c.cls.Find(u"Real")->value.dblVal, -1500.0);
  EXPECT_EQ(c.cls.Find(u"Letter")->value.iVal, 0x41);
  EXPECT_EQ(c.cls.Find(u"List")->type, CIM_STRING | CIM_FLAG_ARRAY);
  EXPECT_EQ(c.cls.Find(u"List")->value.parray()->data[1].bstrVal, u"b\"c");
  EXPECT_EQ(c.cls.Find(u"Anything")->type, CIM_REFERENCE);
  EXPECT_EQ(c.cls.Find(u"Anything")->refClass, u"");
  EXPECT_EQ(c.cls.Find(u"Typed")->refClass, u"B");
  const MofStatement& first = doc.statements[1];
  EXPECT_EQ(first.kind, MofStatement::Kind::kInstance);
  EXPECT_EQ(first.alias, u"First");
  EXPECT_EQ(first.flags, WBEM_FLAG_CREATE_ONLY);
  const MofStatement& second = doc.statements[2];
  EXPECT_EQ(second.qualifiers.Find(u"Locale")->flavor, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE);
  EXPECT_EQ(second.properties[0].qualifiers.Find(u"Units")->value.bstrVal, u"m");
  EXPECT_EQ(second.properties[1].value.alias, u"First");
  EXPECT_EQ(doc.statements[3].kind, MofStatement::Kind::kDeleteClass);
  EXPECT_FALSE(doc.statements[3].failIfMissing);
}

TEST(MofReader, BytesInEveryEncoding) {
  WString text;
  EXPECT_TRUE(DecodeMofBytes("\xEF\xBB\xBF" "class A {};", &text));
  EXPECT_EQ(text, u"class A {};");
  EXPECT_TRUE(DecodeMofBytes(std::string("\xFF\xFE" "c\0l\0", 6), &text));
  EXPECT_EQ(text, u"cl");
  EXPECT_TRUE(DecodeMofBytes(std::string("\xFE\xFF\0c\0l", 6), &text));
  EXPECT_EQ(text, u"cl");
  EXPECT_FALSE(DecodeMofBytes("\xC3\x28", &text));
  EXPECT_FALSE(DecodeMofBytes(std::string("\xFF\xFE" "c", 3), &text));
}

TEST(MofWriter, ValuesReadBackExactly) {
  Variant real(0.1);
  EXPECT_EQ(MofValueText(real, CIM_REAL64), u"0.1");
  EXPECT_EQ(MofValueText(Variant(3.0), CIM_REAL64), u"3.0");
  EXPECT_EQ(MofValueText(Variant(u"tab\there \"q\" \\ \x01"), CIM_STRING), u"\"tab\\there \\\"q\\\" \\\\ \\x0001\"");
  Variant c;
  c.vt = VT_I2;
  c.iVal = u'\'';
  EXPECT_EQ(MofValueText(c, CIM_CHAR16), u"'\\''");
  Variant u32(static_cast<int32_t>(-1));
  EXPECT_EQ(MofValueText(u32, CIM_UINT32), u"4294967295");
  // Reals are written in their shortest form that reads back to the same value of their own
  // type: the extremes of real64 and real32 included.
  for (const char16_t* value : {u"0.1", u"-1.7976931348623157e+308", u"5e-324", u"2.2250738585072014e-308",
                                u"1e+300", u"123456789012345680.0"}) {
    const WString mof = WString(u"class A { real64 R = ") + value + u"; };";
    const MofDocument doc = Read(mof.c_str());
    ASSERT_EQ(doc.statements.size(), 1u);
    EXPECT_EQ(MofValueText(doc.statements[0].cls.properties[0].value, CIM_REAL64), value);
  }
  const float floats[] = {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::min(), std::numeric_limits<float>::denorm_min(),
                          0.1f, 16777216.0f, 1.0f / 3.0f};
  for (float f : floats) {
    Variant v;
    v.vt = VT_R4;
    v.fltVal = f;
    const WString text = MofValueText(v, CIM_REAL32);
    const MofDocument doc = Read((u"class A { real32 R = " + text + u"; };").c_str());
    ASSERT_EQ(doc.statements.size(), 1u) << WideToUtf8(text);
    EXPECT_EQ(doc.statements[0].cls.properties[0].value.fltVal, f) << WideToUtf8(text);
  }
  Variant largest;
  largest.vt = VT_R4;
  largest.fltVal = std::numeric_limits<float>::max();
  EXPECT_EQ(MofValueText(largest, CIM_REAL32), u"3.4028235e+38");
  // Beyond what rounds to the largest float, a real32 is still refused.
  EXPECT_EQ(ReadError("class A { real32 R = 3.4028236e+38; };").code, WBEMMOF_E_TYPE_MISMATCH);
}

class MofImport : public ::testing::Test {
 protected:
  TempHost host_;
};

TEST_F(MofImport, ExportedNamespaceRoundTripsThroughAnEmptyNamespace) {
  const std::string original = Export(u"root\\Tamberlin\\Vorant\\data");
  EXPECT_NE(original.find("instance of __EventProviderRegistration"), std::string::npos);
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"empty\"; };"), "");
  ASSERT_EQ(host_.Compile(Utf8ToWide(original), u"root\\empty"), "");
  EXPECT_EQ(Export(u"root\\empty"), original);
  // And once more: importing the same text again changes nothing.
  ASSERT_EQ(host_.Compile(Utf8ToWide(original), u"root\\empty"), "");
  EXPECT_EQ(Export(u"root\\empty"), original);
}

TEST_F(MofImport, RealExtremesExportAndImportBack) {
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"reals\"; };"), "");
  ASSERT_EQ(host_.Compile(u"class R { [key] string Id; real32 Single = 3.4028235e+38; real64 Double; };\n"
                          u"instance of R { Id = \"max\"; Single = 3.4028234663852886e+38; Double = 1.7976931348623157e+308; };\n"
                          u"instance of R { Id = \"min\"; Single = -1.17549435e-38; Double = 5e-324; };\n"
                          u"instance of R { Id = \"tenth\"; Single = 0.1; Double = 0.1; };\n",
                          u"root\\reals"),
            "");
  const std::string exported = Export(u"root\\reals");
  EXPECT_NE(exported.find("Single = 3.4028235e+38;"), std::string::npos) << exported;
  EXPECT_NE(exported.find("Single = 0.1;"), std::string::npos) << exported;
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"back\"; };"), "");
  ASSERT_EQ(host_.Compile(Utf8ToWide(exported), u"root\\back"), "");
  EXPECT_EQ(Export(u"root\\back"), exported);
}

TEST_F(MofImport, AnErrorAnywhereChangesNothing) {
  const std::string before = Export(u"root\\Tamberlin\\Vorant\\data");
  // A syntax error at the end: the classes and instances before it are not compiled.
  std::string error = host_.Compile(u"#pragma namespace(\"\\\\\\\\.\\\\root\\\\Tamberlin\\\\Vorant\\\\data\")\n"
                                    u"class VR_New { [key] string Id; };\n"
                                    u"instance of VR_New { Id = \"1\"; };\n"
                                    u"instance of VR_NodeGroup { Name = \"Extra\"; }\n");
  EXPECT_EQ(error, "5:1: error: expected ';' after the instance declaration instead of the end of the text");
  EXPECT_EQ(Export(u"root\\Tamberlin\\Vorant\\data"), before);
  // An error of meaning in the third statement: the first two are undone.
  error = host_.Compile(u"class VR_New { [key] string Id; };\n"
                        u"instance of VR_New { Id = \"1\"; };\n"
                        u"instance of VR_New { Id = \"2\"; Colour = \"red\"; };\n",
                        u"root\\Tamberlin\\Vorant\\data");
  EXPECT_EQ(error, "3:32: error: the class VR_New has no property Colour");
  EXPECT_EQ(Export(u"root\\Tamberlin\\Vorant\\data"), before);
  error = host_.Compile(u"instance of VR_NodeGroup { Caption = \"no key\"; };", u"root\\Tamberlin\\Vorant\\data");
  EXPECT_NE(error.find("1:1: error: instance of VR_NodeGroup: The key property Name of VR_NodeGroup has no value."),
            std::string::npos)
      << error;
  error = host_.Compile(u"class A : NoSuchBase {};", u"root\\Tamberlin\\Vorant\\data");
  EXPECT_NE(error.find("The superclass NoSuchBase of A does not exist."), std::string::npos) << error;
  error = host_.Compile(u"class A {};", u"root\\NoSuchNamespace");
  EXPECT_NE(error.find("The namespace root\\NoSuchNamespace does not exist."), std::string::npos) << error;
  EXPECT_EQ(Export(u"root\\Tamberlin\\Vorant\\data"), before);
}

TEST_F(MofImport, InstanceFlagsAndDeletePragmas) {
  const WString ns = u"root\\Tamberlin\\Vorant\\data";
  EXPECT_NE(host_.Compile(u"#pragma instanceflags(\"createonly\")\ninstance of VR_NodeGroup { Name = \"Unix\"; };", ns)
                .find("already exists"),
            std::string::npos);
  EXPECT_NE(host_.Compile(u"#pragma instanceflags(\"updateonly\")\ninstance of VR_NodeGroup { Name = \"Nope\"; };", ns)
                .find("does not exist"),
            std::string::npos);
  EXPECT_EQ(host_.Compile(u"#pragma deleteinstance(\"VR_NodeGroup.Name='Tru64'\", FAIL)\n"
                          u"#pragma deleteinstance(\"VR_NodeGroup.Name='Tru64'\", NOFAIL)\n"
                          u"#pragma deleteclass(\"VR_ClusterEvent\", FAIL)\n"
                          u"#pragma deleteclass(\"VR_ClusterEvent\", NOFAIL)\n",
                          ns),
            "");
  EXPECT_EQ(Export(ns).find("class VR_ClusterEvent"), std::string::npos);
  EXPECT_EQ(Export(ns).find("Name = \"Tru64\";"), std::string::npos);
  EXPECT_NE(host_.Compile(u"#pragma deleteclass(\"VR_ClusterEvent\", FAIL)", ns).find("does not exist"),
            std::string::npos);
}

// The undo MOF mordant writes: UTF-16 with a byte-order mark and CR LF, the namespace with
// forward slashes, update-only and force-update, and the class text as WMI gave it.
TEST_F(MofImport, UndoMofPutsTheClassBack) {
  std::shared_ptr<Repository> repo;
  ASSERT_EQ(Repository::OpenHost(&repo, nullptr), S_OK);
  const WString ns = u"root\\Tamberlin\\Vorant\\data";
  WString classText;
  ASSERT_EQ(ExportNamespace(*repo, ns, u"VR_ManagedNode", false, [&](const WString& t) {
              if (classText.empty()) classText = t;
            }, nullptr), S_OK);
  WString undo = u"//\n// undo.mof:\n//\n//   Created on 01/02/24 10:11:12\n//   while processing updates from \"x.txt\"\n//\n"
                 u"\n#pragma namespace(\"//./root/Tamberlin/Vorant/data\")\n\n#pragma classflags (\"updateonly\", \"forceupdate\")\n\n" +
                 classText + u"\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : undo) {
    if (c == u'\n') bytes.append("\r\0", 2);
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  // mordant's change: new OsType values and a new CPU qualifier.
  ASSERT_EQ(host_.Compile(u"#pragma classflags(\"updateonly\")\n"
                          u"class VR_ManagedNode { [key] string Name; [Values{\"x\"}, ValueMap{\"99\"}] uint32 OsType; "
                          u"[MIPS{\"99\"}] uint32 SystemType; string Caption; string IpAddress; uint32 OsVersion; "
                          u"string NodeGroup; boolean Managed = TRUE; };",
                          ns),
            "");
  WString changed;
  ExportNamespace(*repo, ns, u"VR_ManagedNode", false, [&](const WString& t) { if (changed.empty()) changed = t; }, nullptr);
  ASSERT_NE(changed, classText);
  WString text;
  ASSERT_TRUE(DecodeMofBytes(bytes, &text));
  MofError error;
  ASSERT_EQ(CompileMof(*repo, text, u"root\\default", nullptr, &error), S_OK) << WideToUtf8(error.Format(u""));
  WString restored;
  ExportNamespace(*repo, ns, u"VR_ManagedNode", false, [&](const WString& t) { if (restored.empty()) restored = t; }, nullptr);
  EXPECT_EQ(restored, classText);
}

// A schema shaped as the DMTF CIM schemas are: qualifier declarations with and without a
// Flavor clause, abstract associations, and subclasses that narrow inherited references.
constexpr const char16_t* kCimShapedSchema = uR"(
Qualifier Abstract : boolean = false, Scope(class, association, indication), Flavor(Restricted);
Qualifier Association : boolean = false, Scope(association), Flavor(DisableOverride);
Qualifier Description : string = null, Scope(any), Flavor(Translatable);
Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride);
Qualifier MaxLen : uint32 = null, Scope(property, method, parameter);
Qualifier Override : string = null, Scope(property, reference, method), Flavor(Restricted);
Qualifier ValueMap : string[], Scope(property, method, parameter);
Qualifier Values : string[], Scope(property, method, parameter), Flavor(Translatable);
Qualifier Version : string = null, Scope(class, association, indication), Flavor(Restricted, Translatable);

[Abstract, Version ( "2.19.0" ), Description ( "The root of the managed elements." )]
class CIM_ManagedElement {
      [Key, MaxLen ( 256 ), Description ( "An identifier." )]
   string InstanceID;
      [ValueMap { "0", "2", "3", ".." }, Values { "Unknown", "Enabled", "Disabled", "DMTF Reserved" }]
   uint16 EnabledState;
};

[Version ( "2.7.0" ), Description ( "A view of an element." )]
class CIM_View : CIM_ManagedElement {
   string ViewName;
};

[Version ( "2.8.0" )]
class CIM_SpecialView : CIM_View {
};

[Version ( "2.7.0" )]
class CIM_Unrelated : CIM_ManagedElement {
};

[Association, Abstract, Version ( "2.10.0" ), Description ( "A dependency between two elements." )]
class CIM_Dependency {
      [Key, Description ( "The element depended on." )]
   CIM_ManagedElement REF Antecedent;
      [Key, Description ( "The dependent element." )]
   CIM_ManagedElement REF Dependent;
};

[Association, Version ( "2.7.0" )]
class CIM_ViewDependency : CIM_Dependency {
      [Override ( "Dependent" ), Description ( "The view." )]
   CIM_View REF Dependent;
};

[Association, Version ( "2.8.0" )]
class CIM_SpecialViewDependency : CIM_ViewDependency {
      [Override ( "Dependent" )]
   CIM_SpecialView REF Dependent;
};
)";

std::shared_ptr<const ResolvedClass> StoredClass(const WString& ns, const WString& name) {
  std::shared_ptr<Repository> repo;
  EXPECT_EQ(Repository::OpenHost(&repo, nullptr), S_OK);
  Session s(*repo, false);
  NamespaceInfo info;
  std::shared_ptr<const ResolvedClass> cls;
  EXPECT_EQ(s.FindNamespace(ns, &info, nullptr), S_OK);
  EXPECT_EQ(s.GetClass(info, name, &cls, nullptr), S_OK) << WideToUtf8(name);
  return cls;
}

TEST_F(MofImport, ASchemaShapedAsCimNarrowsReferencesAndHandsDownItsQualifiers) {
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"cim\"; };"), "");
  ASSERT_EQ(host_.Compile(kCimShapedSchema, u"root\\cim"), "");

  // The narrowed references keep their own classes, all the way down.
  const auto view = StoredClass(u"root\\cim", u"CIM_ViewDependency");
  ASSERT_TRUE(view);
  EXPECT_EQ(view->properties[static_cast<size_t>(view->FindProperty(u"Dependent"))].refClass, u"CIM_View");
  EXPECT_EQ(view->properties[static_cast<size_t>(view->FindProperty(u"Antecedent"))].refClass, u"CIM_ManagedElement");
  const auto special = StoredClass(u"root\\cim", u"CIM_SpecialViewDependency");
  ASSERT_TRUE(special);
  EXPECT_EQ(special->properties[static_cast<size_t>(special->FindProperty(u"Dependent"))].refClass, u"CIM_SpecialView");
  EXPECT_EQ(special->keys.size(), 2u);

  // A declaration without a Flavor clause hands its qualifier down (ToSubclass); Restricted
  // ones (Abstract, Version) stay with their class.
  const auto sub = StoredClass(u"root\\cim", u"CIM_SpecialView");
  ASSERT_TRUE(sub);
  const PropertyDef& state = sub->properties[static_cast<size_t>(sub->FindProperty(u"EnabledState"))];
  const Qualifier* valueMap = state.qualifiers.Find(u"ValueMap");
  ASSERT_TRUE(valueMap);
  EXPECT_EQ(valueMap->value.parray()->data[3].bstrVal, u"..");
  EXPECT_TRUE(state.qualifiers.Find(u"Values"));
  EXPECT_TRUE(sub->properties[static_cast<size_t>(sub->FindProperty(u"InstanceID"))].qualifiers.Find(u"MaxLen"));
  EXPECT_TRUE(sub->qualifiers.Find(u"Description"));
  EXPECT_FALSE(sub->qualifiers.Find(u"Abstract"));
  EXPECT_EQ(WideToUtf8(sub->qualifiers.Find(u"Version")->value.bstrVal), "2.8.0");
  EXPECT_FALSE(StoredClass(u"root\\cim", u"CIM_View")->IsAbstract());

  // The namespace exports and imports back to the same text.
  const std::string exported = Export(u"root\\cim");
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"again\"; };"), "");
  ASSERT_EQ(host_.Compile(Utf8ToWide(exported), u"root\\again"), "");
  EXPECT_EQ(Export(u"root\\again"), exported);
}

TEST_F(MofImport, AReferenceToAClassOutsideTheInheritedOnesIsRefusedAtTheProperty) {
  ASSERT_EQ(host_.Compile(u"instance of __NAMESPACE { Name = \"cim\"; };"), "");
  ASSERT_EQ(host_.Compile(kCimShapedSchema, u"root\\cim"), "");
  // CIM_Unrelated is no subclass of CIM_View: not a narrowing of CIM_ViewDependency.Dependent.
  std::string error = host_.Compile(u"[Association]\nclass CIM_Wrong : CIM_ViewDependency {\n  string Note;\n"
                                    u"    [Override(\"Dependent\")]\n  CIM_Unrelated REF Dependent;\n};",
                                    u"root\\cim");
  EXPECT_EQ(error, "4:5: error: class CIM_Wrong: The reference Dependent of CIM_Wrong refers to CIM_Unrelated, "
                   "which is not a subclass of CIM_View, the class of the inherited reference.");
  // Widening to the inherited class's own superclass is no narrowing either, nor a reference
  // over a property of another type.
  error = host_.Compile(u"class CIM_Wide : CIM_ViewDependency { CIM_ManagedElement REF Dependent; };", u"root\\cim");
  EXPECT_NE(error.find("1:39: error: class CIM_Wide: The reference Dependent of CIM_Wide refers to CIM_ManagedElement"),
            std::string::npos) << error;
  // A reference to a class that does not exist when the import ends is refused as a missing
  // superclass is; one declared later in the same text is taken.
  EXPECT_EQ(host_.Compile(u"class CIM_Later : CIM_ViewDependency { CIM_NotYet REF Dependent; };", u"root\\cim"),
            "1:40: error: class CIM_Later: the class CIM_NotYet of the property Dependent does not exist.");
  EXPECT_EQ(host_.Compile(u"class CIM_Later : CIM_ViewDependency { CIM_NotYet REF Dependent; };\n"
                          u"class CIM_NotYet : CIM_View {};",
                          u"root\\cim"),
            "");
  error = host_.Compile(u"class CIM_Typed : CIM_View {\n  uint32 ViewName;\n};", u"root\\cim");
  EXPECT_EQ(error, "2:3: error: class CIM_Typed: The property ViewName of CIM_Typed overrides an inherited "
                   "property of another type.");
  // A qualifier that may not be overridden is refused where its property stands.
  error = host_.Compile(u"class CIM_Keyless : CIM_View {\n  string ViewName;\n  [Key(false)] string InstanceID;\n};",
                        u"root\\cim");
  EXPECT_EQ(error.rfind("3:3: error: class CIM_Keyless: The qualifier Key", 0), 0u) << error;
}

}  // namespace
