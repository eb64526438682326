// Tests: a PostgreSQL server of the test's own. initdb makes a cluster in a temporary folder
// (superuser "vrtest" with a password, password authentication), pg_ctl starts it on a Unix
// socket in that folder only (no TCP port), and the destructor stops it and removes the folder.
// PostgreSQL refuses to run as root: a root test runs the server as the user "nobody" through
// runuser, having handed the folder over to it. The binaries come from the newest
// /usr/lib/postgresql/*/bin (Debian's postgresql package), or VR_PG_BIN.
//
// One server per test program is enough: Shared() starts it on first use and stops it at exit.
#pragma once
#include <glob.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
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

  PgServer() {
    bin_ = BinFolder();
    if (bin_.empty())
      throw std::runtime_error("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb): "
                               "install the Debian package postgresql (scripts/deps.sh does)");
    ::chmod(dir_.path().c_str(), 0755);
    data_ = dir_ / "data";
    socket_ = dir_ / "socket";
    ::mkdir(socket_.c_str(), 0755);
    WriteFileBytes(dir_ / "pwfile", std::string(kPassword) + "\n");
    if (::geteuid() == 0) {
      const passwd* pw = ::getpwnam("nobody");
      if (!pw) throw std::runtime_error("running as root needs the user 'nobody' to run PostgreSQL");
      runAs_ = "nobody";
      ::chown(socket_.c_str(), pw->pw_uid, pw->pw_gid);
      ::chown((dir_ / "pwfile").c_str(), pw->pw_uid, pw->pw_gid);
      ::chown(dir_.path().c_str(), pw->pw_uid, pw->pw_gid);
    }
    Run(bin_ + "/initdb", {"-D", data_, "-U", kUser, "--pwfile=" + (dir_ / "pwfile"), "--auth=scram-sha-256",
                           "-E", "UTF8", "--locale=C", "--no-sync"},
        "initdb");
    Run(bin_ + "/pg_ctl", {"-D", data_, "-l", dir_ / "server.log", "-w", "-t", "60", "-o",
                           "-k " + socket_ + " -c listen_addresses= -p " + std::string(kPort) + " -c fsync=off",
                           "start"},
        "pg_ctl start");
    started_ = true;
  }

  ~PgServer() {
    if (started_) {
      try {
        Run(bin_ + "/pg_ctl", {"-D", data_, "-m", "immediate", "-w", "stop"}, "pg_ctl stop");
      } catch (...) {
      }
    }
  }

  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  // The folder of the server's socket: the "host" of a connection.
  const std::string& socketFolder() const { return socket_; }
  std::string log() const { return ReadFileBytes(dir_ / "server.log"); }

  // The one server of this test program.
  static PgServer& Shared() {
    static std::unique_ptr<PgServer> server(new PgServer);
    return *server;
  }

  // A new empty database of the server, named uniquely ("vrdepot_1", "vrdepot_2", ...), so that
  // every test gets tables of its own.
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

  // Stops or starts the server (to test a server that is down).
  void Stop() { Run(bin_ + "/pg_ctl", {"-D", data_, "-m", "fast", "-w", "stop"}, "pg_ctl stop"); started_ = false; }
  void Start() {
    Run(bin_ + "/pg_ctl", {"-D", data_, "-l", dir_ / "server.log", "-w", "-t", "60", "-o",
                           "-k " + socket_ + " -c listen_addresses= -p " + std::string(kPort) + " -c fsync=off",
                           "start"},
        "pg_ctl start");
    started_ = true;
  }

 private:
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
                               ReadFileBytes(dir_ / "server.log"));
  }

  TempDir dir_{"vrpg"};
  std::string bin_, data_, socket_, runAs_;
  bool started_ = false;
  int databases_ = 0;
};

}  // namespace vr::testing
