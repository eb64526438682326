#include "platform/depot/testing/depot_host.h"

#include <stdexcept>

#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/os/datadir.h"
#include "platform/registry/regtools.h"
#include "platform/text/convert.h"

namespace vr::depot::testing {

std::string SourceDataFile(const std::string& name) { return vr::os::DataDir() + "/" + name; }

DepotHost::DepotHost(bool demoData) : env_("VR_HOST_ROOT", dir_.path()), password_(u"Test-Pw-42") {
  std::string error;
  DataSource source;
  if (!vr::crypto::CreateHostKey(root(), error) || !SqliteDataSource(root(), source, error) ||
      !WriteDataSource(root(), source, error) ||
      !WriteDbAccess(vr::text::Utf8ToWide(source.name), u"vrdepot", password_, error) ||
      !CreateDepotTables(SourceDataFile(kSchemaFile), demoData ? SourceDataFile(kDemoDataFile) : "", error))
    throw std::runtime_error("cannot set up a Depot host: " + error);
}

DepotHost::~DepotHost() { vr::registry::CloseHive(); }

}  // namespace vr::depot::testing
