#include <gtest/gtest.h>

#include "tessera/Messages.h"
#include "tessera/XmlParser/XmlTestHost.h"

using xmltest::Doc;
using xmltest::ReaderTest;

namespace {

const char* kFullBody = R"(
  <OsTypeForReg string="linux-riscv"><systemtype>61</systemtype><ostype>220</ostype></OsTypeForReg>
  <OsTypeForReg string="any-riscv"><systemtype>61</systemtype></OsTypeForReg>
  <PlatformList>
    <Platform>
      <SystemType>
        <value>61</value>
        <caption><text L="1033">RISCV 64-bit</text><text L="1041">RISCV 64 bit (ja)</text></caption>
      </SystemType>
      <OSType>
        <caption><text L="1033">Linux RISC-V</text></caption>
        <value> 220 </value>
        <snmp>^1\.3\.6\.1\.4\.1\.8072\.3\.2\.10$</snmp>
        <agent>Linux.*riscv64</agent>
        <agent>Debian.*riscv64</agent>
      </OSType>
      <OSVersions>
        <OSVersion>
          <value>2201</value>
          <caption><text L="1033">Debian 12</text></caption>
          <netapi>bookworm</netapi>
          <Instrumentation>
            <subdir name="monitor">
              <fileset name="all" VRMS="ALL"><copyfile>[VR_DATA_DIR]\instr\mon.sh</copyfile></fileset>
              <fileset name="new" VRMS="A.07.51|a.07.50"><copyfile>[vr_install_dir]\bin\probe</copyfile></fileset>
              <fileset name="old" VRMS="A.07.00"><copyfile>[VR_DATA_DIR]\instr\old.sh</copyfile></fileset>
            </subdir>
            <subdir name="empty"/>
          </Instrumentation>
        </OSVersion>
        <OSVersion><value>2202</value><caption><text L="1033">Debian 13</text></caption></OSVersion>
      </OSVersions>
      <NodeGroups>
        <NodeGroup><name>RISCV</name><caption><text L="1033">RISC-V nodes</text></caption></NodeGroup>
        <NodeGroup><name>RISCV_DEB</name><parent>RISCV</parent><caption><text L="1033">Debian</text></caption></NodeGroup>
      </NodeGroups>
    </Platform>
  </PlatformList>
  <PackageList>
    <Package>
      <type>UnixPackage</type>
      <pkgname><text L="1033">Agent RISC-V</text></pkgname>
      <version>12.0</version>
      <logicalid>{4D1C6A3E-0B9B-4F0E-9A55-1E2D3C4B5A69}</logicalid>
      <unregister>YES</unregister>
      <description><text L="1033">The agent</text></description>
      <deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6</deployerid>
      <PlatformAndPolicyTypes>
        <systemtype>61</systemtype><ostype>220</ostype>
        <PolicyTypes><policytype>P-1</policytype><policytype>P-2</policytype></PolicyTypes>
      </PlatformAndPolicyTypes>
      <PlatformAndPolicyTypes><ostype>-5</ostype><systemtype>62</systemtype></PlatformAndPolicyTypes>
    </Package>
    <Package><pkgname><text L="1033">Other</text></pkgname><unregister>no</unregister></Package>
  </PackageList>
  <VrReqCheckList>
    <Systems_Section version="7.10">
      <system name="RISCV">
[SYSTEM] RISCV
OS=Linux
      </system>
    </Systems_Section>
    <Prerequisites_Section version="8.0">
      <prerequisites name="RISCV_PRE">[PREREQUISITES] RISCV_PRE</prerequisites>
    </Prerequisites_Section>
  </VrReqCheckList>
)";

}  // namespace

TEST_F(ReaderTest, FullDocumentGivesEveryRecordInOrder) {
  CXmlReader reader(u"A.07.50");
  ASSERT_EQ(Load(reader, kFullBody), 0);
  EXPECT_EQ(reader.SupportedVersions(), u"A.07.50|A.07.51");

  ASSERT_EQ(reader.PlatformTypeMappings().size(), 2u);
  EXPECT_EQ(reader.PlatformTypeMappings()[0].platformType, u"linux-riscv");
  EXPECT_EQ(reader.PlatformTypeMappings()[1].osTypeText, u"-1000");  // left out

  ASSERT_EQ(reader.PlatformCount(), 1u);
  const CPlatform& p = reader.Platforms()[0];
  EXPECT_EQ(p.systemType.value, 61);
  EXPECT_EQ(p.systemType.caption, u"RISCV 64-bit");
  EXPECT_TRUE(p.systemType.captionInSystemLanguage);
  EXPECT_EQ(p.osType.value, 220);  // text trimmed before the number is read
  EXPECT_EQ(p.osType.snmp, std::vector<WString>{u"^1\\.3\\.6\\.1\\.4\\.1\\.8072\\.3\\.2\\.10$"});
  EXPECT_EQ(p.osType.agent, (std::vector<WString>{u"Linux.*riscv64", u"Debian.*riscv64"}));
  ASSERT_EQ(p.osVersions.size(), 2u);
  const COsVersionEntry& v = p.osVersions[0];
  EXPECT_EQ(v.value, 2201);
  EXPECT_EQ(v.netapi, std::vector<WString>{u"bookworm"});
  ASSERT_EQ(v.instrumentation.size(), 2u);
  EXPECT_EQ(v.instrumentation[0].name, u"monitor");
  // ALL and the server's own version (any case) apply; another version does not.
  EXPECT_EQ(v.instrumentation[0].files,
            (std::vector<WString>{u"C:\\Vorant\\data\\instr\\mon.sh", u"C:\\Vorant\\bin\\probe"}));
  EXPECT_EQ(v.instrumentation[1].name, u"empty");
  EXPECT_TRUE(v.instrumentation[1].files.empty());
  EXPECT_TRUE(p.osVersions[1].instrumentation.empty());
  ASSERT_EQ(p.nodeGroups.size(), 2u);
  EXPECT_EQ(p.nodeGroups[0].parent, u"");
  EXPECT_EQ(p.nodeGroups[1].name, u"RISCV_DEB");
  EXPECT_EQ(p.nodeGroups[1].parent, u"RISCV");
  EXPECT_EQ(p.nodeGroups[1].caption, u"Debian");

  ASSERT_EQ(reader.PackageCount(), 2u);
  const CPackage& k = reader.Packages()[0];
  EXPECT_EQ(k.type, u"UnixPackage");
  EXPECT_EQ(k.name, u"Agent RISC-V");
  EXPECT_EQ(k.version, u"12.0");
  EXPECT_EQ(k.logicalId, u"{4D1C6A3E-0B9B-4F0E-9A55-1E2D3C4B5A69}");
  EXPECT_TRUE(k.uninstallable);
  EXPECT_EQ(k.description, u"The agent");
  EXPECT_EQ(k.deployerId, u"657AF3A3-BCFD-11D2-8608-080009D961F6");
  ASSERT_EQ(k.platforms.size(), 2u);
  EXPECT_EQ(k.platforms[0].systemType, 61);
  EXPECT_EQ(k.platforms[0].osType, 220);
  EXPECT_EQ(k.platforms[0].policyTypes, (std::vector<WString>{u"P-1", u"P-2"}));
  EXPECT_EQ(k.platforms[1].osType, -5);
  EXPECT_EQ(k.platforms[1].systemType, 62);
  // A package without type and without description.
  const CPackage& o = reader.Packages()[1];
  EXPECT_EQ(o.type, u"657AF3A3-BCFD-11D2-8608-080009D961F6");
  EXPECT_FALSE(o.uninstallable);
  EXPECT_EQ(o.description, kNoTextFound);

  ASSERT_EQ(reader.SystemTagCount(), 1u);
  EXPECT_EQ(reader.SystemTags()[0].name, u"RISCV");
  EXPECT_EQ(reader.SystemTags()[0].text, u"[SYSTEM] RISCV\nOS=Linux");  // outer white space removed
  ASSERT_EQ(reader.PrerequisiteTagCount(), 1u);
  EXPECT_EQ(reader.PrerequisiteTags()[0].text, u"[PREREQUISITES] RISCV_PRE");
  EXPECT_EQ(reader.SystemsSectionVersion(), u"7.10");
  EXPECT_EQ(reader.PrerequisitesSectionVersion(), u"8.0");
  EXPECT_EQ(reader.ReqCheckVersion(), u"8.0");
}

TEST_F(ReaderTest, OnlyWhatTheFileHolds) {
  // A file with packages only: no platforms and no prerequisite entries to run sections for.
  CXmlReader reader(u"A.07.50");
  ASSERT_EQ(Load(reader, "<PackageList><Package><unregister>No</unregister></Package></PackageList>"), 0);
  EXPECT_EQ(reader.PlatformCount(), 0u);
  EXPECT_EQ(reader.PackageCount(), 1u);
  EXPECT_EQ(reader.SystemTagCount() + reader.PrerequisiteTagCount(), 0u);
  EXPECT_FALSE(reader.Configuration().hasSystemsSection || reader.Configuration().hasPrerequisitesSection);
  EXPECT_EQ(reader.ReqCheckVersion(), u"");
  // An empty root is a valid, empty file; its missing version reads as empty text.
  ASSERT_EQ(reader.Load(Write("empty.xml", "<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\"><VrNPConfig/>")), 0);
  EXPECT_EQ(reader.SupportedVersions(), u"");
  // A line break written as a reference would end the undo file's one-line field.
  ASSERT_EQ(reader.Load(Write("lf.xml", "<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">"
                                        "<VrNPConfig version=\"A.07.50&#10;Patch=X&#9;|A.07.51\"/>")),
            0);
  EXPECT_EQ(reader.SupportedVersions(), u"A.07.50 Patch=X |A.07.51");
  EXPECT_EQ(reader.PackageCount(), 0u);
}

TEST_F(ReaderTest, LoadResults) {
  CXmlReader reader(u"A.07.50");
  const WString good = Write("good.xml", Doc(kFullBody));
  // 6: missing file, not well formed, not valid, DTD missing, DTD by URL, no DTD at all.
  EXPECT_EQ(reader.Load(Write("x", "") + u"nothing.xml"), 6);
  EXPECT_EQ(reader.Load(Write("bad.xml", Doc("<PackageList>"))), 6);
  EXPECT_EQ(reader.Load(Write("invalid.xml", Doc("<PackageList><Platform/></PackageList>"))), 6);
  EXPECT_EQ(reader.Load(Write("nodtd.xml", "<!DOCTYPE VrNPConfig SYSTEM \"Missing.dtd\"><VrNPConfig/>")), 6);
  EXPECT_EQ(reader.Load(Write("http.xml", "<!DOCTYPE VrNPConfig SYSTEM \"http://127.0.0.1:9/VrNPConfig.dtd\"><VrNPConfig/>")), 6);
  EXPECT_EQ(reader.Load(Write("none.xml", "<VrNPConfig/>")), 6);
  // The installed DTD is strict about names: another case is not valid.
  EXPECT_EQ(reader.Load(Write("case.xml", Doc("<packagelist/>"))), 6);

  vr::fault::Configure("xml.CreateDocument#1");
  EXPECT_EQ(reader.Load(good), 5);
  vr::fault::Configure("com.CoCreateInstance#1");
  EXPECT_EQ(reader.Load(good), 5);
  vr::fault::Configure("xml.GetDocumentElement#1=1");
  EXPECT_EQ(reader.Load(good), 7);
  vr::fault::Configure("xml.PutProperty#2");
  EXPECT_EQ(reader.Load(good), CXmlReader::kLoadPropertyFailed);
  vr::fault::Configure("xml.GetDocumentElement#1=0x8007000E");
  EXPECT_EQ(reader.Load(good), CXmlReader::kLoadRootFailed);
  vr::fault::Configure("xml.Load#1");
  EXPECT_EQ(reader.Load(good), 6);
  vr::fault::Reset();
  EXPECT_EQ(reader.Load(good), 0);

  // Without COM on the thread the DOM cannot be created.
  CoUninitialize();
  EXPECT_EQ(reader.Load(good), 5);
  EXPECT_EQ(reader.PlatformCount(), 0u);
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
}

TEST_F(ReaderTest, FailedLoadLeavesNoRecords) {
  CXmlReader reader(u"A.07.50");
  ASSERT_EQ(Load(reader, kFullBody), 0);
  ASSERT_EQ(reader.PackageCount(), 2u);
  // A content error half-way through the walk: the platforms read before it are gone too.
  WString error;
  EXPECT_EQ(Load(reader, std::string(kFullBody) + "<PackageList><Package><unregister>maybe</unregister></Package></PackageList>",
                 &error),
            -51);
  EXPECT_EQ(reader.PlatformCount(), 0u);
  EXPECT_EQ(reader.PackageCount(), 0u);
  EXPECT_EQ(reader.SupportedVersions(), u"");
  ASSERT_EQ(Load(reader, kFullBody), 0);
  EXPECT_EQ(reader.Load(Write("x", "") + u"nothing.xml"), 6);
  EXPECT_EQ(reader.PlatformTypeMappings().size(), 0u);
}

TEST_F(ReaderTest, DomFailuresInsideTheWalkAreComErrors) {
  CXmlReader reader(u"A.07.50");
  const WString good = Write("good.xml", Doc(kFullBody));
  for (const char* point : {"xml.GetChildNodes#3=0x8007000E", "xml.NextNode#5=0x8007000E", "xml.GetNodeName#4=0x8007000E",
                            "xml.GetText#2=0x8007000E", "xml.GetAttribute#1=0x8007000E"}) {
    vr::fault::Configure(point);
    try {
      reader.Load(good);
      ADD_FAILURE() << point << " did not throw";
    } catch (const _com_error& e) {
      EXPECT_EQ(e.Error(), E_OUTOFMEMORY) << point;
    }
    EXPECT_EQ(reader.PlatformCount(), 0u) << point;
  }
  // The message of a content error needs the element's markup; failing to get it is a COM error too.
  vr::fault::Configure("xml.GetXml#1=0x8007000E");
  EXPECT_THROW(Load(reader, "<PackageList><Package><unregister>x</unregister></Package></PackageList>"), _com_error);
}

TEST_F(ReaderTest, NumbersThatAreNotIntegers) {
  CXmlReader reader(u"A.07.50");
  const std::string st = "<SystemType><value>61</value></SystemType>";
  const std::string os = "<OSType><value>220</value></OSType>";
  struct Case {
    std::string body;
    WString message;
  } cases[] = {
      {"<PlatformList><Platform><SystemType><value>6x1</value></SystemType>" + os + "</Platform></PlatformList>",
       u"(TESSERA901) XML parsing error, non-integer System Type, in tag '<Platform>', line '<value>6x1</value>'.\n"},
      {"<PlatformList><Platform>" + st + "<OSType><value>two</value></OSType></Platform></PlatformList>",
       u"(TESSERA900) XML parsing error, non-integer OS Type, in tag '<Platform>', line '<value>two</value>'.\n"},
      {"<PlatformList><Platform>" + st + os +
           "<OSVersions><OSVersion><value>1.5</value></OSVersion></OSVersions></Platform></PlatformList>",
       u"(TESSERA902) XML parsing error, non-integer OS version value, in tag '<OSVersion>', line '<value>1.5</value>'.\n"},
      {"<PackageList><Package><PlatformAndPolicyTypes><systemtype>x</systemtype><ostype>1</ostype>"
       "</PlatformAndPolicyTypes></Package></PackageList>",
       u"(TESSERA901) XML parsing error, non-integer System Type, in tag '<PlatformAndPolicyTypes>', line '<systemtype>x</systemtype>'.\n"},
      {"<PackageList><Package><PlatformAndPolicyTypes><systemtype>1</systemtype><ostype></ostype>"
       "</PlatformAndPolicyTypes></Package></PackageList>",
       u"(TESSERA900) XML parsing error, non-integer OS Type, in tag '<PlatformAndPolicyTypes>', line '<ostype/>'.\n"},
      {"<PlatformList><Platform>" + st + "<OSType><value>99999999999</value></OSType></Platform></PlatformList>",
       u"(TESSERA900) XML parsing error, non-integer OS Type, in tag '<Platform>', line '<value>99999999999</value>'.\n"},
      // A value left out cannot be registered either: the message shows the element missing it.
      {"<PlatformList><Platform>" + st + "<OSType><caption/></OSType></Platform></PlatformList>",
       u"(TESSERA900) XML parsing error, non-integer OS Type, in tag '<Platform>', line '<OSType><caption/></OSType>'.\n"},
      {"<PlatformList><Platform>" + os + "</Platform></PlatformList>",
       u"(TESSERA901) XML parsing error, non-integer System Type, in tag '<Platform>', line '<Platform>"
       u"<OSType><value>220</value></OSType></Platform>'.\n"},
      {"<PackageList><Package><unregister>Maybe</unregister></Package></PackageList>",
       u"(TESSERA904) XML parsing error, only YES or NO values are allowed for the <removable> flag, in tag "
       u"'<Package>', line '<unregister>Maybe</unregister>'.\n"},
  };
  for (const Case& c : cases) {
    WString error;
    EXPECT_EQ(Load(reader, c.body, &error), -51) << c.body;
    EXPECT_EQ(error, c.message) << c.body;
  }
  // yes and no in any case are flags.
  ASSERT_EQ(Load(reader, "<PackageList><Package><unregister>yEs</unregister></Package>"
                         "<Package><unregister>NO</unregister></Package></PackageList>"),
            0);
  EXPECT_TRUE(reader.Packages()[0].uninstallable);
  EXPECT_FALSE(reader.Packages()[1].uninstallable);
}

TEST_F(ReaderTest, PlatformTypeLookup) {
  CXmlReader reader(u"A.07.50");
  ASSERT_EQ(Load(reader, R"(
    <OsTypeForReg string="bad"><systemtype>abc</systemtype><ostype>5</ostype></OsTypeForReg>
    <OsTypeForReg string="neither"/>
    <OsTypeForReg string="exact"><systemtype>10</systemtype><ostype>5</ostype></OsTypeForReg>
    <OsTypeForReg string="sys-any-os"><systemtype>10</systemtype></OsTypeForReg>
    <OsTypeForReg string="os-only"><ostype>7</ostype></OsTypeForReg>
    <OsTypeForReg string="sloppy"><systemtype> 20xyz</systemtype><ostype>8</ostype></OsTypeForReg>)"),
            0);
  WString t;
  EXPECT_TRUE(reader.GetPlatformType(10, 5, t)); EXPECT_EQ(t, u"exact");      // the bad entry is skipped
  EXPECT_TRUE(reader.GetPlatformType(10, 6, t)); EXPECT_EQ(t, u"sys-any-os");
  EXPECT_TRUE(reader.GetPlatformType(99, 7, t)); EXPECT_EQ(t, u"os-only");
  EXPECT_TRUE(reader.GetPlatformType(20, 8, t)); EXPECT_EQ(t, u"sloppy");     // read as %ld reads
  t = u"unchanged";
  EXPECT_FALSE(reader.GetPlatformType(11, 5, t));
  EXPECT_FALSE(reader.GetPlatformType(99, 5, t));   // os 5 only goes with system type 10
  EXPECT_EQ(t, u"unchanged");
  // An entry with neither number never matches real numbers.
  EXPECT_FALSE(reader.GetPlatformType(1, 1, t));
}

TEST_F(ReaderTest, LocalisedTextsFollowTheUsersLanguage) {
  const std::string body = R"(<PlatformList><Platform>
      <SystemType><value>1</value><caption><text L="1041">JA</text><text L="1033">EN</text><text L="1042">KO</text></caption></SystemType>
      <OSType><value>2</value><caption><text L="1033">EN only</text></caption></OSType>
      <OSVersions><OSVersion><value>3</value><caption/></OSVersion><OSVersion><value>4</value></OSVersion>
        <OSVersion><value>5</value><caption><text L="2052">ZH</text></caption></OSVersion></OSVersions>
      <NodeGroups><NodeGroup><name>g</name><caption><text L="1042">KO group</text><text L="1033">EN group</text></caption></NodeGroup></NodeGroups>
    </Platform></PlatformList>
    <PackageList><Package><pkgname><text L="1042">KO pkg</text></pkgname><description><text L="1033">EN desc</text></description></Package></PackageList>)";
  struct Expect {
    const char* lang;
    const char16_t* language;
    const char16_t *sys, *os, *group, *pkg, *desc, *v5;
    bool sysIn, osIn, v3In, v5In;
  } cases[] = {
      {"ko_KR.UTF-8", u"1042", u"KO", u"EN only", u"KO group", u"KO pkg", u"EN desc", kNoTextFound, true, false, false, false},
      {"ja_JP.UTF-8", u"1041", u"JA", u"EN only", u"EN group", kNoTextFound, u"EN desc", kNoTextFound, true, false, false, false},
      {"zh_CN.UTF-8", u"2052", u"EN", u"EN only", u"EN group", kNoTextFound, u"EN desc", u"ZH", false, false, false, true},
      // English always counts as found, even when nothing was.
      {"de_DE.UTF-8", u"1033", u"EN", u"EN only", u"EN group", kNoTextFound, u"EN desc", kNoTextFound, true, true, true, true},
  };
  for (const Expect& c : cases) {
    SetEnv("LANG", c.lang);
    CXmlReader::DetermineLanguage();
    EXPECT_EQ(CXmlReader::Language(), c.language);
    CXmlReader reader(u"A.07.50");
    ASSERT_EQ(Load(reader, body), 0) << c.lang;
    const CPlatform& p = reader.Platforms()[0];
    EXPECT_EQ(p.systemType.caption, c.sys) << c.lang;
    EXPECT_EQ(p.systemType.captionInSystemLanguage, c.sysIn) << c.lang;
    EXPECT_EQ(p.osType.caption, c.os) << c.lang;
    EXPECT_EQ(p.osType.captionInSystemLanguage, c.osIn) << c.lang;
    // A caption without text, and no caption at all, read the same.
    EXPECT_EQ(p.osVersions[0].caption, kNoTextFound);
    EXPECT_EQ(p.osVersions[0].captionInSystemLanguage, c.v3In) << c.lang;
    EXPECT_EQ(p.osVersions[1].caption, kNoTextFound);
    EXPECT_EQ(p.osVersions[1].captionInSystemLanguage, c.v3In) << c.lang;
    EXPECT_EQ(p.osVersions[2].caption, c.v5) << c.lang;
    EXPECT_EQ(p.osVersions[2].captionInSystemLanguage, c.v5In) << c.lang;
    EXPECT_EQ(p.nodeGroups[0].caption, c.group) << c.lang;
    EXPECT_EQ(reader.Packages()[0].name, c.pkg) << c.lang;
    EXPECT_EQ(reader.Packages()[0].description, c.desc) << c.lang;
  }
}

TEST_F(ReaderTest, CopyfilePlaceholdersAndFilesets) {
  CXmlReader reader(u"A.07.50");
  auto body = [](const std::string& vrms, const std::string& copyfile) {
    return "<PlatformList><Platform><SystemType><value>1</value></SystemType><OSType><value>2</value></OSType>"
           "<OSVersions><OSVersion><value>3</value><Instrumentation><subdir name=\"s\"><fileset VRMS=\"" + vrms +
           "\"><copyfile>" + copyfile + "</copyfile></fileset></subdir></Instrumentation></OSVersion></OSVersions>"
           "</Platform></PlatformList>";
  };
  auto files = [&]() { return reader.Platforms()[0].osVersions[0].instrumentation[0].files; };

  ASSERT_EQ(Load(reader, body("ALL", "[PACKAGE_DIR]\\a")), 0);
  EXPECT_EQ(files(), std::vector<WString>{u"C:\\Vorant\\Packages\\a"});
  ASSERT_EQ(Load(reader, body("all", "[vr_agent_dir]\\b")), 0);
  EXPECT_EQ(files(), std::vector<WString>{u"C:\\Vorant\\b"});
  ASSERT_EQ(Load(reader, body("A.07.00 | A.07.50 ", "[VR_SHARE_DIR]\\c")), 0);
  EXPECT_EQ(files(), std::vector<WString>{u"\\\\srv\\share\\c"});
  ASSERT_EQ(Load(reader, body("A.07.51", "[VR_VRMSSHAREINST_DIR]\\d")), 0);
  EXPECT_TRUE(files().empty());
  // A fileset for another version is not even resolved.
  ASSERT_EQ(Load(reader, body("A.07.51", "nowhere\\e")), 0);
  EXPECT_TRUE(files().empty());

  WString error;
  EXPECT_EQ(Load(reader, body("ALL", "C:\\elsewhere\\f"), &error), -51);
  EXPECT_EQ(error, u"(TESSERA903) Failed to replace directory placeholder in 'C:\\elsewhere\\f'.\n");
  EXPECT_EQ(Load(reader, body("ALL", "[VR_DATA_DIR]/f"), &error), -51);  // the placeholder ends in a backslash

  // A directory the registry does not give: its message when a path needs it, not before.
  xmltest::DeleteRegValue(xmltest::kVorantKey, u"DataDir");
  CXmlReader::ResolveDirectories();
  EXPECT_EQ(CXmlReader::Directory(eDIR_DATA), u"");
  EXPECT_EQ(Load(reader, body("ALL", "[VR_DATA_DIR]\\g"), &error), -51);
  EXPECT_EQ(error, u"(TESSERA812) VRM/S data directory path could not be determined from registry.\n");
  EXPECT_EQ(reader.PlatformCount(), 0u);
  ASSERT_EQ(Load(reader, "<PlatformList><Platform><SystemType><value>1</value></SystemType><OSType><value>2</value>"
                         "</OSType></Platform></PlatformList>"),
            0);
  ASSERT_EQ(Load(reader, body("ALL", "[VR_INSTALL_DIR]\\h")), 0);
}

TEST_F(ReaderTest, UnknownElementsSkippedAndNamesInAnyCase) {
  // The installed DTD is strict; a DTD beside the file that allows these names shows what the
  // reader itself does with them.
  std::string dtd;
  for (const char* name : {"vrnpconfig", "PACKAGELIST", "package", "PkgName", "TEXT", "UNREGISTER", "Extra", "Unknown",
                           "PlatformList", "platform", "systemtype", "OSTYPE", "Value", "CAPTION", "OSVersions",
                           "osversion", "instrumentation", "SUBDIR", "FileSet", "COPYFILE", "vrreqchecklist",
                           "SYSTEMS_SECTION", "System", "ostypeforreg", "OSType", "SystemType"})
    dtd += std::string("<!ELEMENT ") + name + " ANY>\n";
  dtd += "<!ATTLIST vrnpconfig version CDATA #IMPLIED>\n<!ATTLIST TEXT L CDATA #IMPLIED>\n"
         "<!ATTLIST SUBDIR name CDATA #IMPLIED>\n<!ATTLIST FileSet VRMS CDATA #IMPLIED>\n"
         "<!ATTLIST SYSTEMS_SECTION version CDATA #IMPLIED>\n<!ATTLIST System name CDATA #IMPLIED>\n"
         "<!ATTLIST ostypeforreg string CDATA #IMPLIED>\n<!ATTLIST Extra version CDATA #IMPLIED>\n";
  Write("Lenient.dtd", dtd);
  const std::string doc = R"(<!DOCTYPE vrnpconfig SYSTEM "Lenient.dtd">
<vrnpconfig version="A.07.50">
  <Unknown><PlatformList><platform/></PlatformList></Unknown>
  <ostypeforreg string="t"><OSTYPE>4</OSTYPE><Extra/><SystemType>3</SystemType></ostypeforreg>
  <PACKAGELIST>
    <Extra version="9"><package/></Extra>
    <package><Extra>ignored</Extra><PkgName><TEXT L="1033">pkg</TEXT><Extra/></PkgName><UNREGISTER>yes</UNREGISTER></package>
  </PACKAGELIST>
  <PlatformList><platform><Extra/>
    <systemtype><Value>5</Value><CAPTION><TEXT L="1033">sys</TEXT></CAPTION></systemtype>
    <OSType><Value>6</Value></OSType>
    <OSVersions><osversion><Value>7</Value><instrumentation><SUBDIR name="s"><FileSet VRMS="ALL">
      <COPYFILE>[VR_DATA_DIR]\x</COPYFILE><Extra>[bad]</Extra></FileSet></SUBDIR></instrumentation></osversion></OSVersions>
  </platform></PlatformList>
  <vrreqchecklist><SYSTEMS_SECTION version="1"><System name="n">t</System><Extra/></SYSTEMS_SECTION></vrreqchecklist>
</vrnpconfig>)";
  CXmlReader reader(u"A.07.50");
  ASSERT_EQ(reader.Load(Write("lenient.xml", doc)), 0);
  ASSERT_EQ(reader.PlatformCount(), 1u);  // the platform inside <Unknown> is not one
  EXPECT_EQ(reader.Platforms()[0].systemType.value, 5);
  EXPECT_EQ(reader.Platforms()[0].systemType.caption, u"sys");
  EXPECT_EQ(reader.Platforms()[0].osType.value, 6);
  EXPECT_EQ(reader.Platforms()[0].osVersions[0].instrumentation[0].files, std::vector<WString>{u"C:\\Vorant\\data\\x"});
  ASSERT_EQ(reader.PackageCount(), 1u);
  EXPECT_EQ(reader.Packages()[0].name, u"pkg");
  EXPECT_TRUE(reader.Packages()[0].uninstallable);
  ASSERT_EQ(reader.PlatformTypeMappings().size(), 1u);
  EXPECT_EQ(reader.PlatformTypeMappings()[0].osTypeText, u"4");
  EXPECT_EQ(reader.PlatformTypeMappings()[0].systemTypeText, u"3");
  ASSERT_EQ(reader.SystemTagCount(), 1u);
  EXPECT_EQ(reader.SystemsSectionVersion(), u"1");
}
