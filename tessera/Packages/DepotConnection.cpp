// The Depot component behind the package section's DepotConnection.
#include "tessera/Packages/DepotConnection.h"

#include "platform/com/runtime.h"
#include "platform/depot/depot.h"

namespace vr::pkg {
namespace {

struct PackageObject : DepotObject {
  std::shared_ptr<IVrDepotPackage> package;
};
struct PolicyTypeObject : DepotObject {
  std::shared_ptr<IVrDepotPolicyType> policyType;
};

class ComponentConnection final : public DepotConnection {
 public:
  explicit ComponentConnection(std::shared_ptr<IVrDepotServer> server) : server_(std::move(server)) {}
  ~ComponentConnection() override {
    if (server_) server_->Disconnect();
  }
  HRESULT Connect() override { return server_->Connect(); }
  HRESULT IsConnected(bool& connected) override {
    VARIANT_BOOL state = VARIANT_FALSE;
    const HRESULT hr = server_->IsConnected(&state);
    connected = SUCCEEDED(hr) && state != VARIANT_FALSE;
    return hr;
  }
  HRESULT GetPackage(const WString& name, const WString& version, std::shared_ptr<DepotObject>& package) override {
    package.reset();
    std::shared_ptr<IVrDepotPackage> found;
    const HRESULT hr = server_->GetPackage(name, version, &found);
    if (SUCCEEDED(hr) && found) package = Wrap(std::move(found));
    return hr;
  }
  HRESULT RegisterPackage(const WString& logicalId, const WString& name, const WString& version,
                          const WString& deployerId, const WString& local, const WString& description,
                          std::shared_ptr<DepotObject>& package) override {
    package.reset();
    std::shared_ptr<IVrDepotPackage> added;
    const HRESULT hr = server_->RegisterPackage(logicalId, name, version, deployerId, local, description, &added);
    if (SUCCEEDED(hr) && added) package = Wrap(std::move(added));
    return hr;
  }
  HRESULT GetPolicyType(const WString& policyTypeId, std::shared_ptr<DepotObject>& policyType, bool& notFound,
                        WString& canonicalId) override {
    policyType.reset();
    canonicalId = policyTypeId;
    std::shared_ptr<IVrDepotPolicyType> found;
    const HRESULT hr = server_->GetPolicyType(policyTypeId, &found);
    notFound = hr == DEPOT_E_POLICYTYPENOTFOUND;
    if (SUCCEEDED(hr) && found) {
      WString id;
      if (SUCCEEDED(found->GetPolTypeId(&id)) && !id.empty()) canonicalId = id;
      auto object = std::make_shared<PolicyTypeObject>();
      object->policyType = std::move(found);
      policyType = std::move(object);
    }
    return hr;
  }
  HRESULT AddFunctionalityModule(DepotObject& policyType, long systemType, long osType, const WString& osVersion,
                                 const WString& moduleId, const WString& local, DepotObject& package) override {
    auto* type = dynamic_cast<PolicyTypeObject*>(&policyType);
    auto* pkg = dynamic_cast<PackageObject*>(&package);
    if (!type || !pkg) return E_POINTER;
    return type->policyType->AddFunctionalityModule(systemType, osType, osVersion, moduleId, local, pkg->package);
  }
  HRESULT BeginTransaction() override { return server_->BeginTransaction(); }
  HRESULT CommitTransaction() override { return server_->CommitTransaction(); }
  HRESULT RollbackTransaction() override { return server_->RollbackTransaction(); }
  HRESULT GetPackageId(DepotObject& package, WString& id) override {
    auto* pkg = dynamic_cast<PackageObject*>(&package);
    if (!pkg) return E_POINTER;
    return pkg->package->GetDeplPackId(&id);
  }

 private:
  static std::shared_ptr<DepotObject> Wrap(std::shared_ptr<IVrDepotPackage> p) {
    auto object = std::make_shared<PackageObject>();
    object->package = std::move(p);
    return object;
  }
  std::shared_ptr<IVrDepotServer> server_;
};

}  // namespace

HRESULT CreateDepotConnection(std::unique_ptr<DepotConnection>& connection) {
  std::shared_ptr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(CLSID_VrDepotServer, nullptr, CLSCTX_ALL, IID_IVrDepotServer, &unknown);
  auto server = std::dynamic_pointer_cast<IVrDepotServer>(unknown);
  if (SUCCEEDED(hr) && !server) hr = E_NOINTERFACE;
  if (FAILED(hr)) return hr;
  connection = std::make_unique<ComponentConnection>(std::move(server));
  return S_OK;
}

}  // namespace vr::pkg
