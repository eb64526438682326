// SAFEARRAY: a typed array with dimensions and lower bounds. The access calls return HRESULTs,
// so code that checks an array's shape runs the same checks here as on the system.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/com/variant.h"

struct SAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
};

class SafeArray {
 public:
  VARTYPE vt = VT_EMPTY;
  std::vector<SAFEARRAYBOUND> bounds;  // first dimension first
  std::vector<Variant> data;           // elements, each of type vt
  int locks = 0;
};
using SAFEARRAY = SafeArray;

SafeArray* SafeArrayCreate(VARTYPE vt, uint32_t dims, const SAFEARRAYBOUND* bounds);
SafeArray* SafeArrayCreateVector(VARTYPE vt, int32_t lbound, uint32_t count);
HRESULT SafeArrayDestroy(SafeArray* psa);
uint32_t SafeArrayGetDim(SafeArray* psa);
HRESULT SafeArrayGetLBound(SafeArray* psa, uint32_t dim, int32_t* lbound);
HRESULT SafeArrayGetUBound(SafeArray* psa, uint32_t dim, int32_t* ubound);
HRESULT SafeArrayGetVartype(SafeArray* psa, VARTYPE* vt);
HRESULT SafeArrayAccessData(SafeArray* psa, Variant** data);
HRESULT SafeArrayUnaccessData(SafeArray* psa);
HRESULT SafeArrayGetElement(SafeArray* psa, const int32_t* indices, Variant* out);
HRESULT SafeArrayPutElement(SafeArray* psa, const int32_t* indices, const Variant& value);
HRESULT SafeArrayCopy(SafeArray* psa, SafeArray** out);

// Owns one SAFEARRAY and destroys it when it goes, so that no path out of a block leaks it.
class CSafeArray {
 public:
  CSafeArray() = default;
  explicit CSafeArray(SafeArray* psa) noexcept : p_(psa) {}
  CSafeArray(const CSafeArray&) = delete;
  CSafeArray& operator=(const CSafeArray&) = delete;
  CSafeArray(CSafeArray&& other) noexcept : p_(other.Detach()) {}
  CSafeArray& operator=(CSafeArray&& other) noexcept {
    if (this != &other) {
      Destroy();
      p_ = other.Detach();
    }
    return *this;
  }
  ~CSafeArray() { Destroy(); }

  // The array, as the SafeArray calls take it.
  operator SafeArray*() const noexcept { return p_; }
  SafeArray* get() const noexcept { return p_; }
  // Where a call that hands out an array puts it; an array still held is destroyed first.
  SafeArray** Receive() {
    Destroy();
    return &p_;
  }
  // Hands the array on (to a Variant, or a caller) without destroying it.
  SafeArray* Detach() noexcept {
    SafeArray* p = p_;
    p_ = nullptr;
    return p;
  }
  // Destroys the array now, for callers that report the result: DISP_E_ARRAYISLOCKED while
  // its data is accessed, and the array is then still held.
  HRESULT Destroy() {
    const HRESULT hr = SafeArrayDestroy(p_);
    if (SUCCEEDED(hr)) p_ = nullptr;
    return hr;
  }

 private:
  SafeArray* p_ = nullptr;
};

// Builds a one-dimensional BSTR array with lower bound 0 from the strings.
SafeArray* SafeArrayFromStrings(const std::vector<WString>& strings);
// Reads a one-dimensional BSTR array into strings; an HRESULT failure for any other shape.
HRESULT SafeArrayToStrings(SafeArray* psa, std::vector<WString>* strings);
