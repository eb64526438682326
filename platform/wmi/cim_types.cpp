#include "platform/wmi/cim_types.h"

#include <cmath>
#include <limits>

#include "platform/com/safearray.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace vr::wmi {
namespace {

struct TypeName { CIMTYPE type; const char16_t* name; };
constexpr TypeName kTypeNames[] = {
    {CIM_SINT8, u"sint8"},     {CIM_UINT8, u"uint8"},       {CIM_SINT16, u"sint16"},
    {CIM_UINT16, u"uint16"},   {CIM_SINT32, u"sint32"},     {CIM_UINT32, u"uint32"},
    {CIM_SINT64, u"sint64"},   {CIM_UINT64, u"uint64"},     {CIM_REAL32, u"real32"},
    {CIM_REAL64, u"real64"},   {CIM_BOOLEAN, u"boolean"},   {CIM_STRING, u"string"},
    {CIM_DATETIME, u"datetime"}, {CIM_CHAR16, u"char16"},   {CIM_OBJECT, u"object"},
};

using Int = __int128;

// The integer a scalar VARIANT holds; decimal (or 0x hex) text counts as a number.
std::optional<Int> IntegerOf(const Variant& v) {
  switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: case VT_INT: return v.lVal;
    case VT_UI4: case VT_UINT: return v.ulVal;
    case VT_I8: return v.llVal;
    case VT_UI8: return static_cast<Int>(v.ullVal);
    case VT_R4: case VT_R8: {
      const double d = v.vt == VT_R4 ? v.fltVal : v.dblVal;
      if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1.9e19) return std::nullopt;
      return static_cast<Int>(d);
    }
    case VT_BSTR: {
      const WString& s = v.bstrVal;
      size_t i = 0;
      bool neg = false;
      if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) neg = s[i++] == u'-';
      int base = 10;
      if (i + 1 < s.size() && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) { base = 16; i += 2; }
      if (i >= s.size()) return std::nullopt;
      Int n = 0;
      for (; i < s.size(); ++i) {
        int d;
        const char16_t c = s[i];
        if (c >= u'0' && c <= u'9') d = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
        else return std::nullopt;
        n = n * base + d;
        if (n > (static_cast<Int>(1) << 65)) return std::nullopt;
      }
      return neg ? -n : n;
    }
    default: return std::nullopt;
  }
}

std::optional<double> RealOf(const Variant& v) {
  if (v.vt == VT_R4) return v.fltVal;
  if (v.vt == VT_R8) return v.dblVal;
  if (v.vt == VT_BSTR) {
    const std::string s = vr::text::WideToUtf8(v.bstrVal);
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const double d = std::strtod(s.c_str(), &end);
    if (!end || *end) return std::nullopt;
    return d;
  }
  if (auto n = IntegerOf(v)) return static_cast<double>(*n);
  return std::nullopt;
}

WString DecimalText(Int n) {
  if (n == 0) return u"0";
  const bool neg = n < 0;
  if (neg) n = -n;
  WString s;
  while (n > 0) { s.insert(s.begin(), static_cast<char16_t>(u'0' + static_cast<int>(n % 10))); n /= 10; }
  if (neg) s.insert(s.begin(), u'-');
  return s;
}

bool IsDigits(WStringView s, size_t from, size_t count, bool allowStar) {
  for (size_t i = from; i < from + count; ++i) {
    if (s[i] >= u'0' && s[i] <= u'9') continue;
    if (allowStar && s[i] == u'*') continue;
    return false;
  }
  return true;
}

HRESULT ConvertScalar(const Variant& v, CIMTYPE base, Variant* out) {
  Variant r;
  auto integerIn = [&](Int lo, Int hi) -> std::optional<Int> {
    if (v.vt == VT_BOOL) return std::nullopt;
    auto n = IntegerOf(v);
    if (!n || *n < lo || *n > hi) return std::nullopt;
    return n;
  };
  switch (base) {
    case CIM_SINT8: {
      auto n = integerIn(-128, 127);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_I2; r.iVal = static_cast<int16_t>(*n); break;
    }
    case CIM_UINT8: {
      auto n = integerIn(0, 255);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_UI1; r.bVal = static_cast<uint8_t>(*n); break;
    }
    case CIM_SINT16: {
      auto n = integerIn(-32768, 32767);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_I2; r.iVal = static_cast<int16_t>(*n); break;
    }
    case CIM_UINT16: {
      auto n = integerIn(0, 65535);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_I4; r.lVal = static_cast<int32_t>(*n); break;
    }
    case CIM_SINT32: {
      auto n = integerIn(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_I4; r.lVal = static_cast<int32_t>(*n); break;
    }
    case CIM_UINT32: {
      // A VT_I4 carries the bit pattern of a uint32, as WMI hands it out.
      auto n = integerIn(std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max());
      if (!n) return WBEM_E_TYPE_MISMATCH;
      if (*n < 0 && v.vt != VT_I4 && v.vt != VT_INT) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_I4; r.lVal = static_cast<int32_t>(static_cast<uint32_t>(static_cast<long long>(*n))); break;
    }
    case CIM_SINT64: {
      auto n = integerIn(std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_BSTR; r.bstrVal = DecimalText(*n); break;
    }
    case CIM_UINT64: {
      auto n = integerIn(0, static_cast<Int>(std::numeric_limits<uint64_t>::max()));
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_BSTR; r.bstrVal = DecimalText(*n); break;
    }
    case CIM_REAL32: case CIM_REAL64: {
      if (v.vt == VT_BOOL) return WBEM_E_TYPE_MISMATCH;
      auto d = RealOf(v);
      if (!d) return WBEM_E_TYPE_MISMATCH;
      if (base == CIM_REAL32) {
        // A value beyond the largest float refuses only when it would round to infinity:
        // the shortest text of the largest float (3.4028235e+38) reads as a double above it.
        constexpr double kFloatOverflow = 3.4028235677973366e+38;  // 2^128 - 2^103
        const float largest = std::numeric_limits<float>::max();
        if (std::isfinite(*d) && std::fabs(*d) >= kFloatOverflow) return WBEM_E_TYPE_MISMATCH;
        r.vt = VT_R4;
        if (std::isfinite(*d) && std::fabs(*d) > largest) r.fltVal = *d < 0 ? -largest : largest;
        else r.fltVal = static_cast<float>(*d);
      } else {
        r.vt = VT_R8; r.dblVal = *d;
      }
      break;
    }
    case CIM_BOOLEAN: {
      if (v.vt == VT_BOOL) { r.vt = VT_BOOL; r.boolVal = v.boolVal ? VARIANT_TRUE : VARIANT_FALSE; break; }
      if (v.vt == VT_BSTR) {
        if (vr::text::EqualsNoCase(v.bstrVal, u"TRUE")) { r.vt = VT_BOOL; r.boolVal = VARIANT_TRUE; break; }
        if (vr::text::EqualsNoCase(v.bstrVal, u"FALSE")) { r.vt = VT_BOOL; r.boolVal = VARIANT_FALSE; break; }
        return WBEM_E_TYPE_MISMATCH;
      }
      auto n = IntegerOf(v);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_BOOL; r.boolVal = *n ? VARIANT_TRUE : VARIANT_FALSE; break;
    }
    case CIM_STRING:
      if (v.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      r = v; break;
    case CIM_DATETIME:
      if (v.vt != VT_BSTR || !IsDmtfDatetime(v.bstrVal)) return WBEM_E_TYPE_MISMATCH;
      r = v; break;
    case CIM_REFERENCE:
      // The path's syntax is checked by the caller, which knows the object path grammar.
      if (v.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      r = v; break;
    case CIM_CHAR16: {
      if (v.vt == VT_BSTR) {
        if (v.bstrVal.size() != 1) return WBEM_E_TYPE_MISMATCH;
        r.vt = VT_I2; r.iVal = static_cast<int16_t>(v.bstrVal[0]); break;
      }
      auto n = integerIn(-32768, 65535);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      r.vt = VT_I2; r.iVal = static_cast<int16_t>(static_cast<uint16_t>(static_cast<long long>(*n))); break;
    }
    default:
      return WBEM_E_TYPE_MISMATCH;
  }
  *out = std::move(r);
  return S_OK;
}

}  // namespace

const char16_t* CimTypeName(CIMTYPE baseType) {
  for (const auto& t : kTypeNames)
    if (t.type == baseType) return t.name;
  return u"";
}

CIMTYPE CimTypeFromName(WStringView name) {
  for (const auto& t : kTypeNames)
    if (vr::text::EqualsNoCase(name, t.name)) return t.type;
  return CIM_ILLEGAL;
}

VARTYPE CanonicalVarType(CIMTYPE baseType) {
  switch (baseType & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8: case CIM_SINT16: case CIM_CHAR16: return VT_I2;
    case CIM_UINT8: return VT_UI1;
    case CIM_UINT16: case CIM_SINT32: case CIM_UINT32: return VT_I4;
    case CIM_REAL32: return VT_R4;
    case CIM_REAL64: return VT_R8;
    case CIM_BOOLEAN: return VT_BOOL;
    case CIM_OBJECT: return VT_UNKNOWN;
    default: return VT_BSTR;
  }
}

CIMTYPE CimTypeOfVariant(const Variant& v) {
  const CIMTYPE array = v.IsArray() ? CIM_FLAG_ARRAY : 0;
  switch (v.vt & ~VT_ARRAY) {
    case VT_I1: return CIM_SINT8 | array;
    case VT_UI1: return CIM_UINT8 | array;
    case VT_I2: return CIM_SINT16 | array;
    case VT_UI2: return CIM_UINT16 | array;
    case VT_I4: case VT_INT: return CIM_SINT32 | array;
    case VT_UI4: case VT_UINT: return CIM_UINT32 | array;
    case VT_I8: return CIM_SINT64 | array;
    case VT_UI8: return CIM_UINT64 | array;
    case VT_R4: return CIM_REAL32 | array;
    case VT_R8: return CIM_REAL64 | array;
    case VT_BOOL: return CIM_BOOLEAN | array;
    case VT_BSTR: return CIM_STRING | array;
    default: return CIM_ILLEGAL;
  }
}

bool IsValidCimType(CIMTYPE type) {
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (base == CIM_REFERENCE) return true;
  for (const auto& t : kTypeNames)
    if (t.type == base && base != CIM_OBJECT) return true;
  return false;
}

bool CanBeKeyType(CIMTYPE type) {
  if (type & CIM_FLAG_ARRAY) return false;
  switch (type) {
    case CIM_REAL32: case CIM_REAL64: case CIM_OBJECT: return false;
    default: return IsValidCimType(type);
  }
}

bool IsDmtfDatetime(WStringView s) {
  if (s.size() != 25 || s[14] != u'.') return false;
  if (!IsDigits(s, 0, 14, true) || !IsDigits(s, 15, 6, true)) return false;
  if (s[21] == u':') return s.substr(22) == u"000";  // interval
  return (s[21] == u'+' || s[21] == u'-') && IsDigits(s, 22, 3, true);
}

HRESULT ConvertToCim(const Variant& v, CIMTYPE type, Variant* out) {
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) { *out = Variant::Null(); return S_OK; }
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (!(type & CIM_FLAG_ARRAY)) {
    if (v.IsArray()) return WBEM_E_TYPE_MISMATCH;
    return ConvertScalar(v, base, out);
  }
  if (!v.IsArray() || !v.parray() || v.parray()->bounds.size() != 1) return WBEM_E_TYPE_MISMATCH;
  const SafeArray& in = *v.parray();
  SafeArray* arr = SafeArrayCreateVector(CanonicalVarType(base), 0, static_cast<uint32_t>(in.data.size()));
  if (!arr) return WBEM_E_OUT_OF_MEMORY;
  Variant holder;
  holder.AttachArray(arr);
  for (size_t i = 0; i < in.data.size(); ++i) {
    Variant element = in.data[i];
    if (in.vt != VT_VARIANT) element.vt = in.vt;
    if (element.vt == VT_NULL || element.vt == VT_EMPTY || element.IsArray()) return WBEM_E_TYPE_MISMATCH;
    if (HRESULT hr = ConvertScalar(element, base, &arr->data[i]); FAILED(hr)) return hr;
  }
  *out = std::move(holder);
  return S_OK;
}

std::optional<long long> CimIntegerValue(const Variant& v, CIMTYPE baseType) {
  switch (baseType) {
    case CIM_UINT32: if (v.vt == VT_I4) return static_cast<long long>(static_cast<uint32_t>(v.lVal)); break;
    case CIM_CHAR16: if (v.vt == VT_I2) return static_cast<long long>(static_cast<uint16_t>(v.iVal)); break;
    default: break;
  }
  auto n = IntegerOf(v);
  if (!n || *n > std::numeric_limits<long long>::max() || *n < std::numeric_limits<long long>::min())
    return std::nullopt;
  return static_cast<long long>(*n);
}

}  // namespace vr::wmi
