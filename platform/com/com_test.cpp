#include <gtest/gtest.h>

#include "platform/com/bstr.h"
#include "platform/com/com_error.h"
#include "platform/com/runtime.h"
#include "platform/com/safearray.h"
#include "platform/fault/fault.h"

TEST(Hresult, Win32Mapping) {
  EXPECT_EQ(HRESULT_FROM_WIN32(5), E_ACCESSDENIED);
  EXPECT_EQ(static_cast<uint32_t>(HRESULT_FROM_WIN32(0x12345)), 0x80072345u);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
  EXPECT_EQ(HRESULT_FROM_WIN32(-3), -3);
}

TEST(ComError, MessagesFollowTheSystemRules) {
  EXPECT_EQ(_com_error(E_INVALIDARG).ErrorMessage(), u"The parameter is incorrect.");
  EXPECT_EQ(_com_error(MakeHr(0x80041002)).ErrorMessage(), u"IDispatch error #3586");
  EXPECT_EQ(_com_error(MakeHr(0x80990001)).ErrorMessage(), u"Unknown error 0x80990001");
  auto info = std::make_shared<ErrorInfo>();
  info->source = u"src";
  info->description = u"desc";
  SetErrorInfo(0, info);
  try {
    _com_issue_error(E_FAIL);
    FAIL();
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    EXPECT_EQ(e.Source(), u"src");
    EXPECT_EQ(e.Description(), u"desc");
  }
  std::shared_ptr<ErrorInfo> none;
  EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);  // taken by the throw
}

TEST(SafeArray, ShapeAndAccessCalls) {
  SafeArray* psa = SafeArrayFromStrings({u"a", u"b", u"c"});
  ASSERT_NE(psa, nullptr);
  EXPECT_EQ(SafeArrayGetDim(psa), 1u);
  int32_t lb = -1, ub = -1;
  EXPECT_EQ(SafeArrayGetLBound(psa, 1, &lb), S_OK);
  EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
  EXPECT_EQ(lb, 0);
  EXPECT_EQ(ub, 2);
  EXPECT_EQ(SafeArrayGetLBound(psa, 2, &lb), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &ub), E_INVALIDARG);
  Variant* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(psa, &data), S_OK);
  EXPECT_EQ(data[1].bstrVal, u"b");
  EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
  EXPECT_EQ(SafeArrayUnaccessData(psa), E_UNEXPECTED);
  int32_t idx = 3;
  Variant out;
  EXPECT_EQ(SafeArrayGetElement(psa, &idx, &out), DISP_E_BADINDEX);
  idx = 2;
  EXPECT_EQ(SafeArrayPutElement(psa, &idx, Variant(int32_t(42))), S_OK);  // converted to BSTR
  EXPECT_EQ(SafeArrayGetElement(psa, &idx, &out), S_OK);
  EXPECT_EQ(out.bstrVal, u"42");
  Variant holder;
  holder.AttachArray(psa);
  EXPECT_EQ(holder.vt, VT_ARRAY | VT_BSTR);
  Variant copy = holder;  // deep copy
  std::vector<WString> strings;
  EXPECT_EQ(SafeArrayToStrings(copy.parray(), &strings), S_OK);
  EXPECT_EQ(strings, (std::vector<WString>{u"a", u"b", u"42"}));
  EXPECT_NE(copy.parray(), holder.parray());
  EXPECT_TRUE(copy == holder);
}

TEST(Variant, ChangeType) {
  Variant s(u"123"), d;
  EXPECT_EQ(VariantChangeType(&d, &s, 0, VT_I4), S_OK);
  EXPECT_EQ(d.lVal, 123);
  Variant bad(u"12x");
  EXPECT_EQ(VariantChangeType(&d, &bad, 0, VT_I4), DISP_E_TYPEMISMATCH);
  Variant big(u"300");
  EXPECT_EQ(VariantChangeType(&d, &big, 0, VT_UI1), DISP_E_OVERFLOW);
  Variant b(true);
  EXPECT_EQ(VariantChangeType(&d, &b, 0, VT_BSTR), S_OK);
  EXPECT_EQ(d.bstrVal, u"True");
}

TEST(Bstr, LengthPrefixed) {
  BSTR b = SysAllocStringLen(u"ab\0c", 4);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(b[3], u'c');
  SysFreeString(b);
  CBstr owned(u"xyz");
  EXPECT_EQ(owned.str(), u"xyz");
  // A string handed out into the owner replaces (and frees) the one it held.
  BSTR* slot = owned.Receive();
  EXPECT_EQ(*slot, nullptr);
  *slot = SysAllocString(u"handed out");
  EXPECT_EQ(owned.str(), u"handed out");
}

// The leak checker of the sanitizer build sees any array an owner fails to destroy.
TEST(SafeArray, OwnerDestroysDetachesAndReportsALockedArray) {
  CSafeArray owned(SafeArrayFromStrings({u"a", u"b"}));
  ASSERT_NE(owned.get(), nullptr);
  Variant* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(owned, &data), S_OK);
  EXPECT_EQ(owned.Destroy(), DISP_E_ARRAYISLOCKED);  // still held, and still usable
  EXPECT_EQ(data[1].bstrVal, u"b");
  EXPECT_EQ(SafeArrayUnaccessData(owned), S_OK);

  // Moved, the array goes with the new owner; detached, with whoever takes it.
  CSafeArray moved(std::move(owned));
  EXPECT_EQ(owned.get(), nullptr);
  Variant holder;
  holder.AttachArray(moved.Detach());
  EXPECT_EQ(moved.get(), nullptr);
  std::vector<WString> strings;
  EXPECT_EQ(SafeArrayToStrings(holder.parray(), &strings), S_OK);
  EXPECT_EQ(strings, (std::vector<WString>{u"a", u"b"}));

  // An array handed out into the owner replaces the one it held; Destroy empties it.
  CSafeArray taken(SafeArrayCreateVector(VT_BSTR, 0, 1));
  *taken.Receive() = SafeArrayFromStrings({u"c"});
  EXPECT_EQ(SafeArrayToStrings(taken, &strings), S_OK);
  EXPECT_EQ(strings, (std::vector<WString>{u"c"}));
  EXPECT_EQ(taken.Destroy(), S_OK);
  EXPECT_EQ(taken.get(), nullptr);
  EXPECT_EQ(taken.Destroy(), S_OK);
}

TEST(ComRuntime, InitialisationCreationAndFaults) {
  std::shared_ptr<IUnknown> obj;
  const CLSID k = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(CoCreateInstance(k, nullptr, CLSCTX_ALL, GUID_NULL, &obj), CO_E_NOTINITIALIZED);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(k, nullptr, CLSCTX_ALL, GUID_NULL, &obj), REGDB_E_CLASSNOTREG);
  CoRegisterClass(k, [](const IID&, std::shared_ptr<IUnknown>* out) {
    *out = std::make_shared<IUnknown>();
    return S_OK;
  });
  EXPECT_EQ(CoCreateInstance(k, nullptr, CLSCTX_ALL, GUID_NULL, &obj), S_OK);
  EXPECT_TRUE(obj);
  EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr), S_OK);
  EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr), RPC_E_TOO_LATE);
  CoUninitialize();
  vr::fault::Configure("com.CoInitialize#1=0x80004005");
  EXPECT_EQ(CoInitialize(nullptr), E_FAIL);
  EXPECT_FALSE(CoIsInitialized());
  // A Win32 error fails a COM call with its HRESULT instead of passing for success.
  vr::fault::Configure("com.CoSetProxyBlanket#1=5");
  EXPECT_EQ(CoSetProxyBlanket(obj.get(), 0, 0, nullptr, 0, 0, nullptr, 0), static_cast<HRESULT>(0x80070005u));
  EXPECT_EQ(CoSetProxyBlanket(obj.get(), 0, 0, nullptr, 0, 0, nullptr, 0), S_OK);
  vr::fault::Reset();
}
