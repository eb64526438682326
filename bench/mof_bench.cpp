// MOF import and export of one large schema shaped as the DMTF CIM schemas are: qualifier
// declarations, a deep class tree with long descriptions, ValueMap and Values arrays on many
// properties, associations whose subclasses narrow inherited references, and instances.
// Imports it into an empty namespace, exports the namespace, imports the export into a second
// one and checks that the two exports are the same text. Prints the figures; exit code 1 when
// the export takes longer than the import of the same namespace.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text/convert.h"
#include "platform/wmi/mof_compiler.h"
#include "platform/wmi/repository.h"

namespace {

using Clock = std::chrono::steady_clock;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Qualifiers() {
  return "Qualifier Abstract : boolean = false, Scope(class, association, indication), Flavor(Restricted);\n"
         "Qualifier Association : boolean = false, Scope(association), Flavor(DisableOverride);\n"
         "Qualifier Description : string = null, Scope(any), Flavor(Translatable);\n"
         "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride);\n"
         "Qualifier MaxLen : uint32 = null, Scope(property, method, parameter);\n"
         "Qualifier Override : string = null, Scope(property, reference, method), Flavor(Restricted);\n"
         "Qualifier ValueMap : string[], Scope(property, method, parameter);\n"
         "Qualifier Values : string[], Scope(property, method, parameter), Flavor(Translatable);\n"
         "Qualifier Units : string = null, Scope(property, method, parameter), Flavor(Translatable);\n"
         "Qualifier Version : string = null, Scope(class, association, indication), Flavor(Restricted, Translatable);\n\n";
}

std::string Description(size_t n) {
  std::string d = "Element " + std::to_string(n) + " of the generated schema. ";
  while (d.size() < 400) d += "It describes a managed element, its state and its relations to the others. ";
  return d;
}

// classes: elements in a tree (each has the one before it at (i-1)/4 as its superclass),
// every tenth an association between two elements narrowing its superclass's references.
std::string Schema(size_t classes, size_t instancesPerLeaf) {
  std::string m = Qualifiers();
  m += "[Abstract, Version(\"2.41.0\"), Description(\"" + Description(0) + "\")]\nclass GEN_E0 {\n"
       "    [Key, MaxLen(256), Description(\"The identifier.\")]\n  string InstanceID;\n"
       "    [ValueMap{\"0\", \"2\", \"3\", \"5\", \"..\"}, Values{\"Unknown\", \"Enabled\", \"Disabled\", \"Not Applicable\", \"DMTF Reserved\"}]\n"
       "  uint16 EnabledState;\n  string ElementName;\n};\n\n";
  m += "[Association, Abstract, Version(\"2.10.0\"), Description(\"A dependency.\")]\nclass GEN_A0 {\n"
       "    [Key] GEN_E0 REF Antecedent;\n    [Key] GEN_E0 REF Dependent;\n};\n\n";
  size_t assoc = 0;
  std::vector<std::string> associationOf(classes);  // element index to its association
  for (size_t i = 1; i < classes; ++i) {
    const std::string name = "GEN_E" + std::to_string(i);
    const std::string super = "GEN_E" + std::to_string((i - 1) / 4);
    m += "[Version(\"2." + std::to_string(i % 40) + ".0\"), Description(\"" + Description(i) + "\")]\nclass " + name +
         " : " + super + " {\n";
    for (int p = 0; p < 6; ++p) {
      std::string prop = "P";
      prop.append(std::to_string(i)).append("_").append(std::to_string(p));
      if (p % 3 == 0) {
        m.append("    [Description(\"").append(Description(i * 10 + static_cast<size_t>(p)), 0, 160);
        m.append("\"), ValueMap{\"1\", \"2\", \"3\", \"4\"}, Values{\"One\", \"Two\", \"Three\", \"Four\"}]\n  uint16 ");
        m.append(prop).append(";\n");
      } else if (p % 3 == 1) {
        m.append("    [Units(\"Bytes\"), Description(\"A size.\")]\n  uint64 ").append(prop).append(" = ");
        m.append(std::to_string(i * 7)).append(";\n");
      } else {
        m.append("    [MaxLen(64)]\n  string ").append(prop).append("[];\n");
      }
    }
    m += "};\n\n";
    if (i % 10 == 0) {
      // An association narrowing the references of the association of the nearest ancestor
      // that has one (GEN_A0 at the root).
      const std::string a = "GEN_A" + std::to_string(++assoc);
      size_t up = (i - 1) / 4;
      while (up != 0 && associationOf[up].empty()) up = (up - 1) / 4;
      const std::string above = up == 0 ? std::string("GEN_A0") : associationOf[up];
      associationOf[i] = a;
      m += "[Association, Version(\"2.8.0\"), Description(\"Narrows the dependent to " + name + ".\")]\nclass " + a +
           " : " + above + " {\n    [Override(\"Dependent\")]\n  " + name + " REF Dependent;\n};\n\n";
    }
  }
  // Instances of the leaves.
  for (size_t i = classes / 2; i < classes; ++i)
    for (size_t k = 0; k < instancesPerLeaf; ++k) {
      std::string id = "I";
      id.append(std::to_string(i)).append("-").append(std::to_string(k));
      m += "instance of GEN_E" + std::to_string(i) + " {\n  InstanceID = \"" + id + "\";\n  EnabledState = 2;\n"
           "  ElementName = \"element " + id + "\";\n};\n";
    }
  return m;
}

void Check(HRESULT hr, const vr::wmi::MofError& e, const char* what) {
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s failed: 0x%08X %s\n", what, static_cast<unsigned>(hr), WideToUtf8(e.Format(u"")).c_str());
    std::exit(2);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t classes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 3000;
  const size_t perLeaf = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4;
  static char root[512];  // a plain array: the exit handler runs after locals are gone
  std::snprintf(root, sizeof root, "%s/vr-mof-bench-%d", std::filesystem::temp_directory_path().c_str(),
                static_cast<int>(::getpid()));
  std::filesystem::create_directories(root);
  std::atexit([] { std::filesystem::remove_all(root); });  // on every way out, failures too
  std::shared_ptr<vr::wmi::Repository> repo;
  WString why;
  if (FAILED(vr::wmi::Repository::OpenRoot(root, &repo, &why))) {
    std::fprintf(stderr, "cannot open the repository: %s\n", WideToUtf8(why).c_str());
    return 2;
  }
  vr::wmi::MofError error;
  Check(vr::wmi::CompileMof(*repo, u"instance of __NAMESPACE { Name = \"gen\"; };\ninstance of __NAMESPACE { Name = \"again\"; };",
                            u"root", nullptr, &error),
        error, "namespaces");
  const WString schema = Utf8ToWide(Schema(classes, perLeaf));

  vr::wmi::MofImportCounts counts;
  auto t0 = Clock::now();
  Check(vr::wmi::CompileMof(*repo, schema, u"root\\gen", &counts, &error), error, "import");
  const double import = Seconds(Clock::now() - t0);

  WString exported;
  t0 = Clock::now();
  if (FAILED(vr::wmi::ExportNamespace(*repo, u"root\\gen", u"", false, [&](const WString& t) { exported += t; }, &why))) {
    std::fprintf(stderr, "export failed: %s\n", WideToUtf8(why).c_str());
    return 2;
  }
  const double exportTime = Seconds(Clock::now() - t0);

  t0 = Clock::now();
  Check(vr::wmi::CompileMof(*repo, exported, u"root\\again", nullptr, &error), error, "import of the export");
  const double reimport = Seconds(Clock::now() - t0);
  WString again;
  vr::wmi::ExportNamespace(*repo, u"root\\again", u"", false, [&](const WString& t) { again += t; }, &why);
  repo.reset();

  std::printf("MOF schema: %zu classes, %zu instances, %zu KB of MOF\n", counts.classes, counts.instances,
              schema.size() / 1024);
  std::printf("  import                %8.3f s\n", import);
  std::printf("  export                %8.3f s   (%zu KB)\n", exportTime, exported.size() / 1024);
  std::printf("  import of the export  %8.3f s\n", reimport);
  std::printf("  export / import       %8.2f\n", exportTime / import);
  const bool same = again == exported;
  std::printf("  round trip            %s\n", same ? "same text" : "DIFFERENT TEXT");
  return same && exportTime <= import ? 0 : 1;
}
