// Tests: registration files with package entries, made by a seeded generator over the demo
// host's own Depot values (its packages, their platforms, its policy types) and new ones, in
// mixed letter case, with texts at and near their limits. The same seed gives the same file.
#pragma once
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace vr::testing {

struct GeneratedPackages {
  std::string xml;                  // the whole registration file
  std::vector<std::string> staying; // names of the new packages that cannot be uninstalled
};

class PackageFileGenerator {
 public:
  explicit PackageFileGenerator(unsigned seed) : random_(seed), seed_(seed) {}

  GeneratedPackages Make() {
    GeneratedPackages out;
    std::string packages;
    const int count = 1 + Below(4);
    for (int i = 0; i < count; ++i) packages += Package(i, out);
    out.xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
              "<VrNPConfig version=\"A.07.50\">\n" +
              Mappings() + "<PackageList>\n" + packages + "</PackageList>\n</VrNPConfig>\n";
    return out;
  }

 private:
  struct Demo {
    const char* name;
    const char* version;
    const char* type;
    int systemType, osType;
  };
  // The demo's Windows agent is deployed on Windows nodes: its unregistration is refused, as
  // it must be, so the generator leaves it out.
  static constexpr Demo kDemo[] = {{"Vorant Agent for HP-UX", "11.00.010", "UnixPackage", 5, 3},
                                   {"Vorant Agent for Solaris", "11.00.010", "UnixPackage", 4, 4},
                                   {"Vorant Agent for AIX", "11.00.010", "UnixPackage", 6, 5},
                                   {"Vorant Agent for Linux", "11.00.010", "UnixPackage", 2, 6},
                                   {"Vorant Agent for Tru64 UNIX", "10.10.004", "UnixPackage", 7, 7}};
  static constexpr const char* kPolicyTypes[] = {
      "{B7A8C9D0-1E2F-4031-8425-36475869708A}", "{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}",
      "{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}", "{D2C4E6F8-0A1B-4C3D-9E5F-718293A4B5C6}",
      "{E3F5A7B9-1C2D-4E3F-8A5B-6C7D8E9FA0B1}", "{F4A6B8CA-2D3E-4F40-9B6C-7D8E9FA0B1C2}",
      "{0A1B2C3D-4E5F-4607-8819-2A3B4C5D6E7F}", "{9E9E9E9E-0000-4000-8000-00000000DEAD}"};  // the last is unknown
  static constexpr int kPlatforms[][2] = {{2, 10}, {2, 11}, {2, 6}, {5, 3}, {4, 4}, {6, 5}, {7, 7}, {3, 6}, {9, 99}};

  // The text an XML reader gives for the markup this generator writes.
  static std::string Unescaped(std::string s) {
    for (const auto& [entity, c] : {std::pair<const char*, const char*>{"&quot;", "\""}, {"&amp;", "&"}})
      for (size_t at = s.find(entity); at != std::string::npos; at = s.find(entity, at + 1)) s.replace(at, std::strlen(entity), c);
    return s;
  }

  int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }

  // Every platform the generator uses has a platform text, so that a Windows or Unix package's
  // bookkeeping can be written.
  static std::string Mappings() {
    std::string m;
    for (const auto& p : kPlatforms)
      m += "<OsTypeForReg string=\"Plat_" + std::to_string(p[0]) + "_" + std::to_string(p[1]) + "\"><systemtype>" +
           std::to_string(p[0]) + "</systemtype><ostype>" + std::to_string(p[1]) + "</ostype></OsTypeForReg>\n";
    return m;
  }

  std::string MixCase(std::string s) {
    const int how = Below(3);
    for (char& c : s) {
      if (how == 1) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (how == 2 && Chance(50)) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
  }

  // A text of exactly n characters (a character may be several UTF-8 bytes), safe in XML.
  std::string Text(size_t n) {
    static const char* kPieces[] = {"a", "Z", "7", " ", "'", ";", "-", "&amp;", "&quot;", "\xC3\xA9", "\xE7\x9B\xA3",
                                    "\xF0\x9F\x98\x80", "_", "."};
    std::string s;
    for (size_t i = 0; i < n; ++i) {
      const char* piece = kPieces[Below(static_cast<int>(sizeof kPieces / sizeof *kPieces))];
      // No blank at either end: the reader trims them.
      if ((i == 0 || i + 1 == n) && piece[0] == ' ') piece = "x";
      s += piece;
    }
    return s;
  }
  size_t Length(size_t limit) {
    const int how = Below(25);
    if (how < 2) return limit;            // at the limit
    if (how == 2) return limit + 1;       // one over: the registration is refused
    return 1 + static_cast<size_t>(Below(static_cast<int>(std::min<size_t>(limit, 40))));
  }

  std::string Package(int index, GeneratedPackages& out) {
    std::string name, version, type;
    std::vector<std::pair<int, int>> platforms;
    bool uninstallable = !Chance(10);
    if (Chance(40)) {
      const Demo& d = kDemo[Below(5)];
      name = d.name;
      version = d.version;
      type = Chance(70) ? d.type : "OtherPackage";
      platforms.push_back({d.systemType, d.osType});
      uninstallable = true;
    } else {
      // A prefix of its own keeps the name new; the rest brings it to a length at, below or
      // over the limit.
      name = "Gen" + std::to_string(seed_) + "." + std::to_string(index) + " ";
      const size_t target = Length(255);
      if (target > name.size()) name += Text(target - name.size());
      else name.pop_back();  // the reader trims a blank at the end
      version = Chance(15) ? Text(Length(64)) : "1." + std::to_string(Below(5));
      const int kind = Below(4);
      type = kind == 0 ? "WindowsPackage" : kind == 1 ? "UnixPackage" : kind == 2 ? "OtherPackage" : "";
      if (!uninstallable) {
        type = "OtherPackage";  // no bookkeeping: what stays is only its own rows
        out.staying.push_back(Unescaped(name));
      }
    }
    const int more = Below(3);
    for (int i = 0; i < more; ++i) {
      const auto& p = kPlatforms[Below(9)];
      platforms.push_back({p[0], p[1]});
    }
    std::string p = "<Package>" + (type.empty() ? std::string() : "<type>" + type + "</type>") +
                    "<pkgname><text L=\"1033\">" + name + "</text></pkgname><version>" + version + "</version>" +
                    "<logicalid>" + MixCase("{5A1B2C3D-0000-4000-8000-00000000000A}") + "</logicalid><unregister>" +
                    (uninstallable ? "yes" : "no") + "</unregister><description><text L=\"1033\">" +
                    Text(Length(1024)) + "</text></description><deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6" +
                    "</deployerid>";
    for (const auto& [systemType, osType] : platforms) {
      p += "<PlatformAndPolicyTypes><systemtype>" + std::to_string(systemType) + "</systemtype><ostype>" +
           std::to_string(osType) + "</ostype><PolicyTypes>";
      const int types = Below(4);
      for (int t = 0; t < types; ++t) p += "<policytype>" + MixCase(kPolicyTypes[Below(8)]) + "</policytype>";
      p += "</PolicyTypes></PlatformAndPolicyTypes>";
    }
    return p + "</Package>\n";
  }

  std::mt19937 random_;
  unsigned seed_;
};

}  // namespace vr::testing
