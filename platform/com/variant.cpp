#include "platform/com/variant.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/com/safearray.h"
#include "platform/text/convert.h"

void Variant::ArrayDeleter::operator()(SafeArray* p) const { delete p; }

Variant::Variant(const Variant& o) { *this = o; }

Variant::Variant(Variant&& o) noexcept { *this = std::move(o); }

Variant& Variant::operator=(const Variant& o) {
  if (this == &o) return *this;
  vt = o.vt; bVal = o.bVal; cVal = o.cVal; iVal = o.iVal; uiVal = o.uiVal; lVal = o.lVal;
  ulVal = o.ulVal; llVal = o.llVal; ullVal = o.ullVal; fltVal = o.fltVal; dblVal = o.dblVal;
  boolVal = o.boolVal; scode = o.scode; bstrVal = o.bstrVal; punkVal = o.punkVal;
  parray_.reset(o.parray_ ? new SafeArray(*o.parray_) : nullptr);
  if (parray_) parray_->locks = 0;
  return *this;
}

Variant& Variant::operator=(Variant&& o) noexcept {
  if (this == &o) return *this;
  vt = o.vt; bVal = o.bVal; cVal = o.cVal; iVal = o.iVal; uiVal = o.uiVal; lVal = o.lVal;
  ulVal = o.ulVal; llVal = o.llVal; ullVal = o.ullVal; fltVal = o.fltVal; dblVal = o.dblVal;
  boolVal = o.boolVal; scode = o.scode; bstrVal = std::move(o.bstrVal);
  punkVal = std::move(o.punkVal); parray_ = std::move(o.parray_);
  o.vt = VT_EMPTY;
  return *this;
}

Variant::~Variant() = default;

void Variant::AttachArray(SafeArray* psa) {
  VariantClear(this);
  if (!psa) return;
  parray_.reset(psa);
  vt = static_cast<VARTYPE>(VT_ARRAY | psa->vt);
}

SafeArray* Variant::DetachArray() {
  SafeArray* p = parray_.release();
  vt = VT_EMPTY;
  return p;
}

bool Variant::operator==(const Variant& o) const {
  if (vt != o.vt) return false;
  if (IsArray()) {
    if (!parray_ || !o.parray_) return parray_ == o.parray_;
    const SafeArray& a = *parray_;
    const SafeArray& b = *o.parray_;
    if (a.vt != b.vt || a.data.size() != b.data.size() || a.bounds.size() != b.bounds.size())
      return false;
    for (size_t i = 0; i < a.bounds.size(); ++i)
      if (a.bounds[i].cElements != b.bounds[i].cElements || a.bounds[i].lLbound != b.bounds[i].lLbound)
        return false;
    for (size_t i = 0; i < a.data.size(); ++i)
      if (a.data[i] != b.data[i]) return false;
    return true;
  }
  switch (vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I1: return cVal == o.cVal;
    case VT_UI1: return bVal == o.bVal;
    case VT_I2: return iVal == o.iVal;
    case VT_UI2: return uiVal == o.uiVal;
    case VT_I4: case VT_INT: return lVal == o.lVal;
    case VT_UI4: case VT_UINT: return ulVal == o.ulVal;
    case VT_I8: return llVal == o.llVal;
    case VT_UI8: return ullVal == o.ullVal;
    case VT_R4: return fltVal == o.fltVal;
    case VT_R8: case VT_DATE: return dblVal == o.dblVal;
    case VT_BOOL: return (boolVal != 0) == (o.boolVal != 0);
    case VT_ERROR: return scode == o.scode;
    case VT_BSTR: return bstrVal == o.bstrVal;
    case VT_UNKNOWN: case VT_DISPATCH: return punkVal == o.punkVal;
    default: return false;
  }
}

void VariantInit(Variant* v) {
  if (v) *v = Variant();
}

HRESULT VariantClear(Variant* v) {
  if (!v) return E_INVALIDARG;
  if (v->parray() && v->parray()->locks > 0) return DISP_E_ARRAYISLOCKED;
  *v = Variant();
  return S_OK;
}

HRESULT VariantCopy(Variant* dst, const Variant* src) {
  if (!dst || !src) return E_INVALIDARG;
  *dst = *src;
  return S_OK;
}

namespace {

bool AsInteger(const Variant& v, long long& out) {
  switch (v.vt) {
    case VT_I1: out = v.cVal; return true;
    case VT_UI1: out = v.bVal; return true;
    case VT_I2: out = v.iVal; return true;
    case VT_UI2: out = v.uiVal; return true;
    case VT_I4: case VT_INT: out = v.lVal; return true;
    case VT_UI4: case VT_UINT: out = v.ulVal; return true;
    case VT_I8: out = v.llVal; return true;
    case VT_UI8: out = static_cast<long long>(v.ullVal); return true;
    case VT_BOOL: out = v.boolVal ? -1 : 0; return true;
    case VT_R4: out = std::llround(v.fltVal); return true;
    case VT_R8: out = std::llround(v.dblVal); return true;
    case VT_EMPTY: out = 0; return true;
    case VT_BSTR: {
      const std::string s = vr::text::WideToUtf8(v.bstrVal);
      if (s.empty()) return false;
      char* end = nullptr;
      errno = 0;
      out = std::strtoll(s.c_str(), &end, 10);
      return errno == 0 && end && *end == '\0';
    }
    default: return false;
  }
}

}  // namespace

HRESULT VariantChangeType(Variant* dst, const Variant* src, uint16_t, VARTYPE vt) {
  if (!dst || !src) return E_INVALIDARG;
  if (src->IsArray() || (vt & VT_ARRAY)) return src->vt == vt ? VariantCopy(dst, src) : DISP_E_TYPEMISMATCH;
  Variant r;
  r.vt = vt;
  long long n = 0;
  switch (vt) {
    case VT_BSTR:
      if (src->vt == VT_BSTR) { r.bstrVal = src->bstrVal; break; }
      if (src->vt == VT_BOOL) { r.bstrVal = src->boolVal ? u"True" : u"False"; break; }
      if (src->vt == VT_R8 || src->vt == VT_R4) {
        r.bstrVal = vr::text::Utf8ToWide(std::to_string(src->vt == VT_R8 ? src->dblVal : src->fltVal));
        break;
      }
      if (src->vt == VT_EMPTY) break;
      if (!AsInteger(*src, n)) return DISP_E_TYPEMISMATCH;
      r.bstrVal = vr::text::Utf8ToWide(std::to_string(n));
      break;
    case VT_BOOL:
      if (!AsInteger(*src, n)) return DISP_E_TYPEMISMATCH;
      r.boolVal = n ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case VT_R8: case VT_R4:
      if (src->vt == VT_R8) r.dblVal = src->dblVal;
      else if (src->vt == VT_R4) r.dblVal = src->fltVal;
      else if (AsInteger(*src, n)) r.dblVal = static_cast<double>(n);
      else return DISP_E_TYPEMISMATCH;
      r.fltVal = static_cast<float>(r.dblVal);
      break;
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_INT:
    case VT_UI4: case VT_UINT: case VT_I8: case VT_UI8: {
      if (!AsInteger(*src, n)) return DISP_E_TYPEMISMATCH;
      auto fits = [&](long long lo, long long hi) { return n >= lo && n <= hi; };
      switch (vt) {
        case VT_I1: if (!fits(-128, 127)) return DISP_E_OVERFLOW; r.cVal = static_cast<int8_t>(n); break;
        case VT_UI1: if (!fits(0, 255)) return DISP_E_OVERFLOW; r.bVal = static_cast<uint8_t>(n); break;
        case VT_I2: if (!fits(-32768, 32767)) return DISP_E_OVERFLOW; r.iVal = static_cast<int16_t>(n); break;
        case VT_UI2: if (!fits(0, 65535)) return DISP_E_OVERFLOW; r.uiVal = static_cast<uint16_t>(n); break;
        case VT_I4: case VT_INT: if (!fits(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW; r.lVal = static_cast<int32_t>(n); break;
        case VT_UI4: case VT_UINT: if (!fits(0, UINT32_MAX)) return DISP_E_OVERFLOW; r.ulVal = static_cast<uint32_t>(n); break;
        case VT_I8: r.llVal = n; break;
        default: if (n < 0) return DISP_E_OVERFLOW; r.ullVal = static_cast<uint64_t>(n); break;
      }
      break;
    }
    case VT_EMPTY: case VT_NULL:
      break;
    default:
      return DISP_E_BADVARTYPE;
  }
  *dst = std::move(r);
  return S_OK;
}
