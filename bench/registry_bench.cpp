// Speed of the host registry and of vrhost init, against their targets:
//  - `vrhost init` of a complete demo host (target under 1 s);
//  - a registry read as the programs make it: open the key, query size and type, query the
//    data, close (target under 0.2 ms);
//  - a durable write: RegSetValueExW, on disk when it returns (target under 5 ms).
// Each figure is the median of its runs; the program exits with 1 when one misses its target.
//
// Usage: registry_bench [folder]   (default: the temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/registry/registry.h"
#include "platform/registry/regtools.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

bool Report(const char* what, double median, double worst, double target) {
  const bool ok = median < target;
  std::printf("%-34s median %9.4f ms   max %9.4f ms   target < %g ms   %s\n", what, median, worst, target,
              ok ? "ok" : "MISSED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  const fs::path base = fs::path(argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp")) / "vr_registry_bench";
  fs::remove_all(base);
  fs::create_directories(base);
  const std::string root = (base / "host").string();
  setenv("VR_HOST_ROOT", root.c_str(), 1);
  bool ok = true;

  std::vector<double> init;
  for (int i = 0; i < 7; ++i) {
    const std::string command = std::string(VRHOST) + " init --force --cluster active --root '" + root + "'";
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "vrhost init failed\n");
      return 2;
    }
    init.push_back(Ms(start));
  }
  ok &= Report("vrhost init", Median(init), *std::max_element(init.begin(), init.end()), 1000);

  const WChar* key = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server";
  std::vector<double> reads;
  for (int i = 0; i < 20000; ++i) {
    const auto start = Clock::now();
    HKEY h = nullptr;
    DWORD type = 0, size = 0;
    WChar buffer[64];
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &h) != ERROR_SUCCESS ||
        RegQueryValueExW(h, u"Version", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        RegQueryValueExW(h, u"Version", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS) {
      std::fprintf(stderr, "registry read failed\n");
      return 2;
    }
    RegCloseKey(h);
    reads.push_back(Ms(start));
  }
  ok &= Report("registry read (open, 2 queries)", Median(reads), *std::max_element(reads.begin(), reads.end()), 0.2);

  HKEY h = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr) !=
      ERROR_SUCCESS)
    return 2;
  std::vector<double> writes;
  for (DWORD i = 0; i < 500; ++i) {
    const WChar* name = (i % 2) ? u"odd" : u"even";
    const auto start = Clock::now();
    if (RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), sizeof i) != ERROR_SUCCESS) {
      std::fprintf(stderr, "registry write failed\n");
      return 2;
    }
    writes.push_back(Ms(start));
  }
  RegCloseKey(h);
  ok &= Report("durable registry write", Median(writes), *std::max_element(writes.begin(), writes.end()), 5);

  vr::registry::CloseHive();
  fs::remove_all(base);
  return ok ? 0 : 1;
}
