// IWbemLocator, IWbemServices and IEnumWbemClassObject over the repository.
#pragma once
#include <deque>
#include <memory>

#include "platform/wmi/repository.h"
#include "platform/wmi/wbem_object.h"

namespace vr::wmi {

class Services final : public IWbemServices {
 public:
  Services(std::shared_ptr<Repository> repo, NamespaceInfo ns) : repo_(std::move(repo)), ns_(std::move(ns)) {}

  HRESULT GetObject(const WChar* objectPath, long flags, IWbemContext* context,
                    std::shared_ptr<IWbemClassObject>* object, std::shared_ptr<IWbemCallResult>* callResult) override;
  HRESULT PutClass(IWbemClassObject* object, long flags, IWbemContext* context,
                   std::shared_ptr<IWbemCallResult>* callResult) override;
  HRESULT DeleteClass(const WChar* className, long flags, IWbemContext* context,
                      std::shared_ptr<IWbemCallResult>* callResult) override;
  HRESULT CreateClassEnum(const WChar* superclass, long flags, IWbemContext* context,
                          std::shared_ptr<IEnumWbemClassObject>* enumerator) override;
  HRESULT PutInstance(IWbemClassObject* instance, long flags, IWbemContext* context,
                      std::shared_ptr<IWbemCallResult>* callResult) override;
  HRESULT DeleteInstance(const WChar* objectPath, long flags, IWbemContext* context,
                         std::shared_ptr<IWbemCallResult>* callResult) override;
  HRESULT CreateInstanceEnum(const WChar* className, long flags, IWbemContext* context,
                             std::shared_ptr<IEnumWbemClassObject>* enumerator) override;
  HRESULT ExecQuery(const WChar* queryLanguage, const WChar* query, long flags, IWbemContext* context,
                    std::shared_ptr<IEnumWbemClassObject>* enumerator) override;

  const NamespaceInfo& nameSpace() const { return ns_; }

 private:
  std::shared_ptr<Repository> repo_;
  NamespaceInfo ns_;
};

class Locator final : public IWbemLocator {
 public:
  HRESULT ConnectServer(const WChar* networkResource, const WChar* user, const WChar* password,
                        const WChar* locale, long securityFlags, const WChar* authority, IWbemContext* context,
                        std::shared_ptr<IWbemServices>* services) override;
};

}  // namespace vr::wmi
