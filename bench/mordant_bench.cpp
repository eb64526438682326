// Speed of mordant, printed as items/s:
//  - reading update files of 100, 1,000 and 10,000 new items against a model that already
//    holds as many entries (so per-item searches over a large model show up as a falling
//    rate), and again when every item already exists;
//  - a whole add of the 10,000-item file on a demo host made by vrhost init: COM and WMI
//    set-up, loading, reading, writing the qualifiers and storing the class.
//
// Usage: mordant_bench   (needs vrhost beside the build, as VRHOST names it)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "mordant/MordantMain.h"
#include "mordant/PlatformInfo.h"
#include "mordant/UpdateInfoReader.h"
#include "platform/text/convert.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A CPU key holds letters only: the number written in the letters a to z.
std::string Letters(size_t n) {
  std::string out;
  do {
    out.insert(out.begin(), static_cast<char>('a' + n % 26));
    n /= 26;
  } while (n);
  return out;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// items/4 each of system types, OS types, CPU assignments and OS versions, numbered from base.
std::string UpdateFile(size_t items, size_t base) {
  std::string text = "# benchmark update file\n";
  const size_t n = items / 4;
  for (size_t i = 0; i < n; ++i) {
    const std::string k = std::to_string(base + i);
    const std::string cpu = "Cpu" + Letters(base + i);
    text += "SYSTEM-TYPE: " + cpu + " family, " + k + ";\n";
    text += "OS-TYPE: System " + k + ", " + k + ";\n";
    text += "SYSTEM-CPU-OS: " + cpu + ", " + k + ";\n";
    text += "OS-VERSION: " + k + ".1, " + k + "001;\n";
  }
  return text;
}

// A model of about `entries` entries of every kind, numbered from base.
void Model(size_t entries, size_t base, SystemTypeList* st, CpuOsList* co, OsTypeList* ot, OsVersionList* ov) {
  for (size_t i = 0; i < entries; ++i) {
    const WString k = vr::text::Utf8ToWide(std::to_string(base + i));
    const WString cpu = u"Old" + vr::text::Utf8ToWide(Letters(base + i));
    st->push_back({cpu + u" x", k, cpu});
    co->push_back({cpu, {k}});
    ot->push_back({u"Old " + k, k});
    ov->push_back({k + u".0", k + u"000"});
  }
}

double ReadRate(const fs::path& dir, size_t items, bool allExisting) {
  SystemTypeList st;
  CpuOsList co;
  OsTypeList ot;
  OsVersionList ov;
  Model(items / 4, 1000000, &st, &co, &ot, &ov);
  const std::string text = UpdateFile(items, 2000000);
  if (allExisting) {
    // Read once to get the lists that hold every item, then read against them.
    std::ofstream(dir / "items.txt", std::ios::binary) << text;
    SystemTypeList a;
    CpuOsList b;
    OsTypeList c;
    OsVersionList d;
    ReadUpdateInfo((dir / "items.txt").u16string().c_str(), nullptr, st, co, ot, ov, &a, &b, &c, &d);
    st = a;
    co = b;
    ot = c;
    ov = d;
  }
  std::ofstream(dir / "items.txt", std::ios::binary) << text;
  SystemTypeList a;
  CpuOsList b;
  OsTypeList c;
  OsVersionList d;
  const auto start = Clock::now();
  const bool ok = ReadUpdateInfo((dir / "items.txt").u16string().c_str(), (dir / "items.log").u16string().c_str(), st,
                                 co, ot, ov, &a, &b, &c, &d);
  const double s = Seconds(start);
  if (!ok) std::fprintf(stderr, "the benchmark file was not read\n");
  return static_cast<double>(items) / s;
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / ("mordant-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::printf("%-42s %12s\n", "reading an update file", "items/s");
  for (size_t items : {100u, 1000u, 10000u}) {
    std::printf("  %6zu new items, model of %6zu entries %12.0f\n", items, items, ReadRate(dir, items, false));
  }
  for (size_t items : {100u, 1000u, 10000u}) {
    std::printf("  %6zu items that all exist already    %12.0f\n", items, ReadRate(dir, items, true));
  }

  // The whole add on a demo host.
  const fs::path host = dir / "host";
  setenv("VR_HOST_ROOT", host.c_str(), 1);
  const std::string init = std::string("'") + VRHOST + "' init >/dev/null";
  if (std::system(init.c_str()) != 0) {
    std::fprintf(stderr, "vrhost init failed\n");
    return 1;
  }
  std::ofstream(dir / "add.txt", std::ios::binary) << UpdateFile(10000, 20000);
  std::fflush(stdout);
  const auto start = Clock::now();
  const int result = UpdatePlatformInformation(eADD, (dir / "add.txt").u16string().c_str(), nullptr, nullptr);
  const double s = Seconds(start);
  std::printf("add of 10000 items on a demo host: %.3f s (%.0f items/s), result %d\n", s, 10000 / s, result);
  fs::remove_all(dir);
  return result == 0 ? 0 : 1;
}
