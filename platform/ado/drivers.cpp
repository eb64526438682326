#include "platform/ado/drivers.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

namespace vr::ado {
namespace {

namespace fs = std::filesystem;

bool Readable(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && std::ifstream(path, std::ios::binary).good();
}

// The driver in the folders where Debian and other systems put ODBC drivers; /usr/lib/*/odbc
// stands for every multiarch folder (the first in name order that has the driver).
std::string Find(const char* variable, const char* file) {
  if (const char* named = std::getenv(variable); named && *named) return Readable(named) ? named : "";
  const std::string name(file);
  std::vector<std::string> multiarch;
  std::error_code ec;
  for (fs::directory_iterator it("/usr/lib", ec), end; !ec && it != end; it.increment(ec))
    if (it->is_directory(ec)) multiarch.push_back(it->path().string() + "/odbc/" + name);
  std::sort(multiarch.begin(), multiarch.end());
  std::vector<std::string> candidates = multiarch;
  for (const char* other : {"/usr/lib/odbc/", "/usr/lib64/", "/usr/lib/", "/usr/local/lib/odbc/", "/usr/local/lib/"})
    candidates.push_back(other + name);
  for (const auto& candidate : candidates)
    if (fs::exists(candidate, ec)) return candidate;
  return "";
}

}  // namespace

std::string SqliteOdbcDriverPath() { return Find("VR_SQLITE_ODBC_DRIVER", "libsqlite3odbc.so"); }
std::string PostgresOdbcDriverPath() { return Find("VR_PGSQL_ODBC_DRIVER", "psqlodbcw.so"); }

}  // namespace vr::ado
