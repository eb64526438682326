#include "platform/com/safearray.h"

namespace {

// Offset of an element from its indices (first dimension varies fastest, as in COM).
bool ElementOffset(const SafeArray* psa, const int32_t* idx, size_t& off) {
  size_t stride = 1;
  off = 0;
  for (size_t d = 0; d < psa->bounds.size(); ++d) {
    const auto& b = psa->bounds[d];
    const long long rel = static_cast<long long>(idx[d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<long long>(b.cElements)) return false;
    off += static_cast<size_t>(rel) * stride;
    stride *= b.cElements;
  }
  return true;
}

}  // namespace

SafeArray* SafeArrayCreate(VARTYPE vt, uint32_t dims, const SAFEARRAYBOUND* bounds) {
  if (dims == 0 || !bounds) return nullptr;
  auto* psa = new SafeArray;
  psa->vt = vt;
  size_t total = 1;
  for (uint32_t d = 0; d < dims; ++d) {
    psa->bounds.push_back(bounds[d]);
    total *= bounds[d].cElements;
    if (total > (1u << 26)) { delete psa; return nullptr; }
  }
  psa->data.resize(total);
  for (auto& e : psa->data) e.vt = vt;
  return psa;
}

SafeArray* SafeArrayCreateVector(VARTYPE vt, int32_t lbound, uint32_t count) {
  SAFEARRAYBOUND b{count, lbound};
  return SafeArrayCreate(vt, 1, &b);
}

HRESULT SafeArrayDestroy(SafeArray* psa) {
  if (!psa) return S_OK;
  if (psa->locks > 0) return DISP_E_ARRAYISLOCKED;
  delete psa;
  return S_OK;
}

uint32_t SafeArrayGetDim(SafeArray* psa) {
  return psa ? static_cast<uint32_t>(psa->bounds.size()) : 0;
}

HRESULT SafeArrayGetLBound(SafeArray* psa, uint32_t dim, int32_t* lbound) {
  if (!psa || !lbound) return E_INVALIDARG;
  if (dim < 1 || dim > psa->bounds.size()) return DISP_E_BADINDEX;
  *lbound = psa->bounds[dim - 1].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SafeArray* psa, uint32_t dim, int32_t* ubound) {
  if (!psa || !ubound) return E_INVALIDARG;
  if (dim < 1 || dim > psa->bounds.size()) return DISP_E_BADINDEX;
  const auto& b = psa->bounds[dim - 1];
  *ubound = static_cast<int32_t>(b.lLbound + static_cast<long long>(b.cElements) - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SafeArray* psa, VARTYPE* vt) {
  if (!psa || !vt) return E_INVALIDARG;
  *vt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayAccessData(SafeArray* psa, Variant** data) {
  if (!psa || !data) return E_INVALIDARG;
  ++psa->locks;
  *data = psa->data.data();
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SafeArray* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->locks <= 0) return E_UNEXPECTED;
  --psa->locks;
  return S_OK;
}

HRESULT SafeArrayGetElement(SafeArray* psa, const int32_t* indices, Variant* out) {
  if (!psa || !indices || !out) return E_INVALIDARG;
  size_t off;
  if (!ElementOffset(psa, indices, off)) return DISP_E_BADINDEX;
  *out = psa->data[off];
  return S_OK;
}

HRESULT SafeArrayPutElement(SafeArray* psa, const int32_t* indices, const Variant& value) {
  if (!psa || !indices) return E_INVALIDARG;
  size_t off;
  if (!ElementOffset(psa, indices, off)) return DISP_E_BADINDEX;
  if (psa->locks > 0) return DISP_E_ARRAYISLOCKED;
  if (psa->vt != VT_VARIANT && value.vt != psa->vt) {
    Variant converted;
    HRESULT hr = VariantChangeType(&converted, &value, 0, psa->vt);
    if (FAILED(hr)) return hr;
    psa->data[off] = std::move(converted);
  } else {
    psa->data[off] = value;
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SafeArray* psa, SafeArray** out) {
  if (!psa || !out) return E_INVALIDARG;
  *out = new SafeArray(*psa);
  (*out)->locks = 0;
  return S_OK;
}

SafeArray* SafeArrayFromStrings(const std::vector<WString>& strings) {
  SafeArray* psa = SafeArrayCreateVector(VT_BSTR, 0, static_cast<uint32_t>(strings.size()));
  if (!psa) return nullptr;
  for (size_t i = 0; i < strings.size(); ++i) psa->data[i].bstrVal = strings[i];
  return psa;
}

HRESULT SafeArrayToStrings(SafeArray* psa, std::vector<WString>* strings) {
  if (!psa || !strings) return E_INVALIDARG;
  if (SafeArrayGetDim(psa) != 1) return DISP_E_BADINDEX;
  if (psa->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
  strings->clear();
  for (const auto& e : psa->data) strings->push_back(e.bstrVal);
  return S_OK;
}
