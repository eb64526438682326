// CIM types: their MOF names, the VARIANT type WMI hands out for each, and the conversion of a
// caller's VARIANT into a property value of a given CIM type (WMI's coercion rules: integers
// of any width within range, decimal text for 64-bit integers, strict strings).
#pragma once
#include <optional>

#include "platform/com/variant.h"
#include "platform/wmi/wbem_codes.h"

namespace vr::wmi {

// "string", "uint32", "datetime", ...; empty for CIM_REFERENCE and unknown types.
const char16_t* CimTypeName(CIMTYPE baseType);
// The CIM type of a MOF data type name (case-insensitive), CIM_ILLEGAL when unknown.
CIMTYPE CimTypeFromName(WStringView name);
// The VARIANT type of a scalar value of the CIM type (uint32 travels as VT_I4, 64-bit integers
// as VT_BSTR, char16 as VT_I2, as in WMI).
VARTYPE CanonicalVarType(CIMTYPE baseType);
// The CIM type a VARIANT implies when a class property is created without a type.
CIMTYPE CimTypeOfVariant(const Variant& v);
bool IsValidCimType(CIMTYPE type);
bool CanBeKeyType(CIMTYPE type);

// Converts v to a value of the CIM type (arrays included, lower bound 0); VT_NULL for null.
// WBEM_E_TYPE_MISMATCH when v cannot represent such a value.
HRESULT ConvertToCim(const Variant& v, CIMTYPE type, Variant* out);

// Integer view of a canonical value of an integer CIM type (uint32 as unsigned).
std::optional<long long> CimIntegerValue(const Variant& v, CIMTYPE baseType);
// Datetime text in the DMTF form "yyyymmddHHMMSS.mmmmmmsUUU" or interval "ddddddddHHMMSS.mmmmmm:000".
bool IsDmtfDatetime(WStringView text);

}  // namespace vr::wmi
