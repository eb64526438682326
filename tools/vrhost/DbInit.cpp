// vrhost init, step "depot database": the host key, the embedded Depot database (SQLite through
// its ODBC driver, ROOT/depot.db) with the data source that names it in ROOT/odbc.ini and
// ROOT/odbcinst.ini, the DBAccess registry values with a fresh enciphered password, and the
// Depot tables with the demo server's policy types and deployed packages.
#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/text/convert.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {
bool CreateDepotDatabase(const InitContext& c, std::string& error) {
  vr::depot::DataSource source;
  if (!vr::crypto::CreateHostKey(c.root, error) || !vr::depot::SqliteDataSource(c.root, source, error) ||
      !vr::depot::WriteDataSource(c.root, source, error))
    return false;
  WString password = vr::depot::GeneratePassword();
  const bool stored = vr::depot::WriteDbAccess(vr::text::Utf8ToWide(source.name),
                                               vr::text::Utf8ToWide(vr::depot::kDefaultUser), password, error);
  vr::crypto::WipeSecret(password);
  return stored && vr::depot::CreateDepotTables(c.dataDir + "/" + vr::depot::kSchemaFile,
                                                c.dataDir + "/" + vr::depot::kDemoDataFile, error);
}

}  // namespace vrhost
