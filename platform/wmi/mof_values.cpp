// Literal values: integers, reals, strings, characters, booleans, NULL, arrays of those, and
// aliases of instances.
#include "platform/wmi/mof_parser.h"

#include <limits>

#include "platform/com/safearray.h"

namespace vr::wmi::mof_parts {

Variant IntegerVariant(Int v) {
  Variant r;
  if (v > std::numeric_limits<int64_t>::max()) { r.vt = VT_UI8; r.ullVal = static_cast<uint64_t>(v); }
  else { r.vt = VT_I8; r.llVal = static_cast<int64_t>(v); }
  return r;
}

Variant Parser::ReadConstant() {
  Variant v;
  switch (cur_.kind) {
    case Tok::kInteger: v = IntegerVariant(cur_.integer); break;
    case Tok::kReal: v = Variant(cur_.real); break;
    case Tok::kString: v = Variant(cur_.text); break;
    case Tok::kChar: v.vt = VT_UI2; v.uiVal = static_cast<uint16_t>(cur_.integer); break;
    case Tok::kIdent:
      if (IsWord(u"TRUE")) { v = Variant(true); break; }
      if (IsWord(u"FALSE")) { v = Variant(false); break; }
      if (IsWord(u"NULL")) { v = Variant::Null(); break; }
      [[fallthrough]];
    default:
      Expected(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, u"a value");
  }
  Advance();
  return v;
}

MofValue Parser::ReadConstantOrArray() {
  MofValue r;
  r.position = cur_.position;
  if (cur_.kind == Tok::kAlias) {
    r.alias = cur_.text;
    Advance();
    return r;
  }
  if (!IsPunct(u'{')) {
    r.value = ReadConstant();
    return r;
  }
  Advance();
  std::vector<Variant> items;
  if (!IsPunct(u'}')) {
    while (true) {
      if (cur_.kind == Tok::kAlias) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, cur_.position, u"aliases cannot stand in arrays");
      const MofPosition at = cur_.position;
      Variant e = ReadConstant();
      if (e.vt == VT_NULL) Fail(WBEMMOF_E_NULL_ARRAY_ELEM, at, u"an array element cannot be NULL");
      items.push_back(std::move(e));
      if (items.size() > 100000) Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"too many array elements");
      if (IsPunct(u'}')) break;
      Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_BRACE, u"',' or '}' in the array");
    }
  }
  Advance();  // '}'
  SafeArray* psa = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<uint32_t>(items.size()));
  for (size_t i = 0; i < items.size(); ++i) psa->data[i] = std::move(items[i]);
  r.value = Variant();
  r.value.AttachArray(psa);
  return r;
}

}  // namespace vr::wmi::mof_parts
