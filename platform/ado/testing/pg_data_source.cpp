#include "platform/ado/testing/pg_data_source.h"

#include <fstream>
#include <stdexcept>

#include "platform/ado/drivers.h"
#include "platform/text/convert.h"

namespace vr::ado::testing {

PgDataSource::PgDataSource(Server which) : root_("VR_HOST_ROOT", dir_.path()) {
  const std::string driver = PostgresOdbcDriverPath();
  if (driver.empty()) throw std::runtime_error("the PostgreSQL ODBC driver (odbc-postgresql) is not installed");
  if (which == Server::kOwn) own_ = std::make_unique<vr::testing::PgServer>();
  auto& pg = server();
  std::ofstream(dir_ / "odbcinst.ini") << "[VrPostgreSQL]\nDriver=" << driver << "\n";
  std::ofstream(dir_ / "odbc.ini") << "[VrDepot]\nDriver=VrPostgreSQL\nServername=" << pg.socketFolder()
                                   << "\nPort=" << vr::testing::PgServer::kPort
                                   << "\nDatabase=" << pg.NewDatabase() << "\n";
}

std::u16string PgDataSource::ConnectionString() const {
  return u"Provider=MSDASQL;DSN=VrDepot;User Id=" + vr::text::Utf8ToWide(vr::testing::PgServer::kUser) +
         u";Password=" + vr::text::Utf8ToWide(vr::testing::PgServer::kPassword) + u";";
}

}  // namespace vr::ado::testing
