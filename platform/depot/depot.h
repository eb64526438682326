// The Depot component: the management server's deployment service for agent packages and
// the policy types they serve. A COM server on the product's home platform; here a class
// served in process, created with
//
//   std::shared_ptr<IUnknown> unknown;
//   HRESULT hr = CoCreateInstance(CLSID_VrDepotServer, nullptr, CLSCTX_ALL, IID_IVrDepotServer, &unknown);
//   auto depot = std::dynamic_pointer_cast<IVrDepotServer>(unknown);
//   hr = depot->Connect();
//
// It keeps its data in the Depot database, over a connection of its own (ADO through the ODBC
// provider) to the data source that the registry names under
// HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\VREnterprise\Management Server\DBAccess ("Source",
// "User", and "Password" enciphered, read through CVrEpDBCrypt).
//
// Tables it reads and writes: VR_PM_DeplPack (packages), VR_PM_PolicyType (policy types),
// VR_PM_FunctionalityModule (which policy type a package serves on which platform). A new
// package gets the DeplPackId one above the largest number in use ("1" for the first), so that
// registering and unregistering a package leaves the database as it was; ids that deployment
// rows (VR_PM_InstalledDeplPack) or modules still name count as in use.
//
// Every method returns an HRESULT; a failure leaves an ErrorInfo whose description says what
// failed (GetErrorInfo), as the component does for its callers' error messages.
//
// Fault points (VR_FAULTS), each failing with the given HRESULT (0: E_FAIL; a positive Win32
// error number e: HRESULT_FROM_WIN32(e)):
//   depot.Connect, depot.GetPackage, depot.RegisterPackage, depot.GetPolicyType,
//   depot.AddFunctionalityModule, depot.CommitTransaction
// and, below them, the ado.* points of its database connection.
//
// Folder platform/depot, library vr_depot: host layer of the Depot component and its database
// set-up; uses platform/ado, crypto, registry, os, com, text and fault. Its subfolder testing/
// (vr_depot_testing) serves tests only.
#pragma once
#include <memory>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/text/wstring.h"

// FE00CAD1-A95A-11D2-90D8-080009EE5E69
extern const CLSID CLSID_VrDepotServer;
// 4DA55FA5-B905-4042-8D40-ACC23F5CF705
extern const IID IID_IVrDepotServer;

// Results of the component besides those of the database layer (FACILITY_ITF).
constexpr HRESULT DEPOT_E_NOTCONNECTED = MakeHr(0x80040301);         // call before Connect succeeded
constexpr HRESULT DEPOT_E_POLICYTYPENOTFOUND = MakeHr(0x80040302);   // GetPolicyType of an unknown id
constexpr HRESULT DEPOT_E_PACKAGEEXISTS = MakeHr(0x80040303);        // RegisterPackage of a known name and version
constexpr HRESULT DEPOT_E_MODULEEXISTS = MakeHr(0x80040304);         // AddFunctionalityModule of a known module
constexpr HRESULT DEPOT_E_INVALIDARG = MakeHr(0x80040305);           // an empty name, version or id
constexpr HRESULT DEPOT_E_NOCONFIGURATION = MakeHr(0x80040306);      // DBAccess values missing or unreadable

// A registered package.
class IVrDepotPackage : public IUnknown {
 public:
  virtual HRESULT GetDeplPackId(WString* id) = 0;
  virtual HRESULT GetName(WString* name) = 0;
  virtual HRESULT GetVersion(WString* version) = 0;
  virtual HRESULT GetLogicalId(WString* logicalId) = 0;
};

// A policy type of the server.
class IVrDepotPolicyType : public IUnknown {
 public:
  virtual HRESULT GetPolTypeId(WString* id) = 0;
  virtual HRESULT GetName(WString* name) = 0;
  // Records that the package serves this policy type on the platform (system type, OS type,
  // OS version). moduleId is the kind of module (a GUID text, kept as given); location is where
  // the module is served from ("local" for this server). DEPOT_E_MODULEEXISTS when the row is
  // there already; E_POINTER without a package.
  virtual HRESULT AddFunctionalityModule(LONG systemType, LONG osType, WStringView osVersion, WStringView moduleId,
                                         WStringView location, const std::shared_ptr<IVrDepotPackage>& package) = 0;
};

class IVrDepotServer : public IUnknown {
 public:
  // Opens the component's connection to the Depot database; a second call reconnects.
  virtual HRESULT Connect() = 0;
  virtual HRESULT IsConnected(VARIANT_BOOL* connected) = 0;
  virtual HRESULT Disconnect() = 0;

  // S_OK with the package, or S_FALSE with an empty pointer when no package has that name and
  // version.
  virtual HRESULT GetPackage(WStringView name, WStringView version, std::shared_ptr<IVrDepotPackage>* package) = 0;
  // Adds a package; location is where it is served from ("local"). DEPOT_E_PACKAGEEXISTS when
  // the name and version are registered already.
  virtual HRESULT RegisterPackage(WStringView logicalId, WStringView name, WStringView version, WStringView deployerId,
                                  WStringView location, WStringView description,
                                  std::shared_ptr<IVrDepotPackage>* package) = 0;
  // DEPOT_E_POLICYTYPENOTFOUND when the server has no policy type with that id.
  virtual HRESULT GetPolicyType(WStringView polTypeId, std::shared_ptr<IVrDepotPolicyType>* policyType) = 0;

  // Groups the additions that follow into one transaction of the component's connection, so
  // that many of them reach the database in one commit, or none of them. Without one every
  // addition commits on its own. A second BeginTransaction fails; Disconnect rolls back.
  virtual HRESULT BeginTransaction() = 0;
  virtual HRESULT CommitTransaction() = 0;
  virtual HRESULT RollbackTransaction() = 0;
};
