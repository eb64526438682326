// Speed of the package section: tessera registers N packages with 10 policy types each from
// one registration file, then unregisters them, on a fresh demo host, for N = 10, 100 and
// 1,000, with the Depot on the embedded SQLite database and on a PostgreSQL server of its own.
// Prints the wall time of each run and the time per package. Target: 1,000 packages register
// and unregister in under 3 s each on SQLite and under 10 s each on PostgreSQL; the program
// exits with 1 when that is missed.
//
// Usage: package_bench [--sqlite-only]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/HostTestSupport.h"
#include "tests/support/PgServer.h"

using Clock = std::chrono::steady_clock;
using vr::testing::RunProgram;
using vr::testing::RunResult;
using vr::testing::TempDir;

namespace {

const char* kPolicyTypes[] = {
    "{B7A8C9D0-1E2F-4031-8425-36475869708A}", "{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}",
    "{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}", "{D2C4E6F8-0A1B-4C3D-9E5F-718293A4B5C6}",
    "{E3F5A7B9-1C2D-4E3F-8A5B-6C7D8E9FA0B1}", "{F4A6B8CA-2D3E-4F40-9B6C-7D8E9FA0B1C2}",
    "{0A1B2C3D-4E5F-4607-8819-2A3B4C5D6E7F}", "{B0000000-0000-4000-8000-000000000008}",
    "{B0000000-0000-4000-8000-000000000009}", "{B0000000-0000-4000-8000-000000000010}"};

std::vector<std::string> Env(const std::string& root) {
  return {"VR_HOST_ROOT=" + root, "VR_COMPUTER_NAME=BENCH", "PATH=" + std::string(TOOL_FOLDER) + ":/usr/bin:/bin",
          "VR_DATA_DIR=" + std::string(VR_SOURCE_ROOT) + "/data"};
}

bool Run(const std::string& program, const std::vector<std::string>& args, const std::string& root,
         const char* what) {
  const RunResult r = RunProgram(program, args, Env(root));
  if (r.exitCode == 0) return true;
  std::fprintf(stderr, "%s failed with %d:\n%s%s\n", what, r.exitCode, r.out.c_str(), r.err.substr(0, 2000).c_str());
  return false;
}

std::string RegistrationFile(const TempDir& dir, int packages) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
      "<VrNPConfig version=\"A.07.50\">\n"
      "<OsTypeForReg string=\"Windows_2000\"><systemtype>2</systemtype><ostype>11</ostype></OsTypeForReg>\n"
      "<PackageList>\n";
  for (int i = 0; i < packages; ++i) {
    char id[40];
    std::snprintf(id, sizeof id, "{C0000000-0000-4000-8000-%012d}", i);
    xml += std::string("<Package><type>") + (i == 0 ? "WindowsPackage" : "BenchPackage") +
           "</type><pkgname><text L=\"1033\">Bench Package " + std::to_string(i) +
           "</text></pkgname><version>1.0</version><logicalid>" + id +
           "</logicalid><unregister>yes</unregister><description><text L=\"1033\">Package number " +
           std::to_string(i) + "</text></description><deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6</deployerid>"
           "<PlatformAndPolicyTypes><systemtype>2</systemtype><ostype>11</ostype><PolicyTypes>";
    for (const char* t : kPolicyTypes) xml += std::string("<policytype>") + t + "</policytype>";
    xml += "</PolicyTypes></PlatformAndPolicyTypes></Package>\n";
  }
  xml += "</PackageList>\n</VrNPConfig>\n";
  const std::string path = dir / ("bench" + std::to_string(packages) + ".xml");
  vr::testing::WriteFileBytes(path, xml);
  return path;
}

// One host, one registration and one unregistration of n packages; false when a step failed.
bool Measure(const char* engine, int n, double& regSeconds, double& unregSeconds) {
  TempDir dir("vrpkgbench");
  const std::string root = dir / "host";
  if (!Run(VRHOST, {"init"}, root, "vrhost init")) return false;
  if (std::strcmp(engine, "PostgreSQL") == 0 &&
      !Run(VRHOST, vr::testing::PgServer::Shared().UsePostgresArgs(), root, "vrhost dbaccess use-postgresql"))
    return false;
  for (int i = 7; i < 10; ++i)
    if (!Run(VRHOST, {"db", "query", std::string("INSERT INTO VR_PM_PolicyType (PolTypeId, Name) VALUES ('") +
                                         kPolicyTypes[i] + "', 'Bench " + std::to_string(i) + "')"},
             root, "adding a policy type"))
      return false;
  if (!Run(VRHOST, {"reg", "set", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Patches\\BENCH", "Installed",
                    "REG_DWORD", "1"},
           root, "vrhost reg set"))
    return false;
  vr::testing::WriteFileBytes(dir / "VrNPConfig.dtd",
                              vr::testing::ReadFileBytes(std::string(VR_SOURCE_ROOT) + "/data/VrNPConfig.dtd"));
  const std::string file = RegistrationFile(dir, n);
  const std::string undo = dir / "bench.undo";
  auto start = Clock::now();
  if (!Run(TESSERA, {"-reg", file, "-patch", "BENCH", "-sections", "package", "-log", undo}, root, "tessera -reg"))
    return false;
  regSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  start = Clock::now();
  if (!Run(TESSERA, {"-unreg", undo}, root, "tessera -unreg")) return false;
  unregSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool sqliteOnly = argc > 1 && std::strcmp(argv[1], "--sqlite-only") == 0;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is measured
  bool ok = true;
  std::printf("%-11s %9s %13s %15s %13s %15s\n", "database", "packages", "register (s)", "per package (ms)",
              "unregister (s)", "per package (ms)");
  for (const char* engine : {"SQLite", "PostgreSQL"}) {
    if (sqliteOnly && std::strcmp(engine, "SQLite") != 0) continue;
    for (int n : {10, 100, 1000}) {
      double reg = 0, unreg = 0;
      try {
        if (!Measure(engine, n, reg, unreg)) {
          ok = false;
          continue;
        }
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", engine, e.what());
        ok = false;
        break;
      }
      std::printf("%-11s %9d %13.2f %15.2f %13.2f %15.2f\n", engine, n, reg, 1000 * reg / n, unreg, 1000 * unreg / n);
      const bool sqlite = std::strcmp(engine, "SQLite") == 0;
      const double target = sqlite ? 3 : 10;
      if (n == 1000 && (reg >= target || unreg >= target)) {
        std::printf("MISSED: 1,000 packages must register and unregister in under %.0f s each on %s\n", target,
                    engine);
        ok = false;
      }
    }
  }
  return ok ? 0 : 1;
}
