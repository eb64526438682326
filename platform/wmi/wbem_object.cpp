#include "platform/wmi/wbem_object.h"

#include "platform/fault/fault.h"
#include "platform/text/casefold.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/mof_writer.h"
#include "platform/wmi/object_path.h"

using vr::fault::InjectedHresult;

namespace vr::wmi {

using vr::text::EqualsNoCase;

namespace {

constexpr const char16_t* kSystemProperties[] = {
    u"__GENUS", u"__CLASS", u"__SUPERCLASS", u"__DYNASTY", u"__RELPATH", u"__PROPERTY_COUNT",
    u"__DERIVATION", u"__SERVER", u"__NAMESPACE", u"__PATH"};

bool IsSystemName(WStringView name) { return name.size() >= 2 && name[0] == u'_' && name[1] == u'_'; }

BSTR AllocBstr(WStringView s) { return SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size())); }

SafeArray* NameArray(const std::vector<WString>& names) { return SafeArrayFromStrings(names); }

class QualifierSetImpl final : public IWbemQualifierSet {
 public:
  QualifierSetImpl(std::shared_ptr<WbemObject> owner, WString property)
      : owner_(std::move(owner)), property_(std::move(property)) {}

  HRESULT Get(const WChar* name, long flags, VARIANT* value, long* flavor) override {
    if (auto f = InjectedHresult("wmi.QualifierGet", WBEM_E_FAILED)) return *f;
    if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
    return owner_->QualifierGet(property_, name, value, flavor);
  }
  HRESULT Put(const WChar* name, VARIANT* value, long flavor) override {
    if (auto f = InjectedHresult("wmi.QualifierPut", WBEM_E_FAILED)) return *f;
    if (!name || !value) return WBEM_E_INVALID_PARAMETER;
    return owner_->QualifierPut(property_, name, *value, flavor);
  }
  HRESULT Delete(const WChar* name) override {
    if (auto f = InjectedHresult("wmi.QualifierDelete", WBEM_E_FAILED)) return *f;
    if (!name) return WBEM_E_INVALID_PARAMETER;
    return owner_->QualifierDelete(property_, name);
  }
  HRESULT GetNames(long flags, SAFEARRAY** names) override {
    if (auto f = InjectedHresult("wmi.QualifierGetNames", WBEM_E_FAILED)) return *f;
    if (!names) return WBEM_E_INVALID_PARAMETER;
    *names = nullptr;
    if (flags != 0 && flags != WBEM_FLAG_LOCAL_ONLY && flags != WBEM_FLAG_PROPAGATED_ONLY) return WBEM_E_INVALID_PARAMETER;
    QualifierList view;
    if (HRESULT hr = owner_->QualifierView(property_, &view); FAILED(hr)) return hr;
    std::vector<WString> out;
    for (const auto& q : view.items()) {
      const bool propagated = (q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) != 0;
      if ((flags == WBEM_FLAG_LOCAL_ONLY && propagated) || (flags == WBEM_FLAG_PROPAGATED_ONLY && !propagated)) continue;
      out.push_back(q.name);
    }
    *names = NameArray(out);
    return *names ? S_OK : WBEM_E_OUT_OF_MEMORY;
  }
  HRESULT BeginEnumeration(long flags) override {
    if (auto f = InjectedHresult("wmi.QualifierBeginEnumeration", WBEM_E_FAILED)) return *f;
    if (flags != 0 && flags != WBEM_FLAG_LOCAL_ONLY && flags != WBEM_FLAG_PROPAGATED_ONLY) return WBEM_E_INVALID_PARAMETER;
    QualifierList view;
    if (HRESULT hr = owner_->QualifierView(property_, &view); FAILED(hr)) return hr;
    snapshot_.clear();
    for (const auto& q : view.items()) {
      const bool propagated = (q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) != 0;
      if ((flags == WBEM_FLAG_LOCAL_ONLY && propagated) || (flags == WBEM_FLAG_PROPAGATED_ONLY && !propagated)) continue;
      snapshot_.push_back(q);
    }
    pos_ = 0;
    enumerating_ = true;
    return S_OK;
  }
  HRESULT Next(long flags, BSTR* name, VARIANT* value, long* flavor) override {
    if (auto f = InjectedHresult("wmi.QualifierNext", WBEM_E_FAILED)) return *f;
    if (flags != 0) return WBEM_E_INVALID_PARAMETER;
    if (!enumerating_) return WBEM_E_UNEXPECTED;
    if (pos_ >= snapshot_.size()) return WBEM_S_NO_MORE_DATA;
    const Qualifier& q = snapshot_[pos_++];
    if (name) *name = AllocBstr(q.name);
    if (value) *value = q.value;
    if (flavor) *flavor = q.flavor;
    return S_OK;
  }
  HRESULT EndEnumeration() override {
    if (auto f = InjectedHresult("wmi.QualifierEndEnumeration", WBEM_E_FAILED)) return *f;
    enumerating_ = false;
    snapshot_.clear();
    return S_OK;
  }

 private:
  std::shared_ptr<WbemObject> owner_;
  WString property_;
  std::vector<Qualifier> snapshot_;
  size_t pos_ = 0;
  bool enumerating_ = false;
};

// What a derived class inherits of a qualifier list (the key qualifier always).
QualifierList HandedDown(const QualifierList& parent, long propagation) {
  QualifierList r;
  for (const auto& q : parent.items())
    if ((q.flavor & propagation) || EqualsNoCase(q.name, u"key")) {
      Qualifier c = q;
      c.flavor = (c.flavor & ~WBEM_FLAVOR_MASK_ORIGIN) | WBEM_FLAVOR_ORIGIN_PROPAGATED;
      r.items().push_back(std::move(c));
    }
  return r;
}

}  // namespace

// ---- construction -------------------------------------------------------------------------

std::shared_ptr<WbemObject> WbemObject::FromClass(const ResolvedClass& cls, ObjectLocation where) {
  std::shared_ptr<WbemObject> o(new WbemObject);
  o->isClass_ = true;
  o->cls_ = std::make_shared<ResolvedClass>(cls);
  o->ownsClass_ = true;
  o->where_ = std::move(where);
  return o;
}

std::shared_ptr<WbemObject> WbemObject::BlankClass(ObjectLocation where) {
  std::shared_ptr<WbemObject> o(new WbemObject);
  o->isClass_ = true;
  o->renamable_ = true;
  o->cls_ = std::make_shared<ResolvedClass>();
  o->ownsClass_ = true;
  o->where_ = std::move(where);
  return o;
}

std::shared_ptr<WbemObject> WbemObject::FromInstance(InstanceRecord rec, ObjectLocation where) {
  std::shared_ptr<WbemObject> o(new WbemObject);
  o->isClass_ = false;
  o->cls_ = std::move(rec.cls);
  o->values_ = std::move(rec.values);
  o->ownQualifiers_ = std::move(rec.qualifiers);
  o->ownPropertyQualifiers_ = std::move(rec.propertyQualifiers);
  o->where_ = std::move(where);
  return o;
}

ResolvedClass& WbemObject::MutableClass() {
  if (!ownsClass_) {
    cls_ = std::make_shared<ResolvedClass>(*cls_);
    ownsClass_ = true;
  }
  return const_cast<ResolvedClass&>(*cls_);
}

ClassDecl WbemObject::Declaration() const { return LocalDeclaration(*cls_); }

InstanceRecord WbemObject::Record() const {
  InstanceRecord r;
  r.cls = cls_;
  r.values = values_;
  r.qualifiers = ownQualifiers_;
  r.propertyQualifiers = ownPropertyQualifiers_;
  return r;
}

// ---- properties ---------------------------------------------------------------------------

WString WbemObject::RelPath() const {
  if (isClass_) return cls_->name;
  if (cls_->IsSingleton()) return cls_->name + u"=@";
  if (cls_->keys.empty()) return WString();
  for (size_t k : cls_->keys)
    if (values_[k].vt == VT_NULL) return WString();
  return RelativePath(*cls_, values_);
}

HRESULT WbemObject::SystemProperty(WStringView name, Variant* value, CIMTYPE* type) const {
  Variant v = Variant::Null();
  CIMTYPE t = CIM_STRING;
  auto text = [&](const WString& s) { v = s.empty() ? Variant::Null() : Variant(s); };
  if (EqualsNoCase(name, u"__GENUS")) { v = Variant(static_cast<int32_t>(isClass_ ? WBEM_GENUS_CLASS : WBEM_GENUS_INSTANCE)); t = CIM_SINT32; }
  else if (EqualsNoCase(name, u"__CLASS")) text(cls_->name);
  else if (EqualsNoCase(name, u"__SUPERCLASS")) text(cls_->superclass);
  else if (EqualsNoCase(name, u"__DYNASTY")) text(cls_->derivation.empty() ? cls_->name : cls_->derivation.back());
  else if (EqualsNoCase(name, u"__RELPATH")) text(RelPath());
  else if (EqualsNoCase(name, u"__PROPERTY_COUNT")) { v = Variant(static_cast<int32_t>(cls_->properties.size())); t = CIM_SINT32; }
  else if (EqualsNoCase(name, u"__DERIVATION")) {
    v = Variant();
    v.AttachArray(SafeArrayFromStrings(cls_->derivation));
    t = CIM_STRING | CIM_FLAG_ARRAY;
  } else if (EqualsNoCase(name, u"__SERVER")) text(where_.server);
  else if (EqualsNoCase(name, u"__NAMESPACE")) text(where_.nameSpace);
  else if (EqualsNoCase(name, u"__PATH")) {
    const WString rel = RelPath();
    text(rel.empty() || where_.nameSpace.empty() ? WString() : u"\\\\" + where_.server + u"\\" + where_.nameSpace + u":" + rel);
  } else {
    return WBEM_E_NOT_FOUND;
  }
  if (value) *value = std::move(v);
  if (type) *type = t;
  return S_OK;
}

HRESULT WbemObject::Get(const WChar* name, long flags, VARIANT* value, CIMTYPE* type, long* flavor) {
  if (auto f = InjectedHresult("wmi.Get", WBEM_E_FAILED)) return *f;
  if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
  if (IsSystemName(name)) {
    HRESULT hr = SystemProperty(name, value, type);
    if (SUCCEEDED(hr) && flavor) *flavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
    return hr;
  }
  const int at = PropertyIndex(name);
  if (at < 0) return WBEM_E_NOT_FOUND;
  const PropertyDef& p = cls_->properties[static_cast<size_t>(at)];
  if (value) *value = isClass_ ? p.value : values_[static_cast<size_t>(at)];
  if (type) *type = p.type;
  if (flavor) {
    const bool inherited = isClass_ && !p.origin.empty() && !EqualsNoCase(p.origin, cls_->name);
    *flavor = inherited ? WBEM_FLAVOR_ORIGIN_PROPAGATED : WBEM_FLAVOR_ORIGIN_LOCAL;
  }
  return S_OK;
}

HRESULT WbemObject::Put(const WChar* name, long flags, VARIANT* value, CIMTYPE type) {
  if (auto f = InjectedHresult("wmi.Put", WBEM_E_FAILED)) return *f;
  if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
  const Variant null = Variant::Null();
  const Variant& in = value ? *value : null;
  if (IsSystemName(name)) {
    if (!EqualsNoCase(name, u"__CLASS") || !isClass_) return WBEM_E_READ_ONLY;
    if (!renamable_) return WBEM_E_READ_ONLY;
    if (in.vt != VT_BSTR || !IsValidIdentifier(in.bstrVal) || IsSystemName(in.bstrVal)) return WBEM_E_INVALID_PARAMETER;
    ResolvedClass& c = MutableClass();
    for (auto& p : c.properties)
      if (p.origin.empty() || EqualsNoCase(p.origin, c.name)) p.origin = in.bstrVal;
    c.name = in.bstrVal;
    return S_OK;
  }
  if (type != 0 && !IsValidCimType(type)) return WBEM_E_INVALID_PROPERTY_TYPE;
  const int at = PropertyIndex(name);
  if (at < 0) {
    if (!isClass_) return WBEM_E_NOT_FOUND;
    // A new property of the class.
    if (!IsValidIdentifier(name)) return WBEM_E_INVALID_PARAMETER;
    const CIMTYPE t = type != 0 ? type : CimTypeOfVariant(in);
    if (t == CIM_ILLEGAL || !IsValidCimType(t)) return WBEM_E_TYPE_MISMATCH;
    PropertyDef p;
    p.name = name;
    p.type = t;
    if (HRESULT hr = ConvertToCim(in, t, &p.value); FAILED(hr)) return hr;
    p.origin = cls_->name;
    MutableClass().properties.push_back(std::move(p));
    return S_OK;
  }
  const PropertyDef& p = cls_->properties[static_cast<size_t>(at)];
  if (type != 0 && type != p.type) return WBEM_E_TYPE_MISMATCH;
  Variant converted;
  if (HRESULT hr = ConvertToCim(in, p.type, &converted); FAILED(hr)) return hr;
  if (p.BaseType() == CIM_REFERENCE && converted.vt == VT_BSTR) {
    ObjectPath path;
    if (FAILED(ParseObjectPath(converted.bstrVal, &path))) return WBEM_E_TYPE_MISMATCH;
  }
  if (isClass_) {
    PropertyDef& m = MutableClass().properties[static_cast<size_t>(at)];
    m.value = std::move(converted);
    if (!m.origin.empty() && !EqualsNoCase(m.origin, cls_->name)) m.overridden = true;
  } else {
    values_[static_cast<size_t>(at)] = std::move(converted);
  }
  return S_OK;
}

HRESULT WbemObject::Delete(const WChar* name) {
  if (auto f = InjectedHresult("wmi.Delete", WBEM_E_FAILED)) return *f;
  if (!name) return WBEM_E_INVALID_PARAMETER;
  if (IsSystemName(name)) return WBEM_E_SYSTEM_PROPERTY;
  const int at = PropertyIndex(name);
  if (at < 0) return WBEM_E_NOT_FOUND;
  const size_t i = static_cast<size_t>(at);
  if (!isClass_) {
    values_[i] = cls_->properties[i].value;
    return WBEM_S_RESET_TO_DEFAULT;
  }
  const PropertyDef& p = cls_->properties[i];
  const bool inherited = !p.origin.empty() && !EqualsNoCase(p.origin, cls_->name);
  if (!inherited) {
    ResolvedClass& c = MutableClass();
    c.properties.erase(c.properties.begin() + at);
    ComputeKeys(c, nullptr);
    return S_OK;
  }
  if (!p.overridden || !cls_->parent) return WBEM_E_PROPAGATED_PROPERTY;
  const int up = cls_->parent->FindProperty(name);
  if (up < 0) return WBEM_E_PROPAGATED_PROPERTY;
  const PropertyDef& base = cls_->parent->properties[static_cast<size_t>(up)];
  PropertyDef& m = MutableClass().properties[i];
  m.value = base.value;
  m.qualifiers = HandedDown(base.qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
  m.overridden = false;
  return WBEM_S_RESET_TO_DEFAULT;
}

HRESULT WbemObject::GetNames(const WChar* qualifierName, long flags, VARIANT* qualifierValue, SAFEARRAY** names) {
  if (auto f = InjectedHresult("wmi.GetNames", WBEM_E_FAILED)) return *f;
  if (!names) return WBEM_E_INVALID_PARAMETER;
  *names = nullptr;
  const long primary = flags & WBEM_MASK_PRIMARY_CONDITION;
  const long origin = flags & WBEM_MASK_CONDITION_ORIGIN;
  if (flags & ~(WBEM_MASK_PRIMARY_CONDITION | WBEM_MASK_CONDITION_ORIGIN | WBEM_FLAG_KEYS_ONLY | WBEM_FLAG_REFS_ONLY))
    return WBEM_E_INVALID_PARAMETER;
  if (origin != 0 && origin != WBEM_FLAG_LOCAL_ONLY && origin != WBEM_FLAG_PROPAGATED_ONLY &&
      origin != WBEM_FLAG_SYSTEM_ONLY && origin != WBEM_FLAG_NONSYSTEM_ONLY)
    return WBEM_E_INVALID_PARAMETER;
  if (primary != WBEM_FLAG_ALWAYS && !qualifierName) return WBEM_E_INVALID_PARAMETER;
  if (primary == WBEM_FLAG_ONLY_IF_IDENTICAL && !qualifierValue) return WBEM_E_INVALID_PARAMETER;
  std::vector<WString> out;
  const bool keysOrRefs = flags & (WBEM_FLAG_KEYS_ONLY | WBEM_FLAG_REFS_ONLY);
  if ((origin == 0 || origin == WBEM_FLAG_SYSTEM_ONLY) && primary == WBEM_FLAG_ALWAYS && !keysOrRefs)
    for (const char16_t* s : kSystemProperties) out.emplace_back(s);
  if (origin != WBEM_FLAG_SYSTEM_ONLY) {
    for (size_t i = 0; i < cls_->properties.size(); ++i) {
      const PropertyDef& p = cls_->properties[i];
      const bool inherited = !p.origin.empty() && !EqualsNoCase(p.origin, cls_->name);
      if (origin == WBEM_FLAG_LOCAL_ONLY && inherited) continue;
      if (origin == WBEM_FLAG_PROPAGATED_ONLY && !inherited) continue;
      if ((flags & WBEM_FLAG_KEYS_ONLY) && !p.IsKey()) continue;
      if ((flags & WBEM_FLAG_REFS_ONLY) && p.BaseType() != CIM_REFERENCE) continue;
      if (primary != WBEM_FLAG_ALWAYS) {
        const QualifierList view = isClass_ ? p.qualifiers : InstanceQualifiers(static_cast<int>(i));
        const Qualifier* q = view.Find(qualifierName);
        if (primary == WBEM_FLAG_ONLY_IF_TRUE && !q) continue;
        if (primary == WBEM_FLAG_ONLY_IF_FALSE && q) continue;
        if (primary == WBEM_FLAG_ONLY_IF_IDENTICAL && (!q || q->value != *qualifierValue)) continue;
      }
      out.push_back(p.name);
    }
  }
  *names = NameArray(out);
  return *names ? S_OK : WBEM_E_OUT_OF_MEMORY;
}

HRESULT WbemObject::BeginEnumeration(long enumFlags) {
  if (auto f = InjectedHresult("wmi.BeginEnumeration", WBEM_E_FAILED)) return *f;
  CSafeArray names;
  // The same selection as GetNames without a qualifier condition.
  if (enumFlags & WBEM_MASK_PRIMARY_CONDITION) return WBEM_E_INVALID_PARAMETER;
  HRESULT hr = GetNames(nullptr, enumFlags, nullptr, names.Receive());
  if (FAILED(hr)) return hr;
  enumNames_.clear();
  SafeArrayToStrings(names, &enumNames_);
  enumPos_ = 0;
  enumerating_ = true;
  return S_OK;
}

HRESULT WbemObject::Next(long flags, BSTR* name, VARIANT* value, CIMTYPE* type, long* flavor) {
  if (auto f = InjectedHresult("wmi.NextProperty", WBEM_E_FAILED)) return *f;
  if (flags != 0) return WBEM_E_INVALID_PARAMETER;
  if (!enumerating_) return WBEM_E_UNEXPECTED;
  while (enumPos_ < enumNames_.size()) {
    const WString& n = enumNames_[enumPos_++];
    Variant v;
    CIMTYPE t = 0;
    long fl = 0;
    HRESULT hr;
    if (IsSystemName(n)) {
      hr = SystemProperty(n, &v, &t);
      fl = WBEM_FLAVOR_ORIGIN_SYSTEM;
    } else {
      const int at = PropertyIndex(n);
      if (at < 0) continue;  // deleted while enumerating
      const PropertyDef& p = cls_->properties[static_cast<size_t>(at)];
      v = isClass_ ? p.value : values_[static_cast<size_t>(at)];
      t = p.type;
      fl = (isClass_ && !p.origin.empty() && !EqualsNoCase(p.origin, cls_->name)) ? WBEM_FLAVOR_ORIGIN_PROPAGATED : 0;
      hr = S_OK;
    }
    if (FAILED(hr)) continue;
    if (name) *name = AllocBstr(n);
    if (value) *value = std::move(v);
    if (type) *type = t;
    if (flavor) *flavor = fl;
    return S_OK;
  }
  return WBEM_S_NO_MORE_DATA;
}

HRESULT WbemObject::EndEnumeration() {
  if (auto f = InjectedHresult("wmi.EndEnumeration", WBEM_E_FAILED)) return *f;
  enumerating_ = false;
  enumNames_.clear();
  return S_OK;
}

// ---- qualifiers ---------------------------------------------------------------------------

QualifierList WbemObject::InstanceQualifiers(int property) const {
  const QualifierList& classList = property < 0 ? cls_->qualifiers : cls_->properties[static_cast<size_t>(property)].qualifiers;
  QualifierList view = HandedDown(classList, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE);
  const QualifierList* own = nullptr;
  if (property < 0) own = &ownQualifiers_;
  else
    for (const auto& pq : ownPropertyQualifiers_)
      if (EqualsNoCase(pq.first, cls_->properties[static_cast<size_t>(property)].name)) own = &pq.second;
  if (own)
    for (const auto& q : own->items()) view.Set(q);
  return view;
}

QualifierList* WbemObject::OwnInstanceQualifiers(const WString& property, bool create) {
  if (property.empty()) return &ownQualifiers_;
  for (auto& pq : ownPropertyQualifiers_)
    if (EqualsNoCase(pq.first, property)) return &pq.second;
  if (!create) return nullptr;
  ownPropertyQualifiers_.emplace_back(cls_->properties[static_cast<size_t>(PropertyIndex(property))].name, QualifierList());
  return &ownPropertyQualifiers_.back().second;
}

HRESULT WbemObject::QualifierView(const WString& property, QualifierList* out) {
  int at = -1;
  if (!property.empty() && (at = PropertyIndex(property)) < 0) return WBEM_E_NOT_FOUND;
  if (isClass_) *out = at < 0 ? cls_->qualifiers : cls_->properties[static_cast<size_t>(at)].qualifiers;
  else *out = InstanceQualifiers(at);
  return S_OK;
}

HRESULT WbemObject::QualifierGet(const WString& property, WStringView name, VARIANT* value, long* flavor) {
  // A class answers from its own lists: copying the whole view for one qualifier makes a run
  // of calls on a property with many qualifiers quadratic.
  QualifierList view;
  const QualifierList* list = &view;
  if (isClass_) {
    int at = -1;
    if (!property.empty() && (at = PropertyIndex(property)) < 0) return WBEM_E_NOT_FOUND;
    list = at < 0 ? &cls_->qualifiers : &cls_->properties[static_cast<size_t>(at)].qualifiers;
  } else if (HRESULT hr = QualifierView(property, &view); FAILED(hr)) {
    return hr;
  }
  const Qualifier* q = list->Find(name);
  if (!q) return WBEM_E_NOT_FOUND;
  if (value) *value = q->value;
  if (flavor) *flavor = q->flavor;
  return S_OK;
}

HRESULT WbemObject::QualifierPut(const WString& property, WStringView name, const VARIANT& value, long flavor) {
  if (!IsValidIdentifier(name)) return WBEM_E_INVALID_PARAMETER;
  if (HRESULT hr = CheckFlavor(flavor); FAILED(hr)) return hr;
  flavor &= ~WBEM_FLAVOR_MASK_ORIGIN;
  Qualifier q;
  q.name = WString(name);
  q.flavor = flavor;
  if (HRESULT hr = NormalizeQualifierValue(value, &q.value); FAILED(hr)) return hr;
  const bool isKey = EqualsNoCase(name, u"key");
  if (isKey && q.value.vt != VT_BOOL) return WBEM_E_INVALID_QUALIFIER_TYPE;
  int at = -1;
  if (!property.empty() && (at = PropertyIndex(property)) < 0) return WBEM_E_NOT_FOUND;
  QualifierList view;
  if (!isClass_) QualifierView(property, &view);
  const QualifierList& current =
      !isClass_ ? view : at < 0 ? cls_->qualifiers : cls_->properties[static_cast<size_t>(at)].qualifiers;
  if (const Qualifier* existing = current.Find(name))
    if ((existing->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) && (existing->flavor & WBEM_FLAVOR_NOT_OVERRIDABLE))
      return WBEM_E_OVERRIDE_NOT_ALLOWED;
  if (!isClass_) {
    if (isKey) return WBEM_E_INVALID_OPERATION;  // keys belong to the class
    if (flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS) return WBEM_E_INVALID_FLAVOR;
    OwnInstanceQualifiers(property, true)->Set(std::move(q));
    return S_OK;
  }
  if (isKey) {
    if (at < 0) return WBEM_E_INVALID_QUALIFIER;
    const PropertyDef& p = cls_->properties[static_cast<size_t>(at)];
    const bool becomesKey = q.value.boolVal != 0;
    if (becomesKey && !CanBeKeyType(p.type)) return WBEM_E_CANNOT_BE_KEY;
    if (becomesKey != p.IsKey() && cls_->parent && !cls_->parent->keys.empty()) return WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE;
  }
  ResolvedClass& c = MutableClass();
  if (at < 0) {
    c.qualifiers.Set(std::move(q));
  } else {
    PropertyDef& p = c.properties[static_cast<size_t>(at)];
    p.qualifiers.Set(std::move(q));
    if (!p.origin.empty() && !EqualsNoCase(p.origin, c.name)) p.overridden = true;
  }
  if (isKey) ComputeKeys(c, nullptr);
  return S_OK;
}

HRESULT WbemObject::QualifierDelete(const WString& property, WStringView name) {
  int at = -1;
  if (!property.empty() && (at = PropertyIndex(property)) < 0) return WBEM_E_NOT_FOUND;
  QualifierList view;
  QualifierView(property, &view);
  const Qualifier* existing = view.Find(name);
  if (!existing) return WBEM_E_NOT_FOUND;
  if (existing->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) return WBEM_E_PROPAGATED_QUALIFIER;
  if (!isClass_) {
    if (EqualsNoCase(name, u"key")) return WBEM_E_INVALID_OPERATION;
    OwnInstanceQualifiers(property, false)->Remove(name);
    // A class qualifier handed to instances shows again.
    return InstanceQualifiers(at).Find(name) ? WBEM_S_RESET_TO_DEFAULT : S_OK;
  }
  // What the superclass hands down takes the place of the deleted local qualifier.
  const Qualifier* inherited = nullptr;
  QualifierList parentView;
  if (cls_->parent) {
    if (at < 0) {
      parentView = HandedDown(cls_->parent->qualifiers, WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
    } else {
      const int up = cls_->parent->FindProperty(property);
      if (up >= 0)
        parentView = HandedDown(cls_->parent->properties[static_cast<size_t>(up)].qualifiers,
                                WBEM_FLAVOR_FLAG_PROPAGATE_TO_DERIVED_CLASS);
    }
    inherited = parentView.Find(name);
  }
  ResolvedClass& c = MutableClass();
  QualifierList& list = at < 0 ? c.qualifiers : c.properties[static_cast<size_t>(at)].qualifiers;
  if (inherited) list.Set(*inherited);
  else list.Remove(name);
  if (EqualsNoCase(name, u"key")) ComputeKeys(c, nullptr);
  return inherited ? WBEM_S_RESET_TO_DEFAULT : S_OK;
}

HRESULT WbemObject::GetQualifierSet(std::shared_ptr<IWbemQualifierSet>* qualifiers) {
  if (auto f = InjectedHresult("wmi.GetQualifierSet", WBEM_E_FAILED)) return *f;
  if (!qualifiers) return WBEM_E_INVALID_PARAMETER;
  *qualifiers = std::make_shared<QualifierSetImpl>(shared_from_this(), WString());
  return S_OK;
}

HRESULT WbemObject::GetPropertyQualifierSet(const WChar* property, std::shared_ptr<IWbemQualifierSet>* qualifiers) {
  if (auto f = InjectedHresult("wmi.GetPropertyQualifierSet", WBEM_E_FAILED)) return *f;
  if (!property || !qualifiers) return WBEM_E_INVALID_PARAMETER;
  qualifiers->reset();
  if (IsSystemName(property)) return WBEM_E_SYSTEM_PROPERTY;
  const int at = PropertyIndex(property);
  if (at < 0) return WBEM_E_NOT_FOUND;
  *qualifiers = std::make_shared<QualifierSetImpl>(shared_from_this(), cls_->properties[static_cast<size_t>(at)].name);
  return S_OK;
}

// ---- whole objects ------------------------------------------------------------------------

HRESULT WbemObject::Clone(std::shared_ptr<IWbemClassObject>* copy) {
  if (auto f = InjectedHresult("wmi.Clone", WBEM_E_FAILED)) return *f;
  if (!copy) return WBEM_E_INVALID_PARAMETER;
  std::shared_ptr<WbemObject> o(new WbemObject);
  o->isClass_ = isClass_;
  o->renamable_ = renamable_;
  o->cls_ = isClass_ ? std::make_shared<ResolvedClass>(*cls_) : cls_;
  o->ownsClass_ = isClass_;
  o->values_ = values_;
  o->ownQualifiers_ = ownQualifiers_;
  o->ownPropertyQualifiers_ = ownPropertyQualifiers_;
  o->where_ = where_;
  *copy = std::move(o);
  return S_OK;
}

WString WbemObject::Text(long flags) const {
  if (isClass_) return MofClassText(LocalDeclaration(*cls_), flags);
  InstanceText t;
  t.cls = cls_.get();
  t.values = &values_;
  t.qualifiers = &ownQualifiers_;
  t.propertyQualifiers = &ownPropertyQualifiers_;
  return MofInstanceText(t, flags);
}

HRESULT WbemObject::GetObjectText(long flags, BSTR* text) {
  if (auto f = InjectedHresult("wmi.GetObjectText", WBEM_E_FAILED)) return *f;
  if (!text) return WBEM_E_INVALID_PARAMETER;
  *text = nullptr;
  if (flags & ~WBEM_FLAG_NO_FLAVORS) return WBEM_E_INVALID_PARAMETER;
  if (cls_->name.empty()) return WBEM_E_INCOMPLETE_CLASS;
  *text = AllocBstr(Text(flags));
  return *text ? S_OK : WBEM_E_OUT_OF_MEMORY;
}

HRESULT WbemObject::SpawnDerivedClass(long flags, std::shared_ptr<IWbemClassObject>* newClass) {
  if (auto f = InjectedHresult("wmi.SpawnDerivedClass", WBEM_E_FAILED)) return *f;
  if (!newClass || flags != 0) return WBEM_E_INVALID_PARAMETER;
  if (!isClass_) return WBEM_E_INVALID_OPERATION;
  if (cls_->name.empty()) return WBEM_E_INCOMPLETE_CLASS;
  ClassDecl decl;
  decl.superclass = cls_->name;
  std::shared_ptr<const ResolvedClass> derived;
  if (HRESULT hr = ResolveClass(decl, std::make_shared<ResolvedClass>(*cls_), &derived, nullptr); FAILED(hr)) return hr;
  auto o = FromClass(*derived, where_);
  o->renamable_ = true;
  *newClass = std::move(o);
  return S_OK;
}

HRESULT WbemObject::SpawnInstance(long flags, std::shared_ptr<IWbemClassObject>* newInstance) {
  if (auto f = InjectedHresult("wmi.SpawnInstance", WBEM_E_FAILED)) return *f;
  if (!newInstance || flags != 0) return WBEM_E_INVALID_PARAMETER;
  if (!isClass_) return WBEM_E_INVALID_OPERATION;
  if (cls_->name.empty()) return WBEM_E_INCOMPLETE_CLASS;
  InstanceRecord rec;
  rec.cls = std::make_shared<ResolvedClass>(*cls_);
  for (const auto& p : cls_->properties) rec.values.push_back(p.value);
  *newInstance = FromInstance(std::move(rec), where_);
  return S_OK;
}

HRESULT WbemObject::CompareTo(long flags, IWbemClassObject* other) {
  if (auto f = InjectedHresult("wmi.CompareTo", WBEM_E_FAILED)) return *f;
  auto* o = dynamic_cast<WbemObject*>(other);
  if (!o) return WBEM_E_INVALID_PARAMETER;
  constexpr long kIgnoreQualifiers = 0x1, kIgnoreFlavor = 0x20;
  if (o->isClass_ != isClass_ || !EqualsNoCase(o->cls_->name, cls_->name)) return WBEM_S_DIFFERENT;
  if (!(flags & kIgnoreQualifiers)) {
    const long textFlags = (flags & kIgnoreFlavor) ? WBEM_FLAG_NO_FLAVORS : 0;
    return Text(textFlags) == o->Text(textFlags) ? WBEM_S_SAME : WBEM_S_DIFFERENT;
  }
  if (o->cls_->properties.size() != cls_->properties.size()) return WBEM_S_DIFFERENT;
  for (size_t i = 0; i < cls_->properties.size(); ++i) {
    const int j = o->PropertyIndex(cls_->properties[i].name);
    if (j < 0) return WBEM_S_DIFFERENT;
    const Variant& a = isClass_ ? cls_->properties[i].value : values_[i];
    const Variant& b = isClass_ ? o->cls_->properties[static_cast<size_t>(j)].value : o->values_[static_cast<size_t>(j)];
    if (a != b) return WBEM_S_DIFFERENT;
  }
  return WBEM_S_SAME;
}

HRESULT WbemObject::GetPropertyOrigin(const WChar* name, BSTR* className) {
  if (auto f = InjectedHresult("wmi.GetPropertyOrigin", WBEM_E_FAILED)) return *f;
  if (!name || !className) return WBEM_E_INVALID_PARAMETER;
  *className = nullptr;
  if (IsSystemName(name)) {
    if (FAILED(SystemProperty(name, nullptr, nullptr))) return WBEM_E_NOT_FOUND;
    *className = AllocBstr(u"___SYSTEM");
    return S_OK;
  }
  const int at = PropertyIndex(name);
  if (at < 0) return WBEM_E_NOT_FOUND;
  const WString& origin = cls_->properties[static_cast<size_t>(at)].origin;
  *className = AllocBstr(origin.empty() ? cls_->name : origin);
  return S_OK;
}

HRESULT WbemObject::InheritsFrom(const WChar* ancestor) {
  if (auto f = InjectedHresult("wmi.InheritsFrom", WBEM_E_FAILED)) return *f;
  if (!ancestor) return WBEM_E_INVALID_PARAMETER;
  return cls_->InheritsFrom(ancestor) ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
}

}  // namespace vr::wmi
