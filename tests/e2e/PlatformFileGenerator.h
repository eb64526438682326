// Tests: registration files with platform entries, made by a seeded generator over the demo
// host's own values (system types, OS types, versions, match records and groups, in other
// letter cases) and new ones, with texts up to 255 characters. The same seed gives the same
// file.
#pragma once
#include <cctype>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace vr::testing {

// A seeded generator of registration files whose platforms mix the demo host's own values
// (system types, OS types, versions, match records and groups, in other letter cases) with new
// ones, with texts up to 255 characters.
class PlatformFileGenerator {
 public:
  explicit PlatformFileGenerator(uint32_t seed) : random_(seed) {}

  std::string File() {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n<VrNPConfig version=\"A.07.50\"><PlatformList>\n";
    const int platforms = Pick(1, 4);
    for (int i = 0; i < platforms; ++i) xml += Platform();
    return xml + "</PlatformList></VrNPConfig>\n";
  }

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(int percent) { return Pick(1, 100) <= percent; }
  template <class T>
  const T& OneOf(const std::vector<T>& list) { return list[Pick(0, static_cast<int>(list.size()) - 1)]; }

  std::string MixCase(std::string text) {
    for (char& c : text)
      if (Chance(30)) c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
    return text;
  }
  std::string Words(size_t maxLength) {
    static const std::vector<std::string> words{"Linux", "x86", "Server", "Edition", "RISC-V", "64-bit",
                                                "Ubuntu", "v12", "HP-UX", "Tru64", "caf\xc3\xa9", "\xe6\x97\xa5\xe6\x9c\xac"};
    std::string text = OneOf(words);
    const size_t length = Chance(10) ? maxLength : static_cast<size_t>(Pick(1, 40));
    while (text.size() < length) text += " " + OneOf(words);
    while (text.size() > maxLength) text.pop_back();
    while (!text.empty() && (text.back() == ' ' || (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80 ||
                             static_cast<unsigned char>(text.back()) >= 0xC0))
      text.pop_back();  // no blank at the end, no cut character
    return text;
  }
  std::string Caption(const std::string& text) {
    return "<caption><text L=\"1033\">" + text + "</text></caption>";
  }
  // An existing entry with its own caption, in another case, or a new caption; or a new value.
  std::string Value(const std::vector<std::pair<int, std::string>>& existing, int newLow, int newHigh) {
    if (Chance(50)) {
      const auto& [v, caption] = OneOf(existing);
      const int how = Pick(0, 3);
      std::string xml = "<value>" + std::to_string(v) + "</value>";
      if (how == 1) xml += Caption(MixCase(caption));
      else if (how == 2) xml += Caption(Words(255));
      else if (how == 3) xml += Caption(caption);
      return xml;
    }
    return "<value>" + std::to_string(Pick(newLow, newHigh)) + "</value>" + Caption(Words(255));
  }
  std::string Discovery() {
    static const std::vector<std::string> seeds{"1.3.6.1.4.1.11.2.3.2.5", "1.3.6.1.4.1.42.2.1.1", "Windows 2000",
                                                "Linux 2.4", "HP-UX B.11.11"};
    static const std::vector<std::string> kinds{"snmp", "netapi", "agent"};
    std::string xml;
    const int count = Pick(0, 3);
    for (int i = 0; i < count; ++i) {
      const std::string& kind = OneOf(kinds);
      const std::string text = Chance(30) ? MixCase(OneOf(seeds)) : "^gen-" + std::to_string(Pick(1, 40)) + "$";
      xml += "<" + kind + ">" + text + "</" + kind + ">";
    }
    return xml;
  }
  std::string Platform() {
    static const std::vector<std::pair<int, std::string>> systemTypes{
        {1, "Other"}, {2, "Intel x86"}, {4, "SPARC"}, {6, "PowerPC"}};
    static const std::vector<std::pair<int, std::string>> osTypes{
        {1, "Other"}, {3, "HP-UX"}, {4, "Solaris"}, {6, "Linux"}, {10, "Windows NT"}};
    static const std::vector<std::pair<int, std::string>> osVersions{
        {3111, "11.11"}, {6240, "2.4"}, {10400, "4.0"}};
    std::string xml = "<Platform><SystemType>";
    // A new system type: its caption's first word names its CPU type, new or existing.
    if (Chance(50)) {
      xml += "<value>" + std::to_string(Pick(100, 104)) + "</value>" +
             Caption(MixCase(Chance(50) ? std::string("Intel") : "Gen" + std::to_string(Pick(1, 3))) + " " + Words(200));
    } else {
      xml += Value(systemTypes, 100, 104);
    }
    xml += "</SystemType><OSType>" + Value(osTypes, 200, 205) + Discovery() + "</OSType><OSVersions>";
    const int versions = Pick(0, 2);
    for (int i = 0; i < versions; ++i)
      xml += "<OSVersion>" + Value(osVersions, 20000, 20005) + Discovery() + "</OSVersion>";
    xml += "</OSVersions><NodeGroups>";
    static const std::vector<std::string> groups{"Nodes", "unix", "LINUX", "Windows"};
    const int count = Pick(0, 2);
    for (int i = 0; i < count; ++i) {
      const std::string name = Chance(30) ? OneOf(groups) : "GEN_" + std::to_string(Pick(1, 6));
      const std::string parent = Chance(30) ? std::string() : Chance(50) ? OneOf(groups) : "GEN_" + std::to_string(Pick(1, 6));
      xml += "<NodeGroup><name>" + name + "</name>" + Caption(Words(255)) + "<parent>" + parent + "</parent></NodeGroup>";
    }
    return xml + "</NodeGroups></Platform>\n";
  }

  std::mt19937 random_;
};

}  // namespace vr::testing
