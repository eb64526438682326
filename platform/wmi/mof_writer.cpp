#include "platform/wmi/mof_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "platform/com/safearray.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"

namespace vr::wmi {
namespace {

WString Narrow(const std::string& s) { return vr::text::Utf8ToWide(s); }

// The shortest text that reads back to the same value of its own type (a real32 is written
// as a float, not as the double it widens to), with ".0" on a whole number so that it reads
// back as a real.
WString RealText(double d, bool single) {
  char buf[64];
  const auto r = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                        : std::to_chars(buf, buf + sizeof buf, d);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
  return Narrow(s);
}

WString CharText(char16_t c) {
  if (c == u'\'') return u"'\\''";
  if (c == u'\\') return u"'\\\\'";
  if (c < 0x20 || c == 0x7F) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "'\\x%04X'", static_cast<unsigned>(c));
    return Narrow(buf);
  }
  return WString(u"'") + c + u"'";
}

WString ScalarText(const Variant& v, CIMTYPE base) {
  switch (base) {
    case CIM_STRING: case CIM_DATETIME: case CIM_REFERENCE: return MofString(v.bstrVal);
    case CIM_SINT64: case CIM_UINT64: return v.bstrVal;
    case CIM_BOOLEAN: return v.boolVal ? u"TRUE" : u"FALSE";
    case CIM_REAL32: return RealText(v.fltVal, true);
    case CIM_REAL64: return RealText(v.dblVal, false);
    case CIM_CHAR16: return CharText(static_cast<char16_t>(v.iVal));
    default:
      if (auto n = CimIntegerValue(v, base)) return Narrow(std::to_string(*n));
      return u"NULL";
  }
}

WString QualifierScalar(const Variant& v) {
  switch (v.vt) {
    case VT_NULL: case VT_EMPTY: return u"NULL";
    case VT_I4: return Narrow(std::to_string(v.lVal));
    case VT_I8: return Narrow(std::to_string(v.llVal));
    case VT_UI8: return Narrow(std::to_string(v.ullVal));
    case VT_R8: return RealText(v.dblVal, false);
    case VT_BOOL: return v.boolVal ? u"TRUE" : u"FALSE";
    default: return MofString(v.bstrVal);
  }
}

// The flavour words of a use. A use starts from its declaration's flavours (declared), so an
// aspect the declaration sets and the use does not is named too.
WString FlavorText(long flavor, long declared) {
  WString r;
  auto add = [&](const char16_t* w) {
    r += r.empty() ? u": " : u" ";
    r += w;
  };
  if (flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE) add(u"ToInstance");
  else if (declared & WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE) add(u"NotToInstance");
  if (flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS) add(u"ToSubclass");
  else if (declared & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS) add(u"NotToSubclass");
  if (flavor & WBEM_FLAVOR_NOT_OVERRIDABLE) add(u"DisableOverride");
  else if (declared & WBEM_FLAVOR_NOT_OVERRIDABLE) add(u"EnableOverride");
  if (flavor & WBEM_FLAVOR_AMENDED) add(u"Amended");
  return r;
}

// The type word of a property, parameter or method: "string", "CIM_Job ref", "object",
// "CIM_Error" (an embedded object of that class), "void".
WString TypeWord(CIMTYPE type, const WString& cls) {
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (base == CIM_REFERENCE) return (cls.empty() ? WString(u"object") : cls) + u" ref";
  if (base == CIM_OBJECT) return cls.empty() ? WString(u"object") : cls;
  if (base == CIM_EMPTY) return u"void";
  return CimTypeName(base);
}

WString ParameterText(const PropertyDef& p, bool flavors, const QualifierDeclLookup* decls) {
  WString r = MofQualifierList(p.qualifiers, flavors, decls) + TypeWord(p.type, p.refClass) + u" " + p.name;
  if (p.IsArray()) r += u"[]";
  if (p.value.vt != VT_NULL && p.value.vt != VT_EMPTY) r += u" = " + MofValueText(p.value, p.type);
  return r;
}

}  // namespace

WString MofString(WStringView s) {
  WString r;
  r.reserve(s.size() + 2);
  r.push_back(u'"');
  for (char16_t c : s) {
    switch (c) {
      case u'"': r += u"\\\""; break;
      case u'\\': r += u"\\\\"; break;
      case u'\n': r += u"\\n"; break;
      case u'\r': r += u"\\r"; break;
      case u'\t': r += u"\\t"; break;
      case u'\b': r += u"\\b"; break;
      case u'\f': r += u"\\f"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\x%04X", static_cast<unsigned>(c));
          r += Narrow(buf);
        } else {
          r.push_back(c);
        }
    }
  }
  r.push_back(u'"');
  return r;
}

WString MofValueText(const Variant& v, CIMTYPE type) {
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return u"NULL";
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (!v.IsArray()) return ScalarText(v, base);
  WString r = u"{";
  const SafeArray* psa = v.parray();
  for (size_t i = 0; psa && i < psa->data.size(); ++i) {
    if (i) r += u", ";
    r += ScalarText(psa->data[i], base);
  }
  return r + u"}";
}

WString MofQualifierList(const QualifierList& q, bool withFlavors, const QualifierDeclLookup* decls) {
  if (q.empty()) return WString();
  WString r = u"[";
  for (size_t i = 0; i < q.items().size(); ++i) {
    const Qualifier& x = q.items()[i];
    if (i) r += u", ";
    r += x.name;
    if (x.value.IsArray()) {
      r += u"{";
      const SafeArray* psa = x.value.parray();
      for (size_t j = 0; psa && j < psa->data.size(); ++j) {
        if (j) r += u", ";
        r += QualifierScalar(psa->data[j]);
      }
      r += u"}";
    } else if (!(x.value.vt == VT_BOOL && x.value.boolVal)) {
      r += u"(";
      r += QualifierScalar(x.value);
      r += u")";
    }
    if (withFlavors) {
      const QualifierDecl* d = decls && *decls ? (*decls)(x.name) : nullptr;
      r += FlavorText(x.flavor & ~WBEM_FLAVOR_MASK_ORIGIN, d ? d->flavor : 0);
    }
  }
  return r + u"] ";
}

WString MofClassText(const ClassDecl& decl, long flags, const QualifierDeclLookup* decls) {
  const bool flavors = !(flags & WBEM_FLAG_NO_FLAVORS);
  WString r = u"\n";
  if (!decl.qualifiers.empty()) {
    WString q = MofQualifierList(decl.qualifiers, flavors, decls);
    q.pop_back();
    r += q + u"\n";
  }
  r += u"class " + decl.name;
  if (!decl.superclass.empty()) r += u" : " + decl.superclass;
  r += u"\n{\n";
  for (const auto& p : decl.properties) {
    r += u"\t" + ParameterText(p, flavors, decls) + u";\n";
  }
  for (const auto& m : decl.methods) {
    r += u"\t" + MofQualifierList(m.qualifiers, flavors, decls) + TypeWord(m.returnType, m.returnClass) + u" " + m.name + u"(";
    for (size_t i = 0; i < m.parameters.size(); ++i) {
      if (i) r += u", ";
      r += ParameterText(m.parameters[i], flavors, decls);
    }
    r += u");\n";
  }
  r += u"};\n";
  return r;
}

WString MofQualifierDeclText(const QualifierDecl& d) {
  const long f = d.flavor;
  const bool toInstance = f & WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE;
  const bool toSubclass = f & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS;
  const bool fixed = f & WBEM_FLAVOR_NOT_OVERRIDABLE;
  const bool amended = f & WBEM_FLAVOR_AMENDED;
  WString r = u"\nQualifier " + d.name + u" : ";
  if (d.type == CIM_ILLEGAL) {
    // Flavours only: every aspect is named, so the text reads back to these flavours.
    r += toInstance ? u"ToInstance " : u"NotToInstance ";
    r += toSubclass ? u"ToSubclass " : u"NotToSubclass ";
    r += fixed ? u"DisableOverride" : u"EnableOverride";
    if (amended) r += u" Amended";
    return r + u";\n";
  }
  const CIMTYPE base = d.type & ~CIM_FLAG_ARRAY;
  r += CimTypeName(base);
  if (d.type & CIM_FLAG_ARRAY) r += u"[]";
  if (d.value.vt != VT_NULL && d.value.vt != VT_EMPTY) {
    r += u" = ";
    if (d.value.IsArray()) {
      r += u"{";
      const SafeArray* psa = d.value.parray();
      for (size_t j = 0; psa && j < psa->data.size(); ++j) r += (j ? u", " : u"") + QualifierScalar(psa->data[j]);
      r += u"}";
    } else {
      r += QualifierScalar(d.value);
    }
  }
  if (!d.scopes.empty()) {
    r += u", Scope(";
    for (size_t i = 0; i < d.scopes.size(); ++i) r += (i ? u", " : u"") + d.scopes[i];
    r += u")";
  }
  r += fixed ? u", Flavor(DisableOverride, " : u", Flavor(EnableOverride, ";
  r += toSubclass ? u"ToSubclass" : u"Restricted";
  if (toInstance) r += u", ToInstance";
  if (amended) r += u", Translatable";
  return r + u");\n";
}

WString MofInstanceText(const InstanceText& inst, long flags, const QualifierDeclLookup* decls) {
  const bool flavors = !(flags & WBEM_FLAG_NO_FLAVORS);
  const ResolvedClass& cls = *inst.cls;
  WString r = u"\n";
  if (inst.qualifiers && !inst.qualifiers->empty()) {
    WString q = MofQualifierList(*inst.qualifiers, flavors, decls);
    q.pop_back();
    r += q + u"\n";
  }
  r += u"instance of " + cls.name + u"\n{\n";
  for (size_t i = 0; i < cls.properties.size(); ++i) {
    const PropertyDef& p = cls.properties[i];
    const Variant& v = (*inst.values)[i];
    const bool isNull = v.vt == VT_NULL || v.vt == VT_EMPTY;
    const QualifierList* own = nullptr;
    if (inst.propertyQualifiers)
      for (const auto& pq : *inst.propertyQualifiers)
        if (vr::text::EqualsNoCase(pq.first, p.name) && !pq.second.empty()) own = &pq.second;
    if (isNull && (p.value.vt == VT_NULL || p.value.vt == VT_EMPTY) && !own) continue;
    r += u"\t";
    if (own) r += MofQualifierList(*own, flavors, decls);
    r += p.name + u" = " + MofValueText(v, p.type) + u";\n";
  }
  r += u"};\n";
  return r;
}

}  // namespace vr::wmi
