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

// Builds a one-dimensional BSTR array with lower bound 0 from the strings.
SafeArray* SafeArrayFromStrings(const std::vector<WString>& strings);
// Reads a one-dimensional BSTR array into strings; an HRESULT failure for any other shape.
HRESULT SafeArrayToStrings(SafeArray* psa, std::vector<WString>* strings);
