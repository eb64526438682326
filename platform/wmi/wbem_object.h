// The IWbemClassObject of the host: a class (its own editable copy of the resolved class) or
// an instance (values over a shared class), with qualifier sets that edit the object in place.
#pragma once
#include <memory>
#include <optional>
#include <vector>

#include "platform/wmi/instance_codec.h"
#include "platform/wmi/wbemcli.h"

namespace vr::wmi {

// Where an object lives: __SERVER and __NAMESPACE. Empty for objects outside a namespace.
struct ObjectLocation {
  WString server;
  WString nameSpace;
};

class WbemObject final : public IWbemClassObject, public std::enable_shared_from_this<WbemObject> {
 public:
  static std::shared_ptr<WbemObject> FromClass(const ResolvedClass& cls, ObjectLocation where);
  static std::shared_ptr<WbemObject> BlankClass(ObjectLocation where);
  static std::shared_ptr<WbemObject> FromInstance(InstanceRecord rec, ObjectLocation where);

  bool IsClass() const { return isClass_; }
  // A class object: the declaration PutClass stores.
  ClassDecl Declaration() const;
  // An instance: the record PutInstance stores.
  InstanceRecord Record() const;
  const ResolvedClass& Class() const { return *cls_; }
  const ObjectLocation& Location() const { return where_; }
  // The class object was stored: its name is fixed from now on.
  void MarkStored() { renamable_ = false; }

  HRESULT GetQualifierSet(std::shared_ptr<IWbemQualifierSet>* qualifiers) override;
  HRESULT Get(const WChar* name, long flags, VARIANT* value, CIMTYPE* type, long* flavor) override;
  HRESULT Put(const WChar* name, long flags, VARIANT* value, CIMTYPE type) override;
  HRESULT Delete(const WChar* name) override;
  HRESULT GetNames(const WChar* qualifierName, long flags, VARIANT* qualifierValue, SAFEARRAY** names) override;
  HRESULT BeginEnumeration(long enumFlags) override;
  HRESULT Next(long flags, BSTR* name, VARIANT* value, CIMTYPE* type, long* flavor) override;
  HRESULT EndEnumeration() override;
  HRESULT GetPropertyQualifierSet(const WChar* property, std::shared_ptr<IWbemQualifierSet>* qualifiers) override;
  HRESULT Clone(std::shared_ptr<IWbemClassObject>* copy) override;
  HRESULT GetObjectText(long flags, BSTR* text) override;
  HRESULT SpawnDerivedClass(long flags, std::shared_ptr<IWbemClassObject>* newClass) override;
  HRESULT SpawnInstance(long flags, std::shared_ptr<IWbemClassObject>* newInstance) override;
  HRESULT CompareTo(long flags, IWbemClassObject* other) override;
  HRESULT GetPropertyOrigin(const WChar* name, BSTR* className) override;
  HRESULT InheritsFrom(const WChar* ancestor) override;

  // The qualifier sets' view of the object; property is empty for the object's own qualifiers.
  HRESULT QualifierGet(const WString& property, WStringView name, VARIANT* value, long* flavor);
  HRESULT QualifierPut(const WString& property, WStringView name, const VARIANT& value, long flavor);
  HRESULT QualifierDelete(const WString& property, WStringView name);
  // The merged qualifiers (origin flags set), for GetNames and enumeration.
  HRESULT QualifierView(const WString& property, QualifierList* out);

 private:
  WbemObject() = default;
  int PropertyIndex(WStringView name) const { return cls_->FindProperty(name); }
  ResolvedClass& MutableClass();
  HRESULT SystemProperty(WStringView name, Variant* value, CIMTYPE* type) const;
  WString RelPath() const;
  WString Text(long flags) const;
  // Instance view of class qualifiers: those handed to instances, and the instance's own.
  QualifierList InstanceQualifiers(int property) const;
  QualifierList* OwnInstanceQualifiers(const WString& property, bool create);

  bool isClass_ = false;
  bool renamable_ = false;
  std::shared_ptr<const ResolvedClass> cls_;  // classes own theirs (copied on first change)
  bool ownsClass_ = false;
  std::vector<Variant> values_;                // instances
  QualifierList ownQualifiers_;                // instances
  std::vector<std::pair<WString, QualifierList>> ownPropertyQualifiers_;  // instances
  ObjectLocation where_;
  bool enumerating_ = false;
  std::vector<WString> enumNames_;
  size_t enumPos_ = 0;
};

}  // namespace vr::wmi
