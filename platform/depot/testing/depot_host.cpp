#include "platform/depot/testing/depot_host.h"

#include <stdexcept>

#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/os/datadir.h"
#include "platform/registry/regtools.h"
#include "platform/text/convert.h"
#include "tests/support/PgServer.h"

namespace vr::depot::testing {

std::string SourceDataFile(const std::string& name) { return vr::os::DataDir() + "/" + name; }

DepotHost::DepotHost(bool demoData, Engine engine) : env_("VR_HOST_ROOT", dir_.path()), password_(u"Test-Pw-42") {
  std::string error;
  DataSource source;
  std::u16string user = u"vrdepot";
  bool defined;
  if (engine == Engine::sqlite) {
    defined = SqliteDataSource(root(), source, error);
  } else {
    auto& pg = vr::testing::PgServer::Shared();
    defined = PostgresDataSource(kDefaultDataSource, pg.socketFolder(), vr::testing::PgServer::kPort, pg.NewDatabase(),
                                 source, error);
    user = vr::text::Utf8ToWide(vr::testing::PgServer::kUser);
    password_ = vr::text::Utf8ToWide(vr::testing::PgServer::kPassword);
  }
  if (!vr::crypto::CreateHostKey(root(), error) || !defined || !WriteDataSource(root(), source, error) ||
      !WriteDbAccess(vr::text::Utf8ToWide(source.name), user, password_, error) ||
      !CreateDepotTables(SourceDataFile(kSchemaFile), demoData ? SourceDataFile(kDemoDataFile) : "", error))
    throw std::runtime_error("cannot set up a Depot host: " + error);
}

DepotHost::~DepotHost() { vr::registry::CloseHive(); }

}  // namespace vr::depot::testing
