// The low layer of the platform model updater: the connection to the product namespace, the
// class VR_ManagedNode, the check that the four model classes exist, and the reading of the
// paired Values / ValueMap array qualifiers of a property. Every operation reports a failure
// as one catalogue message appended to the caller's error text and, as a line, to the
// platform log; none keeps state between calls.
#pragma once
#include <memory>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"
#include "platform/wmi/wbemcli.h"

class VrLogFile;

namespace PlatformOperations {

// The namespace that holds the platform model.
inline constexpr const char16_t* kVorantNamespace = u"\\\\.\\root\\Tamberlin\\Vorant\\data";

// Appends a message to the error text and, as a line, to the platform log.
void ReportMessage(const WString& message, WString& error, VrLogFile& log);

// An HRESULT as the messages show it: "0x%08X".
WString HrText(HRESULT hr);

// The COM apartment of one platform-section call: CoUninitialize only when the initialisation
// succeeded.
class ComScope {
 public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_ = false;
};

// Connects to the product namespace. services must be empty; any failure gives E_FAIL and is
// only traced (the caller reports it).
HRESULT ConnectToWmi(std::shared_ptr<IWbemServices>* services);

// Checks that VR_ManagedNode, VR_PlatformMatch, VR_NodeGroup and VR_NodeGroupMember exist
// (message 3032 naming the first that does not).
HRESULT CheckIfWMIModelIsValid(IWbemServices* services, WString& error, VrLogFile& log);

// Reads one array-of-strings qualifier of a property. A missing qualifier with allowMissing
// set gives S_FALSE and leaves the vector as it was; out is replaced only on S_OK.
HRESULT GetQualifierVector(IWbemQualifierSet* qualifiers, const WString& property, const WString& qualifier,
                           std::vector<WString>& out, WString& error, VrLogFile& log, bool allowMissing);

// Reads Values and ValueMap of a property of the class; both must have the same length. On
// success hands out the property's qualifier set and both vectors.
HRESULT LoadValuesAndValueMap(IWbemClassObject* nodeClass, const WString& property,
                              std::shared_ptr<IWbemQualifierSet>& qualifiers, std::vector<WString>& values,
                              std::vector<WString>& valueMap, WString& error, VrLogFile& log);

namespace PlatformModelOperations {

// Gets the class VR_ManagedNode (message 3017 on failure).
HRESULT GetClassObjectT(IWbemServices* services, std::shared_ptr<IWbemClassObject>& nodeClass, WString& error,
                        VrLogFile& log);

}  // namespace PlatformModelOperations
}  // namespace PlatformOperations
