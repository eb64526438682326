// revenant end to end: the installed program run on demo hosts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/wmi/testing/temp_host.h"
#include "tests/support/HostTestSupport.h"

namespace {

using vr::wmi::testing::TempHost;

using ProgramRun = vr::testing::RunResult;
using vr::testing::ReadFileBytes;

std::string ReadFile(const std::string& path) { return ReadFileBytes(path); }

std::string Program() {
  const char* bin = std::getenv("VR_BINARY_DIR");
  return std::string(bin ? bin : ".") + "/revenant/revenant";
}

// revenant on the host, without the fault settings of the test's own environment unless
// `environment` ("NAME=value" entries) sets them.
ProgramRun Revenant(const TempHost& host, const std::vector<std::string>& environment = {},
                    const std::vector<std::string>& arguments = {}) {
  // The repository stands for a host made by vrhost, whose marker revenant looks for first.
  std::ofstream(host.root() + "/.vrhost", std::ios::app).close();
  std::vector<std::string> env = {"VR_HOST_ROOT=" + host.root(), "VR_FAULTS=", "VR_FAULTS_LOG="};
  for (const std::string& e : environment) {
    const std::string name = e.substr(0, e.find('=') + 1);
    std::erase_if(env, [&](const std::string& x) { return x.rfind(name, 0) == 0; });
    env.push_back(e);
  }
  return vr::testing::RunProgram(Program(), arguments, env);
}

std::string Restoring(const char* provider) {
  return std::string("Restoring: __Win32Provider.Name=\"") + provider + "\"\n";
}

const std::string kStart = "\nStarting Revenant\n\nStarting to restore event providers\n\n";
const std::string kAll = Restoring("VrClusterEventProvider") + Restoring("VrDeploymentEventProvider") +
                         Restoring("VrMessageEventProvider") + Restoring("VrNodeStatusProvider") +
                         Restoring("VrPolicyEventProvider");
const std::string kSuccess = "\n\nSUCCESS: revenant completed successfully!\n\n";
const std::string kFailure = "\n***\n*** FAILURE: revenant terminated due to errors!\n***\n\n";

TEST(Revenant, RestoresEveryRegistrationOfTheDemoHost) {
  TempHost host;
  const ProgramRun r = Revenant(host);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kStart + kAll + "\nCompleted restoring providers.\n" + kSuccess);
  EXPECT_EQ(r.err, "");
  // Arguments change nothing (a request for help is answered instead: admin_e2e_test).
  const ProgramRun withArguments = Revenant(host, {}, {"-x", "/tmp/whatever"});
  EXPECT_EQ(withArguments.exitCode, 0);
  EXPECT_EQ(withArguments.out, r.out);
  EXPECT_EQ(withArguments.err, "");
}

TEST(Revenant, ANamespaceWithoutRegistrations) {
  TempHost host(false);
  ASSERT_EQ(host.Compile(u"instance of __NAMESPACE { Name = \"Tamberlin\"; };\n"
                         u"#pragma namespace(\"\\\\\\\\.\\\\root\\\\Tamberlin\")\n"
                         u"instance of __NAMESPACE { Name = \"Vorant\"; };\n"
                         u"#pragma namespace(\"Vorant\")\n"
                         u"instance of __NAMESPACE { Name = \"data\"; };\n"),
            "");
  const ProgramRun r = Revenant(host);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kStart + "\nCompleted restoring providers.\n" + kSuccess);
  EXPECT_EQ(r.err, "");
}

TEST(Revenant, TheThirdOfFivePutsFails) {
  TempHost host;
  const std::string log = host.root() + "/faults.log";
  const ProgramRun r = Revenant(host, {"VR_FAULTS=wmi.PutInstance#3=0x80041001", "VR_FAULTS_LOG=" + log});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, kStart + Restoring("VrClusterEventProvider") + Restoring("VrDeploymentEventProvider") +
                       Restoring("VrMessageEventProvider"));
  // The first two were written back before the third failed.
  const std::string points = ReadFile(log);
  EXPECT_NE(points.find("wmi.PutInstance#1\nwmi.Next#"), std::string::npos);
  EXPECT_NE(points.find("wmi.PutInstance#3\n"), std::string::npos);
  EXPECT_EQ(points.find("wmi.PutInstance#4"), std::string::npos);
  const std::regex expected(
      "\nERROR: In Revenant\\.cpp line [0-9]+:\n"
      "  IWbemServices::PutInstance\\(\\.\\.\\.\\) failed\\.\n    hr = 0x80041001  WBEM_E_FAILED\n"
      "\n\\* \\* \\*\n\nThe following extended error information is intended to augment the\n"
      "fundamental error message that appears above\\.\n\n"
      "WBEM __ExtendedStatus:\n\n   Calls to WBEM COM functions may return __ExtendedStatus information\n"
      "   when errors occur\\.  An __ExtendedStatus object has been created\\.\n"
      "   The values of its properties are:\n\n"
      "     Description  : Generic failure\n"
      "     Operation    : PutInstance\n"
      "     ParameterInfo: __EventProviderRegistration\\.provider=\"__Win32Provider\\.Name=\\\\\"VrMessageEventProvider\\\\\"\"\n"
      "     ProviderName : WinMgmt\n\n"
      "\n\n\\* \\* \\*\n"
      "\n\\*\\*\\*\n\\*\\*\\* FAILURE: revenant terminated due to errors!\n\\*\\*\\*\n\n");
  EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
}

TEST(Revenant, AMissingNamespaceFailsTheConnection) {
  TempHost host(false);
  const ProgramRun r = Revenant(host);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "\nStarting Revenant\n");
  const std::regex expected(
      "\nERROR: In WbemUtils\\.cpp line [0-9]+:\n"
      "  IWbemLocator::ConnectServer\\(\\) failed\\.\n"
      "    strNetworkResource: \\\\\\\\\\.\\\\root\\\\Tamberlin\\\\Vorant\\\\data\n"
      "    hr = 0x8004100e \\(WBEM_E_INVALID_NAMESPACE\\)\n"
      "\n\\* \\* \\*\n\nThe following extended error information is intended to augment the\n"
      "fundamental error message that appears above\\.\n\n"
      "WBEM __ExtendedStatus:\n[^*]*"
      "     Description  : The namespace root\\\\Tamberlin\\\\Vorant\\\\data does not exist\\.\n"
      "     Operation    : ConnectServer\n"
      "     ParameterInfo: \\\\\\\\\\.\\\\root\\\\Tamberlin\\\\Vorant\\\\data\n"
      "     ProviderName : WinMgmt\n\n"
      "\n\n\\* \\* \\*\n"
      "\n\\*\\*\\*\n\\*\\*\\* FAILURE: revenant terminated due to errors!\n\\*\\*\\*\n\n");
  EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
}

// A time-out of the enumeration is a failure, not a success with some registrations missing.
TEST(Revenant, AnEnumerationThatTimesOutFails) {
  TempHost host;
  const ProgramRun r = Revenant(host, {"VR_FAULTS=wmi.Next#2=0x40004"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, kStart + Restoring("VrClusterEventProvider"));
  EXPECT_NE(r.err.find("  IEnumWbemClassObject::Next(...) failed.\n    hr = 0x00040004  WBEM_S_TIMEDOUT\n"), std::string::npos);
  EXPECT_NE(r.err.find("The following extended error information"), std::string::npos);
  EXPECT_NE(r.err.find("This operation returned because the timeout period expired."), std::string::npos);
  EXPECT_NE(r.err.find(kFailure), std::string::npos);
}

TEST(Revenant, SetupFailuresEndWithTheExtendedReport) {
  TempHost host;
  ProgramRun r = Revenant(host, {"VR_FAULTS=com.CoInitialize#1=0x80010106"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("  CoInitializeEx(0, COINIT_APARTMENTTHREADED) failed.\n    hr = 0x80010106  RPC_E_CHANGED_MODE\n"),
            std::string::npos);
  EXPECT_EQ(r.err.find("extended error information"), std::string::npos);  // none for this step
  r = Revenant(host, {"VR_FAULTS=com.CoInitializeSecurity#1=0x80010119"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("  CoInitializeSecurity(...) failed.\n    hr = 0x80010119  RPC_E_TOO_LATE\n"), std::string::npos);
  EXPECT_NE(r.err.find("extended error information"), std::string::npos);
  r = Revenant(host, {"VR_FAULTS=wmi.CreateInstanceEnum#1=0x80041003"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("  IWbemServices::CreateInstanceEnum(...) failed.\n    hr = 0x80041003  WBEM_E_ACCESS_DENIED\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("     Operation    : CreateInstanceEnum\n"), std::string::npos);
  r = Revenant(host, {"VR_FAULTS=wmi.Get#1=0x80041002"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("  IEnumWbemClassObject::Next(...) failed.\n    hr = 0x80041002  WBEM_E_NOT_FOUND\n"),
            std::string::npos);
  EXPECT_NE(r.err.find("   Could not locate any additional error information.\n"), std::string::npos);
}

// Every fault point of a run, failed on its own: never a success banner, always exit 1.
TEST(Revenant, EveryFailingHostCallEndsInFailure) {
  TempHost host;
  const std::string log = host.root() + "/points.log";
  ASSERT_EQ(Revenant(host, {"VR_FAULTS_LOG=" + log}).exitCode, 0);
  std::istringstream in(ReadFile(log));
  std::vector<std::string> points;
  for (std::string line; std::getline(in, line);) points.push_back(line);
  ASSERT_GT(points.size(), 15u);
  for (const std::string& point : points) {
    const ProgramRun r = Revenant(host, {"VR_FAULTS=" + point + "=0x80041001"});
    // A run lock that cannot be had has the host's own exit code.
    EXPECT_EQ(r.exitCode, point.rfind("os.RunLock#", 0) == 0 ? 100 : 1) << point;
    EXPECT_EQ(r.out.find("SUCCESS"), std::string::npos) << point;
    EXPECT_NE(r.err.find(kFailure), std::string::npos) << point;
    EXPECT_NE(r.err.find("\nERROR: In "), std::string::npos) << point;
  }
}

// Another program holds the run lock past the wait: exit 100, as tessera and mordant, with a
// report that says so, and nothing rewritten.
TEST(Revenant, AHeldRunLockStopsWithExitCode100) {
  TempHost host;
  vr::testing::RunLockHolder holder(host.root() + "/run.lock");
  const ProgramRun r = Revenant(host, {"VR_RUN_LOCK_TIMEOUT_MS=200"});
  holder.Release();
  EXPECT_EQ(r.exitCode, 100);
  EXPECT_NE(r.err.find("gave up after waiting 200 ms. Nothing was changed.\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("Restoring:"), std::string::npos);
  EXPECT_NE(r.err.find(kFailure), std::string::npos);
}

}  // namespace
