// End to end: crashes and concurrent runs. A prerequisite registration is killed at each of its
// file and registry calls (a fault point that ends the process on the spot), and in the long
// mode also by SIGKILL at random moments; the next run must put the host right. Registrations
// run side by side must not lose each other's tags. A killed `vrhost init` must leave a root
// that `vrhost init --force` replaces.
//
// VR_KILL_SWEEP=long runs every kill point (the default runs the committing calls and a sample
// of the rest) and VR_KILL_SWEEP_RANDOM (default 100 in the long mode) random SIGKILLs.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "tessera/Files/VrCrc32.h"
#include "tests/support/HostTestSupport.h"
#include "tests/support/ProgramFixture.h"
#include "tests/support/SweepParts.h"

using vr::testing::ReadFileBytes;
using vr::testing::RunResult;
namespace fs = std::filesystem;

namespace {

const std::string kToolFolder = fs::path(CLUSTER_INFO_TOOL).parent_path().string();
constexpr int kKilled = 137;

bool LongMode() {
  const char* mode = std::getenv("VR_KILL_SWEEP");
  return mode && (std::string(mode) == "long" || std::string(mode) == "random");
}
// VR_KILL_SWEEP=random: only the random SIGKILLs of the long mode.
bool RandomOnly() {
  const char* mode = std::getenv("VR_KILL_SWEEP");
  return mode && std::string(mode) == "random";
}

std::string Example() {
  const char* src = std::getenv("VR_SOURCE_DIR");
  return std::string(src ? src : SOURCE_DIR) + "/examples/PrerequisiteTags.xml";
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

// The tag blocks of a prerequisite file by their first line ("[SYSTEM] NAME", "[PREREQUISITES]
// NAME"), each with its lines up to the next block, trailing empty lines dropped.
std::map<std::string, std::string> Tags(const std::string& bytes) {
  std::map<std::string, std::string> tags;
  std::string name, text;
  auto flush = [&] {
    while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\n\n") == 0) text.pop_back();
    if (!name.empty()) tags[name] = text;
    name.clear();
    text.clear();
  };
  for (const std::string& line : Lines(bytes)) {
    const std::string first = line.substr(0, line.find(' '));
    if (first == "[PREREQUISITES]" || first == "[SYSTEM]") {
      flush();
      name = line;
      text = line + "\n";
    } else if ((!line.empty() && line[0] == '[') || line.rfind("CONFIG FILE CRC:", 0) == 0) {
      flush();
    } else if (!name.empty()) {
      text += line + "\n";
    }
  }
  flush();
  return tags;
}

bool CrcCorrect(const std::string& bytes) {
  const size_t crcLine = bytes.rfind("CONFIG FILE CRC: ");
  if (crcLine == std::string::npos) return false;
  uint32_t crc = 0;
  if (!VrCrc32().Update(std::string_view(bytes).substr(0, crcLine), crc)) return false;
  char expected[16];
  std::snprintf(expected, sizeof expected, "%.8X", crc);
  return bytes.substr(crcLine + 17) == expected;
}

bool IsTempName(const std::string& name) {
  return name.rfind(".vrcopy-", 0) == 0 || (name.size() > 5 && name[0] == '.' && name.ends_with(".tmp")) ||
         name.ends_with(".vrhost-new");
}

class CrashE2e : public vr::testing::ProgramFixture {
 protected:
  CrashE2e() {
    programEnv_.insert(programEnv_.end(), {"VR_COMPUTER_NAME=THISNODE", "PATH=" + kToolFolder + ":/usr/bin:/bin",
                                           "TMPDIR=" + tmp_, "VR_FAULTS=", "VR_FAULTS_LOG="});
  }
  std::vector<std::string> Env(std::vector<std::string> extra = {}) const { return ProgramEnv(extra); }
  RunResult Vrhost(const std::vector<std::string>& args, std::vector<std::string> extra = {}) {
    return Run(VRHOST, args, extra);
  }
  RunResult Tessera(const std::vector<std::string>& args, std::vector<std::string> extra = {}) {
    return Run(TESSERA, args, extra);
  }
  std::vector<std::string> Register(const std::string& config, const std::string& patch, const std::string& undo) {
    return {"-reg", config, "-patch", patch, "-sections", "prereq", "-log", undo};
  }
  void Init() {
    const RunResult r = Vrhost({"init", "--force"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  // The host made by Init, kept aside and put back before every kill.
  void KeepPristine() {
    fs::remove_all(pristine_);
    fs::copy(root_, pristine_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    original_ = Tags(ReadFileBytes(MainFile()));
    ASSERT_FALSE(original_.empty());
  }
  void Restore() {
    fs::remove_all(root_);
    fs::copy(pristine_, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    for (const auto& e : fs::directory_iterator(dir_.path()))
      if (e.path().extension() == ".undo" || e.path().extension() == ".bak") fs::remove(e.path());
  }
  std::string PrereqFolder() const { return root_ + "/server/share/install/conf/PrereqCheck"; }
  std::string MainFile() const { return PrereqFolder() + "/vroreqcheck.cfg"; }
  // The prerequisite file in use (highest version folder) and its copies in the packages tree.
  std::vector<std::string> FilesInUse() const {
    std::vector<std::string> files;
    const std::string v760 = PrereqFolder() + "/7.60/vroreqcheck.cfg";
    files.push_back(fs::exists(v760) ? v760 : MainFile());
    for (const auto& e : fs::recursive_directory_iterator(root_ + "/server/install/Packages"))
      if (e.path().filename() == "vroreqcheck.cfg") files.push_back(e.path());
    return files;
  }

  // Everything that must hold of a host after the next run has put it right; the problems
  // found, or empty.
  std::string HostProblems() {
    std::string problems;
    const RunResult snapshot = Vrhost({"snapshot"});
    if (snapshot.exitCode != 0) problems += "snapshot fails: " + snapshot.err;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      const std::string name = e.path().filename();
      if (IsTempName(name)) problems += "temporary file left: " + e.path().string() + "\n";
      if (name != "vroreqcheck.cfg") continue;
      const std::string bytes = ReadFileBytes(e.path());
      if (!CrcCorrect(bytes)) problems += "wrong CRC line: " + e.path().string() + "\n";
      if (Tags(bytes) != original_) problems += "tags differ from the original: " + e.path().string() + "\n";
    }
    for (const auto& e : fs::directory_iterator(PrereqFolder()))
      if (e.is_directory() && !fs::exists(e.path() / "vroreqcheck.cfg"))
        problems += "version folder without its file: " + e.path().string() + "\n";
    if (fs::exists(root_ + "/journal")) problems += "a journal is left\n";
    for (const auto& e : fs::directory_iterator(tmp_)) problems += "left in TMPDIR: " + e.path().string() + "\n";
    return problems;
  }

  // After a killed registration: the next run (the unregistration of the killed run's undo
  // file, or another registration), then a fresh registration and unregistration. Returns
  // what the next run said about the killed one: 262 rolled back, 264 completed, 0 nothing.
  int RunNextAndCheck(bool unregisterFirst, const std::string& where) {
    const std::string undo = dir_ / "killed.undo", next = dir_ / "next.undo", fresh = dir_ / "fresh.undo";
    RunResult first;
    if (unregisterFirst) {
      const bool hadUndo = fs::exists(undo);
      first = Tessera({"-unreg", undo});
      EXPECT_EQ(first.exitCode, hadUndo ? 0 : 52) << where << "\n" << first.err;
    } else {
      first = Tessera(Register(Example(), "NEXT_01", next));
      EXPECT_EQ(first.exitCode, 0) << where << "\n" << first.err;
      const RunResult un = Tessera({"-unreg", next});
      EXPECT_EQ(un.exitCode, 0) << where << "\n" << un.err;
      if (fs::exists(undo)) {
        const RunResult killedUndo = Tessera({"-unreg", undo});
        EXPECT_EQ(killedUndo.exitCode, 0) << where << "\n" << killedUndo.err;
      }
    }
    const RunResult reg = Tessera(Register(Example(), "FRESH_01", fresh));
    EXPECT_EQ(reg.exitCode, 0) << where << "\n" << reg.err;
    EXPECT_EQ(reg.err, "") << where;
    const RunResult unreg = Tessera({"-unreg", fresh});
    EXPECT_EQ(unreg.exitCode, 0) << where << "\n" << unreg.err;
    EXPECT_EQ(HostProblems(), "") << where << "\nthe next run said:\n" << first.out << first.err;
    const int said = first.err.find("(TESSERA262)") != std::string::npos   ? 262
                     : first.err.find("(TESSERA264)") != std::string::npos ? 264
                                                                           : 0;
    if (said == 0) {
      EXPECT_EQ(first.err.find("TESSERA26"), std::string::npos) << first.err;
    }
    return said;
  }

  const std::string& root_ = host_;
  std::string pristine_ = dir_ / "pristine";
  std::string tmp_ = [this] {
    fs::create_directories(dir_ / "tmp");
    return dir_ / "tmp";
  }();
  std::map<std::string, std::string> original_;
};

// The two kill sweeps in parts that the test run spreads over the processors
// (tests/support/SweepParts.h); each part takes its share of the points the mode selects.
constexpr int kKillSweepParts = 3;
class CrashE2eSweep : public CrashE2e, public ::testing::WithParamInterface<int> {};

TEST_P(CrashE2eSweep, KillSweepOfAPrerequisiteRegistrationIsPutRightByTheNextRun) {
  Init();
  KeepPristine();
  // The points of a whole registration, in the order it reaches them.
  const std::string log = dir_ / "points.log";
  const auto started = std::chrono::steady_clock::now();
  const RunResult listed = Tessera(Register(Example(), "KILLED_01", dir_ / "killed.undo"), {"VR_FAULTS_LOG=" + log});
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  // The random kills land within the time a registration takes here.
  const int runUs = static_cast<int>(
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
  std::vector<std::string> points;
  for (const std::string& p : Lines(ReadFileBytes(log)))
    if (p.rfind("file.", 0) == 0 || p.rfind("os.", 0) == 0 || p.rfind("registry.", 0) == 0) points.push_back(p);
  ASSERT_GT(points.size(), 50u);

  // The default run kills at every call that commits something and at every fourth of the
  // others; the long mode at every point.
  static const std::set<std::string> writing = {"file.SaveCreate", "file.SaveBackup", "file.SaveRename",
                                                "file.Delete", "file.Rename", "os.CreateDirectory", "os.CopyFile",
                                                "os.RemoveTree", "os.RemoveDirectory", "registry.SetValue",
                                                "registry.Transaction"};
  std::map<int, int> outcomes;
  int swept = 0;
  size_t selected = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    const std::string kind = points[i].substr(0, points[i].find('#'));
    if (RandomOnly() || (!LongMode() && !writing.count(kind) && i % 4 != 0)) continue;
    if (!vr::testing::InSweepPart(selected++, GetParam(), kKillSweepParts)) continue;
    Restore();
    const RunResult killed =
        Tessera(Register(Example(), "KILLED_01", dir_ / "killed.undo"), {"VR_FAULTS=" + points[i] + "=exit"});
    ASSERT_EQ(killed.exitCode, kKilled) << points[i] << "\n" << killed.err;
    ++swept;
    ++outcomes[RunNextAndCheck(swept % 2 == 1, "killed at " + points[i])];
    if (HasFailure()) break;
  }
  std::cout << "kill sweep: " << points.size() << " file/registry points, " << swept << " killed; next run rolled back "
            << outcomes[262] << ", found complete " << outcomes[264] << ", had nothing to recover " << outcomes[0]
            << std::endl;
  if (!RandomOnly()) {
    EXPECT_GT(outcomes[262], 0);
    EXPECT_GT(outcomes[0], 0);
  }

  if (!LongMode() || GetParam() != 0) return;
  // Real SIGKILLs at random moments of a registration (in the first part).
  const char* countText = std::getenv("VR_KILL_SWEEP_RANDOM");
  const int count = countText ? std::atoi(countText) : 100;
  std::mt19937 random(20261209);
  std::map<int, int> randomOutcomes;
  int finished = 0;
  for (int n = 0; n < count && !HasFailure(); ++n) {
    Restore();
    const auto args = Register(Example(), "KILLED_01", dir_ / "killed.undo");
    const pid_t pid = vr::testing::StartProgram(TESSERA, args, Env(), dir_ / "out", dir_ / "err");
    const int delay = std::uniform_int_distribution<int>(0, runUs + runUs / 5)(random);
    ::usleep(delay);
    ::kill(pid, SIGKILL);
    const int code = vr::testing::WaitProgram(pid);
    if (code == 0) ++finished;
    std::string journal;
    if (fs::exists(root_ + "/journal"))
      for (const auto& e : fs::recursive_directory_iterator(root_ + "/journal")) journal += " " + e.path().filename().string();
    ++randomOutcomes[RunNextAndCheck(n % 2 == 0, "SIGKILL " + std::to_string(n) + " after " + std::to_string(delay) +
                                                     " us, exit " + std::to_string(code) + ", journal:" + journal +
                                                     "\nkilled run's output: " + ReadFileBytes(dir_ / "out") +
                                                     ReadFileBytes(dir_ / "err"))];
  }
  std::cout << "random SIGKILL within " << runUs / 1000 << " ms: " << count << " kills (" << finished << " ran to the end first); next run rolled back "
            << randomOutcomes[262] << ", found complete " << randomOutcomes[264] << ", had nothing to recover "
            << randomOutcomes[0] << std::endl;
}

// An unregistration killed at its calls: the next run says it was interrupted, and the same
// unregistration run again completes it.
TEST_F(CrashE2e, KilledUnregistrationIsCompletedByRunningItAgain) {
  Init();
  KeepPristine();
  const std::string undo = dir_ / "registered.undo", keptUndo = dir_ / "registered.keep";
  ASSERT_EQ(Tessera(Register(Example(), "REG_01", undo)).exitCode, 0);
  fs::copy_file(undo, keptUndo);
  const std::string registered = dir_ / "registered";
  fs::copy(root_, registered, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  auto restoreRegistered = [&] {
    fs::remove_all(root_);
    fs::copy(registered, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::copy_file(keptUndo, undo, fs::copy_options::overwrite_existing);
  };
  const std::string log = dir_ / "unreg-points.log";
  ASSERT_EQ(Tessera({"-unreg", undo}, {"VR_FAULTS_LOG=" + log}).exitCode, 0);
  std::vector<std::string> points;
  for (const std::string& p : Lines(ReadFileBytes(log)))
    if (p.rfind("file.", 0) == 0 || p.rfind("os.", 0) == 0 || p.rfind("registry.", 0) == 0) points.push_back(p);
  ASSERT_GT(points.size(), 20u);
  int swept = 0, reported = 0;
  for (size_t i = 0; i < points.size() && !HasFailure(); ++i) {
    if (!LongMode() && i % 3 != 0) continue;
    restoreRegistered();
    const RunResult killed = Tessera({"-unreg", undo}, {"VR_FAULTS=" + points[i] + "=exit"});
    ASSERT_EQ(killed.exitCode, kKilled) << points[i];
    ++swept;
    const RunResult again = Tessera({"-unreg", undo});
    EXPECT_EQ(again.exitCode, 0) << points[i] << "\n" << again.err;
    if (again.err.find("(TESSERA265)") != std::string::npos) ++reported;
    EXPECT_EQ(HostProblems(), "") << "killed at " << points[i];
  }
  std::cout << "unregistration: " << points.size() << " file/registry points, killed at " << swept << "; "
            << reported << " reported as interrupted by the next run, each completed by running it again" << std::endl;
  EXPECT_GT(reported, 0);
}

// Registrations of different patches at once: each waits for the run lock, so every one that
// reports success has its tag in every copy; with no wait at all the others stop with the lock
// message and change nothing.
TEST_F(CrashE2e, ConcurrentRegistrationsKeepEveryTagOfEveryRunThatSucceeded) {
  Init();
  original_ = Tags(ReadFileBytes(MainFile()));
  struct Round {
    int runs;
    std::string timeoutMs;
  };
  for (const Round& round : {Round{2, ""}, Round{8, ""}, Round{8, "0"}}) {
    SCOPED_TRACE(std::to_string(round.runs) + " runs, lock wait '" + round.timeoutMs + "'");
    std::vector<pid_t> pids;
    for (int k = 0; k < round.runs; ++k) {
      const std::string name = "CONC_" + std::to_string(k);
      const std::string config = dir_ / (name + ".xml");
      vr::testing::WriteFileBytes(
          config, "<?xml version=\"1.0\"?>\n<!DOCTYPE VrNPConfig SYSTEM \"VrNPConfig.dtd\">\n"
                  "<VrNPConfig version=\"A.07.50\"><VrReqCheckList><Prerequisites_Section version=\"7.60\">\n"
                  "<prerequisites name=\"" + name + "\">\n[PREREQUISITES] " + name + "\nDISK_SPACE_MB=" +
                  std::to_string(k + 1) + "\n</prerequisites></Prerequisites_Section></VrReqCheckList></VrNPConfig>\n");
      std::vector<std::string> extra;
      if (!round.timeoutMs.empty()) extra.push_back("VR_RUN_LOCK_TIMEOUT_MS=" + round.timeoutMs);
      pids.push_back(vr::testing::StartProgram(TESSERA, Register(config, "PATCH_" + std::to_string(k), dir_ / (name + ".undo")),
                                               Env(extra), dir_ / (name + ".out"), dir_ / (name + ".err")));
    }
    std::vector<int> succeeded;
    int refused = 0;
    for (int k = 0; k < round.runs; ++k) {
      const int code = vr::testing::WaitProgram(pids[k]);
      const std::string name = "CONC_" + std::to_string(k);
      const std::string err = ReadFileBytes(dir_ / (name + ".err"));
      if (code == 0) {
        succeeded.push_back(k);
        continue;
      }
      EXPECT_EQ(code, 100) << err;
      EXPECT_NE(err.find("(TESSERA260)"), std::string::npos) << err;
      EXPECT_FALSE(fs::exists(dir_ / (name + ".undo"))) << "a refused run wrote its undo file";
      ++refused;
    }
    if (round.timeoutMs.empty()) {
      EXPECT_EQ(refused, 0);
    }
    std::cout << round.runs << " registrations at once, lock wait " << (round.timeoutMs.empty() ? "30000" : round.timeoutMs)
              << " ms: " << succeeded.size() << " succeeded, " << refused << " stopped with the lock message" << std::endl;
    EXPECT_FALSE(succeeded.empty());
    for (const std::string& file : FilesInUse()) {
      const auto tags = Tags(ReadFileBytes(file));
      EXPECT_TRUE(CrcCorrect(ReadFileBytes(file))) << file;
      for (int k = 0; k < round.runs; ++k) {
        const bool present = tags.count("[PREREQUISITES] CONC_" + std::to_string(k)) > 0;
        const bool success = std::find(succeeded.begin(), succeeded.end(), k) != succeeded.end();
        EXPECT_EQ(present, success) << "CONC_" << k << " in " << file;
      }
    }
    // Unregistered at once too, every change goes again.
    pids.clear();
    for (int k : succeeded)
      pids.push_back(vr::testing::StartProgram(TESSERA, {"-unreg", dir_ / ("CONC_" + std::to_string(k) + ".undo"), "-delundo"},
                                               Env(), dir_ / "un.out", dir_ / "un.err"));
    for (pid_t pid : pids) EXPECT_EQ(vr::testing::WaitProgram(pid), 0);
    for (const std::string& file : FilesInUse()) EXPECT_EQ(Tags(ReadFileBytes(file)), original_) << file;
  }
}

// A lock held by another program: tessera waits the bound it is given, then stops with the
// lock message and exit 100 without touching anything.
TEST_F(CrashE2e, ARunThatCannotGetTheLockStopsWithItsMessageAndChangesNothing) {
  Init();
  const std::string before = Vrhost({"snapshot"}).out;
  // flock(1) holds the host's lock while tessera runs.
  vr::testing::RunLockHolder holder(root_ + "/run.lock");
  const RunResult r = Tessera(Register(Example(), "LOCKED_01", dir_ / "locked.undo"), {"VR_RUN_LOCK_TIMEOUT_MS=500"});
  holder.Release();
  EXPECT_EQ(r.exitCode, 100);
  EXPECT_NE(r.err.find("(TESSERA260)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("waiting 500"), std::string::npos) << r.err;
  EXPECT_EQ(Vrhost({"snapshot"}).out, before);
  EXPECT_FALSE(fs::exists(dir_ / "locked.undo"));
}

// vrhost init killed at each of its calls, on an empty root and while replacing a host: the
// root it leaves is one that init --force turns into a complete host.
TEST_P(CrashE2eSweep, InitKilledAtEachStepIsReplacedByInitForce) {
  Init();
  const std::string reference = Vrhost({"snapshot", "--relative"}).out;
  for (const bool replacing : {false, true}) {
    fs::remove_all(root_);
    if (replacing) Init();
    const std::string log = dir_ / (replacing ? "init-force.log" : "init.log");
    fs::remove(log);
    const RunResult listed = Vrhost({"init", "--force"}, {"VR_FAULTS_LOG=" + log});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const auto points = Lines(ReadFileBytes(log));
    ASSERT_GT(points.size(), 20u);
    int steps = 0, swept = 0;
    size_t selected = 0;
    for (size_t i = 0; i < points.size(); ++i) {
      const std::string& point = points[i];
      // The default run: every step start and every third point; the long mode: all.
      if (!LongMode() && point.rfind("vrhost.InitStep", 0) != 0 && i % 3 != 0) continue;
      if (!vr::testing::InSweepPart(selected++, GetParam(), kKillSweepParts)) continue;
      ++swept;
      fs::remove_all(root_);
      if (replacing) Init();
      const RunResult killed = Vrhost({"init", "--force"}, {"VR_FAULTS=" + point + "=exit"});
      ASSERT_EQ(killed.exitCode, kKilled) << point;
      if (point.rfind("vrhost.InitStep", 0) == 0) ++steps;
      const RunResult again = Vrhost({"init", "--force"});
      ASSERT_EQ(again.exitCode, 0) << (replacing ? "replacing, " : "") << "killed at " << point << ": " << again.err;
      ASSERT_EQ(Vrhost({"snapshot", "--relative"}).out, reference) << "killed at " << point;
    }
    std::cout << (replacing ? "init --force over a host" : "init on an empty root") << ": " << points.size()
              << " points, killed at " << swept << " (" << steps << " step starts), each replaced by init --force"
              << std::endl;
  }
}

INSTANTIATE_TEST_SUITE_P(Part, CrashE2eSweep, ::testing::Range(0, kKillSweepParts));

}  // namespace
