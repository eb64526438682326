#include "platform/wmi/object_model.h"

#include <algorithm>

#include "platform/com/safearray.h"
#include "platform/text/casefold.h"
#include "platform/wmi/cim_types.h"

namespace vr::wmi {

using vr::text::CompareNoCase;
using vr::text::EqualsNoCase;

const Qualifier* QualifierList::Find(WStringView name) const {
  for (const auto& q : items_)
    if (EqualsNoCase(q.name, name)) return &q;
  return nullptr;
}

Qualifier* QualifierList::Find(WStringView name) {
  for (auto& q : items_)
    if (EqualsNoCase(q.name, name)) return &q;
  return nullptr;
}

void QualifierList::Set(Qualifier q) {
  if (Qualifier* existing = Find(q.name)) *existing = std::move(q);
  else items_.push_back(std::move(q));
}

bool QualifierList::Remove(WStringView name) {
  for (auto it = items_.begin(); it != items_.end(); ++it)
    if (EqualsNoCase(it->name, name)) { items_.erase(it); return true; }
  return false;
}

bool QualifierList::operator==(const QualifierList& o) const {
  if (items_.size() != o.items_.size()) return false;
  for (size_t i = 0; i < items_.size(); ++i) {
    const auto& a = items_[i];
    const auto& b = o.items_[i];
    if (a.name != b.name || a.flavor != b.flavor || a.value != b.value) return false;
  }
  return true;
}

namespace {

bool IsQualifierScalarType(VARTYPE vt) {
  return vt == VT_I4 || vt == VT_R8 || vt == VT_BSTR || vt == VT_BOOL;
}

// Handing down: what a derived class (or an instance) sees of a qualifier.
bool PropagatesTo(const Qualifier& q, long flag) {
  return (q.flavor & flag) != 0 || EqualsNoCase(q.name, u"key");
}

Qualifier Propagated(const Qualifier& q) {
  Qualifier c = q;
  c.flavor = (c.flavor & ~WBEM_FLAVOR_MASK_ORIGIN) | WBEM_FLAVOR_ORIGIN_PROPAGATED;
  return c;
}

// Applies the local qualifiers over the handed-down ones.
HRESULT MergeQualifiers(QualifierList& merged, const QualifierList& local, WStringView where,
                        WString* why) {
  for (const auto& q : local.items()) {
    Qualifier own = q;
    own.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
    if (Qualifier* inherited = merged.Find(q.name)) {
      if ((inherited->flavor & WBEM_FLAVOR_NOT_OVERRIDABLE) && inherited->value != q.value) {
        if (why) *why = u"The qualifier " + q.name + u" of " + WString(where) + u" cannot be overridden.";
        return WBEM_E_OVERRIDE_NOT_ALLOWED;
      }
      *inherited = std::move(own);
    } else {
      merged.items().push_back(std::move(own));
    }
  }
  return S_OK;
}

}  // namespace

HRESULT NormalizeQualifierValue(const Variant& in, Variant* out) {
  if (!in.IsArray()) {
    if (!IsQualifierScalarType(in.vt)) return WBEM_E_INVALID_QUALIFIER_TYPE;
    *out = in;
    if (out->vt == VT_BOOL) out->boolVal = out->boolVal ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  const SafeArray* psa = in.parray();
  const VARTYPE element = static_cast<VARTYPE>(in.vt & ~VT_ARRAY);
  if (!psa || psa->bounds.size() != 1 || !IsQualifierScalarType(element) || psa->vt != element)
    return WBEM_E_INVALID_QUALIFIER_TYPE;
  SafeArray* copy = SafeArrayCreateVector(element, 0, static_cast<uint32_t>(psa->data.size()));
  if (!copy) return WBEM_E_OUT_OF_MEMORY;
  for (size_t i = 0; i < psa->data.size(); ++i) {
    copy->data[i] = psa->data[i];
    copy->data[i].vt = element;
  }
  Variant r;
  r.AttachArray(copy);
  *out = std::move(r);
  return S_OK;
}

HRESULT CheckFlavor(long flavor) {
  const long allowed = WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE | WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS |
                       WBEM_FLAVOR_NOT_OVERRIDABLE | WBEM_FLAVOR_AMENDED | WBEM_FLAVOR_MASK_ORIGIN;
  return (flavor & ~allowed) ? WBEM_E_INVALID_FLAVOR : S_OK;
}

bool PropertyDef::IsKey() const {
  const Qualifier* q = qualifiers.Find(u"key");
  return q && q->value.vt == VT_BOOL && q->value.boolVal;
}

bool QualifierDecl::operator==(const QualifierDecl& o) const {
  if (name != o.name || type != o.type || value != o.value || flavor != o.flavor || scopes.size() != o.scopes.size())
    return false;
  for (size_t i = 0; i < scopes.size(); ++i)
    if (!EqualsNoCase(scopes[i], o.scopes[i])) return false;
  return true;
}

const PropertyDef* MethodDef::FindParameter(WStringView n) const {
  for (const auto& p : parameters)
    if (EqualsNoCase(p.name, n)) return &p;
  return nullptr;
}

const PropertyDef* ClassDecl::Find(WStringView n) const {
  for (const auto& p : properties)
    if (EqualsNoCase(p.name, n)) return &p;
  return nullptr;
}

const MethodDef* ClassDecl::FindMethod(WStringView n) const {
  for (const auto& m : methods)
    if (EqualsNoCase(m.name, n)) return &m;
  return nullptr;
}

namespace {

bool SameProperties(const std::vector<PropertyDef>& x, const std::vector<PropertyDef>& y) {
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i) {
    const auto& a = x[i];
    const auto& b = y[i];
    if (a.name != b.name || a.type != b.type || !EqualsNoCase(a.refClass, b.refClass) || a.value != b.value ||
        !(a.qualifiers == b.qualifiers))
      return false;
  }
  return true;
}

}  // namespace

bool ClassDecl::operator==(const ClassDecl& o) const {
  if (name != o.name || superclass != o.superclass || !(qualifiers == o.qualifiers) ||
      !SameProperties(properties, o.properties) || methods.size() != o.methods.size())
    return false;
  for (size_t i = 0; i < methods.size(); ++i) {
    const auto& a = methods[i];
    const auto& b = o.methods[i];
    if (a.name != b.name || a.returnType != b.returnType || !EqualsNoCase(a.returnClass, b.returnClass) ||
        !(a.qualifiers == b.qualifiers) || !SameProperties(a.parameters, b.parameters))
      return false;
  }
  return true;
}

int ResolvedClass::FindProperty(WStringView n) const {
  for (size_t i = 0; i < properties.size(); ++i)
    if (EqualsNoCase(properties[i].name, n)) return static_cast<int>(i);
  return -1;
}

int ResolvedClass::FindMethod(WStringView n) const {
  for (size_t i = 0; i < methods.size(); ++i)
    if (EqualsNoCase(methods[i].name, n)) return static_cast<int>(i);
  return -1;
}

bool ResolvedClass::IsAbstract() const {
  const Qualifier* q = qualifiers.Find(u"abstract");
  return q && !(q->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) && q->value.vt == VT_BOOL && q->value.boolVal;
}

bool ResolvedClass::IsSingleton() const {
  const Qualifier* q = qualifiers.Find(u"singleton");
  return q && q->value.vt == VT_BOOL && q->value.boolVal;
}

bool ResolvedClass::InheritsFrom(WStringView ancestor) const {
  for (const auto& d : derivation)
    if (EqualsNoCase(d, ancestor)) return true;
  return false;
}

bool IsValidIdentifier(WStringView name) {
  if (name.empty() || name.size() > 4096) return false;
  auto letter = [](char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_' || c >= 0x80;
  };
  if (!letter(name[0])) return false;
  for (char16_t c : name)
    if (!letter(c) && !(c >= u'0' && c <= u'9')) return false;
  return true;
}

HRESULT ComputeKeys(ResolvedClass& cls, WString* why) {
  cls.keys.clear();
  for (size_t i = 0; i < cls.properties.size(); ++i) {
    const PropertyDef& p = cls.properties[i];
    if (!p.IsKey()) continue;
    if (!CanBeKeyType(p.type)) {
      if (why) *why = u"The property " + p.name + u" of " + cls.name + u" cannot be a key: arrays and reals cannot be keys.";
      return WBEM_E_CANNOT_BE_KEY;
    }
    cls.keys.push_back(i);
  }
  std::sort(cls.keys.begin(), cls.keys.end(), [&](size_t a, size_t b) {
    return CompareNoCase(cls.properties[a].name, cls.properties[b].name) < 0;
  });
  if (cls.parent && !cls.parent->keys.empty()) cls.keyClass = cls.parent->keyClass;
  else cls.keyClass = cls.keys.empty() ? WString() : cls.name;
  return S_OK;
}

namespace {

// True when a reference to `narrower` may stand where the inherited one referred to `wider`.
bool NarrowsReference(const ClassDecl& decl, const ResolvedClass* parent, WStringView narrower, WStringView wider,
                      const ResolveChecks* checks) {
  if (wider.empty() || EqualsNoCase(narrower, wider)) return true;
  if (narrower.empty()) return false;  // an untyped reference is wider than any class
  if (EqualsNoCase(narrower, decl.name))  // the class being declared is not stored yet
    return parent && (EqualsNoCase(parent->name, wider) || parent->InheritsFrom(wider));
  return !checks || !checks->isSubclassOf || checks->isSubclassOf(narrower, wider);
}

}  // namespace

namespace {

// A property, parameter or return type a class may declare: the CIM types, references and
// embedded objects (CIM_OBJECT, whose class, if any, is in refClass).
bool IsStorableType(CIMTYPE type) {
  return IsValidCimType(type) || (type & ~CIM_FLAG_ARRAY) == CIM_OBJECT;
}

PropertyDef HandedDownParameter(const PropertyDef& p) {
  PropertyDef c = p;
  c.qualifiers = QualifierList();
  for (const auto& q : p.qualifiers.items())
    if (PropagatesTo(q, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS)) c.qualifiers.items().push_back(Propagated(q));
  return c;
}

HRESULT CheckParameters(const ClassDecl& decl, const MethodDef& m, WString* why) {
  for (size_t i = 0; i < m.parameters.size(); ++i) {
    const PropertyDef& p = m.parameters[i];
    if (!IsValidIdentifier(p.name)) {
      if (why) *why = u"\"" + p.name + u"\" is not a valid parameter name.";
      return WBEM_E_INVALID_METHOD_PARAMETERS;
    }
    for (size_t j = 0; j < i; ++j)
      if (EqualsNoCase(m.parameters[j].name, p.name)) {
        if (why) *why = u"The parameter " + p.name + u" of " + decl.name + u"." + m.name + u" is declared twice.";
        return WBEM_E_INVALID_DUPLICATE_PARAMETER;
      }
    if (!IsStorableType(p.type)) {
      if (why) *why = u"The parameter " + p.name + u" of " + decl.name + u"." + m.name + u" has a type this repository does not support.";
      return WBEM_E_INVALID_METHOD_PARAMETERS;
    }
    Variant v;
    if (FAILED(ConvertToCim(p.value, p.type, &v))) {
      if (why) *why = u"The default value of the parameter " + p.name + u" of " + decl.name + u"." + m.name + u" does not fit its type.";
      return WBEM_E_TYPE_MISMATCH;
    }
  }
  return S_OK;
}

}  // namespace

namespace {

// Hands the superclass's methods down and applies the declared ones over them. An override
// keeps the signature: the same return type and the same parameters in the same order, a
// reference narrowed to a subclass at most; its qualifiers merge as a property's do.
HRESULT ResolveMethods(const ClassDecl& decl, const ResolvedClass* parent, ResolvedClass& r, WString* why,
                       ResolveChecks* checks) {
  if (parent) {
    for (const auto& m : parent->methods) {
      MethodDef c;
      c.name = m.name;
      c.returnType = m.returnType;
      c.returnClass = m.returnClass;
      c.origin = m.origin;
      for (const auto& q : m.qualifiers.items())
        if (PropagatesTo(q, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS)) c.qualifiers.items().push_back(Propagated(q));
      for (const auto& p : m.parameters) c.parameters.push_back(HandedDownParameter(p));
      r.methods.push_back(std::move(c));
    }
  }
  for (size_t i = 0; i < decl.methods.size(); ++i) {
    const MethodDef& m = decl.methods[i];
    auto failure = [&](HRESULT code) {
      if (checks) checks->failedMethod = static_cast<int>(i);
      return code;
    };
    for (size_t j = 0; j < i; ++j)
      if (EqualsNoCase(decl.methods[j].name, m.name)) {
        if (why) *why = u"The method " + m.name + u" is declared twice in " + decl.name + u".";
        return failure(WBEM_E_INVALID_METHOD);
      }
    if (!IsValidIdentifier(m.name) || (m.name.size() >= 2 && m.name[0] == u'_' && m.name[1] == u'_')) {
      if (why) *why = u"\"" + m.name + u"\" is not a valid method name.";
      return failure(WBEM_E_INVALID_METHOD);
    }
    if (m.returnType != CIM_EMPTY && (!IsStorableType(m.returnType) || (m.returnType & CIM_FLAG_ARRAY))) {
      if (why) *why = u"The method " + m.name + u" of " + decl.name + u" returns a type this repository does not support.";
      return failure(WBEM_E_INVALID_METHOD);
    }
    if (HRESULT hr = CheckParameters(decl, m, why); FAILED(hr)) return failure(hr);
    const int at = r.FindMethod(m.name);
    if (at < 0) {
      MethodDef c = m;
      c.origin = decl.name;
      c.overridden = false;
      for (auto& q : c.qualifiers.items()) q.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
      for (auto& p : c.parameters) {
        Variant v;
        ConvertToCim(p.value, p.type, &v);
        p.value = std::move(v);
        for (auto& q : p.qualifiers.items()) q.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
      }
      r.methods.push_back(std::move(c));
      continue;
    }
    MethodDef& inherited = r.methods[static_cast<size_t>(at)];
    const WString where = decl.name + u"." + m.name;
    bool same = inherited.returnType == m.returnType && inherited.parameters.size() == m.parameters.size() &&
                (m.returnClass.empty() ? inherited.returnClass.empty()
                                       : NarrowsReference(decl, parent, m.returnClass, inherited.returnClass, checks));
    for (size_t k = 0; same && k < m.parameters.size(); ++k) {
      const PropertyDef& a = inherited.parameters[k];
      const PropertyDef& b = m.parameters[k];
      same = EqualsNoCase(a.name, b.name) && a.type == b.type &&
             (b.refClass.empty() ? a.refClass.empty() : NarrowsReference(decl, parent, b.refClass, a.refClass, checks));
    }
    if (!same) {
      if (why) *why = u"The method " + where + u" overrides an inherited method with another return type or other parameters.";
      return failure(WBEM_E_TYPE_MISMATCH);
    }
    if (HRESULT hr = MergeQualifiers(inherited.qualifiers, m.qualifiers, where, why); FAILED(hr)) return failure(hr);
    if (!m.returnClass.empty()) inherited.returnClass = m.returnClass;
    for (size_t k = 0; k < m.parameters.size(); ++k) {
      PropertyDef& a = inherited.parameters[k];
      const PropertyDef& b = m.parameters[k];
      if (HRESULT hr = MergeQualifiers(a.qualifiers, b.qualifiers, where + u"(" + b.name + u")", why); FAILED(hr))
        return failure(hr);
      if (!b.refClass.empty()) a.refClass = b.refClass;
      Variant v;
      ConvertToCim(b.value, b.type, &v);
      if (v.vt != VT_NULL) a.value = std::move(v);
    }
    inherited.overridden = true;
  }
  return S_OK;
}

}  // namespace

HRESULT ResolveClass(const ClassDecl& decl, std::shared_ptr<const ResolvedClass> parent,
                     std::shared_ptr<const ResolvedClass>* out, WString* why, ResolveChecks* checks) {
  if (checks) {
    checks->failedProperty = -1;
    checks->failedMethod = -1;
  }
  HRESULT hr = S_OK;
  size_t current = 0;
  auto propertyFailure = [&](HRESULT code) {
    if (checks) checks->failedProperty = static_cast<int>(current);
    return code;
  };
  auto r = std::make_shared<ResolvedClass>();
  r->name = decl.name;
  r->superclass = decl.superclass;
  r->parent = parent;
  if (parent) {
    r->derivation.push_back(parent->name);
    r->derivation.insert(r->derivation.end(), parent->derivation.begin(), parent->derivation.end());
    for (const auto& q : parent->qualifiers.items())
      if ((q.flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS) != 0) r->qualifiers.items().push_back(Propagated(q));
    for (const auto& p : parent->properties) {
      PropertyDef c;
      c.name = p.name;
      c.type = p.type;
      c.refClass = p.refClass;
      c.value = p.value;
      c.origin = p.origin;
      for (const auto& q : p.qualifiers.items())
        if (PropagatesTo(q, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS)) c.qualifiers.items().push_back(Propagated(q));
      r->properties.push_back(std::move(c));
    }
  }
  if (HRESULT hr = MergeQualifiers(r->qualifiers, decl.qualifiers, decl.name, why); FAILED(hr)) return hr;

  const bool parentHasKeys = parent && !parent->keys.empty();
  for (size_t i = 0; i < decl.properties.size(); ++i) {
    current = i;
    const PropertyDef& p = decl.properties[i];
    for (size_t j = 0; j < i; ++j)
      if (EqualsNoCase(decl.properties[j].name, p.name)) {
        if (why) *why = u"The property " + p.name + u" is declared twice in " + decl.name + u".";
        return propertyFailure(WBEM_E_INVALID_PROPERTY);
      }
    if (!IsValidIdentifier(p.name) || (p.name.size() >= 2 && p.name[0] == u'_' && p.name[1] == u'_')) {
      if (why) *why = u"\"" + p.name + u"\" is not a valid property name.";
      return propertyFailure(WBEM_E_INVALID_PROPERTY);
    }
    if (!IsStorableType(p.type)) {
      if (why) *why = u"The property " + p.name + u" of " + decl.name + u" has a type this repository does not support.";
      return propertyFailure(WBEM_E_INVALID_PROPERTY_TYPE);
    }
    Variant value;
    if (hr = ConvertToCim(p.value, p.type, &value); FAILED(hr)) {
      if (why) *why = u"The default value of " + decl.name + u"." + p.name + u" does not fit its type.";
      return propertyFailure(hr);
    }
    const int at = r->FindProperty(p.name);
    if (at >= 0) {
      PropertyDef& inherited = r->properties[static_cast<size_t>(at)];
      if (inherited.type != p.type) {
        if (why) *why = u"The property " + p.name + u" of " + decl.name + u" overrides an inherited property of another type.";
        return propertyFailure(WBEM_E_TYPE_MISMATCH);
      }
      // A reference may be narrowed to a subclass of the class it referred to, never widened.
      if (inherited.BaseType() == CIM_REFERENCE && !p.refClass.empty() &&
          !NarrowsReference(decl, parent.get(), p.refClass, inherited.refClass, checks)) {
        if (why)
          *why = u"The reference " + p.name + u" of " + decl.name + u" refers to " + p.refClass +
                 u", which is not a subclass of " + inherited.refClass + u", the class of the inherited reference.";
        return propertyFailure(WBEM_E_TYPE_MISMATCH);
      }
      const bool wasKey = inherited.IsKey();
      if (hr = MergeQualifiers(inherited.qualifiers, p.qualifiers, decl.name + u"." + p.name, why); FAILED(hr))
        return propertyFailure(hr);
      // A class may make an inherited property its key only when nothing above it has keys.
      if (inherited.IsKey() != wasKey && (wasKey || parentHasKeys)) {
        if (why) *why = u"The key property " + p.name + u" cannot change its key status in " + decl.name + u".";
        return propertyFailure(WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE);
      }
      if (!p.refClass.empty()) inherited.refClass = p.refClass;
      if (value.vt != VT_NULL) inherited.value = std::move(value);
      inherited.overridden = true;
    } else {
      PropertyDef c = p;
      c.value = std::move(value);
      c.origin = decl.name;
      c.overridden = false;
      for (auto& q : c.qualifiers.items()) q.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
      if (parentHasKeys && c.IsKey()) {
        if (why) *why = u"The class " + decl.name + u" cannot add the key " + p.name + u" to the keys it inherits.";
        return propertyFailure(WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE);
      }
      r->properties.push_back(std::move(c));
    }
  }
  if (HRESULT hr = ResolveMethods(decl, parent.get(), *r, why, checks); FAILED(hr)) return hr;
  if (HRESULT hr = ComputeKeys(*r, why); FAILED(hr)) return hr;
  *out = std::move(r);
  return S_OK;
}

ClassDecl LocalDeclaration(const ResolvedClass& cls) {
  ClassDecl d;
  d.name = cls.name;
  d.superclass = cls.superclass;
  for (const auto& q : cls.qualifiers.items())
    if (!(q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED)) {
      Qualifier c = q;
      c.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
      d.qualifiers.items().push_back(std::move(c));
    }
  for (const auto& p : cls.properties) {
    const bool own = p.origin.empty() || EqualsNoCase(p.origin, cls.name);
    if (!own && !p.overridden) continue;
    PropertyDef c;
    c.name = p.name;
    c.type = p.type;
    c.refClass = p.refClass;
    c.value = p.value;
    if (!own && cls.parent) {
      const int at = cls.parent->FindProperty(p.name);
      if (at >= 0 && cls.parent->properties[static_cast<size_t>(at)].value == p.value) c.value = Variant::Null();
    }
    for (const auto& q : p.qualifiers.items())
      if (!(q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED)) {
        Qualifier lq = q;
        lq.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
        c.qualifiers.items().push_back(std::move(lq));
      }
    d.properties.push_back(std::move(c));
  }
  auto local = [](const QualifierList& list) {
    QualifierList r;
    for (const auto& q : list.items())
      if (!(q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED)) {
        Qualifier lq = q;
        lq.flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
        r.items().push_back(std::move(lq));
      }
    return r;
  };
  for (const auto& m : cls.methods) {
    const bool own = m.origin.empty() || EqualsNoCase(m.origin, cls.name);
    if (!own && !m.overridden) continue;
    MethodDef c;
    c.name = m.name;
    c.returnType = m.returnType;
    c.returnClass = m.returnClass;
    c.qualifiers = local(m.qualifiers);
    // An override states only the defaults it changes, as for properties.
    const MethodDef* inherited = nullptr;
    if (!own && cls.parent) {
      const int at = cls.parent->FindMethod(m.name);
      if (at >= 0) inherited = &cls.parent->methods[static_cast<size_t>(at)];
    }
    for (size_t k = 0; k < m.parameters.size(); ++k) {
      const PropertyDef& p = m.parameters[k];
      PropertyDef lp;
      lp.name = p.name;
      lp.type = p.type;
      lp.refClass = p.refClass;
      lp.value = p.value;
      if (inherited && k < inherited->parameters.size() && inherited->parameters[k].value == p.value)
        lp.value = Variant::Null();
      lp.qualifiers = local(p.qualifiers);
      c.parameters.push_back(std::move(lp));
    }
    d.methods.push_back(std::move(c));
  }
  return d;
}

}  // namespace vr::wmi
