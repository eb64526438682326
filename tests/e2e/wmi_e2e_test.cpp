// End to end: the WMI repository of hosts made by vrhost init, through vrhost wmi and revenant.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"

using vr::testing::ReadFileBytes;
using vr::testing::RunResult;
using vr::testing::WriteFileBytes;

namespace {

class WmiE2e : public vr::testing::ProgramFixture {
 protected:
  void SetUp() override {
    const RunResult r = Vrhost({"init"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  RunResult Vrhost(std::vector<std::string> args, const std::string& input = {}) {
    return Run(VRHOST, args, {}, input);
  }
  RunResult Revenant(std::vector<std::string> args = {}, std::vector<std::string> env = {}) {
    return Run(REVENANT, args, env);
  }
  std::string Snapshot() {
    const RunResult r = Vrhost({"snapshot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  }
};

TEST_F(WmiE2e, InitSeedsTheProductNamespace) {
  RunResult r = Vrhost({"wmi", "export", "VR_ManagedNode"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find("#pragma namespace(\"\\\\\\\\.\\\\root\\\\Tamberlin\\\\Vorant\\\\data\")\n"), 0u);
  EXPECT_NE(r.out.find("Values{\"Other\", \"HP-UX\", \"Solaris\", \"AIX\", \"Linux\", \"Tru64 UNIX\", \"Windows NT\", "
                       "\"Windows 2000\"}: ToInstance ToSubclass"),
            std::string::npos);
  EXPECT_NE(r.out.find("\tName = \"billing.corp.example.com\";\n"), std::string::npos);
  r = Vrhost({"wmi", "query", "SELECT", "*", "FROM", "VR_PlatformMatch", "WHERE", "Property", "=", "3"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("MatchExpression = \"Windows NT 4.0\";"), std::string::npos);
  EXPECT_EQ(r.out.find("Property = 2;"), std::string::npos);
  r = Vrhost({"wmi", "query", "--namespace", "//./root", "SELECT * FROM __NAMESPACE"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "\ninstance of __NAMESPACE\n{\n\tName = \"Tamberlin\";\n};\n");
}

TEST_F(WmiE2e, BadInputIsReportedAndChangesNothing) {
  const std::string before = Snapshot();
  WriteFileBytes(dir_ / "bad.mof", "class VR_New\n{\n\t[key] string Id;\n\tuint32 Count = -1;\n};\n");
  RunResult r = Vrhost({"wmi", "import", dir_ / "bad.mof"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "vrhost: " + (dir_ / "bad.mof") +
                       ":4:17: error: the default value does not fit the type of Count; nothing was imported\n");
  r = Vrhost({"wmi", "import", "-"}, "instance of VR_NodeGroup { Name = \"A\"; };\ninstance of VR_Nothing { X = 1; };\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("-:2:1: error: instance of VR_Nothing: The class VR_Nothing does not exist"), std::string::npos)
      << r.err;
  r = Vrhost({"wmi", "query", "SELECT * FROM VR_ManagedNode WHERE Name < 'x'"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Only the = operator is supported"), std::string::npos) << r.err;
  r = Vrhost({"wmi", "export", "--namespace", "root\\nothing"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("The namespace root\\nothing does not exist. (0x8004100E)"), std::string::npos) << r.err;
  EXPECT_EQ(Vrhost({"wmi"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"wmi", "frob"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"wmi", "import"}).exitCode, 2);
  EXPECT_EQ(Vrhost({"wmi", "import", dir_ / "missing.mof"}).exitCode, 1);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(WmiE2e, ASchemaTopFileImportsWithItsIncludes) {
  std::filesystem::create_directories(dir_ / "schema/Core");
  WriteFileBytes(dir_ / "schema/top.mof", "#pragma include (\"qualifiers.mof\")\n#pragma include (\"Core\\CIM_Base.mof\")\n");
  WriteFileBytes(dir_ / "schema/qualifiers.mof",
                 "Qualifier Key : boolean = false, Scope(property), Flavor(DisableOverride, ToSubclass);\n");
  WriteFileBytes(dir_ / "schema/Core/CIM_Base.mof",
                 "class CIM_Base { [Key] string Id; uint32 Reset([In] uint32 Code); };\n");
  RunResult r = Vrhost({"wmi", "import", "--namespace", "root", "-"}, "instance of __NAMESPACE { Name = \"cim\"; };");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Vrhost({"wmi", "import", "--namespace", "root\\cim", dir_ / "schema/top.mof"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Vrhost({"wmi", "export", "--namespace", "root\\cim"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Qualifier Key : boolean = FALSE, Scope(property), Flavor(DisableOverride, ToSubclass);"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\t[Key: ToSubclass DisableOverride] string Id;\n\tuint32 Reset([In] uint32 Code);\n"), std::string::npos)
      << r.out;
  // An error in an included file names that file; nothing of the import is kept.
  WriteFileBytes(dir_ / "schema/Core/CIM_Base.mof", "class CIM_Base2 { T_Nowhere ref A; };\n");
  r = Vrhost({"wmi", "import", "--namespace", "root\\cim", dir_ / "schema/top.mof"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "vrhost: " + (dir_ / "schema/Core/CIM_Base.mof") +
                       ":1:19: error: class CIM_Base2: the class T_Nowhere of the property A does not exist.; nothing "
                       "was imported\n");
}

TEST_F(WmiE2e, ExportImportsIntoAnotherNamespaceUnchanged) {
  const RunResult original = Vrhost({"wmi", "export"});
  ASSERT_EQ(original.exitCode, 0);
  ASSERT_EQ(Vrhost({"wmi", "import", "--namespace", "root", "-"}, "instance of __NAMESPACE { Name = \"copy\"; };").exitCode, 0);
  // Without its pragma the text goes where --namespace says.
  const std::string body = original.out.substr(original.out.find('\n') + 1);
  RunResult r = Vrhost({"wmi", "import", "--namespace", "root\\copy", "-"}, body);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Vrhost({"wmi", "export", "--namespace", "root\\copy"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), body);
}

TEST_F(WmiE2e, RevenantOnTheDemoHost) {
  const std::string before = Snapshot();
  const RunResult r = Revenant({"ignored", "--arguments"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Restoring: __Win32Provider.Name=\"VrPolicyEventProvider\"\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n\nSUCCESS: revenant completed successfully!\n\n"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);  // written back unchanged
  const RunResult failed = Revenant({}, {"VR_FAULTS=wmi.PutInstance#1=0x80041003"});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("*** FAILURE: revenant terminated due to errors!"), std::string::npos);
  EXPECT_EQ(Snapshot(), before);
}

}  // namespace
