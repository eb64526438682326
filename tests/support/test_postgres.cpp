// The ctest fixture of a test program declared with POSTGRES: `test_postgres start POINTER`
// starts the program's PostgreSQL server before its first test and names the server's folder
// in POINTER; `test_postgres stop POINTER` stops it after its last test and removes it.
#include <exception>
#include <iostream>
#include <string>

#include "tests/support/PgServer.h"

int main(int argc, char** argv) {
  const std::string verb = argc == 3 ? argv[1] : "";
  if (verb != "start" && verb != "stop") {
    std::cerr << "usage: test_postgres start|stop POINTER-FILE\n";
    return 2;
  }
  try {
    if (verb == "start") {
      vr::testing::PgServer::StartFor(argv[2]);
      std::cout << "PostgreSQL server of the tests started (" << vr::testing::ReadFileBytes(argv[2]) << ")\n";
    } else {
      vr::testing::PgServer::StopFor(argv[2]);
    }
  } catch (const std::exception& e) {
    std::cerr << "test_postgres " << verb << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
