// Whole rows of VR_PM_DeplPack and VR_PM_FunctionalityModule: what a run's record keeps of
// them before it changes anything, and the statements that put them back exactly.
#include <tuple>

#include "platform/ado/ado.h"
#include "platform/com/com_error.h"
#include "tessera/Database/DepotData.h"
#include "tessera/Database/DepotDataConnection.h"
#include "tessera/TesseraTrace.h"


namespace {

constexpr const char* kFile = "Database\\DepotRows";
constexpr unsigned kFlags = vr::trace::kRunFlags;
constexpr const char16_t* kPackageColumns = u"DeplPackId, Name, Version, LogicalId, DeployerId, Location, Description";
constexpr const char16_t* kModuleColumns = u"PolTypeId, DeplPackId, SystemType, OsType, OsVersion, ModuleTypeId, Location";

DepotModuleRow ModuleOf(const std::vector<WString>& r) { return {r[0], r[1], r[2], r[3], r[4], r[5], r[6]}; }

std::vector<Variant> ModuleValues(const DepotModuleRow& m) {
  return {Variant(m.policyType), Variant(m.id),           Variant(m.systemType), Variant(m.osType),
          Variant(m.osVersion),  Variant(m.moduleTypeId), Variant(m.location)};
}

}  // namespace

bool DepotModuleRow::operator<(const DepotModuleRow& o) const {
  return std::tie(policyType, id, systemType, osType, osVersion, moduleTypeId, location) <
         std::tie(o.policyType, o.id, o.systemType, o.osType, o.osVersion, o.moduleTypeId, o.location);
}

bool CDepotData::ExecuteTable(const char* function, const WString& sql, const std::vector<Variant>& bound,
                              const std::vector<const char16_t*>& columns, std::vector<std::vector<WString>>& table) {
  VR_TRACE_FUNCTION("CDepotData::ExecuteTable", kFile, kFlags);
  try {
    VR_TRACE_INFO(function, ": SQL: ", ADODB::FormatForTrace(sql, bound));
    if (!connection_ || !connection_->ptr) return false;
    ADODB::RecordsetPtr rs;
    if (FAILED(ADODB::CreateRecordset(&rs)) || !rs) {
      VR_TRACE_ERROR("Cannot create Recordset instance");
      return false;
    }
    rs->PutCursorLocation(ADODB::adUseClient);
    HRESULT hr = rs->Open(sql, bound, connection_->ptr, ADODB::adOpenForwardOnly, ADODB::adLockReadOnly, ADODB::adCmdText);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("Cannot execute SQL command");
      return false;
    }
    if (rs->State() == ADODB::adStateClosed) return true;
    for (; SUCCEEDED(hr) && !rs->EndOfFile(); hr = rs->MoveNext()) {
      std::vector<WString> row(columns.size());
      for (size_t i = 0; i < columns.size() && SUCCEEDED(hr); ++i) hr = rs->GetText(columns[i], &row[i]);
      if (FAILED(hr)) break;
      table.push_back(std::move(row));
    }
    rs->Close();
    if (FAILED(hr)) VR_TRACE_ERROR("Cannot read the rows");
    return SUCCEEDED(hr);
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
  }
  return false;
}

bool CDepotData::ReadPackageRows(std::vector<DepotPackageRow>& rows) {
  std::vector<std::vector<WString>> t;
  if (!ExecuteTable("ReadPackageRows", WString(u"SELECT ") + kPackageColumns + u" FROM VR_PM_DeplPack", {},
                    {u"DeplPackId", u"Name", u"Version", u"LogicalId", u"DeployerId", u"Location", u"Description"}, t))
    return false;
  for (auto& r : t) rows.push_back({r[0], r[1], r[2], r[3], r[4], r[5], r[6]});
  return true;
}

bool CDepotData::ReadModuleRows(const WString* id, std::vector<DepotModuleRow>& rows) {
  std::vector<std::vector<WString>> t;
  WString sql = WString(u"SELECT ") + kModuleColumns + u" FROM VR_PM_FunctionalityModule";
  std::vector<Variant> values;
  if (id) {
    sql += u" WHERE DeplPackId=?";
    values.emplace_back(*id);
  }
  if (!ExecuteTable("ReadModuleRows", sql, values,
                    {u"PolTypeId", u"DeplPackId", u"SystemType", u"OsType", u"OsVersion", u"ModuleTypeId", u"Location"}, t))
    return false;
  for (auto& r : t) rows.push_back(ModuleOf(r));
  return true;
}

bool CDepotData::ReadPolicyTypeIds(std::vector<WString>& ids) {
  std::vector<std::vector<WString>> t;
  if (!ExecuteTable("ReadPolicyTypeIds", u"SELECT PolTypeId FROM VR_PM_PolicyType", {}, {u"PolTypeId"}, t)) return false;
  for (auto& r : t) ids.push_back(r[0]);
  return true;
}

bool CDepotData::ReadPackageIds(const WString& name, const WString& version, std::vector<WString>& ids) {
  std::vector<std::vector<WString>> t;
  if (!ExecuteTable("ReadPackageIds", u"SELECT DeplPackId FROM VR_PM_DeplPack WHERE Name=? AND Version=?",
                    {Variant(name), Variant(version)}, {u"DeplPackId"}, t))
    return false;
  for (auto& r : t) ids.push_back(r[0]);
  return true;
}

bool CDepotData::InsertPackageRow(const DepotPackageRow& p) {
  std::vector<std::vector<WString>> none;
  return ExecuteTable("InsertPackageRow",
                      WString(u"INSERT INTO VR_PM_DeplPack (") + kPackageColumns + u") VALUES (?, ?, ?, ?, ?, ?, ?)",
                      {Variant(p.id), Variant(p.name), Variant(p.version), Variant(p.logicalId), Variant(p.deployerId),
                       Variant(p.location), Variant(p.description)},
                      {}, none);
}

bool CDepotData::DeletePackageAndModules(const WString& id) {
  std::vector<std::vector<WString>> none;
  return ExecuteTable("DeletePackageAndModules", u"DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId=?",
                      {Variant(id)}, {}, none) &&
         ExecuteTable("DeletePackageAndModules", u"DELETE FROM VR_PM_DeplPack WHERE DeplPackId=?", {Variant(id)}, {},
                      none);
}

bool CDepotData::InsertModuleRow(const DepotModuleRow& m) {
  std::vector<std::vector<WString>> none;
  return ExecuteTable("InsertModuleRow",
                      WString(u"INSERT INTO VR_PM_FunctionalityModule (") + kModuleColumns +
                          u") VALUES (?, ?, ?, ?, ?, ?, ?)",
                      ModuleValues(m), {}, none);
}

bool CDepotData::DeleteModuleRow(const DepotModuleRow& m) {
  std::vector<std::vector<WString>> none;
  return ExecuteTable("DeleteModuleRow",
                      u"DELETE FROM VR_PM_FunctionalityModule WHERE PolTypeId=? AND DeplPackId=? AND SystemType=? AND "
                      u"OsType=? AND OsVersion=? AND ModuleTypeId=? AND Location=?",
                      ModuleValues(m), {}, none);
}

bool CDepotData::SetLogicalId(const WString& id, const WString& logicalId) {
  std::vector<std::vector<WString>> none;
  return ExecuteTable("SetLogicalId", u"UPDATE VR_PM_DeplPack SET LogicalId=? WHERE DeplPackId=?",
                      {Variant(logicalId), Variant(id)}, {}, none);
}

bool CDepotData::DeletePackageRow(const WString& id) {
  std::vector<std::vector<WString>> none;
  return ExecuteTable("DeletePackageRow", u"DELETE FROM VR_PM_DeplPack WHERE DeplPackId=?", {Variant(id)}, {}, none);
}

bool CDepotData::ReadDeployedPackageIds(std::vector<WString>& ids) {
  std::vector<std::vector<WString>> t;
  if (!ExecuteTable("ReadDeployedPackageIds", u"SELECT DISTINCT DeplPackId FROM VR_PM_InstalledDeplPack", {},
                    {u"DeplPackId"}, t))
    return false;
  for (auto& r : t) ids.push_back(r[0]);
  return true;
}
