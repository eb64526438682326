// COM runtime entry points. On this host they keep per-thread apartment state, succeed, and
// fail as the system does when fault injection asks them to.
#pragma once
#include <functional>
#include <memory>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr DWORD RPC_C_AUTHN_LEVEL_CALL = 3;
constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD RPC_C_AUTHN_WINNT = 10;
constexpr DWORD RPC_C_AUTHZ_NONE = 0;
constexpr DWORD EOAC_NONE = 0;

HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD coinit);
void CoUninitialize();
HRESULT CoInitializeSecurity(void* secDesc, LONG authSvcCount, void* authSvc, void* reserved1,
                             DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* reserved3);
HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnSvc, DWORD authzSvc, const char16_t* principal,
                          DWORD authnLevel, DWORD impLevel, void* authInfo, DWORD capabilities);
// Creates an object of a registered class; REGDB_E_CLASSNOTREG for unknown classes,
// CO_E_NOTINITIALIZED without CoInitialize on this thread.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD clsctx, const IID& iid,
                         std::shared_ptr<IUnknown>* out);

// Host services register the classes they serve (the WMI locator, the Depot component).
using ClassFactory = std::function<HRESULT(const IID& iid, std::shared_ptr<IUnknown>* out)>;
void CoRegisterClass(const CLSID& clsid, ClassFactory factory);
// True while this thread is inside CoInitialize ... CoUninitialize.
bool CoIsInitialized();
