// The WMI object model of the repository: qualifiers with flavours, property declarations,
// class declarations as a MOF states them (the local part of a class), and resolved classes
// (a declaration merged with everything its superclasses hand down).
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "platform/com/variant.h"
#include "platform/wmi/wbem_codes.h"

namespace vr::wmi {

struct Qualifier {
  WString name;
  // VT_I4, VT_R8, VT_BSTR, VT_BOOL or a one-dimensional array of one of them. From MOF also:
  // VT_I8 or VT_UI8 (a 64-bit value, scalar or array) and VT_NULL (a NULL value), for
  // qualifiers declared with such types.
  Variant value;
  long flavor = 0;
};

// A qualifier declaration of a namespace ("Qualifier Key : boolean = false, Scope(property,
// reference), Flavor(DisableOverride, ToSubclass);"): the type uses must fit and the flavours
// they start from.
struct QualifierDecl {
  WString name;
  CIMTYPE type = CIM_ILLEGAL;  // with CIM_FLAG_ARRAY; CIM_ILLEGAL for the form with flavours only
  Variant value = Variant::Null();  // the default, typed as uses are
  std::vector<WString> scopes;      // as written: "class", "property", "any", ...
  long flavor = 0;

  bool operator==(const QualifierDecl& o) const;
};

// Qualifiers in declaration order; names are case-insensitive and unique.
class QualifierList {
 public:
  const Qualifier* Find(WStringView name) const;
  Qualifier* Find(WStringView name);
  // Replaces the qualifier of that name in place, or appends it.
  void Set(Qualifier q);
  bool Remove(WStringView name);
  bool empty() const { return items_.empty(); }
  size_t size() const { return items_.size(); }
  const std::vector<Qualifier>& items() const { return items_; }
  std::vector<Qualifier>& items() { return items_; }
  bool operator==(const QualifierList& o) const;

 private:
  std::vector<Qualifier> items_;
};

// Checks a qualifier value's type (WBEM_E_INVALID_QUALIFIER_TYPE) and normalises arrays to one
// dimension with lower bound 0.
HRESULT NormalizeQualifierValue(const Variant& in, Variant* out);
// Flavour bits a caller may set (propagation, override, amended); WBEM_E_INVALID_FLAVOR else.
HRESULT CheckFlavor(long flavor);

struct PropertyDef {
  WString name;
  CIMTYPE type = CIM_STRING;  // with CIM_FLAG_ARRAY for arrays
  WString refClass;           // class of a CIM_REFERENCE or embedded CIM_OBJECT; empty: untyped
  Variant value = Variant::Null();  // the class default (or an instance's value)
  QualifierList qualifiers;
  // Resolved classes only: the class that first declared the property, and whether this
  // class redeclares it (qualifiers or default of its own).
  WString origin;
  bool overridden = false;

  bool IsKey() const;
  bool IsArray() const { return (type & CIM_FLAG_ARRAY) != 0; }
  CIMTYPE BaseType() const { return type & ~CIM_FLAG_ARRAY; }
};

// A method as a class declares it. Methods are stored, inherited and written, never run.
struct MethodDef {
  WString name;
  CIMTYPE returnType = CIM_EMPTY;  // CIM_EMPTY for void
  WString returnClass;             // the class of a reference or embedded object returned
  QualifierList qualifiers;
  std::vector<PropertyDef> parameters;  // in order; value is a parameter's default
  // Resolved classes only, as for properties.
  WString origin;
  bool overridden = false;

  const PropertyDef* FindParameter(WStringView name) const;
};

// A class as declared: its own qualifiers and the properties and methods it declares or
// overrides.
struct ClassDecl {
  WString name;
  WString superclass;
  QualifierList qualifiers;
  std::vector<PropertyDef> properties;
  std::vector<MethodDef> methods;

  const PropertyDef* Find(WStringView name) const;
  const MethodDef* FindMethod(WStringView name) const;
  bool operator==(const ClassDecl& o) const;
};

// A class with everything inherited: qualifiers handed down carry WBEM_FLAVOR_ORIGIN_PROPAGATED.
struct ResolvedClass {
  WString name;
  WString superclass;
  std::vector<WString> derivation;  // superclass first, up to the root
  QualifierList qualifiers;
  std::vector<PropertyDef> properties;
  std::vector<MethodDef> methods;
  std::vector<size_t> keys;  // indexes of key properties, sorted by name (case-insensitive)
  // The topmost class of the chain that declares the keys: instances of a hierarchy share
  // one key space there.
  WString keyClass;
  std::shared_ptr<const ResolvedClass> parent;

  int FindProperty(WStringView name) const;
  int FindMethod(WStringView name) const;
  bool IsAbstract() const;
  bool IsSingleton() const;
  bool IsSystem() const { return name.size() >= 2 && name[0] == u'_' && name[1] == u'_'; }
  bool InheritsFrom(WStringView ancestor) const;
};

// What ResolveClass needs from the repository when it checks a new declaration, and where it
// tells which property a failure is about.
struct ResolveChecks {
  // False when the class `derived` is known not to be `base` or one of its subclasses. Unset:
  // every narrowing of a reference is taken as valid (a stored class was checked when put).
  std::function<bool(WStringView derived, WStringView base)> isSubclassOf;
  // Out: the index in decl.properties of the property a failure is about, or -1; and the
  // index in decl.methods of the method a failure is about, or -1.
  int failedProperty = -1;
  int failedMethod = -1;
};

// Merges a declaration with its resolved superclass (null for a root class). An override may
// narrow an inherited reference to a subclass of its class. Errors: WBEM_E_TYPE_MISMATCH
// (override of another type, or a reference to a class that is not a subclass; a method
// override with another return type or other parameters),
// WBEM_E_OVERRIDE_NOT_ALLOWED, WBEM_E_CANNOT_CHANGE_KEY_INHERITANCE, WBEM_E_CANNOT_BE_KEY,
// WBEM_E_INVALID_PROPERTY_TYPE.
HRESULT ResolveClass(const ClassDecl& decl, std::shared_ptr<const ResolvedClass> parent,
                     std::shared_ptr<const ResolvedClass>* out, WString* why, ResolveChecks* checks = nullptr);

// The declaration a resolved class stands for: local qualifiers, local and overridden properties.
ClassDecl LocalDeclaration(const ResolvedClass& cls);

// Recomputes keys and keyClass after properties changed.
HRESULT ComputeKeys(ResolvedClass& cls, WString* why);

bool IsValidIdentifier(WStringView name);

}  // namespace vr::wmi
