// End to end: registrations and unregistrations of the installed tessera killed at their fault
// points (a point that ends the process on the spot) and, in the long mode, by SIGKILL at
// random moments. After the next run the host must equal its state before the killed run, or
// after it when the killed run had completed; for an unregistration, after running it again.
// No run may ever be blocked, and a second unregistration of the same undo file changes
// nothing and says so. The state compared: the registry, the WMI repository, the Depot tables
// and the tag blocks of every prerequisite file (what is meant to stay, the run log, copied
// instrumentation files and the prerequisite file's VER and UPDATES lines, is left out).
//
// By default each sweep kills at a sample of its points spread over the whole run (every
// committing point is as likely as any other); VR_KILL_SWEEP=long kills at every point and
// adds VR_KILL_SWEEP_RANDOM (default 30) random SIGKILLs per sweep. VR_KILL_SWEEP_SAMPLE sets
// the sample size of the default mode.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "tests/support/FileTextWait.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/PgServer.h"

using vr::testing::ReadFileBytes;
using vr::testing::RunResult;
namespace fs = std::filesystem;

namespace {

// The programs under test: the build's, or an installed tree's when VR_SWEEP_BIN names its
// bin folder (the sweeps are meant to be run on installed programs too).
std::string ProgramPath(const char* built, const char* name) {
  const char* bin = std::getenv("VR_SWEEP_BIN");
  return bin && *bin ? std::string(bin) + "/" + name : std::string(built);
}
const std::string kTessera = ProgramPath(TESSERA, "tessera");
const std::string kVrhost = ProgramPath(VRHOST, "vrhost");
const std::string kToolFolder = fs::path(ProgramPath(CLUSTER_INFO_TOOL, "VrMsClusterInfo")).parent_path().string();
const std::string kPatchesKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Tamberlin\\VREnterprise\\Patches\\";
constexpr int kKilled = 137;

bool LongMode() {
  const char* mode = std::getenv("VR_KILL_SWEEP");
  return mode && std::string(mode) == "long";
}
size_t SampleSize() {
  const char* n = std::getenv("VR_KILL_SWEEP_SAMPLE");
  return n ? static_cast<size_t>(std::atoi(n)) : 10;
}
int RandomKills() {
  const char* n = std::getenv("VR_KILL_SWEEP_RANDOM");
  return LongMode() ? (n ? std::atoi(n) : 30) : 0;
}

std::string Example(const std::string& name) {
  return name.find('/') == std::string::npos ? std::string(SOURCE_DIR) + "/examples/" + name : name;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The tag blocks of a prerequisite file, each under its tag line, in file order; the lines
// that change with every run (VER, UPDATES, the CRC) are left out.
std::string PrereqTags(const std::string& bytes) {
  std::string tags;
  for (const std::string& line : Lines(bytes)) {
    if (line.rfind("VER", 0) == 0 || line.rfind("UPDATES:", 0) == 0 || line.rfind("CONFIG FILE CRC:", 0) == 0) continue;
    if (!line.empty()) tags += line + "\n";
  }
  return tags;
}

// The points of a sweep: all of them in the long mode, otherwise a sample spread evenly over
// the run (the first and last included).
std::vector<size_t> Chosen(size_t count) {
  std::vector<size_t> chosen;
  if (LongMode() || count <= SampleSize()) {
    for (size_t i = 0; i < count; ++i) chosen.push_back(i);
    return chosen;
  }
  const size_t n = SampleSize();
  for (size_t k = 0; k < n; ++k) chosen.push_back(k * (count - 1) / (n - 1));
  return chosen;
}

class RecoveryE2e : public vr::testing::ProgramFixture {
 protected:
  RecoveryE2e() {
    programEnv_.insert(programEnv_.end(), {"VR_COMPUTER_NAME=THISNODE", "PATH=" + kToolFolder + ":/usr/bin:/bin",
                                           "TMPDIR=" + tmp_, "VR_FAULTS=", "VR_FAULTS_LOG=",
                                           "VR_DATA_DIR=" + std::string(SOURCE_DIR) + "/data"});
  }
  std::vector<std::string> Env(std::vector<std::string> extra = {}) const { return ProgramEnv(extra); }
  RunResult Vrhost(const std::vector<std::string>& args) { return Run(kVrhost, args); }
  RunResult Tessera(const std::vector<std::string>& args, std::vector<std::string> extra = {}) {
    return Run(kTessera, args, extra);
  }
  void Init(const std::string& patch) {
    RunResult r = Vrhost({"init", "--force"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The patch installer marks its patch installed before it registers the packages.
    r = Vrhost({"reg", "set", kPatchesKey + patch, "Installed", "REG_DWORD", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }

  // The host state that registration and unregistration must put back exactly.
  std::string State() {
    const RunResult r = Vrhost({"snapshot", "--section", "registry", "--section", "wmi", "--section", "depot"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string state = r.out;
    // The prerequisite file in use (a version folder made by a registration stays, holding the
    // tags of the file it was copied from once the registration is taken back), the folder's
    // own file, and the copies in the packages tree.
    const std::string conf = root_ + "/server/share/install/conf/PrereqCheck";
    std::string inUse = conf + "/vroreqcheck.cfg";
    for (const auto& e : fs::directory_iterator(conf))
      if (e.is_directory() && fs::exists(e.path() / "vroreqcheck.cfg") && e.path().string() + "/vroreqcheck.cfg" > inUse)
        inUse = e.path().string() + "/vroreqcheck.cfg";
    state += "== prerequisite file in use ==\n" + PrereqTags(ReadFileBytes(inUse));
    state += "== prerequisite file of the folder ==\n" + PrereqTags(ReadFileBytes(conf + "/vroreqcheck.cfg"));
    std::vector<std::string> copies;
    for (const auto& e : fs::recursive_directory_iterator(root_ + "/server/install/Packages"))
      if (e.path().filename() == "vroreqcheck.cfg") copies.push_back(e.path().string());
    std::sort(copies.begin(), copies.end());
    for (const auto& c : copies) state += "== copy " + fs::relative(c, root_).string() + " ==\n" + PrereqTags(ReadFileBytes(c));
    return state;
  }
  // What must never be left after a run that put the host right.
  std::string Leftovers() {
    std::string problems;
    if (fs::exists(root_ + "/journal")) {
      problems += "a journal is left:";
      for (const auto& e : fs::recursive_directory_iterator(root_ + "/journal")) problems += " " + e.path().filename().string();
      problems += "\n";
    }
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      const std::string name = e.path().filename();
      if (name.rfind(".vrcopy-", 0) == 0 || (name.size() > 5 && name[0] == '.' && name.ends_with(".tmp")))
        problems += "temporary file left: " + e.path().string() + "\n";
    }
    for (const auto& e : fs::directory_iterator(tmp_)) problems += "left in TMPDIR: " + e.path().string() + "\n";
    return problems;
  }
  int UnregisterInEveryOrder(const std::function<void(int)>& reg, const std::function<std::string()>& state,
                             const std::string& before);
  void Keep(const std::string& name) {
    const std::string copy = dir_ / name;
    fs::remove_all(copy);
    fs::copy(root_, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  // The root's content is replaced, not the root itself: it may be a mount point.
  void Restore(const std::string& name) {
    for (const auto& e : fs::directory_iterator(root_)) fs::remove_all(e.path());
    fs::copy(dir_ / name, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const auto& e : fs::directory_iterator(tmp_)) fs::remove_all(e.path());
  }
  std::vector<std::string> PointsOf(const std::vector<std::string>& args) {
    const std::string log = dir_ / "points.log";
    fs::remove(log);
    const RunResult r = Tessera(args, {"VR_FAULTS_LOG=" + log});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    std::vector<std::string> points;
    for (const std::string& p : Lines(ReadFileBytes(log)))
      if (!p.empty()) points.push_back(p);
    return points;
  }

  // What the next run said about the killed one.
  static std::string Said(const RunResult& r) {
    for (const char* id : {"(TESSERA262)", "(TESSERA263)", "(TESSERA264)", "(TESSERA265)"})
      if (r.err.find(id) != std::string::npos) return std::string(id).substr(1, 10);
    return "nothing";
  }

  struct Figures {
    size_t points = 0, killed = 0, failures = 0;
    std::map<std::string, int> outcomes;
    std::string Text() const {
      std::string t = std::to_string(points) + " points, " + std::to_string(killed) + " kills; next run:";
      for (const auto& [k, v] : outcomes) t += " " + k + " " + std::to_string(v);
      return t + "; failures " + std::to_string(failures);
    }
  };

  // A registration killed: the next run (an unregistration of an undo file that does not
  // exist, so that it does nothing of its own) recovers; the host is as before, or as after
  // when the killed run had completed, and then unregistering the killed run's undo file
  // (when it was completed) brings it back to before.
  // The host once a registration is unregistered: as before it, apart from what is meant to
  // stay (a package registered "unregister no" stays); set by the sweeps from a run that was
  // not killed.
  std::string unregistered_;

  void CheckAfterKilledRegistration(const std::string& where, const std::string& before, const std::string& after,
                                    const std::string& undo, bool completed, Figures& f) {
    std::string problems;
    const RunResult next = Tessera({"-unreg", dir_ / "none.undo"});
    const std::string said = Said(next);
    ++f.outcomes[completed ? "ran to its end" : said];
    if (next.exitCode != 52 || said == "TESSERA263") problems += "the next run ended with " + std::to_string(next.exitCode) + "\n";
    // A run killed after its final save of the undo file (at its last points, or while its
    // journal was removed) had completed too: its undo file records its sections.
    const bool kept = completed || said == "TESSERA264" ||
                      (said == "nothing" && ReadFileBytes(undo).find(std::string("[\0[\0[\0", 6)) != std::string::npos);
    if (State() != (kept ? after : before)) problems += kept ? "the host is not as after the run\n" : "the host is not as before\n";
    problems += Leftovers();
    if (kept) {
      const RunResult unreg = Tessera({"-unreg", undo});
      if (unreg.exitCode != 0) problems += "its unregistration ended with " + std::to_string(unreg.exitCode) + ": " + unreg.err;
      else if (State() != (unregistered_.empty() ? before : unregistered_))
        problems += "the host is not as after an unregistration\n";
    }
    if (problems.empty()) return;
    ++f.failures;
    ADD_FAILURE() << where << ":\n" << problems << "the next run said:\n" << next.out << next.err;
  }

  void SweepRegistration(const std::vector<std::string>& args, const std::string& undo, const std::string& label) {
    const std::string before = State();
    Keep("before");
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> points = PointsOf(args);
    const long runUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    const std::string after = State();
    ASSERT_NE(before, after) << "the registration changes nothing";
    const RunResult unreg = Tessera({"-unreg", undo});
    ASSERT_EQ(unreg.exitCode, 0) << unreg.out << unreg.err;
    unregistered_ = State();
    ASSERT_GT(points.size(), 10u);
    Figures f;
    f.points = points.size();
    for (size_t i : Chosen(points.size())) {
      if (HasFatalFailure()) break;
      Restore("before");
      fs::remove(undo);
      fs::remove(undo + ".bak");
      const RunResult killed = Tessera(args, {"VR_FAULTS=" + points[i] + "=exit"});
      // A point the run reached when it was listed may come at another ordinal now (a retry):
      // then the run completes, and the host must be as after it.
      ASSERT_TRUE(killed.exitCode == kKilled || killed.exitCode == 0) << points[i] << "\n" << killed.err;
      ++f.killed;
      CheckAfterKilledRegistration(label + " killed at " + points[i], before, after, undo, killed.exitCode == 0, f);
    }
    std::mt19937 random(20261209);
    for (int n = 0; n < RandomKills() && !HasFatalFailure(); ++n) {
      Restore("before");
      fs::remove(undo);
      fs::remove(undo + ".bak");
      const pid_t pid = vr::testing::StartProgram(kTessera, args, Env(), dir_ / "out", dir_ / "err");
      ::usleep(std::uniform_int_distribution<int>(0, static_cast<int>(runUs + runUs / 5))(random));
      ::kill(pid, SIGKILL);
      const int code = vr::testing::WaitProgram(pid);
      ++f.killed;
      CheckAfterKilledRegistration(label + " SIGKILL " + std::to_string(n), before, after, undo, code == 0, f);
    }
    std::cout << label << ": " << f.Text() << std::endl;
    EXPECT_EQ(f.failures, 0u);
  }

  // An unregistration killed: running it again completes it (the host as before the
  // registration), and a third run says there is nothing left and changes nothing.
  void CheckAfterKilledUnregistration(const std::string& where, const std::string& undo, Figures& f) {
    const std::string& before = unregistered_;
    std::string problems;
    const RunResult again = Tessera({"-unreg", undo});
    const bool already = again.out.find("(TESSERA267)") != std::string::npos;
    ++f.outcomes[already ? "TESSERA267" : Said(again)];
    if (again.exitCode != 0) problems += "running it again ended with " + std::to_string(again.exitCode) + "\n";
    if (State() != before) problems += "the host is not as before the registration\n";
    problems += Leftovers();
    const RunResult third = Tessera({"-unreg", undo});
    if (third.exitCode != 0 || third.out.find("(TESSERA267)") == std::string::npos)
      problems += "a further unregistration did not say 267: " + std::to_string(third.exitCode) + " " + third.out + third.err;
    if (State() != before) problems += "a further unregistration changed the host\n";
    if (problems.empty()) return;
    ++f.failures;
    ADD_FAILURE() << where << ":\n" << problems << "running it again said:\n" << again.out << again.err;
  }

  void SweepUnregistration(const std::vector<std::string>& regArgs, const std::string& undo, const std::string& label) {
    const RunResult reg = Tessera(regArgs);
    ASSERT_EQ(reg.exitCode, 0) << reg.out << reg.err;
    fs::copy_file(undo, dir_ / "registered.undo", fs::copy_options::overwrite_existing);
    Keep("registered");
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> points = PointsOf({"-unreg", undo});
    const long runUs = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
    unregistered_ = State();
    ASSERT_GT(points.size(), 10u);
    Figures f;
    f.points = points.size();
    auto restore = [&] {
      Restore("registered");
      fs::copy_file(dir_ / "registered.undo", undo, fs::copy_options::overwrite_existing);
    };
    for (size_t i : Chosen(points.size())) {
      if (HasFatalFailure()) break;
      restore();
      const RunResult killed = Tessera({"-unreg", undo}, {"VR_FAULTS=" + points[i] + "=exit"});
      ASSERT_TRUE(killed.exitCode == kKilled || killed.exitCode == 0) << points[i] << "\n" << killed.err;
      ++f.killed;
      CheckAfterKilledUnregistration(label + " killed at " + points[i], undo, f);
    }
    std::mt19937 random(20261210);
    for (int n = 0; n < RandomKills() && !HasFatalFailure(); ++n) {
      restore();
      const pid_t pid = vr::testing::StartProgram(kTessera, {"-unreg", undo}, Env(), dir_ / "out", dir_ / "err");
      ::usleep(std::uniform_int_distribution<int>(0, static_cast<int>(runUs + runUs / 5))(random));
      ::kill(pid, SIGKILL);
      vr::testing::WaitProgram(pid);
      ++f.killed;
      CheckAfterKilledUnregistration(label + " SIGKILL " + std::to_string(n), undo, f);
    }
    std::cout << label << ": " << f.Text() << std::endl;
    EXPECT_EQ(f.failures, 0u);
  }

  std::vector<std::string> Register(const std::string& file, const std::string& patch, const std::string& sections,
                                    const std::string& undo) {
    std::vector<std::string> args = {"-reg", Example(file), "-patch", patch};
    if (!sections.empty()) args.insert(args.end(), {"-sections", sections});
    args.insert(args.end(), {"-log", undo});
    return args;
  }

  const std::string& root_ = host_;
  std::string tmp_ = [this] {
    fs::create_directories(dir_ / "tmp");
    return dir_ / "tmp";
  }();
};

TEST_F(RecoveryE2e, KilledPlatformRegistrationAndUnregistration) {
  Init("VRPATCH_RISCV_01");
  const std::string undo = dir_ / "platforms.undo";
  const auto args = Register("NewPlatformRiscV.xml", "VRPATCH_RISCV_01", "platform", undo);
  SweepRegistration(args, undo, "platform registration");
  Restore("before");
  SweepUnregistration(args, undo, "platform unregistration");
}

TEST_F(RecoveryE2e, KilledPackageRegistrationAndUnregistration) {
  Init("VRPATCH_PKG_01");
  const std::string undo = dir_ / "packages.undo";
  const auto args = Register("AgentPackages.xml", "VRPATCH_PKG_01", "package", undo);
  SweepRegistration(args, undo, "package registration");
  Restore("before");
  SweepUnregistration(args, undo, "package unregistration");
}

TEST_F(RecoveryE2e, KilledRegistrationOfAllThreeSectionsAndItsUnregistration) {
  Init("VRPATCH_RISCV_01");
  const std::string undo = dir_ / "riscv.undo";
  const auto args = Register("NewPlatformRiscV.xml", "VRPATCH_RISCV_01", "", undo);
  SweepRegistration(args, undo, "three-section registration");
  Restore("before");
  SweepUnregistration(args, undo, "three-section unregistration");
}

TEST_F(RecoveryE2e, KilledPrerequisiteRegistrationAndUnregistration) {
  Init("VRPATCH_PRQ_01");
  const std::string undo = dir_ / "prereq.undo";
  const auto args = Register("PrerequisiteTags.xml", "VRPATCH_PRQ_01", "prereq", undo);
  SweepRegistration(args, undo, "prerequisite registration");
  Restore("before");
  SweepUnregistration(args, undo, "prerequisite unregistration");
}

// The host on a small disk (a tmpfs), filled up to leave less and less room: a registration of
// all three sections fails wherever the disk runs out (rolled back, or its rollback failed and
// its journal kept), or succeeds. The next run, with room again, leaves the host exactly as
// before (or as after a registration that succeeded, whose unregistration then puts it back).
TEST_F(RecoveryE2e, AFullDiskAtManyLevelsIsPutRightByTheNextRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
  fs::create_directories(root_);
  if (std::system(("mount -t tmpfs -o size=96m,mode=0755 tmpfs '" + root_ + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "a tmpfs cannot be mounted here";
  struct Unmount {
    std::string at;
    ~Unmount() { (void)std::system(("umount -l '" + at + "'").c_str()); }
  } unmount{root_};
  Init("VRPATCH_RISCV_01");
  const std::string undo = dir_ / "riscv.undo";
  const auto args = Register("NewPlatformRiscV.xml", "VRPATCH_RISCV_01", "", undo);
  const std::string before = State();
  Keep("before");
  auto freeBytes = [&] {
    struct statvfs v {};
    ::statvfs(root_.c_str(), &v);
    return static_cast<long long>(v.f_bavail) * static_cast<long long>(v.f_frsize);
  };
  const long long room = freeBytes();
  ASSERT_EQ(Tessera(args).exitCode, 0);
  const std::string after = State();
  const long long used = room - freeBytes();
  // Room for none of it, for a part, for all of it and the stores' transient files: doubling
  // steps, and in the long mode also even steps up to what the run left in use plus 2 MiB.
  std::vector<long long> levels;
  for (long long level = 0; level <= 16 << 20; level = level ? level * 2 : 4096) levels.push_back(level);
  if (LongMode())
    for (int k = 1; k <= 100; ++k) levels.push_back((used + (2 << 20)) * k / 100);
  std::map<int, int> exits;
  Figures f;
  for (const long long level : levels) {
    if (HasFatalFailure()) break;
    Restore("before");
    fs::remove(undo);
    fs::remove(undo + ".bak");
    const std::string filler = root_ + "/filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    const long long fill = freeBytes() - level;
    if (fill > 0) {
      ASSERT_EQ(::posix_fallocate(fd, 0, fill), 0);
    }
    ::close(fd);
    const RunResult run = Tessera(args);
    ++exits[run.exitCode];
    fs::remove(filler);
    ++f.killed;
    CheckAfterKilledRegistration("disk full with " + std::to_string(level) + " bytes left (exit " +
                                     std::to_string(run.exitCode) + ": " + run.err + ")",
                                 before, after, undo, run.exitCode == 0, f);
  }
  std::string text;
  for (const auto& [code, n] : exits) text += " exit " + std::to_string(code) + ": " + std::to_string(n) + ";";
  std::cout << "full disk, " << levels.size() << " levels (the run leaves " << used << " bytes more in use):" << text << " " << f.Text()
            << std::endl;
  EXPECT_EQ(f.failures, 0u);
  EXPECT_GT(exits.size(), 1u) << "every level ended the same way: the levels miss the registration";
}

// The Depot on a PostgreSQL server that is stopped while the package section registers many
// packages: the registration fails (and so may its rollback), and the next run, with the
// server started again, leaves the Depot and the registry exactly as before.
TEST_F(RecoveryE2e, APostgresServerStoppedInThePackageSectionIsPutRightByTheNextRun) {
  Init("VRPATCH_PKG_01");
  vr::testing::PgServer server;  // of its own: the test stops it
  const RunResult use = Vrhost(server.UsePostgresArgs());
  ASSERT_EQ(use.exitCode, 0) << use.out << use.err;
  // Many packages, so that the section runs long enough to be cut.
  std::string packages;
  for (int i = 0; i < 120; ++i) {
    char id[64];
    std::snprintf(id, sizeof id, "{5A1B2C3D-0000-4000-8000-%012d}", i);
    packages += "<Package><type>UnixPackage</type><pkgname><text L=\"1033\">Stop Test Agent " + std::to_string(i) +
                "</text></pkgname><version>1.0</version><logicalid>" + id +
                "</logicalid><unregister>yes</unregister><description><text L=\"1033\">d</text></description>"
                "<deployerid>657AF3A3-BCFD-11D2-8608-080009D961F6</deployerid><PlatformAndPolicyTypes>"
                "<systemtype>2</systemtype><ostype>6</ostype><PolicyTypes>"
                "<policytype>{A1E2F4C0-5B6D-4E7F-8091-A2B3C4D5E6F7}</policytype>"
                "<policytype>{C1D2E3F4-A5B6-4C7D-8E9F-0A1B2C3D4E5F}</policytype></PolicyTypes>"
                "</PlatformAndPolicyTypes></Package>\n";
  }
  const std::string file = dir_ / "many.xml";
  vr::testing::WriteFileBytes(file, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM "
                                    "\"VrNPConfig.dtd\">\n<VrNPConfig version=\"A.07.50\">\n<OsTypeForReg "
                                    "string=\"Linux\"><ostype>6</ostype></OsTypeForReg>\n<PackageList>\n" +
                                        packages + "</PackageList>\n</VrNPConfig>\n");
  fs::copy_file(std::string(SOURCE_DIR) + "/data/VrNPConfig.dtd", dir_ / "VrNPConfig.dtd");
  const std::string undo = dir_ / "many.undo";
  const std::vector<std::string> args = {"-reg", file, "-patch", "VRPATCH_PKG_01", "-sections", "package", "-log", undo};
  const std::string before = State();
  const std::string runLog = root_ + "/server/share/install/log/tessera.log";
  Figures f;
  std::map<int, int> exits;
  for (const int delayMs : {0, 100, 400, 1000}) {
    if (HasFatalFailure()) break;
    const size_t logged = ReadFileBytes(runLog).size();
    const pid_t pid = vr::testing::StartProgram(kTessera, args, Env(), dir_ / "out", dir_ / "err");
    // The package section has started once the run log has its marker.
    std::string marker;  // the run log is UTF-16
    for (char c : std::string("[[[PACKAGES]]]")) marker += std::string{c, '\0'};
    vr::testing::WaitForFileText(runLog, marker, logged, std::chrono::seconds(30));
    ::usleep(delayMs * 1000);
    server.Stop();
    const int code = vr::testing::WaitProgram(pid);
    ++exits[code];
    server.Start();
    if (code == 0) {
      // Too late: the registration was over. Taken back, the host is as before.
      EXPECT_EQ(Tessera({"-unreg", undo}).exitCode, 0);
      EXPECT_EQ(State(), before);
      continue;
    }
    ++f.killed;
    CheckAfterKilledRegistration("server stopped " + std::to_string(delayMs) + " ms into the package section (exit " +
                                     std::to_string(code) + ": " + ReadFileBytes(dir_ / "err") + ")",
                                 before, "", undo, false, f);
  }
  std::string text;
  for (const auto& [code, n] : exits) text += " exit " + std::to_string(code) + ": " + std::to_string(n) + ";";
  std::cout << "PostgreSQL stopped in the package section:" << text << " " << f.Text() << std::endl;
  EXPECT_EQ(f.failures, 0u);
  EXPECT_GT(exits.size() - exits.count(0), 0u) << "the server never stopped within the package section";
}

// Patches that change the same caption (of an OS type the server has) and the same match
// record's Value (a rule the server has), each to its own value, unregistered in every order:
// after each unregistration the host equals a fresh host on which only the remaining patches
// were registered, in their order (so the newest remaining patch's values stand), and after
// the last one it equals the host before.
// Registers patches 1 to 3 (reg(k)) in order, then unregisters every two and every three of
// them in every order: after each unregistration the state must be that of registering the
// remaining patches alone, in order. Returns the number of orders tried.
int RecoveryE2e::UnregisterInEveryOrder(const std::function<void(int)>& reg, const std::function<std::string()>& state,
                                        const std::string& before) {
  std::map<int, std::string> reference;  // bit k-1 for patch k
  for (int set = 1; set < 8; ++set) {
    Restore("fresh");
    for (int k = 1; k <= 3; ++k)
      if (set & (1 << (k - 1))) reg(k);
    reference[set] = state();
  }
  reference[0] = before;
  EXPECT_NE(reference[1], reference[3]) << "the second patch changes nothing over the first";
  int orders = 0;
  for (const int count : {2, 3}) {
    std::vector<int> order(count);
    for (int k = 0; k < count; ++k) order[k] = k + 1;
    do {
      Restore("fresh");
      int set = (1 << count) - 1;
      for (int k = 1; k <= count; ++k) reg(k);
      EXPECT_EQ(state(), reference[set]);
      std::string text;
      for (const int k : order) {
        text += " " + std::to_string(k);
        const RunResult r = Tessera({"-unreg", dir_ / ("patch" + std::to_string(k) + ".undo")});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        set &= ~(1 << (k - 1));
        EXPECT_EQ(state(), reference[set]) << count << " patches, unregistered in the order" << text;
      }
      ++orders;
    } while (std::next_permutation(order.begin(), order.end()) && !HasFailure());
  }
  return orders;
}

TEST_F(RecoveryE2e, PatchesChangingTheSameValuesUnregisterInEveryOrder) {
  auto patchFile = [&](int k) {
    const std::string path = dir_ / ("patch" + std::to_string(k) + ".xml");
    const std::string os = std::to_string(90 + k);
    vr::testing::WriteFileBytes(
        path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
              "<VrNPConfig version=\"A.07.50\"><PlatformList>\n"
              "<Platform><SystemType><value>2</value><caption><text L=\"1033\">Intel x86</text></caption></SystemType>"
              "<OSType><value>6</value><caption><text L=\"1033\">Linux of patch " + std::to_string(k) +
              "</text></caption></OSType></Platform>\n"
              "<Platform><SystemType><value>2</value><caption><text L=\"1033\">Intel x86</text></caption></SystemType>"
              "<OSType><value>" + os + "</value><caption><text L=\"1033\">System " + os +
              "</text></caption><snmp>1.3.6.1.4.1.11.2.3.2.5</snmp></OSType></Platform>\n</PlatformList></VrNPConfig>\n");
    fs::copy_file(std::string(SOURCE_DIR) + "/data/VrNPConfig.dtd", dir_ / "VrNPConfig.dtd", fs::copy_options::skip_existing);
    return path;
  };
  auto reg = [&](int k) {
    const RunResult r = Tessera({"-reg", patchFile(k), "-patch", "ORDER_0" + std::to_string(k), "-sections", "platform",
                                 "-log", dir_ / ("patch" + std::to_string(k) + ".undo")});
    EXPECT_EQ(r.exitCode, 0) << "patch " << k << ": " << r.out << r.err;
  };
  auto wmi = [&] {
    const RunResult r = Vrhost({"snapshot", "--section", "wmi"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
  };
  Init("ORDER_01");
  Keep("fresh");
  const int orders = UnregisterInEveryOrder(reg, wmi, wmi());
  std::cout << "patches changing the same caption and match record: " << orders << " orders of unregistration" << std::endl;
}

// The same for prerequisite tags: one that every patch changes, one that every patch lists
// the same (the first adds it, the others find it), one that was there before and only the
// second patch changes, and one of each patch's own. A tag goes back to what the newest
// remaining patch left, and goes only with the last patch that lists it.
TEST_F(RecoveryE2e, PatchesListingTheSamePrerequisiteTagsUnregisterInEveryOrder) {
  auto patchFile = [&](int k) {
    const std::string n = std::to_string(k);
    const std::string path = dir_ / ("patch" + n + ".xml");
    std::string systems = "<system name=\"SHARED_SYSTEM\">\n[SYSTEM] SHARED_SYSTEM\nLEVEL=" + n + "\n</system>\n"
                          "<system name=\"ONLY_" + n + "\">\n[SYSTEM] ONLY_" + n + "\nPATCH=" + n + "\n</system>\n";
    std::string prerequisites = "<prerequisites name=\"COMMON_AGENT\">\n[PREREQUISITES] COMMON_AGENT\nDISK_SPACE_MB=10\n"
                                "</prerequisites>\n";
    if (k == 2)
      prerequisites += "<prerequisites name=\"WIN_AGENT_BASE\">\n[PREREQUISITES] WIN_AGENT_BASE\nDISK_SPACE_MB 999\n"
                       "</prerequisites>\n";
    vr::testing::WriteFileBytes(
        path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
              "<VrNPConfig version=\"A.07.50\"><VrReqCheckList>\n<Systems_Section version=\"7.50\">\n" + systems +
              "</Systems_Section>\n<Prerequisites_Section version=\"7.50\">\n" + prerequisites +
              "</Prerequisites_Section>\n</VrReqCheckList></VrNPConfig>\n");
    fs::copy_file(std::string(SOURCE_DIR) + "/data/VrNPConfig.dtd", dir_ / "VrNPConfig.dtd", fs::copy_options::skip_existing);
    return path;
  };
  auto reg = [&](int k) {
    const RunResult r = Tessera({"-reg", patchFile(k), "-patch", "ORDER_0" + std::to_string(k), "-sections", "prereq",
                                 "-log", dir_ / ("patch" + std::to_string(k) + ".undo")});
    EXPECT_EQ(r.exitCode, 0) << "patch " << k << ": " << r.out << r.err;
  };
  // Every prerequisite file's tag blocks, as a sorted set: where a tag stands in the file is
  // not part of what a patch changes.
  auto tags = [&] {
    std::string all;
    for (const auto& e : fs::recursive_directory_iterator(root_ + "/server"))
      if (e.path().filename() == "vroreqcheck.cfg") {
        std::vector<std::string> blocks;
        for (const std::string& line : Lines(PrereqTags(ReadFileBytes(e.path().string())))) {
          if (line.empty()) continue;
          if (line[0] == '[' || blocks.empty()) blocks.emplace_back();
          blocks.back() += line + "\n";
        }
        std::sort(blocks.begin(), blocks.end());
        all += "== " + fs::relative(e.path(), root_).string() + "\n";
        for (const auto& b : blocks) all += b;
      }
    return all;
  };
  Init("ORDER_01");
  // The first registration makes the version folder's file, a copy of the folder's own.
  reg(1);
  Keep("fresh");
  ASSERT_EQ(Tessera({"-unreg", dir_ / "patch1.undo"}).exitCode, 0);
  Keep("fresh");
  const int orders = UnregisterInEveryOrder(reg, tags, tags());
  std::cout << "patches listing the same prerequisite tags: " << orders << " orders of unregistration" << std::endl;
}

}  // namespace
