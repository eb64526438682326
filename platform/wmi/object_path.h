// WMI object paths: [\\server\namespace:]Class[.Key=value[,Key=value]...], Class=value for a
// class with one key, Class=@ for a singleton. String values are quoted with " or ' and escape
// the quote and the backslash with a backslash; numbers and TRUE/FALSE stand bare.
#pragma once
#include <vector>

#include "platform/com/variant.h"
#include "platform/wmi/object_model.h"

namespace vr::wmi {

struct PathKey {
  WString name;       // empty for the Class=value form
  WString text;       // the value, unescaped
  bool quoted = false;
};

struct ObjectPath {
  WString server;     // empty when the path names none
  WString nameSpace;  // with backslashes; empty when the path names none
  WString className;
  std::vector<PathKey> keys;
  bool singleton = false;

  bool IsClassPath() const { return keys.empty() && !singleton; }
};

// WBEM_E_INVALID_OBJECT_PATH for anything that is not a path.
HRESULT ParseObjectPath(WStringView text, ObjectPath* out);

// A namespace path: "\\.\root\x", "//./root/x", "root/x". server is "" when none is named.
// Separators become backslashes. WBEM_E_INVALID_NAMESPACE when malformed.
HRESULT ParseNamespacePath(WStringView text, WString* server, WString* nameSpace);
// True for ".", "localhost" and this computer's name.
bool IsLocalServer(WStringView server);
// This computer's name as WMI reports it in __SERVER (upper case).
WString ComputerName();

// Quotes a string for a path or a MOF literal: " and \ gain a backslash.
WString QuotePathString(WStringView s);

// The value text of a key property in a relative path: strings quoted, numbers in decimal,
// booleans TRUE/FALSE.
WString PathValueText(const Variant& v, CIMTYPE type);
// __RELPATH of an instance: keys sorted by name.
WString RelativePath(const ResolvedClass& cls, const std::vector<Variant>& values);

// The canonical form of one key value, used to compare keys: strings case-folded, references
// normalised as paths (server and the given namespace dropped), numbers in decimal.
// WBEM_E_INVALID_OBJECT_PATH / WBEM_E_TYPE_MISMATCH when the text does not fit the type.
HRESULT CanonicalKeyValue(const PathKey& key, CIMTYPE type, WStringView nameSpace, WString* out);
HRESULT CanonicalKeyOfValue(const Variant& v, CIMTYPE type, WStringView nameSpace, WString* out);
// The canonical key of an instance ("@" for singletons): name=value pairs sorted by name.
HRESULT CanonicalInstanceKey(const ResolvedClass& cls, const std::vector<Variant>& values,
                             WStringView nameSpace, WString* out);
// The same from a parsed path, checked against the class's keys (WBEM_E_INVALID_OBJECT_PATH
// for missing, unknown or repeated keys).
HRESULT CanonicalPathKey(const ResolvedClass& cls, const ObjectPath& path, WStringView nameSpace,
                         WString* out);

}  // namespace vr::wmi
