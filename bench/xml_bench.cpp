// Loading, validating and walking a large registration file with CXmlReader, against
// `xmllint --valid --noout` on the same file. Prints both times (best of three) and their
// ratio; exits 1 when the reader takes more than twice as long.
//
//   xml_bench [megabytes]      (default 50)
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/com/runtime.h"
#include "platform/os/datadir.h"
#include "platform/registry/registry.h"
#include "platform/text/convert.h"
#include "platform/xml/dom.h"
#include "tessera/XmlParser/XmlReader.h"

namespace {

using Clock = std::chrono::steady_clock;

void SetString(const char16_t* key, const char16_t* name, const WString& v) {
  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) != 0) return;
  RegSetValueExW(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                 static_cast<DWORD>((v.size() + 1) * sizeof(WChar)));
  RegCloseKey(h);
}

// One platform with its OS versions, instrumentation and node groups, and one package.
void AppendPlatform(std::string& out, int i) {
  const std::string n = std::to_string(i);
  out += "    <Platform>\n      <SystemType><value>" + std::to_string(1000 + i) +
         "</value><caption><text L=\"1033\">CPU" + n + " 64-bit</text><text L=\"1041\">CPU" + n +
         " (ja)</text></caption></SystemType>\n      <OSType><value>" + std::to_string(500000 + i) +
         "</value><caption><text L=\"1033\">OS " + n + "</text></caption><snmp>^OS " + n +
         " .*$</snmp><agent>^OS-" + n + "$</agent></OSType>\n      <OSVersions>\n";
  for (int v = 0; v < 4; ++v) {
    const std::string vn = std::to_string(v);
    out += "        <OSVersion><value>" + std::to_string(i * 10 + v) + "</value><caption><text L=\"1033\">OS " + n +
           " release " + vn + "</text></caption><agent>^OS-" + n + "-" + vn + "$</agent>\n"
           "          <Instrumentation><subdir name=\"mon" + vn + "\">"
           "<fileset name=\"common\" VRMS=\"ALL\"><copyfile>[VR_DATA_DIR]\\instr\\os" + n + "\\mon" + vn +
           ".sh</copyfile></fileset>"
           "<fileset name=\"new\" VRMS=\"A.07.50|A.07.51\"><copyfile>[VR_INSTALL_DIR]\\instr\\os" + n + "\\probe" +
           vn + ".cfg</copyfile></fileset>"
           "<fileset name=\"old\" VRMS=\"A.07.00\"><copyfile>[VR_DATA_DIR]\\instr\\old.sh</copyfile></fileset>"
           "</subdir></Instrumentation></OSVersion>\n";
  }
  out += "      </OSVersions>\n      <NodeGroups><NodeGroup><name>G" + n + "</name><caption><text L=\"1033\">Group " + n +
         "</text></caption><parent></parent></NodeGroup></NodeGroups>\n    </Platform>\n";
}

void AppendPackage(std::string& out, int i) {
  const std::string n = std::to_string(i);
  out += "    <Package><type>UnixPackage</type><pkgname><text L=\"1033\">Agent " + n +
         "</text></pkgname><version>1." + n + "</version><logicalid>{00000000-0000-0000-0000-" +
         std::string(12 - std::min<size_t>(12, n.size()), '0') + n +
         "}</logicalid><unregister>yes</unregister><description><text L=\"1033\">Agent for OS " + n +
         "</text></description><deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6</deployerid>"
         "<PlatformAndPolicyTypes><systemtype>" + std::to_string(1000 + i) + "</systemtype><ostype>" +
         std::to_string(500000 + i) + "</ostype><PolicyTypes><policytype>P" + n +
         "</policytype></PolicyTypes></PlatformAndPolicyTypes></Package>\n";
}

std::string Generate(size_t bytes) {
  std::string platforms, packages, tags;
  for (int i = 0; platforms.size() + packages.size() + tags.size() < bytes; ++i) {
    AppendPlatform(platforms, i);
    AppendPackage(packages, i);
    if (i % 10 == 0)
      tags += "      <prerequisites name=\"PRE" + std::to_string(i) + "\">\n[PREREQUISITES] PRE" + std::to_string(i) +
              "\nDISK_SPACE_MB=10\n      </prerequisites>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
         "<VrNPConfig version=\"A.07.50|A.07.51\">\n"
         "  <OsTypeForReg string=\"Any\"><ostype>1</ostype></OsTypeForReg>\n"
         "  <PlatformList>\n" + platforms + "  </PlatformList>\n  <PackageList>\n" + packages +
         "  </PackageList>\n  <VrReqCheckList><Prerequisites_Section version=\"8.0\">\n" + tags +
         "  </Prerequisites_Section></VrReqCheckList>\n</VrNPConfig>\n";
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
  char tmpl[] = "/tmp/xml_bench.XXXXXX";
  if (!::mkdtemp(tmpl)) { std::perror("mkdtemp"); return 2; }
  const std::string dir = tmpl;
  setenv("VR_HOST_ROOT", dir.c_str(), 1);
  SetString(u"SOFTWARE\\Tamberlin\\TB Vorant", u"InstallDir", u"C:\\Vorant\\");
  SetString(u"SOFTWARE\\Tamberlin\\TB Vorant", u"DataDir", u"C:\\Vorant\\data\\");

  const std::string file = dir + "/large.xml";
  {
    const std::string xml = Generate(megabytes << 20);
    std::ofstream(file, std::ios::binary) << xml;
  }
  // xmllint finds the DTD beside the file, as the reader would.
  std::system(("cp '" + vr::os::DataDir() + "/VrNPConfig.dtd' '" + dir + "/'").c_str());
  struct stat st;
  ::stat(file.c_str(), &st);
  std::printf("registration file: %s, %.1f MB\n", file.c_str(), st.st_size / 1048576.0);

  if (FAILED(CoInitialize(nullptr))) return 2;
  double reader = 1e9, lint = 1e9;
  size_t platforms = 0, files = 0;
  for (int run = 0; run < 3; ++run) {
    CXmlReader r(u"A.07.50");
    const auto t0 = Clock::now();
    const int rc = r.Load(vr::text::Utf8ToWide(file));
    const auto t1 = Clock::now();
    if (rc != 0) { std::fprintf(stderr, "load failed with %d\n", rc); return 2; }
    reader = std::min(reader, Seconds(t1 - t0));
    platforms = r.PlatformCount();
    files = 0;
    for (const CPlatform& p : r.Platforms())
      for (const COsVersionEntry& v : p.osVersions)
        for (const CInstrumentationSubdir& s : v.instrumentation) files += s.files.size();
  }
  // The DOM alone (load and validate, no walk), to show what the walk adds.
  double dom = 1e9;
  for (int run = 0; run < 3; ++run) {
    std::shared_ptr<IUnknown> unk;
    CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_ALL, IID_IXMLDOMDocument2, &unk);
    auto doc = std::dynamic_pointer_cast<IXMLDOMDocument2>(unk);
    if (!doc) return 2;
    VARIANT_BOOL ok = VARIANT_FALSE;
    const auto t0 = Clock::now();
    doc->load(vr::text::Utf8ToWide(file), &ok);
    const auto t1 = Clock::now();
    if (ok != VARIANT_TRUE) { std::fprintf(stderr, "DOM load failed\n"); return 2; }
    dom = std::min(dom, Seconds(t1 - t0));
  }
  for (int run = 0; run < 3; ++run) {
    const auto t0 = Clock::now();
    const int rc = std::system(("xmllint --valid --noout '" + file + "'").c_str());
    const auto t1 = Clock::now();
    if (rc != 0) { std::fprintf(stderr, "xmllint failed with %d\n", rc); return 2; }
    lint = std::min(lint, Seconds(t1 - t0));
  }
  CoUninitialize();
  std::system(("rm -rf '" + dir + "'").c_str());

  const double ratio = reader / lint;
  std::printf("CXmlReader load+validate+walk: %.3f s (%zu platforms, %zu instrumentation files)\n", reader, platforms,
              files);
  std::printf("  of which DOM load+validate:  %.3f s\n", dom);
  std::printf("xmllint --valid --noout:       %.3f s\n", lint);
  std::printf("ratio: %.2f (target <= 2.00) %s\n", ratio, ratio <= 2.0 ? "OK" : "TOO SLOW");
  return ratio <= 2.0 ? 0 : 1;
}
