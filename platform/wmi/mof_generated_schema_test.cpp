// A generated schema of the CIM's shape, imported file by file, as one text and through
// include pragmas: the three give the same export, and the export imported elsewhere exports
// again to the same text. The generator writes, from a seed, qualifier declarations of every
// flavour and type, classes in several files with every CIM type at its limits (scalars and
// arrays), overridden properties, associations that narrow references, embedded objects,
// methods with parameters of every kind and their overrides, and instances.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/os/dir.h"
#include "platform/text/convert.h"
#include "platform/wmi/mof_compiler.h"
#include "platform/wmi/mof_include.h"
#include "platform/wmi/repository.h"
#include "platform/wmi/testing/temp_host.h"

namespace {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace vr::wmi;
using vr::wmi::testing::TempHost;

// Every CIM type with values at its limits, as MOF literals.
struct TypeLimits {
  const char* type;
  std::vector<const char*> values;
};
const std::vector<TypeLimits> kTypes = {
    {"boolean", {"TRUE", "FALSE"}},
    {"string", {"\"\"", "\"quote \\\" backslash \\\\ tab \\t line \\n\"", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""}},
    {"sint8", {"-128", "127"}},
    {"uint8", {"0", "255"}},
    {"sint16", {"-32768", "32767"}},
    {"uint16", {"0", "65535"}},
    {"sint32", {"-2147483648", "2147483647"}},
    {"uint32", {"0", "4294967295"}},
    {"sint64", {"-9223372036854775808", "9223372036854775807"}},
    {"uint64", {"0", "18446744073709551615"}},
    {"real32", {"3.4028235e+38", "-1.1754944e-38", "1e-45"}},
    {"real64", {"1.7976931348623157e+308", "-5e-324", "2.2250738585072014e-308"}},
    {"datetime", {"\"20241231235959.999999+720\"", "\"99999999235959.999999:000\"", "\"00000101000000.000000-720\""}},
    {"char16", {"'a'", "'\\x0001'", "'\\xFFFF'"}},
};

struct QualifierInfo {
  std::string name;
  size_t type;  // index into kTypes
  bool array;
  bool inherited;    // ToSubclass
  bool overridable;  // EnableOverride
};

struct Param {
  std::string type;  // type word, "X REF" included
  std::string name;
  bool array;
  std::string qualifiers;  // the In/Out part, restated by overrides
};

struct Method {
  std::string returnType;
  std::string name;
  std::vector<Param> params;
};

struct Prop {
  std::string name;
  size_t type;  // index into kTypes; kTypes.size() for references and embedded objects
  bool array;
};

struct GenClass {
  std::string name;
  int parent = -1;
  bool association = false;
  bool abstract = false;
  std::vector<Prop> props;  // own and inherited, with values an instance may set
  std::vector<Method> methods;  // own and inherited
};

class SchemaGenerator {
 public:
  explicit SchemaGenerator(unsigned seed) : gen_(seed) {}

  std::vector<std::string> Files() {
    std::vector<std::string> files;
    files.push_back(Declarations());
    files.push_back(Roots());
    for (int f = 0; f < 3; ++f) {
      std::string text;
      for (int i = 0; i < 7; ++i) text += Derived();
      files.push_back(text);
    }
    files.push_back(Instances());
    return files;
  }

 private:
  size_t Pick(size_t n) { return gen_() % n; }
  bool Chance(int percent) { return static_cast<int>(gen_() % 100) < percent; }

  std::string Value(size_t type) {
    const auto& v = kTypes[type].values;
    return v[Pick(v.size())];
  }
  std::string ArrayValue(size_t type) {
    std::string r = "{";
    for (size_t i = 0, n = Pick(4); i < n; ++i) r += (i ? ", " : "") + Value(type);
    return r + "}";
  }

  // Qualifier declarations: one of each flavour combination, over every type, and those the
  // classes use by name.
  std::string Declarations() {
    std::string text = "// Qualifier declarations\n";
    int k = 0;
    for (int sub = 0; sub < 2; ++sub)
      for (int over = 0; over < 2; ++over)
        for (int inst = 0; inst < 2; ++inst)
          for (int tr = 0; tr < 2; ++tr) {
            const size_t type = static_cast<size_t>(k) % kTypes.size();
            const bool array = k % 3 == 2;
            QualifierInfo q{"Q" + std::to_string(k) + "_" + kTypes[type].type, type, array, sub == 0, over == 0};
            text += "Qualifier " + q.name + " : " + kTypes[type].type + (array ? "[]" : "");
            if (Chance(50)) text += " = " + (array ? ArrayValue(type) : Value(type));
            text += ", Scope(any), Flavor(";
            text += over == 0 ? "EnableOverride" : "DisableOverride";
            text += sub == 0 ? ", ToSubclass" : ", Restricted";
            if (inst) text += ", ToInstance";
            if (tr) text += ", Translatable";
            text += ");\n";
            qualifiers_.push_back(q);
            ++k;
          }
    text += "Qualifier Abstract : boolean = false, Scope(class, association), Flavor(EnableOverride, Restricted);\n"
            "Qualifier Association : boolean = false, Scope(association), Flavor(DisableOverride, ToSubclass);\n"
            "Qualifier Description : string = null, Scope(any), Flavor(EnableOverride, ToSubclass, Translatable);\n"
            "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, ToSubclass);\n"
            "Qualifier Override : string = null, Scope(property, reference, method), Flavor(EnableOverride, Restricted);\n"
            "Qualifier In : boolean = true, Scope(parameter), Flavor(DisableOverride, ToSubclass);\n"
            "Qualifier Out : boolean = false, Scope(parameter), Flavor(DisableOverride, ToSubclass);\n"
            "Qualifier Max : uint32 = null, Scope(reference);\n"
            "Qualifier MaxValue : sint64 = null, Scope(property, method, parameter);\n"
            "Qualifier EmbeddedInstance : string = null, Scope(property, method, parameter);\n"
            "Qualifier EmbeddedObject : boolean = false, Scope(property, method, parameter), "
            "Flavor(DisableOverride, ToSubclass);\n";
    return text;
  }

  // Uses of the declared qualifiers, with flavour words now and then. In a subclass only
  // those that may be overridden, or are not handed down, are used on inherited elements.
  std::string Uses(const std::string& description, bool onInherited) {
    std::string r = "[Description(\"" + description + "\")";
    for (size_t i = 0, n = Pick(3); i < n; ++i) {
      const QualifierInfo& q = qualifiers_[Pick(qualifiers_.size())];
      if (r.find(", " + q.name) != std::string::npos) continue;
      if (onInherited && q.inherited && !q.overridable) continue;
      r += ", " + q.name;
      if (kTypes[q.type].type == std::string("boolean") && !q.array && Chance(50)) {
        // the bare name: TRUE
      } else if (q.array) {
        r += ArrayValue(q.type);
      } else {
        r += "(" + (Chance(10) ? std::string("NULL") : Value(q.type)) + ")";
      }
      if (Chance(25)) {
        // ToSubclass only where an override stays allowed.
        const char* words[] = {"ToInstance", "NotToInstance", "Restricted", "Amended", "ToSubclass"};
        r += std::string(": ") + words[Pick(q.overridable ? 5 : 4)];
      }
    }
    return r + "] ";
  }

  std::string PropertyText(Prop& p) {
    std::string r = "   " + Uses("The property " + p.name, false) + kTypes[p.type].type + " " + p.name;
    if (p.array) r += "[]";
    if (Chance(60)) r += " = " + (p.array ? ArrayValue(p.type) : Value(p.type));
    return r + ";\n";
  }

  // A concrete or abstract class name of an earlier class that is no association.
  int EarlierClass() {
    std::vector<int> plain;
    for (size_t i = 0; i < classes_.size(); ++i)
      if (!classes_[i].association) plain.push_back(static_cast<int>(i));
    return plain[Pick(plain.size())];
  }

  Param RandomParam(size_t index) {
    Param p;
    p.name = "P" + std::to_string(index);
    const int kind = static_cast<int>(Pick(10));
    if (kind == 0) p.type = classes_[static_cast<size_t>(EarlierClass())].name + " REF";
    else if (kind == 1) p.type = classes_[static_cast<size_t>(EarlierClass())].name;  // an embedded object
    else if (kind == 2) p.type = "object";
    else p.type = kTypes[Pick(kTypes.size())].type;
    p.array = kind != 0 && Chance(30);
    const int direction = static_cast<int>(Pick(3));
    p.qualifiers = direction == 0 ? "In" : direction == 1 ? "Out" : "In, Out";
    if (kind == 3 && p.type == std::string("string")) p.qualifiers += ", EmbeddedInstance(\"GEN_ManagedElement\")";
    return p;
  }

  std::string MethodText(const Method& m, const std::string& description) {
    std::string r = "   " + Uses(description, true) + m.returnType + " " + m.name + "(";
    for (size_t i = 0; i < m.params.size(); ++i) {
      const Param& p = m.params[i];
      if (i) r += ",\n      ";
      r += "[" + p.qualifiers + (Chance(30) ? ", Description(\"" + description + " " + p.name + "\")" : std::string()) +
           "] " + p.type + " " + p.name + (p.array ? "[]" : "");
    }
    return r + ");\n";
  }

  std::string Roots() {
    GenClass root;
    root.name = "GEN_ManagedElement";
    root.abstract = true;
    std::string text = "[Abstract, Description(\"The root.\")]\nclass GEN_ManagedElement {\n"
                       "   [Key, Description(\"An identifier.\"), MaxValue(9223372036854775807)] string InstanceID;\n";
    for (size_t t = 0; t < kTypes.size(); ++t)
      for (bool array : {false, true}) {
        Prop p{std::string(array ? "Many" : "One") + kTypes[t].type, t, array};
        text += PropertyText(p);
        root.props.push_back(p);
      }
    Method m{"uint32", "RequestStateChange",
             {{"uint16", "RequestedState", false, "In"}, {"GEN_ManagedElement REF", "Job", false, "Out"},
              {"datetime", "TimeoutPeriod", false, "In"}}};
    text += MethodText(m, "Changes the state.");
    root.methods.push_back(m);
    text += "};\n\n";
    classes_.push_back(root);
    GenClass dep;
    dep.name = "GEN_Dependency";
    dep.association = true;
    dep.abstract = true;
    text += "[Association, Abstract, Description(\"A dependency.\")]\nclass GEN_Dependency {\n"
            "   [Key, Max(1)] GEN_ManagedElement REF Antecedent;\n   [Key, Max(NULL)] GEN_ManagedElement REF Dependent;\n};\n";
    classes_.push_back(dep);
    return text;
  }

  std::string Derived() {
    const size_t n = classes_.size();
    GenClass c;
    c.name = "GEN_Class" + std::to_string(n);
    if (Chance(20)) {
      // An association that narrows the reference it inherits.
      c.association = true;
      c.parent = 1;
      const std::string target = classes_[static_cast<size_t>(EarlierClass())].name;
      std::string text = "[Association, Description(\"Depends.\")]\nclass " + c.name + " : GEN_Dependency {\n"
                         "   [Override(\"Dependent\"), Description(\"Narrowed.\")] " + target + " REF Dependent;\n};\n\n";
      classes_.push_back(c);
      return text;
    }
    c.parent = EarlierClass();
    const GenClass& parent = classes_[static_cast<size_t>(c.parent)];
    c.props = parent.props;
    c.methods = parent.methods;
    c.abstract = Chance(20);
    std::string uses = Uses("Class " + std::to_string(n), true);
    if (c.abstract) uses.insert(1, "Abstract, ");
    std::string text = uses + "\nclass " + c.name + " : " + parent.name + " {\n";
    // A new property or two, of any type.
    for (size_t i = 0, k = 1 + Pick(2); i < k; ++i) {
      Prop p{"Prop" + std::to_string(n) + "_" + std::to_string(i), Pick(kTypes.size()), Chance(30)};
      text += PropertyText(p);
      c.props.push_back(p);
    }
    // An inherited property redeclared with a new description and maybe a new default.
    if (!parent.props.empty() && Chance(60)) {
      Prop p = parent.props[Pick(parent.props.size())];
      text += "   [Override(\"" + p.name + "\"), Description(\"Redeclared in " + c.name + "\")] " + kTypes[p.type].type +
              " " + p.name + (p.array ? "[]" : "");
      if (Chance(50)) text += " = " + (p.array ? ArrayValue(p.type) : Value(p.type));
      text += ";\n";
    }
    // Embedded objects: of a class, and of any class.
    if (Chance(40)) text += "   " + classes_[static_cast<size_t>(EarlierClass())].name + " Embedded" + std::to_string(n) + ";\n";
    if (Chance(20)) text += "   [EmbeddedObject] string Text" + std::to_string(n) + ";\n   object Any" + std::to_string(n) + "[];\n";
    // A reference to an earlier class in a plain class.
    if (Chance(30)) text += "   " + classes_[static_cast<size_t>(EarlierClass())].name + " REF Link" + std::to_string(n) + ";\n";
    // New methods, and an override of an inherited one with the same signature.
    for (size_t i = 0, k = Pick(3); i < k; ++i) {
      Method m;
      const char* returns[] = {"uint32", "void", "string", "GEN_ManagedElement REF", "GEN_ManagedElement"};
      m.returnType = returns[Pick(5)];
      m.name = "Method" + std::to_string(n) + "_" + std::to_string(i);
      for (size_t j = 0, pn = Pick(5); j < pn; ++j) m.params.push_back(RandomParam(j));
      text += MethodText(m, "Method " + m.name);
      c.methods.push_back(m);
    }
    if (!parent.methods.empty() && Chance(50)) {
      const Method& m = parent.methods[Pick(parent.methods.size())];
      text += MethodText(m, "Overridden in " + c.name);
    }
    text += "};\n\n";
    classes_.push_back(std::move(c));
    return text;
  }

  std::string Instances() {
    std::string text = "// Instances\n";
    int id = 0;
    std::vector<std::string> paths;
    for (const auto& c : classes_) {
      if (c.abstract || c.association) continue;
      for (int i = 0; i < 2; ++i) {
        const std::string key = "k" + std::to_string(id++);
        text += "instance of " + c.name + " {\n   InstanceID = \"" + key + "\";\n";
        for (const auto& p : c.props)
          if (Chance(40)) text += "   " + p.name + " = " + (p.array ? ArrayValue(p.type) : Value(p.type)) + ";\n";
        text += "};\n";
        paths.push_back(c.name + ".InstanceID=\\\"" + key + "\\\"");
      }
    }
    // Association instances share one key space: each names another pair.
    size_t pair = 0;
    for (const auto& c : classes_) {
      if (!c.association || c.abstract || paths.size() < 2) continue;
      text += "instance of " + c.name + " {\n   Antecedent = \"" + paths[pair % paths.size()] + "\";\n   Dependent = \"" +
              paths[(pair + 1) % paths.size()] + "\";\n};\n";
      ++pair;
    }
    return text;
  }

  std::mt19937 gen_;
  std::vector<QualifierInfo> qualifiers_;
  std::vector<GenClass> classes_;
};

std::string Export(Repository& repo, const WString& ns) {
  WString text, why;
  EXPECT_EQ(ExportNamespace(repo, ns, u"", false, [&](const WString& t) { text += t; }, &why), S_OK) << WideToUtf8(why);
  return WideToUtf8(text);
}

std::string Import(Repository& repo, const std::string& text, const WString& ns, const MofIncludeReader& include = {}) {
  MofError error;
  if (SUCCEEDED(CompileMof(repo, Utf8ToWide(text), ns, nullptr, &error, include))) return "";
  return WideToUtf8(error.Format(u"")) + "\n" + text.substr(0, 2000);
}

TEST(GeneratedSchema, PiecesWholeAndIncludedGiveOneExportThatRoundTrips) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempHost host(false);
    for (const char* ns : {"pieces", "whole", "included", "again"})
      ASSERT_EQ(host.Compile(Utf8ToWide(std::string("instance of __NAMESPACE { Name = \"") + ns + "\"; };")), "");
    std::shared_ptr<Repository> repo;
    ASSERT_EQ(Repository::OpenHost(&repo, nullptr), S_OK);
    const std::vector<std::string> files = SchemaGenerator(seed).Files();
    std::string whole, top;
    const std::string dir = host.root() + "/gen";
    ASSERT_EQ(vr::os::CreateDirectoryTree(Utf8ToWide(dir + "/parts")), 0L);
    for (size_t i = 0; i < files.size(); ++i) {
      ASSERT_EQ(Import(*repo, files[i], u"root\\pieces"), "") << "file " << i;
      whole += files[i];
      const std::string name = "parts/file" + std::to_string(i) + ".mof";
      std::ofstream(dir + "/" + name, std::ios::binary) << files[i];
      top += "#pragma include (\"" + name + "\")\n";
    }
    ASSERT_EQ(Import(*repo, whole, u"root\\whole"), "");
    ASSERT_EQ(Import(*repo, top, u"root\\included", MofFileIncludes(Utf8ToWide(dir + "/top.mof"))), "");
    const std::string exported = Export(*repo, u"root\\pieces");
    EXPECT_EQ(Export(*repo, u"root\\whole"), exported);
    EXPECT_EQ(Export(*repo, u"root\\included"), exported);
    ASSERT_EQ(Import(*repo, exported, u"root\\again"), "");
    EXPECT_EQ(Export(*repo, u"root\\again"), exported);
    // The schema has every shape it is meant to have.
    for (const char* shape : {"\nQualifier Q15_", "Flavor(DisableOverride, Restricted, ToInstance, Translatable)", " ref Dependent;",
                              "[Out: ToSubclass DisableOverride] GEN_ManagedElement ref Job", "uint32 RequestStateChange(",
                              "18446744073709551615", "-9223372036854775808", "3.4028235e+38", "instance of GEN_Class",
                              "Max(NULL)"})
      EXPECT_NE(exported.find(shape), std::string::npos) << shape;
  }
}

}  // namespace
