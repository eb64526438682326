// Tests: a PostgreSQL server. initdb makes a cluster in a temporary folder (superuser "vrtest"
// with a password, password authentication), pg_ctl starts it on a Unix socket in that folder
// only (no TCP port), and the owner stops it and removes the folder. PostgreSQL refuses to run
// as root: a root test runs the server as the user "nobody" through runuser, having handed the
// folder over to it. The binaries come from the newest /usr/lib/postgresql/*/bin (Debian's
// postgresql package), or VR_PG_BIN.
//
// One server per test program, a database of its own per test: Shared() is the server the
// test run started for this program (test_postgres, the ctest fixture of every test program
// declared with POSTGRES), or, for a program run by hand, one it starts on first use and stops
// at exit. A test that stops the server or changes its roles makes a PgServer of its own, so
// that the program's other tests, running at the same time on the shared one, never see that.
#pragma once
#include <glob.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/HostTestSupport.h"

namespace vr::testing {

class PgServer {
 public:
  static constexpr const char* kUser = "vrtest";
  static constexpr const char* kPassword = "pg-Test-pw9";
  static constexpr const char* kDatabase = "postgres";
  static constexpr const char* kPort = "54329";

  // A started server of its own in a new temporary folder, stopped and removed at destruction.
  PgServer() : root_(MakeTempFolder("vrpg")), removeFolder_(true) {
    Paths();
    if (bin_.empty())
      throw std::runtime_error("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb): "
                               "install the Debian package postgresql (scripts/deps.sh does)");
    ::chmod(root_.c_str(), 0755);
    ::mkdir(socket_.c_str(), 0755);
    WriteFileBytes(root_ + "/pwfile", std::string(kPassword) + "\n");
    if (!runAs_.empty()) {
      const passwd* pw = ::getpwnam(runAs_.c_str());
      if (!pw) throw std::runtime_error("running as root needs the user 'nobody' to run PostgreSQL");
      ::chown(socket_.c_str(), pw->pw_uid, pw->pw_gid);
      ::chown((root_ + "/pwfile").c_str(), pw->pw_uid, pw->pw_gid);
      ::chown(root_.c_str(), pw->pw_uid, pw->pw_gid);
    }
    Run(bin_ + "/initdb", {"-D", data_, "-U", kUser, "--pwfile=" + root_ + "/pwfile", "--auth=scram-sha-256",
                           "-E", "UTF8", "--locale=C", "--no-sync"},
        "initdb");
    owned_ = true;
    Start();
  }

  ~PgServer() {
    if (started_ && owned_) {
      try {
        Run(bin_ + "/pg_ctl", {"-D", data_, "-m", "immediate", "-w", "stop"}, "pg_ctl stop");
      } catch (...) {
      }
    }
    if (removeFolder_) RemoveTree(root_);
  }

  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // The folder of the server's socket: the "host" of a connection.
  const std::string& socketFolder() const { return socket_; }
  std::string log() const { return ReadFileBytes(root_ + "/server.log"); }

  // The one server of this test program.
  static PgServer& Shared() {
    static std::unique_ptr<PgServer> server = Attached();
    if (!server) server.reset(new PgServer);
    return *server;
  }

  // The test run's server of one test program (the program's name in the test run's
  // test-postgres folder holds the server's folder; the program's tests find it there).
  static std::string PointerFile(const std::string& binaryDir, const std::string& program) {
    return binaryDir + "/test-postgres/" + program;
  }
  // Starts it, leaving it running after this process ends.
  static void StartFor(const std::string& pointer) {
    StopFor(pointer);  // what a killed earlier run left
    PgServer server;
    server.owned_ = false;
    server.removeFolder_ = false;
    std::filesystem::create_directories(std::filesystem::path(pointer).parent_path());
    WriteFileBytes(pointer + ".new", server.root_);
    std::filesystem::rename(pointer + ".new", pointer);
  }
  // Stops it and removes its folder and the pointer; nothing to do when there is none.
  static void StopFor(const std::string& pointer) {
    std::error_code ec;
    if (!std::filesystem::exists(pointer, ec)) return;
    const std::string root = ReadFileBytes(pointer);
    std::filesystem::remove(pointer, ec);
    if (root.empty() || !std::filesystem::exists(root + "/data", ec)) return;
    PgServer server(root);
    server.owned_ = server.started_ = server.removeFolder_ = true;
  }

  // A new empty database of the server, named uniquely ("vrdepot_PID_1", "vrdepot_PID_2",
  // ...), so that every test gets tables of its own.
  std::string NewDatabase() {
    const std::string name = "vrdepot_" + std::to_string(::getpid()) + "_" + std::to_string(++databases_);
    const RunResult r = RunProgram(bin_ + "/psql", {"-h", socket_, "-p", kPort, "-U", kUser, "-d", kDatabase, "-v",
                                                    "ON_ERROR_STOP=1", "-q", "-c", "CREATE DATABASE " + name},
                                   {std::string("PGPASSWORD=") + kPassword});
    if (r.exitCode != 0) throw std::runtime_error("cannot create the database " + name + ": " + r.err);
    return name;
  }

  // The arguments of `vrhost dbaccess` that point a host at a new database of this server,
  // with the Depot tables and the demo data in it.
  std::vector<std::string> UsePostgresArgs() {
    return {"dbaccess", "use-postgresql", "--server", socket_, "--port", kPort, "--database", NewDatabase(),
            "--user", kUser, "--password", kPassword, "--create-tables", "--demo-data"};
  }

  // Stops or starts the server (to test a server that is down); only a server of the test's
  // own, for the shared one serves other tests at the same time.
  void Stop() {
    if (!owned_) throw std::logic_error("a test that stops the PostgreSQL server needs a PgServer of its own");
    Run(bin_ + "/pg_ctl", {"-D", data_, "-m", "fast", "-w", "stop"}, "pg_ctl stop");
    started_ = false;
  }
  void Start() {
    if (!owned_) throw std::logic_error("a test that starts the PostgreSQL server needs a PgServer of its own");
    Run(bin_ + "/pg_ctl", {"-D", data_, "-l", root_ + "/server.log", "-w", "-t", "60", "-o",
                           "-k " + socket_ + " -c listen_addresses= -p " + std::string(kPort) + " -c fsync=off",
                           "start"},
        "pg_ctl start");
    started_ = true;
  }

 private:
  // A server whose folder exists already; neither started nor stopped here unless told.
  explicit PgServer(std::string root) : root_(std::move(root)) { Paths(); }

  void Paths() {
    bin_ = BinFolder();
    data_ = root_ + "/data";
    socket_ = root_ + "/socket";
    if (::geteuid() == 0) runAs_ = "nobody";
  }

  // The server the test run started for this program, when its postmaster is alive.
  static std::unique_ptr<PgServer> Attached() {
    const char* bin = std::getenv("VR_BINARY_DIR");
    if (!bin || !*bin) return nullptr;
    std::error_code ec;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
    const std::string pointer = PointerFile(bin, program);
    if (ec || !std::filesystem::exists(pointer, ec)) return nullptr;
    const std::string root = ReadFileBytes(pointer);
    std::ifstream pidFile(root + "/data/postmaster.pid");
    long pid = 0;
    if (root.empty() || !(pidFile >> pid) || pid <= 0 || ::kill(static_cast<pid_t>(pid), 0) != 0) return nullptr;
    return std::unique_ptr<PgServer>(new PgServer(root));
  }

  static std::string BinFolder() {
    if (const char* named = std::getenv("VR_PG_BIN"); named && *named) return named;
    glob_t g{};
    std::vector<std::string> found;
    if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0)
      for (size_t i = 0; i < g.gl_pathc; ++i) found.emplace_back(g.gl_pathv[i]);
    ::globfree(&g);
    if (found.empty()) return "";
    // The newest version: the longest, then the largest name ("15" after "9.6").
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    const std::string initdb = found.back();
    return initdb.substr(0, initdb.size() - std::string("/initdb").size());
  }

  void Run(const std::string& program, const std::vector<std::string>& args, const std::string& what) {
    RunResult r;
    if (runAs_.empty()) {
      r = RunProgram(program, args);
    } else {
      std::vector<std::string> wrapped = {"-u", runAs_, "--", program};
      wrapped.insert(wrapped.end(), args.begin(), args.end());
      r = RunProgram("/usr/sbin/runuser", wrapped);
    }
    if (r.exitCode != 0)
      throw std::runtime_error(what + " failed (exit " + std::to_string(r.exitCode) + "): " + r.err + r.out + "\n" +
                               ReadFileBytes(root_ + "/server.log"));
  }

  std::string root_;
  bool removeFolder_ = false;  // the folder goes with this object
  std::string bin_, data_, socket_, runAs_;
  bool started_ = false;
  bool owned_ = false;  // this object may start and stop the server
  int databases_ = 0;
};

}  // namespace vr::testing
