#include "platform/ado/drivers.h"

#include <glob.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace vr::ado {
namespace {

std::string Find(const char* variable, const char* file) {
  if (const char* named = std::getenv(variable); named && *named) return ::access(named, R_OK) == 0 ? named : "";
  const std::string name(file);
  std::vector<std::string> patterns = {"/usr/lib/*/odbc/" + name, "/usr/lib/odbc/" + name, "/usr/lib64/" + name,
                                       "/usr/lib/" + name, "/usr/local/lib/odbc/" + name, "/usr/local/lib/" + name};
  for (const auto& pattern : patterns) {
    glob_t g{};
    if (::glob(pattern.c_str(), 0, nullptr, &g) == 0 && g.gl_pathc > 0) {
      std::string found = g.gl_pathv[0];
      ::globfree(&g);
      return found;
    }
    ::globfree(&g);
  }
  return "";
}

}  // namespace

std::string SqliteOdbcDriverPath() { return Find("VR_SQLITE_ODBC_DRIVER", "libsqlite3odbc.so"); }
std::string PostgresOdbcDriverPath() { return Find("VR_PGSQL_ODBC_DRIVER", "psqlodbcw.so"); }

}  // namespace vr::ado
