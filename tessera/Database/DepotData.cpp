// The Depot database statements of the package section. Each statement runs through a
// client-side, read-only Recordset with its values bound as parameters; the trace shows it
// with the values in place.
#include "tessera/Database/DepotData.h"
#include "tessera/Database/DepotDataConnection.h"

#include "platform/ado/ado.h"
#include "platform/com/com_error.h"
#include "platform/com/errorinfo.h"
#include "tessera/TesseraTrace.h"


namespace {

// Warnings: something the caller asked for was not there to do.
#define PKG_TRACE_WARNING(...) VR_TRACE(_qkit_TraceTypeMap_t::eSevWarning, __VA_ARGS__)

constexpr const char* kFile = "Database\\DepotData";
constexpr unsigned kFlags = vr::trace::kRunFlags;

// Policy type ids are GUID texts: they are compared without regard to case (UPPER of an id
// is its ASCII upper case on both engines), so an undo line written with another letter case
// than the Depot's still names its module.
// Every column of the Depot tables is text: identifiers and platform numbers are compared as
// the texts they are.
Variant Number(const WString& text) { return Variant(text); }
Variant Text(const WString& text) { return Variant(text); }

// The description the failing ADO call left, or the system's text of its code.
WString DescribeFailure(HRESULT hr) {
  std::shared_ptr<ErrorInfo> info;
  if (GetErrorInfo(0, &info) == S_OK && info && !info->description.empty()) return info->description;
  return _com_error(hr).ErrorMessage();
}

}  // namespace

CDepotData::CDepotData() = default;

CDepotData::~CDepotData() {
  // Errors of the close are the caller's (CloseDBConnection); a destructor must not throw.
  try {
    CloseDBConnection();
  } catch (...) {
  }
}

bool CDepotData::IsConnected() const {
  return connection_ && connection_->ptr && connection_->ptr->State() != ADODB::adStateClosed;
}

bool CDepotData::ConnectWith(const WString& connectionString) {
  VR_TRACE_FUNCTION("CDepotData::ConnectWith", kFile, kFlags);
  try {
    connection_.reset();
    auto c = std::make_unique<ado::Connection>();
    HRESULT hr = ADODB::CreateConnection(&c->ptr);
    if (SUCCEEDED(hr)) hr = c->ptr->Open(connectionString, u"", u"", ADODB::adConnectUnspecified);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("Cannot open connection");
      VR_TRACE_ERROR(DescribeFailure(hr));
      return false;
    }
    connection_ = std::move(c);
    return true;
  } catch (const _com_error& e) {
    VR_TRACE_ERROR(e.Description());
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
  }
  return false;
}

void CDepotData::CloseDBConnection() {
  if (!connection_ || !connection_->ptr) return;
  if (connection_->ptr->State() != ADODB::adStateClosed) {
    const HRESULT hr = connection_->ptr->Close();
    if (FAILED(hr)) _com_issue_error(hr);
  }
}

bool CDepotData::Execute(const char* function, const WString& sql, const std::vector<Variant>& bound,
                         const char16_t* column, size_t maxRows, Rows& rows) {
  VR_TRACE_FUNCTION("CDepotData::Execute", kFile, kFlags);
  try {
    VR_TRACE_INFO(function, ": SQL: ", ADODB::FormatForTrace(sql, bound));
    if (!connection_ || !connection_->ptr) {
      VR_TRACE_ERROR("Cannot execute SQL command");
      return false;
    }
    ADODB::RecordsetPtr rs;
    if (FAILED(ADODB::CreateRecordset(&rs)) || !rs) {
      VR_TRACE_ERROR("Cannot create Recordset instance");
      return false;
    }
    rs->PutCursorLocation(ADODB::adUseClient);
    HRESULT hr = rs->Open(sql, bound, connection_->ptr, ADODB::adOpenForwardOnly, ADODB::adLockReadOnly,
                          ADODB::adCmdText);
    if (FAILED(hr)) {
      VR_TRACE_ERROR("Cannot execute SQL command");
      VR_TRACE_ERROR(DescribeFailure(hr));
      return false;
    }
    bool ok = true;
    if (rs->State() != ADODB::adStateClosed) {
      rows.any = !rs->EndOfFile();
      if (column && rows.any) {
        hr = rs->MoveFirst();
        while (SUCCEEDED(hr) && !rs->EndOfFile() && (maxRows == 0 || rows.column.size() < maxRows)) {
          WString text;
          hr = rs->GetText(column, &text);
          if (FAILED(hr)) break;
          rows.column.push_back(text);
          hr = rs->MoveNext();
        }
        if (FAILED(hr)) {
          VR_TRACE_ERROR(DescribeFailure(hr));
          ok = false;
        }
      }
      rs->Close();
    }
    return ok;
  } catch (const _com_error& e) {
    VR_TRACE_ERROR(e.Description());
  } catch (...) {
    VR_TRACE_ERROR("Unspecified error occured");
  }
  return false;
}

bool CDepotData::Exists(const char* function, const WString& sql, const std::vector<Variant>& bound,
                        const char* foundTrace, const char* notFoundTrace, bool& found) {
  VR_TRACE_FUNCTION("CDepotData::Exists", kFile, kFlags);
  Rows rows;
  if (!Execute(function, sql, bound, nullptr, 0, rows)) return false;
  found = rows.any;
  if (found && foundTrace) VR_TRACE_INFO(foundTrace);
  if (!found && notFoundTrace) VR_TRACE_INFO(notFoundTrace);
  return true;
}

bool CDepotData::GetDeplPackId(const WString& name, const WString& version, WString& id) {
  VR_TRACE_FUNCTION("CDepotData::GetDeplPackId", kFile, kFlags);
  Rows rows;
  if (!Execute("GetDeplPackId", u"SELECT * FROM VR_PM_DeplPack WHERE Name=? AND Version=?", {Text(name), Text(version)},
               u"DeplPackId", 1, rows))
    return false;
  if (rows.column.empty()) {
    VR_TRACE_ERROR("DeplPackId value not found");
    return false;
  }
  id = rows.column.front();
  VR_TRACE_INFO("DeplPackId value found ['", id, "']");
  return true;
}

bool CDepotData::CheckFunctionalityModule(const WString& policyType, const WString& id, const WString& systemType,
                                          const WString& osType, const WString& osVersion, bool& found) {
  VR_TRACE_FUNCTION("CDepotData::CheckFunctionalityModule", kFile, kFlags);
  return Exists("CheckFunctionalityModule",
                u"SELECT * FROM VR_PM_FunctionalityModule WHERE UPPER(PolTypeId)=UPPER(?) AND DeplPackId=? AND SystemType=? AND "
                u"OsType=? AND OsVersion=?",
                {Text(policyType), Number(id), Number(systemType), Number(osType), Text(osVersion)}, nullptr, "Record not found", found);
}

bool CDepotData::IsPackageInstalled(const WString& id, bool& found) {
  VR_TRACE_FUNCTION("CDepotData::IsPackageInstalled", kFile, kFlags);
  return Exists("IsPackageInstalled", u"SELECT * FROM VR_PM_DeplPack WHERE DeplPackId=?", {Number(id)},
                "Package is installed", "Package is not installed", found);
}

bool CDepotData::IsPackageDeployed(const WString& id, bool& found) {
  VR_TRACE_FUNCTION("CDepotData::IsPackageDeployed", kFile, kFlags);
  return Exists("IsPackageDeployed", u"SELECT * FROM VR_PM_InstalledDeplPack WHERE DeplPackId=?", {Number(id)},
                "Package is deployed", "Package is not deployed", found);
}

bool CDepotData::GetDeployedNodeNames(const WString& id, std::vector<WString>& nodes) {
  VR_TRACE_FUNCTION("CDepotData::GetDeployedNodeNames", kFile, kFlags);
  Rows rows;
  if (!Execute("GetDeployedNodeNames", u"SELECT * FROM VR_PM_InstalledDeplPack WHERE DeplPackId=?", {Number(id)},
               u"SystemId", 0, rows))
    return false;
  if (rows.column.empty()) VR_TRACE_INFO("Package is not deployed");
  for (const auto& node : rows.column) {
    VR_TRACE_INFO("Package is deployed on node: ", node);
    nodes.push_back(node);
  }
  return true;
}

bool CDepotData::HasPackageDependency(const WString& id, bool& found) {
  VR_TRACE_FUNCTION("CDepotData::HasPackageDependency", kFile, kFlags);
  return Exists("HasPackageDependency", u"SELECT * FROM VR_PM_FunctionalityModule WHERE DeplPackId=?", {Number(id)},
                "Package has dependency", "Package has no dependency", found);
}

bool CDepotData::HasPackageDependency(const WString& id, const WString& systemType, const WString& osType,
                                      bool& found) {
  VR_TRACE_FUNCTION("CDepotData::HasPackageDependency", kFile, kFlags);
  return Exists("HasPackageDependency",
                u"SELECT * FROM VR_PM_FunctionalityModule WHERE DeplPackId=? AND SystemType=? AND OsType=?",
                {Number(id), Number(systemType), Number(osType)}, "Package has dependency", "Package has no dependency", found);
}

bool CDepotData::HasPackageDependency(const WString& policyType, const WString& id, const WString& systemType,
                                      const WString& osType, bool& found) {
  VR_TRACE_FUNCTION("CDepotData::HasPackageDependency", kFile, kFlags);
  return Exists("HasPackageDependency",
                u"SELECT * FROM VR_PM_FunctionalityModule WHERE DeplPackId=? AND SystemType=? AND OsType=? AND "
                u"UPPER(PolTypeId)=UPPER(?)",
                {Number(id), Number(systemType), Number(osType), Text(policyType)}, "Package has dependency", "Package has no dependency", found);
}

bool CDepotData::RemovePackageFromDEPOT(const WString& logicalId, const WString& name, const WString& version) {
  VR_TRACE_FUNCTION("CDepotData::RemovePackageFromDEPOT", kFile, kFlags);
  Rows rows;
  return Execute("RemovePackageFromDEPOT", u"DELETE FROM VR_PM_DeplPack WHERE LogicalId=? AND Name=? AND Version=?",
                 {Text(logicalId), Text(name), Text(version)}, nullptr, 0, rows);
}

bool CDepotData::RemovePackageFromDEPOT(const WString& id, WString& message) {
  VR_TRACE_FUNCTION("CDepotData::RemovePackageFromDEPOT", kFile, kFlags);
  VR_TRACE_INFO("Removing deployed package");
  bool found = false;
  if (!IsPackageInstalled(id, found)) return false;
  if (!found) {
    PKG_TRACE_WARNING("Package not registered and cannot be removed");
    message = u"Package not registered and cannot be removed [DeplPackId='" + id + u"']";
    return true;
  }
  Rows rows;
  if (!Execute("RemovePackageFromDEPOT", u"DELETE FROM VR_PM_DeplPack WHERE DeplPackId=?", {Number(id)}, nullptr, 0, rows))
    return false;
  VR_TRACE_INFO("Package removed");
  message = u"Package removed [DeplPackId='" + id + u"']";
  return true;
}

bool CDepotData::RemovePackageFromDEPOT(const WString& policyType, const WString& id, const WString& systemType,
                                        const WString& osType, const WString& osVersion, WString& message) {
  VR_TRACE_FUNCTION("CDepotData::RemovePackageFromDEPOT", kFile, kFlags);
  const WString fields = u"[PolTypeId='" + policyType + u"', DeplPackId='" + id + u"', SystemType='" + systemType +
                         u"', OsType='" + osType + u"']";
  bool found = false;
  if (!HasPackageDependency(policyType, id, systemType, osType, found)) return false;
  if (!found) {
    PKG_TRACE_WARNING("Functionality module not registered and cannot be removed");
    message = u"Functionality module not registered and cannot be removed " + fields;
    return true;
  }
  Rows rows;
  if (!Execute("RemovePackageFromDEPOT",
               u"DELETE FROM VR_PM_FunctionalityModule WHERE UPPER(PolTypeId)=UPPER(?) AND DeplPackId=? AND SystemType=? AND "
               u"OsType=? AND OsVersion=?",
               {Text(policyType), Number(id), Number(systemType), Number(osType), Text(osVersion)}, nullptr, 0, rows))
    return false;
  VR_TRACE_INFO("Dependency removed");
  message = u"Functionality module removed " + fields;
  return true;
}

bool CDepotData::RemoveDependencyFromDEPOT(const WString& id, const WString& systemType, const WString& osType,
                                           WString& message) {
  VR_TRACE_FUNCTION("CDepotData::RemoveDependencyFromDEPOT", kFile, kFlags);
  const WString fields = u"[DeplPackId='" + id + u"', SystemType='" + systemType + u"', OsType='" + osType + u"']";
  bool found = false;
  if (!HasPackageDependency(id, systemType, osType, found)) return false;
  if (!found) {
    PKG_TRACE_WARNING("Functionality module not registered and cannot be removed");
    message = u"Functionality modules not registered and cannot be removed " + fields;
    return true;
  }
  Rows rows;
  if (!Execute("RemoveDependencyFromDEPOT",
               u"DELETE FROM VR_PM_FunctionalityModule WHERE DeplPackId=? AND SystemType=? AND OsType=?",
               {Number(id), Number(systemType), Number(osType)}, nullptr, 0, rows))
    return false;
  VR_TRACE_INFO("Dependency removed");
  message = u"Functionality modules removed " + fields;
  return true;
}

bool CDepotData::UpdateLogicalId() {
  VR_TRACE_FUNCTION("CDepotData::UpdateLogicalId", kFile, kFlags);
  VR_TRACE_INFO("Updating LogicalId in VR_PM_DeplPack table");
  Rows rows;
  if (!Execute("UpdateLogicalId", u"UPDATE VR_PM_DeplPack SET LogicalId=? WHERE LogicalId=?",
               {Text(kLogicalIdUpper), Text(kLogicalIdMixed)}, nullptr, 0, rows))
    return false;
  VR_TRACE_INFO("LogicalId successfully updated");
  return true;
}

bool CDepotData::BeginTransaction() {
  VR_TRACE_FUNCTION("CDepotData::BeginTransaction", kFile, kFlags);
  if (!connection_ || !connection_->ptr) return false;
  const HRESULT hr = connection_->ptr->BeginTrans();
  if (FAILED(hr)) VR_TRACE_ERROR("Cannot begin a transaction: ", DescribeFailure(hr));
  return SUCCEEDED(hr);
}

bool CDepotData::CommitTransaction() {
  VR_TRACE_FUNCTION("CDepotData::CommitTransaction", kFile, kFlags);
  if (!connection_ || !connection_->ptr) return false;
  const HRESULT hr = connection_->ptr->CommitTrans();
  if (FAILED(hr)) {
    VR_TRACE_ERROR("Cannot commit the transaction: ", DescribeFailure(hr));
    if (connection_->ptr->InTransaction()) connection_->ptr->RollbackTrans();
  }
  return SUCCEEDED(hr);
}

void CDepotData::RollbackTransaction() {
  VR_TRACE_FUNCTION("CDepotData::RollbackTransaction", kFile, kFlags);
  if (connection_ && connection_->ptr && connection_->ptr->InTransaction()) {
    const HRESULT hr = connection_->ptr->RollbackTrans();
    if (FAILED(hr)) VR_TRACE_ERROR("Cannot roll back the transaction: ", DescribeFailure(hr));
  }
}
