// End to end: the platform section of tessera on fresh demo hosts, compared through
// `vrhost wmi export` (the whole namespace) and `vrhost snapshot`.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <random>
#include <regex>

#include "tests/e2e/PlatformFileGenerator.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"

using vr::testing::ReadFileBytes;
using vr::testing::RunResult;
using vr::testing::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kToolFolder = fs::path(CLUSTER_INFO_TOOL).parent_path().string();
const std::string kExample = std::string(SOURCE_DIR) + "/examples/NewPlatformRiscV.xml";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The undo file's text (UTF-16 LE with a byte-order mark) as UTF-8 with LF line ends; ASCII
// content is all these tests write.
std::string UndoText(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    if (bytes[i] != '\r') text += bytes[i];
  return text;
}
void WriteUndoText(const std::string& path, const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    if (c == '\n') bytes += std::string("\r\0", 2);
    bytes += c;
    bytes += '\0';
  }
  WriteFileBytes(path, bytes);
}
std::string Section(const std::string& undo) {
  const size_t begin = undo.find("[[[PLATFORMS]]]\n");
  const size_t end = undo.find("[[[PLATFORMS_END]]]");
  if (begin == std::string::npos || end == std::string::npos) return "<no section>";
  return undo.substr(begin + 16, end - begin - 16);
}

// The undo text as written elsewhere: another creation time, so that no bookkeeping of this
// host knows it and the unregistration reads its lines alone.
std::string Foreign(const std::string& undo) {
  const size_t at = undo.find("CreatedOn=");
  const size_t end = undo.find('\n', at);
  return undo.substr(0, at) + "CreatedOn=01/02/2003 04:05:06 +00:00" + undo.substr(end);
}

// The first line where two texts differ, from each.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::istringstream x(a), y(b);
  std::string l, r;
  while (true) {
    const bool more = static_cast<bool>(std::getline(x, l)), other = static_cast<bool>(std::getline(y, r));
    if (!more && !other) return "(none)\n";
    if (!more || !other || l != r) return "- " + (more ? l : "(end)") + "\n+ " + (other ? r : "(end)") + "\n";
  }
}

class PlatformE2e : public vr::testing::ProgramFixture {
 protected:
  PlatformE2e() { programEnv_.insert(programEnv_.end(), {"VR_COMPUTER_NAME=THISNODE", "PATH=" + kToolFolder + ":/usr/bin:/bin"}); }
  RunResult Vrhost(std::vector<std::string> args) { return Run(VRHOST, args); }
  RunResult Tessera(std::vector<std::string> args, std::vector<std::string> extraEnv = {}) {
    return Run(TESSERA, args, extraEnv);
  }
  void Init(const std::string& cluster = "none") {
    const RunResult r = Vrhost({"init", "--force", "--cluster", cluster});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::string Export(const std::string& cls = {}) {
    std::vector<std::string> args{"wmi", "export"};
    if (!cls.empty()) args.push_back(cls);
    const RunResult r = Vrhost(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  std::string Query(const std::string& wql) {
    const RunResult r = Vrhost({"wmi", "query", wql});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
  // The host state without the run log and the instrumentation tree, which registrations
  // leave behind by design.
  std::string Snapshot() {
    const RunResult r = Vrhost({"snapshot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string kept;
    std::istringstream lines(r.out);
    bool skipping = false;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("  |", 0) == 0) {
        if (!skipping) kept += line + "\n";
        continue;
      }
      skipping = line.find("tessera.log") != std::string::npos || line.find("share/instrumentation/") != std::string::npos;
      if (!skipping) kept += line + "\n";
    }
    return kept;
  }
  RunResult Register(const std::string& file, const std::string& undo, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-reg", file, "-patch", "VRPATCH_RISCV_01", "-sections", "platform", "-log", undo};
    args.insert(args.end(), extra.begin(), extra.end());
    return Tessera(args);
  }
  RunResult Unregister(const std::string& undo, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"-unreg", undo};
    args.insert(args.end(), extra.begin(), extra.end());
    return Tessera(args);
  }
  std::string Variant(const std::string& name, const std::function<std::string(std::string)>& edit) {
    const std::string path = dir_ / name;
    // The DTD is found in the installed data folder.
    WriteFileBytes(path, edit(ReadFileBytes(kExample)));
    return path;
  }

};

TEST_F(PlatformE2e, RegisteringAndUnregisteringTheExampleRestoresTheNamespaceExactly) {
  Init();
  const std::string before = Export();
  const std::string snapshot = Snapshot();
  const RunResult reg = Register(kExample, dir_ / "riscv.undo");
  ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
  EXPECT_EQ(reg.err, "");  // the instrumentation sources exist: no copy warnings
  const std::string section = Section(UndoText(dir_ / "riscv.undo"));
  for (const char* line :
       {"OS-TYPE ADD 91 \"Linux (RISC-V)\"\n", "OS-VERSION ADD 9101 \"Debian GNU/Linux 12 (RISC-V)\"\n",
        "OS-VERSION ADD 9102 \"Ubuntu 24.04 (RISC-V)\"\n", "SYSTEM-TYPE ADD 70 \"RISCV 64-bit Compatible\"\n",
        "SYSTEM-TYPE-OS-TYPE ADD RISCV 91\n", "NODEDISC ADD 2 2 \"91\" \"^Linux .* riscv64$\"\n",
        "NODEDISC ADD 3 2 \"91\" \"^Linux-riscv64$\"\n", "NODEDISC ADD 2 3 \"9101\" \"^Linux .*deb12.* riscv64$\"\n",
        "NODEDISC ADD 1 3 \"9102\" \"^ubuntu-riscv64$\"\n", "NODEGROUP ADD RISCV_LINUX \"Linux on RISC-V\" \n",
        "NODEGROUP ADD RISCV_DEBIAN \"Debian on RISC-V\" RISCV_LINUX\n"})
    EXPECT_NE(section.find(line), std::string::npos) << line << section;
  EXPECT_NE(Query("SELECT * FROM VR_NodeGroup WHERE Name = 'RISCV_DEBIAN'").find("Debian on RISC-V"), std::string::npos);
  EXPECT_NE(Export("VR_ManagedNode").find("RISCV{\"91\"}"), std::string::npos);
  const std::string copied = host_ + "/server/share/instrumentation/91/9101/monitor/";
  EXPECT_TRUE(fs::exists(copied + "vr_riscv_mon.sh"));
  EXPECT_TRUE(fs::exists(copied + "vr_riscv_probe.cfg"));
  EXPECT_FALSE(fs::exists(copied + "vr_riscv_legacy.sh"));  // a fileset of another server version

  const RunResult unreg = Unregister(dir_ / "riscv.undo");
  ASSERT_EQ(unreg.exitCode, 0) << unreg.out << unreg.err;
  EXPECT_EQ(Export(), before);
  EXPECT_EQ(Snapshot(), snapshot);
  EXPECT_TRUE(fs::exists(copied + "vr_riscv_mon.sh"));  // copied instrumentation stays
}

TEST_F(PlatformE2e, RepeatedRegistrationsCountReferencesAndUnregisterInReverseOrder) {
  Init();
  const std::string before = Export();
  ASSERT_EQ(Register(kExample, dir_ / "first.undo").exitCode, 0);
  const std::string afterFirst = Export();
  // The same platform again, its match expressions in another letter case: the same records.
  const std::string upper = Variant("upper.xml", [](std::string xml) {
    xml = Replace(xml, "^Linux-riscv64$", "^LINUX-RISCV64$");
    return Replace(xml, "^ubuntu-riscv64$", "^Ubuntu-RISCV64$");
  });
  const RunResult second = Register(upper, dir_ / "second.undo");
  ASSERT_EQ(second.exitCode, 0) << second.err;
  const std::string section = Section(UndoText(dir_ / "second.undo"));
  // The lines name the records as WMI holds them.
  EXPECT_NE(section.find("NODEDISC INCREMENT 3 2 \"91\" \"^Linux-riscv64$\"\n"), std::string::npos) << section;
  EXPECT_NE(section.find("NODEDISC INCREMENT 1 3 \"9102\" \"^ubuntu-riscv64$\"\n"), std::string::npos) << section;
  EXPECT_EQ(section.find("ADD"), std::string::npos) << section;  // nothing new
  EXPECT_EQ(std::regex_search(Query("SELECT * FROM VR_PlatformMatch WHERE Value = '9102'"), std::regex("RefCnt = 1;")),
            false);
  EXPECT_NE(Query("SELECT * FROM VR_PlatformMatch WHERE Method = 3 AND Property = 2").find("RefCnt = 2;"),
            std::string::npos);
  const std::string afterSecond = Export();

  // With -reinstall the counts stay and no NODEDISC line is written.
  ASSERT_EQ(Register(kExample, dir_ / "third.undo", {"-reinstall"}).exitCode, 0);
  EXPECT_EQ(Section(UndoText(dir_ / "third.undo")), "");
  EXPECT_EQ(Export(), afterSecond);

  ASSERT_EQ(Unregister(dir_ / "third.undo").exitCode, 0);
  EXPECT_EQ(Export(), afterSecond);
  ASSERT_EQ(Unregister(dir_ / "second.undo").exitCode, 0);
  EXPECT_EQ(Export(), afterFirst);
  ASSERT_EQ(Unregister(dir_ / "first.undo").exitCode, 0);
  EXPECT_EQ(Export(), before);
}

TEST_F(PlatformE2e, AMatchRecordWithAnotherValueIsChangedAndUnregisteringRestoresIt) {
  Init();
  const std::string before = Export();
  // The seed has this SNMP rule for OS type 3 (HP-UX) with RefCnt 2.
  const std::string file = Variant("change.xml", [](std::string xml) {
    return Replace(xml, "<snmp>^Linux .* riscv64$</snmp>", "<snmp>1.3.6.1.4.1.11.2.3.2.5</snmp>");
  });
  const RunResult reg = Register(file, dir_ / "change.undo");
  ASSERT_EQ(reg.exitCode, 0) << reg.err;
  EXPECT_NE(Section(UndoText(dir_ / "change.undo")).find("NODEDISC CHANGE 2 2 \"3\" \"91\" \"1.3.6.1.4.1.11.2.3.2.5\"\n"),
            std::string::npos);
  const std::string rule = Query("SELECT * FROM VR_PlatformMatch WHERE MatchExpression = '1.3.6.1.4.1.11.2.3.2.5'");
  EXPECT_NE(rule.find("Value = \"91\";"), std::string::npos) << rule;
  EXPECT_NE(rule.find("RefCnt = 3;"), std::string::npos) << rule;
  ASSERT_EQ(Unregister(dir_ / "change.undo").exitCode, 0);
  EXPECT_EQ(Export(), before);  // Value "3" and RefCnt 2 again
}

TEST_F(PlatformE2e, ALocalClusterRunTouchesOnlyTheQualifiersOfManagedNode) {
  Init("active");
  const std::string before = Export();
  const std::string others = Export("VR_PlatformMatch") + Export("VR_NodeGroup") + Export("VR_NodeGroupMember");
  const RunResult reg = Register(kExample, dir_ / "local.undo", {"-cluster", "local"});
  ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
  EXPECT_NE(Export("VR_ManagedNode").find("\"RISCV 64-bit Compatible\""), std::string::npos);
  EXPECT_EQ(Export("VR_PlatformMatch") + Export("VR_NodeGroup") + Export("VR_NodeGroupMember"), others);
  EXPECT_FALSE(fs::exists(host_ + "/server/share/instrumentation/91"));
  const std::string section = Section(UndoText(dir_ / "local.undo"));
  EXPECT_EQ(section.find("NODE"), std::string::npos) << section;
  ASSERT_EQ(Unregister(dir_ / "local.undo", {"-cluster", "local"}).exitCode, 0);
  EXPECT_EQ(Export(), before);
}

TEST_F(PlatformE2e, ASystemTypeNobodyKnowsFailsBeforeAnythingIsWritten) {
  Init();
  const std::string before = Export();
  const std::string snapshot = Snapshot();
  const std::string file = Variant("unknown.xml", [](std::string xml) {
    const size_t begin = xml.find("<SystemType>");
    const size_t end = xml.find("</SystemType>") + 13;
    return xml.replace(begin, end - begin, "<SystemType><value>77</value></SystemType>");
  });
  const RunResult reg = Register(file, dir_ / "unknown.undo");
  EXPECT_EQ(reg.exitCode, 1) << reg.err;
  // The console wraps the message at 80 columns.
  EXPECT_NE(reg.err.find("(TESSERA3000) Please check config. file syntax, specified System Type\n          '77'"),
            std::string::npos)
      << reg.err;
  EXPECT_EQ(Export(), before);
  EXPECT_EQ(Snapshot(), snapshot);
  EXPECT_FALSE(fs::exists(dir_ / "unknown.undo"));
}

TEST_F(PlatformE2e, MalformedPlatformSectionsFailAndChangeNothing) {
  Init();
  ASSERT_EQ(Register(kExample, dir_ / "good.undo").exitCode, 0);
  const std::string registered = Export();
  const std::string good = UndoText(dir_ / "good.undo");
  struct Case {
    const char* from;
    const char* to;
    const char* message;
  };
  const Case cases[] = {
      {"OS-VERSION ADD 9102", "OS-PATCH ADD 9102", "(TESSERA3055)"},               // unknown keyword
      {"OS-VERSION ADD 9102", "OS-VERSION DELETE 9102", "(TESSERA3033)"},          // bad action word
      {"SYSTEM-TYPE-OS-TYPE ADD RISCV 91", "SYSTEM-TYPE-OS-TYPE ADD RISCV", "(TESSERA3033)"},  // missing field
      {"\"^Linux-riscv64$\"", "\"^Linux-riscv64$", "(TESSERA3033)"},              // quote left open
  };
  for (const Case& c : cases) {
    const std::string path = dir_ / "bad.undo";
    WriteUndoText(path, Foreign(Replace(good, c.from, c.to)));
    const RunResult r = Unregister(path);
    EXPECT_EQ(r.exitCode, 53) << c.to << r.err;  // a damaged undo file
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.to << r.err;
    EXPECT_EQ(Export(), registered) << c.to;
  }
}

TEST_F(PlatformE2e, InstrumentationCopiesWarnOnlyButANonStringRootFailsTheRegistration) {
  Init();
  const std::string before = Export();
  const std::string depot = "SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\Depot";
  const std::string instrumentation = host_ + "/server/share/instrumentation";
  // An existing OS type folder stays as it is; a file at a destination is overwritten; a
  // source that is missing is a warning, and the run ends with warnings (exit 5).
  fs::create_directories(instrumentation + "/91");
  WriteFileBytes(instrumentation + "/91/keep.txt", "mine");
  fs::create_directories(instrumentation + "/91/9101/monitor");
  WriteFileBytes(instrumentation + "/91/9101/monitor/vr_riscv_mon.sh", "old");
  fs::remove(host_ + "/server/data/instrumentation/riscv64/vr_riscv_probe.cfg");
  const RunResult warned = Register(kExample, dir_ / "warned.undo");
  EXPECT_EQ(warned.exitCode, 5) << warned.err;
  EXPECT_NE(warned.err.find("(TESSERA4004) Could not copy file: 'vr_riscv_probe.cfg'"), std::string::npos)
      << warned.err;
  EXPECT_EQ(ReadFileBytes(instrumentation + "/91/keep.txt"), "mine");
  EXPECT_EQ(ReadFileBytes(instrumentation + "/91/9101/monitor/vr_riscv_mon.sh"),
            ReadFileBytes(host_ + "/server/data/instrumentation/riscv64/vr_riscv_mon.sh"));
  ASSERT_EQ(Unregister(dir_ / "warned.undo").exitCode, 0);
  EXPECT_EQ(Export(), before);

  // A root that is no string, or none at all, fails the registration before anything is written.
  for (const std::vector<std::string>& change :
       {std::vector<std::string>{"reg", "set", depot, "InstrumentationPath", "REG_DWORD", "7"},
        std::vector<std::string>{"reg", "delete", depot, "InstrumentationPath"}}) {
    ASSERT_EQ(Vrhost(change).exitCode, 0);
    const RunResult failed = Register(kExample, dir_ / "failed.undo");
    EXPECT_EQ(failed.exitCode, 1) << change[1] << failed.err;
    EXPECT_NE(failed.err.find("(TESSERA3049)"), std::string::npos) << failed.err;
    EXPECT_EQ(Export(), before) << change[1];
  }
}

TEST_F(PlatformE2e, AFailureAfterCommittedChangesRollsThemAllBack) {
  Init();
  const std::string before = Export();
  WriteFileBytes(dir_ / "kept.undo", "an older undo file");
  // The fourth instance write fails: the qualifiers and three match records are in WMI by then.
  const RunResult r = Tessera({"-reg", kExample, "-patch", "VRPATCH_RISCV_01", "-sections", "platform", "-log",
                               dir_ / "kept.undo"},
                              {"VR_FAULTS=wmi.PutInstance#4=0x80041001"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_NE(r.err.find("(TESSERA3026)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("(TESSERA3049)"), std::string::npos) << r.err;
  EXPECT_NE((r.out + r.err).find("Rollback succeeded"), std::string::npos) << r.out << r.err;
  EXPECT_EQ(Export(), before);
  EXPECT_EQ(ReadFileBytes(dir_ / "kept.undo"), "an older undo file");
}

TEST_F(PlatformE2e, ASystemTypeThatWasThereStaysWhenTheQualifierTheRunCreatedGoes) {
  Init();
  std::string node = Export("VR_ManagedNode");
  node = Replace(node, "\"PowerPC\", \"Alpha\"}", "\"PowerPC\", \"Alpha\", \"MIPS 32\"}");
  node = Replace(node, "ValueMap{\"1\", \"2\", \"3\", \"4\", \"5\", \"6\", \"7\"}",
                 "ValueMap{\"1\", \"2\", \"3\", \"4\", \"5\", \"6\", \"7\", \"80\"}");
  WriteFileBytes(dir_ / "node.mof", node);
  ASSERT_EQ(Vrhost({"wmi", "import", dir_ / "node.mof"}).exitCode, 0);
  const std::string before = Export();
  ASSERT_NE(before.find("\"MIPS 32\""), std::string::npos);
  // The platform names system type 80 by its value only: the run adds OS type 91 to a new
  // MIPS qualifier.
  const std::string file = Variant("mips.xml", [](std::string xml) {
    const size_t begin = xml.find("<SystemType>");
    const size_t end = xml.find("</SystemType>") + 13;
    return xml.replace(begin, end - begin, "<SystemType><value>80</value></SystemType>");
  });
  const RunResult reg = Register(file, dir_ / "mips.undo");
  ASSERT_EQ(reg.exitCode, 0) << reg.err;
  EXPECT_NE(Export("VR_ManagedNode").find("MIPS{\"91\"}"), std::string::npos);
  // Unregistration from the undo file's lines, and a rollback: the qualifier goes, MIPS stays.
  WriteUndoText(dir_ / "foreign.undo", Foreign(UndoText(dir_ / "mips.undo")));
  const RunResult unreg = Unregister(dir_ / "foreign.undo");
  ASSERT_EQ(unreg.exitCode, 0) << unreg.err;
  EXPECT_EQ(Export(), before);
  const RunResult failed = Tessera({"-reg", file, "-patch", "VRPATCH_MIPS", "-sections", "platform", "-log",
                                    dir_ / "failed.undo"},
                                   {"VR_FAULTS=wmi.PutInstance#6=0x80041001"});
  EXPECT_EQ(failed.exitCode, 1) << failed.err;
  EXPECT_EQ(Export(), before);
}

TEST_F(PlatformE2e, MatchEntriesListedTwiceWriteOneLinePerReference) {
  Init();
  const std::string before = Export();
  // The platform twice: every match entry twice, each record gets two references.
  const std::string file = Variant("twice.xml", [](std::string xml) {
    const size_t begin = xml.find("<Platform>");
    const size_t end = xml.find("</Platform>") + 11;
    return xml.insert(end, xml.substr(begin, end - begin));
  });
  ASSERT_EQ(Register(file, dir_ / "twice.undo").exitCode, 0);
  const std::string section = Section(UndoText(dir_ / "twice.undo"));
  for (const char* line : {"NODEDISC ADD 2 2 \"91\" \"^Linux .* riscv64$\"\n",
                           "NODEDISC INCREMENT 2 2 \"91\" \"^Linux .* riscv64$\"\n"})
    EXPECT_NE(section.find(line), std::string::npos) << line << section;
  EXPECT_NE(Query("SELECT * FROM VR_PlatformMatch WHERE Method = 2 AND Property = 2 AND Value = '91'").find("RefCnt = 2;"),
            std::string::npos);
  WriteUndoText(dir_ / "foreign.undo", Foreign(UndoText(dir_ / "twice.undo")));
  ASSERT_EQ(Unregister(dir_ / "foreign.undo").exitCode, 0);
  EXPECT_EQ(Export(), before);
  // A rollback after the match records were written (the first node group fails) too.
  const RunResult failed = Tessera({"-reg", file, "-patch", "VRPATCH_TWICE", "-sections", "platform", "-log",
                                    dir_ / "failed.undo"},
                                   {"VR_FAULTS=wmi.PutInstance#6=0x80041001"});
  EXPECT_EQ(failed.exitCode, 1) << failed.err;
  EXPECT_EQ(Export(), before);
}

TEST_F(PlatformE2e, AReinstallThatChangesAMatchValueTakesTheReferenceItsLineGivesBack) {
  Init();
  const std::string before = Export();
  // The seed has this SNMP rule for OS type 3 (HP-UX) with RefCnt 2.
  const std::string file = Variant("change.xml", [](std::string xml) {
    return Replace(xml, "<snmp>^Linux .* riscv64$</snmp>", "<snmp>1.3.6.1.4.1.11.2.3.2.5</snmp>");
  });
  ASSERT_EQ(Register(file, dir_ / "reinstall.undo", {"-reinstall"}).exitCode, 0);
  const std::string rule = Query("SELECT * FROM VR_PlatformMatch WHERE MatchExpression = '1.3.6.1.4.1.11.2.3.2.5'");
  EXPECT_NE(rule.find("RefCnt = 3;"), std::string::npos) << rule;
  WriteUndoText(dir_ / "foreign.undo", Foreign(UndoText(dir_ / "reinstall.undo")));
  ASSERT_EQ(Unregister(dir_ / "foreign.undo").exitCode, 0);
  EXPECT_EQ(Export(), before);  // Value "3" and RefCnt 2 again
}

TEST_F(PlatformE2e, TextsAnUndoLineCannotCarryAreRefusedBeforeAnyChange) {
  Init();
  const std::string before = Export();
  const std::string snapshot = Snapshot();
  struct Case {
    const char* from;
    const char* to;
    const char* message;
  };
  const Case cases[] = {
      {"<text L=\"1033\">Linux (RISC-V)</text>", "<text L=\"1033\">Linux \"RISC-V\"</text>", "(TESSERA3061)"},
      {"<caption><text L=\"1033\">Debian GNU/Linux 12 (RISC-V)</text>",
       "<caption><text L=\"1033\">Debian GNU/Linux 12&#10;(RISC-V)</text>", "(TESSERA3061)"},
      {"<snmp>^Linux .* riscv64$</snmp>", "<snmp>^Linux \".*\" riscv64$</snmp>", "(TESSERA3061)"},
      {"<name>RISCV_DEBIAN</name>", "<name>RISCV DEBIAN</name>", "(TESSERA3062)"},
      {"<subdir name=\"monitor\">", "<subdir name=\"..\\..\\..\\escape\">", "(TESSERA3060)"},
      {"<subdir name=\"monitor\">", "<subdir name=\"/tmp\">", "(TESSERA3060)"},
      {"<subdir name=\"monitor\">", "<subdir name=\"..\">", "(TESSERA3060)"},
      {"riscv64\\vr_riscv_mon.sh</copyfile>", "riscv64\\..</copyfile>", "(TESSERA3060)"},
  };
  for (const Case& c : cases) {
    const std::string file = Variant("refused.xml", [&](std::string xml) { return Replace(xml, c.from, c.to); });
    const RunResult r = Register(file, dir_ / "refused.undo");
    EXPECT_EQ(r.exitCode, 1) << c.to << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.to << r.err;
    EXPECT_EQ(Export(), before) << c.to;
    EXPECT_EQ(Snapshot(), snapshot) << c.to;
    EXPECT_FALSE(fs::exists(dir_ / "refused.undo")) << c.to;
  }
  EXPECT_FALSE(fs::exists(host_ + "/server/share/instrumentation/91")) << "nothing copied";
}

TEST_F(PlatformE2e, SectionMarkersInLowerCaseAreRead) {
  Init();
  const std::string before = Export();
  ASSERT_EQ(Register(kExample, dir_ / "riscv.undo").exitCode, 0);
  std::string undo = Foreign(UndoText(dir_ / "riscv.undo"));
  undo = Replace(Replace(undo, "[[[PLATFORMS]]]", "[[[platforms]]]"), "[[[PLATFORMS_END]]]", "[[[Platforms_End]]]");
  WriteUndoText(dir_ / "lower.undo", undo);
  const RunResult r = Unregister(dir_ / "lower.undo");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Export(), before);
}

TEST_F(PlatformE2e, CpuQualifiersKeepTheirNameAndAreFoundWhenNoCaptionNamesThem) {
  Init();
  const std::string before = Export();
  // System type 4 (SPARC) gets a caption whose first word is another CPU type, and OS type 95
  // goes onto the SPARC qualifier: unregistering must still find that qualifier.
  const std::string renamed = Variant("renamed.xml", [](std::string xml) {
    xml = Replace(xml, "<value>70</value>", "<value>4</value>");
    return Replace(xml, "RISCV 64-bit Compatible", "Edition SPARC");
  });
  ASSERT_EQ(Register(renamed, dir_ / "renamed.undo").exitCode, 0);
  EXPECT_NE(Export("VR_ManagedNode").find("SPARC{\"4\", \"91\"}"), std::string::npos);
  WriteUndoText(dir_ / "foreign.undo", Foreign(UndoText(dir_ / "renamed.undo")));
  ASSERT_EQ(Unregister(dir_ / "foreign.undo").exitCode, 0);
  EXPECT_TRUE(Export() == before) << FirstDifference(before, Export());
  // A new system type whose caption names Intel in another letter case, rolled back after a
  // failed write: the qualifier keeps its name.
  const std::string cased = Variant("cased.xml", [](std::string xml) {
    return Replace(xml, "RISCV 64-bit Compatible", "INTEL Xeon");
  });
  const RunResult failed = Tessera({"-reg", cased, "-patch", "VRPATCH_CASED", "-sections", "platform", "-log",
                                    dir_ / "cased.undo"},
                                   {"VR_FAULTS=wmi.PutInstance#2=0x80041001"});
  EXPECT_EQ(failed.exitCode, 1) << failed.err;
  EXPECT_TRUE(Export() == before) << FirstDifference(before, Export());
}

// ---- Generated registration files

using vr::testing::PlatformFileGenerator;

// Generated files registered and unregistered one after the other on one demo host: after
// each the namespace is as before; a registration stopped by a failing write rolls back to it.
// VR_PROPERTY_FILES sets how many files (the long mode runs thousands), VR_PROPERTY_SEED the
// first seed.
// In parts that the test run spreads over the processors (tests/support/SweepParts.h): part k
// of n takes the seeds first+k, first+k+n, ...
constexpr int kGeneratedParts = 3;
class PlatformE2eGenerated : public PlatformE2e, public ::testing::WithParamInterface<int> {};

TEST_P(PlatformE2eGenerated, GeneratedFilesRegisterAndUnregisterExactly) {
  Init();
  const std::string before = Export();
  const char* files = std::getenv("VR_PROPERTY_FILES");
  const char* seed = std::getenv("VR_PROPERTY_SEED");
  const int count = files ? std::atoi(files) : 100;
  const uint32_t first = seed ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)) : 1;
  int registered = 0, refused = 0, rolledBack = 0, tried = 0;
  for (int i = GetParam(); i < count && !HasFailure(); i += kGeneratedParts) {
    ++tried;
    const uint32_t s = first + static_cast<uint32_t>(i);
    PlatformFileGenerator generator(s);
    const std::string file = dir_ / "generated.xml";
    const std::string text = generator.File();
    WriteFileBytes(file, text);
    const std::string undo = dir_ / "generated.undo";
    fs::remove(undo);
    std::vector<std::string> env;
    if (s % 5 == 0) env.push_back("VR_FAULTS=wmi.PutInstance#" + std::to_string(1 + s % 7) + "=0x80041001");
    const RunResult reg = Tessera({"-reg", file, "-patch", "GEN_" + std::to_string(s), "-sections", "platform", "-log",
                                   undo},
                                  env);
    if (reg.exitCode == 0) {
      // Registrations on this host are taken back from its ledger, which knows which values
      // other registrations still use; an undo file alone cannot say that of a system type.
      if (!fs::exists(host_ + "/ledger/ledger.txt"))
        GTEST_SKIP() << "the host keeps no ledger of its registrations";
      ++registered;
      const RunResult unreg = Unregister(undo);
      ASSERT_EQ(unreg.exitCode, 0) << "seed " << s << "\n" << unreg.err << text;
    } else {
      ASSERT_EQ(reg.exitCode, 1) << "seed " << s << "\n" << reg.err << text;
      ++(reg.err.find("(TESSERA300") != std::string::npos ? refused : rolledBack);
    }
    const std::string after = Export();
    ASSERT_TRUE(after == before) << "seed " << s << ", first difference:\n" << FirstDifference(before, after) << text;
  }
  std::printf("generated files: %d registered and unregistered, %d refused, %d rolled back\n", registered, refused,
              rolledBack);
  EXPECT_GT(registered, tried / 3);
}
INSTANTIATE_TEST_SUITE_P(Part, PlatformE2eGenerated, ::testing::Range(0, kGeneratedParts));

}  // namespace
