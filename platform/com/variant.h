// VARIANT: a tagged value. Copies are deep (arrays included), as VariantCopy makes them.
#pragma once
#include <cstdint>
#include <memory>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"
#include "platform/text/wstring.h"

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0, VT_NULL = 1, VT_I2 = 2, VT_I4 = 3, VT_R4 = 4, VT_R8 = 5, VT_DATE = 7,
  VT_BSTR = 8, VT_DISPATCH = 9, VT_ERROR = 10, VT_BOOL = 11, VT_VARIANT = 12, VT_UNKNOWN = 13,
  VT_I1 = 16, VT_UI1 = 17, VT_UI2 = 18, VT_UI4 = 19, VT_I8 = 20, VT_UI8 = 21, VT_INT = 22,
  VT_UINT = 23, VT_ARRAY = 0x2000, VT_BYREF = 0x4000
};

class SafeArray;

class Variant {
 public:
  Variant() = default;
  Variant(const Variant& o);
  Variant(Variant&& o) noexcept;
  Variant& operator=(const Variant& o);
  Variant& operator=(Variant&& o) noexcept;
  ~Variant();

  explicit Variant(int32_t v) : vt(VT_I4), lVal(v) {}
  explicit Variant(bool v) : vt(VT_BOOL), boolVal(v ? VARIANT_TRUE : VARIANT_FALSE) {}
  explicit Variant(double v) : vt(VT_R8), dblVal(v) {}
  explicit Variant(WStringView v) : vt(VT_BSTR), bstrVal(v) {}
  explicit Variant(const WString& v) : vt(VT_BSTR), bstrVal(v) {}
  explicit Variant(const char16_t* v) : vt(VT_BSTR), bstrVal(v ? v : u"") {}
  explicit Variant(std::shared_ptr<IUnknown> p) : vt(VT_UNKNOWN), punkVal(std::move(p)) {}
  static Variant Null() { Variant v; v.vt = VT_NULL; return v; }

  // Takes ownership of an array; vt becomes VT_ARRAY | its element type.
  void AttachArray(SafeArray* psa);
  // Gives up ownership of the array (caller destroys it); the variant becomes empty.
  SafeArray* DetachArray();
  SafeArray* parray() const { return parray_.get(); }
  bool IsArray() const { return (vt & VT_ARRAY) != 0; }

  bool operator==(const Variant& o) const;
  bool operator!=(const Variant& o) const { return !(*this == o); }

  VARTYPE vt = VT_EMPTY;
  uint8_t bVal = 0;
  int8_t cVal = 0;
  int16_t iVal = 0;
  uint16_t uiVal = 0;
  int32_t lVal = 0;
  uint32_t ulVal = 0;
  int64_t llVal = 0;
  uint64_t ullVal = 0;
  float fltVal = 0;
  double dblVal = 0;
  VARIANT_BOOL boolVal = VARIANT_FALSE;
  HRESULT scode = 0;
  WString bstrVal;
  std::shared_ptr<IUnknown> punkVal;

 private:
  struct ArrayDeleter { void operator()(SafeArray* p) const; };
  std::unique_ptr<SafeArray, ArrayDeleter> parray_;
};
using VARIANT = Variant;

void VariantInit(Variant* v);
HRESULT VariantClear(Variant* v);
HRESULT VariantCopy(Variant* dst, const Variant* src);
// Conversions among the scalar types, BSTR included; DISP_E_TYPEMISMATCH otherwise.
HRESULT VariantChangeType(Variant* dst, const Variant* src, uint16_t flags, VARTYPE vt);
