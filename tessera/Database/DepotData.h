// CDepotData: the package section's direct SQL access to the Depot database, over one ADO
// connection through the ODBC provider. It offers the fixed queries and removals the package
// section needs on VR_PM_DeplPack, VR_PM_FunctionalityModule and VR_PM_InstalledDeplPack;
// additions go through the Depot component instead.
//
// Every value travels as a bound parameter: a name or id holding quotes, semicolons or "--"
// is stored and compared as it is and cannot change a statement. The trace shows each
// statement with its values in place.
//
// Every query returns true when the statement ran and false on a database failure (traced);
// existence answers come back in an out flag the caller sets to false first.
//
// Folder tessera/Database, library tessera_database: uses tessera_common, tessera_env and
// platform/ado, crypto, com and text.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/variant.h"
#include "platform/text/wstring.h"

namespace ado {
class Connection;
}

// Whole rows of the two tables the package section changes, every column as text, for the
// before-images of a run's record and their restore.
struct DepotPackageRow {
  WString id, name, version, logicalId, deployerId, location, description;
  bool operator==(const DepotPackageRow&) const = default;
};
struct DepotModuleRow {
  WString policyType, id, systemType, osType, osVersion, moduleTypeId, location;
  bool operator==(const DepotModuleRow&) const = default;
  bool operator<(const DepotModuleRow& o) const;
};

class CDepotData {
 public:
  // The identifier that older servers wrote with a lower-case f, and its upper-case form.
  static constexpr const char16_t* kLogicalIdUpper = u"790C06B4-844E-11D2-972B-080009EF8C2A";
  static constexpr const char16_t* kLogicalIdMixed = u"790C06B4-844E-11D2-972B-080009Ef8C2A";

  CDepotData();
  virtual ~CDepotData();
  CDepotData(const CDepotData&) = delete;
  CDepotData& operator=(const CDepotData&) = delete;

  // Reads "Source", "User" and the enciphered "Password" of the DBAccess key and opens the
  // connection. A password that cannot be obtained, or a value that cannot be read, throws
  // CApp_error (messages 20200, 20201, code -3000). False when the open failed.
  bool ConnectToDB();
  // Opens the connection with an ADO connection string; ConnectToDB builds it from the
  // registry. False when the open failed.
  bool ConnectWith(const WString& connectionString);
  // Closes an open connection.
  void CloseDBConnection();
  bool IsConnected() const;

  bool GetDeplPackId(const WString& name, const WString& version, WString& id);
  bool CheckFunctionalityModule(const WString& policyType, const WString& id, const WString& systemType,
                                const WString& osType, const WString& osVersion, bool& found);
  bool IsPackageInstalled(const WString& id, bool& found);
  bool IsPackageDeployed(const WString& id, bool& found);
  bool GetDeployedNodeNames(const WString& id, std::vector<WString>& nodes);
  bool HasPackageDependency(const WString& id, bool& found);
  bool HasPackageDependency(const WString& id, const WString& systemType, const WString& osType, bool& found);
  bool HasPackageDependency(const WString& policyType, const WString& id, const WString& systemType,
                            const WString& osType, bool& found);
  bool RemovePackageFromDEPOT(const WString& logicalId, const WString& name, const WString& version);
  bool RemovePackageFromDEPOT(const WString& id, WString& message);
  bool RemovePackageFromDEPOT(const WString& policyType, const WString& id, const WString& systemType,
                              const WString& osType, const WString& osVersion, WString& message);
  bool RemoveDependencyFromDEPOT(const WString& id, const WString& systemType, const WString& osType,
                                 WString& message);
  bool UpdateLogicalId();

  // Whole rows (DepotRows.cpp). ReadModuleRows with an id reads that package's modules only.
  bool ReadPackageRows(std::vector<DepotPackageRow>& rows);
  bool ReadModuleRows(const WString* id, std::vector<DepotModuleRow>& rows);
  bool ReadPolicyTypeIds(std::vector<WString>& ids);
  // Ids of the packages of that name and version (exactly).
  bool ReadPackageIds(const WString& name, const WString& version, std::vector<WString>& ids);
  bool InsertPackageRow(const DepotPackageRow& row);
  // Removes the packages with that id and every module of theirs.
  bool DeletePackageAndModules(const WString& id);
  bool InsertModuleRow(const DepotModuleRow& row);
  // Removes every module row equal to row in all columns (letter case included).
  bool DeleteModuleRow(const DepotModuleRow& row);
  bool SetLogicalId(const WString& id, const WString& logicalId);
  // The package row alone (its modules are the caller's concern).
  bool DeletePackageRow(const WString& id);
  // The ids that deployment rows name.
  bool ReadDeployedPackageIds(std::vector<WString>& ids);

  // One transaction over the removals that follow, so that they reach the database together
  // (one durable commit) or not at all. False when the call failed (traced).
  bool BeginTransaction();
  bool CommitTransaction();
  // Takes back every statement since BeginTransaction; nothing when none is open.
  void RollbackTransaction();

 private:
  // What one statement yields: whether it has a row, and the texts of one column of every row.
  struct Rows {
    bool any = false;
    std::vector<WString> column;
  };
  // Runs a statement with its values bound in order; column names the column to collect (or
  // none); maxRows stops collecting after that many rows (0: all).
  bool Execute(const char* function, const WString& sql, const std::vector<Variant>& values,
               const char16_t* column, size_t maxRows, Rows& rows);
  bool ExecuteTable(const char* function, const WString& sql, const std::vector<Variant>& values,
                    const std::vector<const char16_t*>& columns, std::vector<std::vector<WString>>& table);
  bool Exists(const char* function, const WString& sql, const std::vector<Variant>& values,
              const char* foundTrace, const char* notFoundTrace, bool& found);

  std::unique_ptr<ado::Connection> connection_;
};
