// The package section's view of the Depot component: the server object and the operations
// the registration uses, each returning an HRESULT and leaving the thread's error information
// on failure (GetDepotErrorMessage turns it into text).
#pragma once
#include <memory>

#include "platform/com/hresult.h"
#include "platform/text/wstring.h"

namespace vr::pkg {

// A package or policy type object of the component, opaque to the section.
struct DepotObject {
  virtual ~DepotObject() = default;
};

class DepotConnection {
 public:
  virtual ~DepotConnection() = default;
  virtual HRESULT Connect() = 0;
  virtual HRESULT IsConnected(bool& connected) = 0;
  // package stays empty when no package of that name and version is registered.
  virtual HRESULT GetPackage(const WString& name, const WString& version, std::shared_ptr<DepotObject>& package) = 0;
  virtual HRESULT RegisterPackage(const WString& logicalId, const WString& name, const WString& version,
                                  const WString& deployerId, const WString& local, const WString& description,
                                  std::shared_ptr<DepotObject>& package) = 0;
  // Fails when the policy type does not exist, with notFound set. Ids are compared without
  // regard to case; canonicalId receives the id as the Depot keeps it.
  virtual HRESULT GetPolicyType(const WString& policyTypeId, std::shared_ptr<DepotObject>& policyType,
                                bool& notFound, WString& canonicalId) = 0;
  virtual HRESULT AddFunctionalityModule(DepotObject& policyType, long systemType, long osType,
                                         const WString& osVersion, const WString& moduleId, const WString& local,
                                         DepotObject& package) = 0;
  // One transaction over the additions that follow (the component's own connection).
  virtual HRESULT BeginTransaction() = 0;
  virtual HRESULT CommitTransaction() = 0;
  virtual HRESULT RollbackTransaction() = 0;
  // The DeplPackId of a package object this connection handed out.
  virtual HRESULT GetPackageId(DepotObject& package, WString& id) = 0;
};

// Creates the component's server object; the HRESULT of the creation on failure.
HRESULT CreateDepotConnection(std::unique_ptr<DepotConnection>& connection);

}  // namespace vr::pkg

// The description of the thread's current COM error information, empty when there is none.
WString GetDepotErrorMessage();
