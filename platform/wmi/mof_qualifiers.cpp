// Qualifiers: declarations (a type that types later uses, flavours that are their defaults),
// qualifier lists on classes, features and instances, flavour words, and qualifier values
// typed by their declaration or, without one, by the literal.
#include "platform/wmi/mof_parser.h"

#include <limits>

#include "platform/com/safearray.h"
#include "platform/wmi/cim_types.h"

namespace vr::wmi::mof_parts {

using vr::text::EqualsNoCase;

namespace {

struct FlavorWord { const char16_t* word; long set; long clear; };
constexpr FlavorWord kFlavors[] = {
    {u"ToInstance", WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE, 0},
    {u"ToSubclass", WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS, 0},
    {u"NotToInstance", 0, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE},
    {u"NotToSubclass", 0, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS},
    {u"Restricted", 0, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS},
    {u"EnableOverride", 0, WBEM_FLAVOR_NOT_OVERRIDABLE},
    {u"DisableOverride", WBEM_FLAVOR_NOT_OVERRIDABLE, 0},
    {u"Amended", WBEM_FLAVOR_AMENDED, 0},
    {u"Translatable", WBEM_FLAVOR_AMENDED, 0},
};

constexpr long kDeclaredFlavorDefault = WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;  // and overridable

const FlavorWord* FindFlavor(WStringView word) {
  for (const auto& f : kFlavors)
    if (EqualsNoCase(word, f.word)) return &f;
  return nullptr;
}

}  // namespace

// The declaration that types a qualifier's uses and gives their flavours: one earlier in
// this text, else one the namespace holds. None for a text the repository stored.
const QualifierDecl* Parser::Declaration(const WString& name) {
  if (options_.storedText) return nullptr;
  const WString key = vr::text::ToLower(name);
  if (auto it = declared_.find(key); it != declared_.end()) return &it->second;
  if (!options_.storedDeclaration) return nullptr;
  const WString storedKey = vr::text::ToLower(nameSpace_) + u"\n" + key;
  auto it = stored_.find(storedKey);
  if (it == stored_.end()) {
    std::optional<QualifierDecl> found;
    QualifierDecl d;
    if (options_.storedDeclaration(nameSpace_, name, &d)) found = std::move(d);
    it = stored_.emplace(storedKey, std::move(found)).first;
  }
  return it->second ? &*it->second : nullptr;
}

void Parser::QualifierDeclaration() {
  const MofPosition at = cur_.position;
  Advance();
  QualifierDecl d;
  d.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_QUALIFIER_NAME, u"a qualifier name");
  Expect(u':', WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, u"':'");
  // A declaration's flavours start from the DMTF defaults, EnableOverride and ToSubclass;
  // its Flavor clause changes only the aspects it names.
  d.flavor = kDeclaredFlavorDefault;
  if (cur_.kind == Tok::kIdent && !FindFlavor(cur_.text)) {
    // DMTF form: type [array] [= default], scope(...) [, flavor(...)]
    const MofPosition typeAt = cur_.position;
    const WString type = cur_.text;
    Advance();
    d.type = CimTypeFromName(type);
    if (d.type == CIM_ILLEGAL || d.type == CIM_OBJECT)
      Fail(WBEMMOF_E_UNRECOGNIZED_TYPE, typeAt, u"unknown qualifier type \"" + type + u"\"");
    if (IsPunct(u'[')) {
      Advance();
      if (cur_.kind == Tok::kInteger) Advance();
      Expect(u']', WBEMMOF_E_EXPECTED_CLOSE_BRACKET, u"']'");
      d.type |= CIM_FLAG_ARRAY;
    }
    if (IsPunct(u'=')) {
      Advance();
      d.value = TypedQualifierValue(ReadConstantOrArray(), d);
    }
    while (IsPunct(u',')) {
      Advance();
      const WString part = ExpectIdentifier(WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, u"scope or flavor");
      const bool isFlavor = EqualsNoCase(part, u"flavor");
      if (!isFlavor && !EqualsNoCase(part, u"scope"))
        Fail(WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, cur_.position, u"expected Scope or Flavor instead of \"" + part + u"\"");
      Expect(u'(', WBEMMOF_E_EXPECTED_OPEN_PAREN, u"'('");
      while (!IsPunct(u')')) {
        const MofPosition wordAt = cur_.position;
        const WString word = ExpectIdentifier(WBEMMOF_E_INVALID_QUALIFIER_SYNTAX, u"a name");
        if (isFlavor) {
          const FlavorWord* f = FindFlavor(word);
          if (!f) Fail(WBEMMOF_E_EXPECTED_FLAVOR_TYPE, wordAt, u"unknown flavor \"" + word + u"\"");
          d.flavor = (d.flavor & ~f->clear) | f->set;
        } else {
          d.scopes.push_back(word);
        }
        if (IsPunct(u',')) Advance();
        else if (!IsPunct(u')')) Expected(WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"',' or ')'");
      }
      Advance();
    }
  } else {
    d.flavor = ReadFlavors(d.flavor);
  }
  Expect(u';', WBEMMOF_E_EXPECTED_SEMI, u"';' after the qualifier declaration");
  MofStatement s;
  s.kind = MofStatement::Kind::kQualifier;
  s.position = at;
  s.nameSpace = nameSpace_;
  s.qualifier = d;
  declared_[vr::text::ToLower(d.name)] = std::move(d);
  doc_->statements.push_back(std::move(s));
}

// Flavour words, applied to `flavor`: each sets or clears the aspect it names.
long Parser::ReadFlavors(long flavor) {
  long seenSet = 0, seenClear = 0;
  bool any = false;
  while (cur_.kind == Tok::kIdent) {
    const FlavorWord* f = FindFlavor(cur_.text);
    if (!f) Fail(WBEMMOF_E_EXPECTED_FLAVOR_TYPE, cur_.position, u"unknown flavor \"" + cur_.text + u"\"");
    if ((f->set & seenClear) || (f->clear & seenSet))
      Fail(WBEMMOF_E_INCOMPATIBLE_FLAVOR_TYPES, cur_.position, u"the flavor " + cur_.text + u" contradicts an earlier one");
    seenSet |= f->set;
    seenClear |= f->clear;
    flavor = (flavor & ~f->clear) | f->set;
    any = true;
    Advance();
  }
  if (!any) Expected(WBEMMOF_E_EXPECTED_FLAVOR_TYPE, u"a flavor");
  return flavor;
}

QualifierList Parser::ReadQualifierList() {
  QualifierList list;
  Advance();  // '['
  while (true) {
    const MofPosition at = cur_.position;
    Qualifier q;
    q.name = ExpectIdentifier(WBEMMOF_E_EXPECTED_QUALIFIER_NAME, u"a qualifier name");
    if (list.Find(q.name)) Fail(WBEMMOF_E_DUPLICATE_QUALIFIER, at, u"the qualifier " + q.name + u" is given twice");
    const QualifierDecl* decl = Declaration(q.name);
    const bool typed = decl && decl->type != CIM_ILLEGAL;
    if (IsPunct(u'(')) {
      Advance();
      const MofValue v = ReadConstantOrArray();
      q.value = typed ? TypedQualifierValue(v, *decl) : QualifierValue(v);
      Expect(u')', WBEMMOF_E_EXPECTED_CLOSE_PAREN, u"')' after the qualifier value");
    } else if (IsPunct(u'{')) {
      const MofValue v = ReadConstantOrArray();
      q.value = typed ? TypedQualifierValue(v, *decl) : QualifierValue(v);
    } else if (typed && (decl->type & ~CIM_FLAG_ARRAY) != CIM_BOOLEAN) {
      q.value = decl->value;  // a use without a value has the declared default
    } else {
      q.value = Variant(true);
    }
    // A use takes the flavours of the qualifier's declaration; words after ':' change
    // the aspects they name.
    q.flavor = decl ? decl->flavor : 0;
    if (IsPunct(u':')) {
      Advance();
      q.flavor = ReadFlavors(q.flavor);
    }
    list.items().push_back(std::move(q));
    if (IsPunct(u']')) break;
    Expect(u',', WBEMMOF_E_EXPECTED_CLOSE_BRACKET, u"',' or ']' in the qualifier list");
  }
  Advance();  // ']'
  return list;
}

// A literal as the value of a qualifier without a typed declaration: sint32, real64,
// string, boolean or an array of one kind. A stored text may also hold the 64-bit integers
// and NULLs that declarations allowed.
Variant Parser::QualifierValue(const MofValue& v) {
  const bool wide = options_.storedText;
  auto scalar = [&](const Variant& in, MofPosition at) -> Variant {
    switch (in.vt) {
      case VT_I8:
        if (in.llVal >= std::numeric_limits<int32_t>::min() && in.llVal <= std::numeric_limits<int32_t>::max())
          return Variant(static_cast<int32_t>(in.llVal));
        if (wide) return in;
        Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"qualifier integers are 32-bit signed numbers");
      case VT_UI8:
        if (wide) return in;
        Fail(WBEMMOF_E_OUT_OF_RANGE, at, u"qualifier integers are 32-bit signed numbers");
      case VT_UI2: return Variant(static_cast<int32_t>(in.uiVal));
      case VT_R8: case VT_BSTR: case VT_BOOL: return in;
      default:
        if (wide && !v.value.IsArray()) return Variant::Null();
        Fail(WBEMMOF_E_ILLEGAL_CONSTANT_VALUE, at, u"a qualifier value cannot be NULL");
    }
  };
  if (!v.alias.empty()) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, v.position, u"an alias cannot be a qualifier value");
  if (!v.value.IsArray()) return scalar(v.value, v.position);
  std::vector<Variant> items;
  for (const Variant& e : v.value.parray()->data) items.push_back(scalar(e, v.position));
  return QualifierArray(std::move(items), v.position);
}

// Elements of one kind as an array: integers take the widest kind among them, and
// integers among reals become reals.
Variant Parser::QualifierArray(std::vector<Variant> items, MofPosition at) {
  auto isInteger = [](VARTYPE vt) { return vt == VT_I4 || vt == VT_I8 || vt == VT_UI8; };
  VARTYPE kind = VT_EMPTY;
  for (const Variant& s : items) {
    if (kind == VT_EMPTY || kind == s.vt) kind = s.vt;
    else if (isInteger(kind) && isInteger(s.vt)) kind = (kind == VT_UI8 || s.vt == VT_UI8) ? VT_UI8 : VT_I8;
    else if ((isInteger(kind) || kind == VT_R8) && (isInteger(s.vt) || s.vt == VT_R8)) kind = VT_R8;
    else Fail(WBEMMOF_E_TYPE_MISMATCH, at, u"the values of a qualifier array must have one type");
  }
  if (kind == VT_EMPTY) kind = VT_BSTR;
  SafeArray* out = SafeArrayCreateVector(kind, 0, static_cast<uint32_t>(items.size()));
  for (size_t i = 0; i < items.size(); ++i) {
    Variant& e = items[i];
    if (e.vt == kind) { out->data[i] = std::move(e); continue; }
    Variant w;
    const long long n = e.vt == VT_I4 ? e.lVal : e.vt == VT_I8 ? e.llVal : static_cast<long long>(e.ullVal);
    if (kind == VT_R8) w = Variant(e.vt == VT_UI8 ? static_cast<double>(e.ullVal) : static_cast<double>(n));
    else if (kind == VT_I8) { w.vt = VT_I8; w.llVal = n; }
    else { w.vt = VT_UI8; w.ullVal = static_cast<uint64_t>(n); }
    out->data[i] = std::move(w);
  }
  Variant r;
  r.AttachArray(out);
  return r;
}

// A literal as a value of the declared type of a qualifier: integers within the type's
// range (kept as sint32 where they fit, else as 64-bit), reals, strings, booleans, NULL,
// and for an array type an array or one value.
Variant Parser::TypedQualifierValue(const MofValue& v, const QualifierDecl& decl) {
  if (!v.alias.empty()) Fail(WBEMMOF_E_UNEXPECTED_ALIAS, v.position, u"an alias cannot be a qualifier value");
  if (v.value.vt == VT_NULL) return Variant::Null();
  const CIMTYPE base = decl.type & ~CIM_FLAG_ARRAY;
  const bool isArray = (decl.type & CIM_FLAG_ARRAY) != 0;
  const WString typeName = WString(CimTypeName(base)) + (isArray ? u"[]" : u"");
  auto mismatch = [&]() {
    Fail(WBEMMOF_E_TYPE_MISMATCH, v.position,
         u"the value of the qualifier " + decl.name + u" does not fit its declared type " + typeName);
  };
  auto scalar = [&](const Variant& in) -> Variant {
    Int n = 0;
    const bool integer = in.vt == VT_I8 || in.vt == VT_UI8;
    if (in.vt == VT_I8) n = in.llVal;
    if (in.vt == VT_UI8) n = in.ullVal;
    switch (base) {
      case CIM_SINT8: case CIM_UINT8: case CIM_SINT16: case CIM_UINT16: case CIM_SINT32: case CIM_UINT32:
      case CIM_SINT64: case CIM_UINT64: {
        if (!integer) mismatch();
        Variant probe = IntegerVariant(n);
        Variant checked;
        if (FAILED(ConvertToCim(probe, base, &checked))) mismatch();
        if (n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max())
          return Variant(static_cast<int32_t>(n));
        return probe;
      }
      case CIM_REAL32: case CIM_REAL64:
        if (in.vt == VT_R8) return in;
        if (!integer) mismatch();
        return Variant(static_cast<double>(n));
      case CIM_BOOLEAN:
        if (in.vt != VT_BOOL) mismatch();
        return in;
      case CIM_CHAR16:
        if (in.vt == VT_UI2) return Variant(WString(1, static_cast<char16_t>(in.uiVal)));
        if (in.vt != VT_BSTR || in.bstrVal.size() != 1) mismatch();
        return in;
      default:  // string, datetime
        if (in.vt != VT_BSTR) mismatch();
        return in;
    }
  };
  if (!v.value.IsArray()) {
    if (!isArray) return scalar(v.value);
    return QualifierArray({scalar(v.value)}, v.position);
  }
  if (!isArray) mismatch();
  std::vector<Variant> items;
  for (const Variant& e : v.value.parray()->data) items.push_back(scalar(e));
  return QualifierArray(std::move(items), v.position);
}

}  // namespace vr::wmi::mof_parts
