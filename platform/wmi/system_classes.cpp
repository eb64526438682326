#include "platform/wmi/system_classes.h"

#include <cstdlib>

#include "platform/text/casefold.h"
#include "platform/wmi/mof_reader.h"

namespace vr::wmi {
namespace {

constexpr const char16_t* kSystemMof = uR"(
class __SystemClass
{
};

[abstract]
class __NotifyStatus : __SystemClass
{
	uint32 StatusCode;
};

class __ExtendedStatus : __NotifyStatus
{
	string Description;
	string Operation;
	string ParameterInfo;
	string ProviderName;
};

class __NAMESPACE : __SystemClass
{
	[key] string Name;
};

[abstract]
class __Provider : __SystemClass
{
	[key] string Name;
};

class __Win32Provider : __Provider
{
	string CLSID;
	string ClientLoadableCLSID;
	string DefaultMachineName;
	boolean Enabled = TRUE;
	string HostingModel;
	sint32 ImpersonationLevel = 0;
	sint32 InitializationReentrancy = 0;
	datetime InitializationTimeoutInterval;
	boolean InitializeAsAdminFirst;
	datetime OperationTimeoutInterval;
	boolean PerLocaleInitialization = FALSE;
	boolean PerUserInitialization = FALSE;
	boolean Pure = TRUE;
	string SecurityDescriptor;
	boolean SupportsExplicitShutdown;
	boolean SupportsExtendedStatus;
	boolean SupportsQuotas;
	boolean SupportsSendStatus;
	boolean SupportsShutdown;
	boolean SupportsThrottling;
	datetime UnloadTimeout;
	uint32 Version;
};

[abstract]
class __ProviderRegistration : __SystemClass
{
	__Provider ref provider;
};

[abstract]
class __ObjectProviderRegistration : __ProviderRegistration
{
	sint32 InteractionType = 0;
	string QuerySupportLevels[];
	boolean SupportsBatching;
	boolean SupportsDelete = FALSE;
	boolean SupportsEnumeration = FALSE;
	boolean SupportsGet = FALSE;
	boolean SupportsPut = FALSE;
	boolean SupportsTransactions;
};

class __InstanceProviderRegistration : __ObjectProviderRegistration
{
	[key] __Provider ref provider;
};

class __MethodProviderRegistration : __ProviderRegistration
{
	[key] __Provider ref provider;
};

class __EventProviderRegistration : __ProviderRegistration
{
	[key] __Provider ref provider;
	string EventQueryList[];
};

class __EventConsumerProviderRegistration : __ProviderRegistration
{
	[key] __Provider ref provider;
	string ConsumerClassNames[];
};

[abstract]
class __IndicationRelated : __SystemClass
{
};

[abstract]
class __Event : __IndicationRelated
{
	uint8 SECURITY_DESCRIPTOR[];
	uint64 TIME_CREATED;
};

[abstract]
class __ExtrinsicEvent : __Event
{
};
)";

struct Registry {
  std::vector<std::shared_ptr<const ResolvedClass>> classes;
};

const Registry& Get() {
  static const Registry registry = [] {
    Registry r;
    MofDocument doc;
    MofError error;
    if (FAILED(ReadMof(kSystemMof, u"root", &doc, &error))) std::abort();
    for (const auto& s : doc.statements) {
      std::shared_ptr<const ResolvedClass> parent;
      for (const auto& c : r.classes)
        if (vr::text::EqualsNoCase(c->name, s.cls.superclass)) parent = c;
      std::shared_ptr<const ResolvedClass> resolved;
      if (FAILED(ResolveClass(s.cls, parent, &resolved, nullptr))) std::abort();
      r.classes.push_back(std::move(resolved));
    }
    return r;
  }();
  return registry;
}

}  // namespace

std::shared_ptr<const ResolvedClass> SystemClass(WStringView name) {
  if (name.size() < 2 || name[0] != u'_' || name[1] != u'_') return nullptr;
  for (const auto& c : Get().classes)
    if (vr::text::EqualsNoCase(c->name, name)) return c;
  return nullptr;
}

const std::vector<std::shared_ptr<const ResolvedClass>>& SystemClasses() { return Get().classes; }

}  // namespace vr::wmi
