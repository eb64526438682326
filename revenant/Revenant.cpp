#include "revenant/Revenant.h"

#include <cstdio>
#include <exception>
#include <memory>

#include "platform/com/runtime.h"
#include "platform/os/run_lock.h"
#include "platform/text/format.h"
#include "wbem/WbemUtils.h"

namespace {

// RPC_C_AUTHN_LEVEL_NONE: no authentication of calls into this process.
constexpr DWORD kAuthnLevelNone = 1;
// Each wait for the next registration is bounded by five minutes.
constexpr long kNextTimeoutMs = 300000;
// The exit code of a run that cannot have the host's run lock, the same for every program of
// the host.
constexpr int kExitRunLockUnavailable = 100;

void Out(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// A restoration that ends on a success code other than S_OK did not write every registration
// back: it is a failure, and the extended report needs a failure code for it.
HRESULT AsFailure(HRESULT hr) {
  if (FAILED(hr)) return hr;
  return hr == WBEM_S_TIMEDOUT ? HRESULT_FROM_WIN32(ERROR_TIMEOUT) : WBEM_E_FAILED;
}

}  // namespace

HRESULT RestoreEventProviders(IWbemServices* services) {
  FunctionContextT context(WBEM_UNIT, __LINE__, "RestoreEventProviders()");
  Out("\nStarting to restore event providers\n\n");

  context.line = __LINE__;
  std::shared_ptr<IEnumWbemClassObject> registrations;
  HRESULT hr = services->CreateInstanceEnum(CBstr(u"__EventProviderRegistration").get(), WBEM_FLAG_FORWARD_ONLY,
                                            nullptr, &registrations);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  IWbemServices::CreateInstanceEnum(...) failed.\n    hr = 0x%08X  %s\n",
                static_cast<unsigned>(hr), GetHresultName(hr));
    return hr;
  }

  while (true) {
    context.line = __LINE__;
    std::shared_ptr<IWbemClassObject> registration;
    ULONG returned = 0;
    hr = registrations->Next(kNextTimeoutMs, 1, &registration, &returned);
    if (hr == WBEM_S_FALSE && returned == 0) {
      Out("\nCompleted restoring providers.\n");
      return S_OK;
    }
    if (hr != S_OK || returned != 1) {
      ReportError(WBEM_UNIT, __LINE__, "  IEnumWbemClassObject::Next(...) failed.\n    hr = 0x%08X  %s\n",
                  static_cast<unsigned>(hr), GetHresultName(hr));
      // S_OK without an object is as much a broken enumeration as any other code.
      return hr == S_OK ? WBEM_E_FAILED : hr;
    }

    context.line = __LINE__;
    Variant provider;
    hr = registration->Get(u"provider", 0, &provider, nullptr, nullptr);
    if (FAILED(hr)) {
      ReportError(WBEM_UNIT, __LINE__, "  IEnumWbemClassObject::Next(...) failed.\n    hr = 0x%08X  %s\n",
                  static_cast<unsigned>(hr), GetHresultName(hr));
      return hr;
    }
    Out(vr::text::FormatA("Restoring: %S\n", provider.vt == VT_BSTR ? provider.bstrVal : WString()));

    context.line = __LINE__;
    hr = services->PutInstance(registration.get(), WBEM_FLAG_UPDATE_ONLY, nullptr, nullptr);
    if (FAILED(hr)) {
      ReportError(WBEM_UNIT, __LINE__, "  IWbemServices::PutInstance(...) failed.\n    hr = 0x%08X  %s\n",
                  static_cast<unsigned>(hr), GetHresultName(hr));
      return hr;
    }
    VariantClear(&provider);
    registration.reset();
  }
}

int ComMain() {
  FunctionContextT context(WBEM_UNIT, __LINE__, "ComMain()");
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  CoInitializeEx(0, COINIT_APARTMENTTHREADED) failed.\n    hr = 0x%08X  %s\n",
                static_cast<unsigned>(hr), GetHresultName(hr));
    return 1;
  }

  context.line = __LINE__;
  std::shared_ptr<IWbemServices> services;
  hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, kAuthnLevelNone, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                            EOAC_NONE, nullptr);
  if (FAILED(hr)) {
    ReportError(WBEM_UNIT, __LINE__, "  CoInitializeSecurity(...) failed.\n    hr = 0x%08X  %s\n",
                static_cast<unsigned>(hr), GetHresultName(hr));
  }
  // One program at a time changes the host: wait for a registration or qualifier update. A
  // lock that cannot be had ends the run with the host's one exit code for it.
  std::unique_ptr<vr::os::RunLock> runLock;
  bool lockUnavailable = false;
  if (SUCCEEDED(hr)) {
    std::string lockFile;
    long timeoutMs = 0;
    const long rc = vr::os::RunLock::AcquireForHost(runLock, lockFile, timeoutMs);
    if (rc == ERROR_TIMEOUT) {
      ReportError(WBEM_UNIT, __LINE__,
                  "  Another program is changing this management server (run lock '%s');\n  gave up after waiting "
                  "%ld ms. Nothing was changed.\n",
                  lockFile.c_str(), timeoutMs);
      hr = HRESULT_FROM_WIN32(rc);
      lockUnavailable = true;
    } else if (rc != ERROR_SUCCESS && rc != ERROR_PATH_NOT_FOUND) {  // no host: the connection says so
      ReportError(WBEM_UNIT, __LINE__, "  The run lock '%s' cannot be taken (error %ld). Nothing was changed.\n",
                  lockFile.c_str(), rc);
      hr = HRESULT_FROM_WIN32(rc);
      lockUnavailable = true;
    }
  }
  if (SUCCEEDED(hr)) {
    context.line = __LINE__;
    hr = InitializeWbem(&services);
  }
  if (SUCCEEDED(hr)) {
    context.line = __LINE__;
    hr = RestoreEventProviders(services.get());
    // Only a restoration that went to the end is a success.
    if (hr != S_OK) hr = AsFailure(hr);
  }
  services.reset();
  if (FAILED(hr)) {
    ReportExtendedErrorInfo(hr);
    CoUninitialize();
    return lockUnavailable ? kExitRunLockUnavailable : 1;
  }
  CoUninitialize();
  return 0;
}

int RevenantMain() {
  Out("\nStarting Revenant\n");
  int result = 1;
  try {
    result = ComMain();
  } catch (const std::exception& e) {
    ReportError(WBEM_UNIT, __LINE__, "  revenant terminated because of the following exception:\n  %s\n", e.what());
    result = 1;
  } catch (...) {
    ReportError(WBEM_UNIT, __LINE__, "  revenant terminated because of an unknown exception.\n");
    result = 1;
  }
  if (result != 0) {
    std::fputs("\n***\n*** FAILURE: revenant terminated due to errors!\n***\n\n", stderr);
  } else {
    std::fputs("\n\nSUCCESS: revenant completed successfully!\n\n", stdout);
  }
  std::fflush(stdout);
  return result;
}
