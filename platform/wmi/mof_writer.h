// The MOF writer: the text IWbemClassObject::GetObjectText returns, which the MOF reader reads
// back to the same objects. A class is written as its own declaration (what it declares or
// overrides); an instance with every property that has a value, and NULL where the class
// default is not null.
#pragma once
#include <functional>
#include <utility>
#include <vector>

#include "platform/wmi/object_model.h"

namespace vr::wmi {

// A string constant with the escapes the reader knows.
WString MofString(WStringView s);
// A property value of the CIM type (arrays included); "NULL" for null.
WString MofValueText(const Variant& v, CIMTYPE type);
// The qualifier declarations a text is read with (null when none): a use's flavours are
// written relative to its declaration, so that the text reads back to the same flavours.
using QualifierDeclLookup = std::function<const QualifierDecl*(WStringView name)>;

// "[name(value): flavors, ...]" followed by one blank; empty for an empty list.
WString MofQualifierList(const QualifierList& q, bool withFlavors, const QualifierDeclLookup* decls = nullptr);

// flags: WBEM_FLAG_NO_FLAVORS leaves the flavours out. Both texts begin with a line feed.
WString MofClassText(const ClassDecl& decl, long flags, const QualifierDeclLookup* decls = nullptr);
// "Qualifier Key : boolean = FALSE, Scope(property), Flavor(DisableOverride, ToSubclass);"
// after a line feed, with every flavour aspect named.
WString MofQualifierDeclText(const QualifierDecl& decl);

struct InstanceText {
  const ResolvedClass* cls = nullptr;
  const std::vector<Variant>* values = nullptr;
  const QualifierList* qualifiers = nullptr;                                     // may be null
  const std::vector<std::pair<WString, QualifierList>>* propertyQualifiers = nullptr;  // may be null
};
WString MofInstanceText(const InstanceText& inst, long flags, const QualifierDeclLookup* decls = nullptr);

}  // namespace vr::wmi
