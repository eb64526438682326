#include "wbem/WbemUtils.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/os/lasterror.h"
#include "platform/os/message.h"
#include "platform/com/runtime.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "wbem/ConsoleText.h"
#include "wbem/HresultNames.h"

#ifdef WBEM_UTILS_NAME_WBEM_S_FALSE
constexpr bool kNameWbemSFalse = true;
#else
constexpr bool kNameWbemSFalse = false;
#endif

const WChar* const kWbemNamespacePath = u"\\\\.\\root\\Tamberlin\\Vorant\\data";

namespace {

void Print(std::FILE* stream, const std::string& text) { WriteConsoleText(stream, text); }

template <class... A>
void PrintError(const char* format, const A&... args) {
  Print(stderr, vr::text::FormatA(format, args...));
}

// The system's text of a message number, or empty when it has none.
WString SystemText(DWORD id) {
  WChar* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, id, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<WChar*>(&text), 0, nullptr);
  WString r = (n && text) ? WString(text, n) : WString();
  if (text) LocalFree(text);
  return r;
}

WString StringProperty(IWbemClassObject* obj, const WChar* name) {
  Variant v;
  if (FAILED(obj->Get(name, 0, &v, nullptr, nullptr)) || v.vt != VT_BSTR) return WString();
  WString r = v.bstrVal;
  VariantClear(&v);
  return r;
}

}  // namespace

FunctionContextT::~FunctionContextT() {
  if (std::uncaught_exceptions() > exceptionsAtEntry_)
    PrintError("\nERROR: An unexpected exception was thrown from function %s\n  somewhere after line %u in file %s.\n",
               function, line, unit);
}

void ReportErrorList(const char* unit, unsigned line, const char* format,
                     std::initializer_list<vr::text::FormatArg> args) {
  PrintError("\nERROR: In %s line %u:\n", unit, line);
  Print(stderr, vr::text::FormatListA(format, args));
}

const char* GetHresultName(HRESULT hr) {
  if (const char* name = LookupHresultName(hr, kNameWbemSFalse)) return name;
  static char buffer[64];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

HRESULT InitializeWbem(std::shared_ptr<IWbemServices>* services) {
  if (!services) {
    ReportError(WBEM_UNIT, __LINE__,
                "  The pointer passed to InitializeWbem() must not be NULL,\n  because it has to receive the IWbemServices "
                "pointer created by\n  the InitializeWbem() function.\n");
    return E_POINTER;
  }
  if (*services) {
    ReportError(WBEM_UNIT, __LINE__,
                "  Dereferencing the pointer passed to InitializeWbem()\n  should be NULL (that is, *ppWS should be NULL).  "
                "If it is not\n  NULL, then there could be a memory leak in the calling function.\n");
    return E_POINTER;
  }
  std::shared_ptr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_ALL, IID_IWbemLocator, &unknown);
  std::shared_ptr<IWbemLocator> locator = std::dynamic_pointer_cast<IWbemLocator>(unknown);
  if (SUCCEEDED(hr) && !locator) hr = E_NOINTERFACE;
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  CoCreateInstance(CLSID_WbemLocator) failed.\n    hr = 0x%08x (%s)\n",
                static_cast<unsigned>(hr), GetHresultName(hr));
    return hr;
  }
  std::shared_ptr<IWbemServices> connection;
  hr = locator->ConnectServer(CBstr(kWbemNamespacePath).get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                              &connection);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__,
                "  IWbemLocator::ConnectServer() failed.\n    strNetworkResource: %S\n    hr = 0x%08x (%s)\n",
                kWbemNamespacePath, static_cast<unsigned>(hr), GetHresultName(hr));
    locator.reset();
    return hr;
  }
  hr = CoSetProxyBlanket(connection.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  CoSetProxyBlanket() of IWbemServices pointer failed.\n    hr = 0x%08x (%s)\n",
                static_cast<unsigned>(hr), GetHresultName(hr));
    connection.reset();
    locator.reset();
    return hr;
  }
  *services = std::move(connection);
  locator.reset();
  return S_OK;
}

void ClearCallErrorState() {
  errno = 0;
  SetLastError(0);
}

void ReportExtendedErrorInfo(HRESULT hr) {
  if (!FAILED(hr)) return;
  // Taken before anything is printed: printing may change them.
  const int savedErrno = errno;
  const DWORD lastError = GetLastError();
  std::shared_ptr<ErrorInfo> info;
  const HRESULT infoResult = GetErrorInfo(0, &info);

  PrintError("\n* * *\n\nThe following extended error information is intended to augment the\n"
             "fundamental error message that appears above.\n\n");
  bool printed = false;
  if (savedErrno != 0) {
    PrintError("errno:\n\n   Standard C function calls can set \"errno\" if a problem occurs.\n"
               "   \"errno\" is currently set.  Its value and meaning is:\n\n      errno = %d %s\n\n",
               savedErrno, std::strerror(savedErrno));
    printed = true;
  }
  if (lastError != 0) {
    const WString text = SystemText(lastError);
    if (!text.empty()) {
      PrintError("GetLastError():\n\n   Windows function calls may set the last error value on a per thread\n"
                 "   basis when an error occurs.  GetLastError() is currently set to\n"
                 "   %d, which has the following meaning:\n\n     %S\n\n",
                 static_cast<int>(lastError), text);
      printed = true;
    }
  }
  {
    const WString text = SystemText(static_cast<DWORD>(hr));
    if (!text.empty()) {
      PrintError("HRESULT:\n\n   Calls to COM functions return HRESULTs, which are used to indicate\n"
                 "   if the COM function completed successfully.  An HRESULT indicating\n"
                 "   unsuccessful completion has been returned.  Its value and meaning is:\n\n"
                 "     hr = 0x%08X  %s\n\n     %S\n\n",
                 static_cast<unsigned>(hr), GetHresultName(hr), text);
      printed = true;
    }
  }
  if (SUCCEEDED(infoResult) && info) {
    std::shared_ptr<IWbemClassObject> wmiObject = std::dynamic_pointer_cast<IWbemClassObject>(info->object);
    if (!wmiObject) {
      const GUID& g = info->guid;
      PrintError("IErrorInfo:\n\n   Calls to COM functions may return error information in an\n"
                 "   IErrorInfo object.  An IErrorInfo object has been created.\n"
                 "   The values of it has returned are:\n\n"
                 "     Description  : %S\n"
                 "     GUID         : %08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X\n"
                 "     HelpContext  : 0x%08X or %d\n"
                 "     HelpFile     : %S\n"
                 "     Source       : %S\n\n",
                 info->description, static_cast<unsigned>(g.Data1), static_cast<unsigned>(g.Data2),
                 static_cast<unsigned>(g.Data3), static_cast<unsigned>(g.Data4[0]), static_cast<unsigned>(g.Data4[1]),
                 static_cast<unsigned>(g.Data4[2]), static_cast<unsigned>(g.Data4[3]), static_cast<unsigned>(g.Data4[4]),
                 static_cast<unsigned>(g.Data4[5]), static_cast<unsigned>(g.Data4[6]), static_cast<unsigned>(g.Data4[7]),
                 static_cast<unsigned>(info->helpContext), static_cast<int>(info->helpContext), info->helpFile,
                 info->source);
      printed = true;
    } else {
      Variant cls;
      if (SUCCEEDED(wmiObject->Get(u"__CLASS", 0, &cls, nullptr, nullptr)) && cls.vt == VT_BSTR &&
          vr::text::EqualsNoCase(cls.bstrVal, u"__ExtendedStatus")) {
        const WString description = StringProperty(wmiObject.get(), u"Description");
        const WString operation = StringProperty(wmiObject.get(), u"Operation");
        const WString parameterInfo = StringProperty(wmiObject.get(), u"ParameterInfo");
        const WString providerName = StringProperty(wmiObject.get(), u"ProviderName");
        PrintError("WBEM __ExtendedStatus:\n\n   Calls to WBEM COM functions may return __ExtendedStatus information\n"
                   "   when errors occur.  An __ExtendedStatus object has been created.\n"
                   "   The values of its properties are:\n\n"
                   "     Description  : %S\n"
                   "     Operation    : %S\n"
                   "     ParameterInfo: %S\n"
                   "     ProviderName : %S\n\n",
                   description, operation, parameterInfo, providerName);
        printed = true;
      }
      VariantClear(&cls);
      wmiObject.reset();
    }
  }
  if (!printed) PrintError("   Could not locate any additional error information.\n");
  PrintError("\n\n* * *\n");
  info.reset();
}
