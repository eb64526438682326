#include "platform/com/runtime.h"

#include <mutex>
#include <vector>

#include "platform/fault/fault.h"

using vr::fault::InjectedHresult;

namespace {

thread_local int t_initCount = 0;
thread_local bool t_securitySet = false;

struct Registered { CLSID clsid; ClassFactory factory; };
std::mutex g_classesMutex;
std::vector<Registered>& Classes() {
  static std::vector<Registered> classes;
  return classes;
}

}  // namespace

HRESULT CoInitializeEx(void*, DWORD) {
  if (HRESULT hr = InjectedHresult("com.CoInitialize", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
  return t_initCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
  if (t_initCount > 0 && --t_initCount == 0) t_securitySet = false;
}

bool CoIsInitialized() { return t_initCount > 0; }

HRESULT CoInitializeSecurity(void*, LONG, void*, void*, DWORD, DWORD, void*, DWORD, void*) {
  if (t_initCount == 0) return CO_E_NOTINITIALIZED;
  if (HRESULT hr = InjectedHresult("com.CoInitializeSecurity", E_FAIL).value_or(S_OK); FAILED(hr)) return hr;
  if (t_securitySet) return RPC_E_TOO_LATE;
  t_securitySet = true;
  return S_OK;
}

HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD, DWORD, const char16_t*, DWORD, DWORD, void*, DWORD) {
  if (!proxy) return E_INVALIDARG;
  return InjectedHresult("com.CoSetProxyBlanket", E_FAIL).value_or(S_OK);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown*, DWORD, const IID& iid,
                         std::shared_ptr<IUnknown>* out) {
  if (!out) return E_POINTER;
  out->reset();
  if (t_initCount == 0) return CO_E_NOTINITIALIZED;
  if (HRESULT hr = InjectedHresult("com.CoCreateInstance", REGDB_E_CLASSNOTREG).value_or(S_OK); FAILED(hr)) return hr;
  ClassFactory factory;
  {
    std::lock_guard<std::mutex> lock(g_classesMutex);
    for (const auto& r : Classes())
      if (r.clsid == clsid) factory = r.factory;
  }
  if (!factory) return REGDB_E_CLASSNOTREG;
  return factory(iid, out);
}

void CoRegisterClass(const CLSID& clsid, ClassFactory factory) {
  std::lock_guard<std::mutex> lock(g_classesMutex);
  for (auto& r : Classes())
    if (r.clsid == clsid) { r.factory = std::move(factory); return; }
  Classes().push_back({clsid, std::move(factory)});
}
