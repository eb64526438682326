#include "platform/wmi/object_path.h"

#include <algorithm>

#include "platform/os/computer.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"

namespace vr::wmi {

using vr::text::EqualsNoCase;
using vr::text::ToLower;

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsNamespaceChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' ||
         c == u'-' || c == u'.' || c >= 0x80;
}

// Splits "a\b/c" into components; false on an empty or invalid component.
bool SplitNamespace(WStringView text, WString* joined) {
  joined->clear();
  size_t pos = 0;
  if (text.empty()) return false;
  while (pos <= text.size()) {
    size_t end = pos;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    WStringView part = text.substr(pos, end - pos);
    if (part.empty()) return false;
    for (char16_t c : part)
      if (!IsNamespaceChar(c)) return false;
    if (!joined->empty()) joined->push_back(u'\\');
    joined->append(part);
    if (end >= text.size()) break;
    pos = end + 1;
  }
  return true;
}

// Reads one key value at text[pos]; pos ends after it.
bool ReadValue(WStringView text, size_t& pos, PathKey& key) {
  if (pos >= text.size()) return false;
  const char16_t q = text[pos];
  if (q == u'"' || q == u'\'') {
    key.quoted = true;
    ++pos;
    while (pos < text.size() && text[pos] != q) {
      if (text[pos] == u'\\') {
        if (++pos >= text.size()) return false;
      }
      key.text.push_back(text[pos++]);
    }
    if (pos >= text.size()) return false;
    ++pos;
    return true;
  }
  const size_t start = pos;
  while (pos < text.size() && text[pos] != u',') ++pos;
  WStringView bare = text.substr(start, pos - start);
  if (bare.empty()) return false;
  if (EqualsNoCase(bare, u"TRUE") || EqualsNoCase(bare, u"FALSE")) { key.text = WString(bare); return true; }
  size_t i = 0;
  if (bare[0] == u'-' || bare[0] == u'+') ++i;
  if (i >= bare.size()) return false;
  bool hex = false;
  if (i + 1 < bare.size() && bare[i] == u'0' && (bare[i + 1] == u'x' || bare[i + 1] == u'X')) { hex = true; i += 2; }
  if (i >= bare.size()) return false;
  for (; i < bare.size(); ++i) {
    const char16_t c = bare[i];
    const bool digit = (c >= u'0' && c <= u'9') ||
                       (hex && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')));
    if (!digit) return false;
  }
  key.text = WString(bare);
  return true;
}

bool IsIdentChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c >= 0x80;
}

WStringView ReadIdentifier(WStringView text, size_t& pos) {
  const size_t start = pos;
  while (pos < text.size() && IsIdentChar(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

HRESULT Invalid() { return WBEM_E_INVALID_OBJECT_PATH; }

// Canonical text of a reference value: the path with its local parts dropped and its names
// and string values folded, keys in name order.
HRESULT CanonicalReference(WStringView text, WStringView nameSpace, WString* out) {
  ObjectPath p;
  if (FAILED(ParseObjectPath(text, &p))) return WBEM_E_INVALID_OBJECT_PATH;
  WString r;
  if (!p.server.empty() && !IsLocalServer(p.server)) r += u"\\\\" + ToLower(p.server) + u"\\";
  const bool remote = !p.server.empty() && !IsLocalServer(p.server);
  if (!p.nameSpace.empty() && (remote || !EqualsNoCase(p.nameSpace, nameSpace)))
    r += ToLower(p.nameSpace) + u":";
  r += ToLower(p.className);
  if (p.singleton) return *out = r + u"=@", S_OK;
  std::vector<std::pair<WString, WString>> keys;
  for (const auto& k : p.keys)
    keys.emplace_back(ToLower(k.name), k.quoted ? QuotePathString(ToLower(k.text)) : ToLower(k.text));
  std::sort(keys.begin(), keys.end());
  for (size_t i = 0; i < keys.size(); ++i) {
    r += i == 0 ? (keys[i].first.empty() ? u"" : u".") : u",";
    r += keys[i].first.empty() ? u"=" + keys[i].second : keys[i].first + u"=" + keys[i].second;
  }
  *out = std::move(r);
  return S_OK;
}

}  // namespace

HRESULT ParseNamespacePath(WStringView text, WString* server, WString* nameSpace) {
  server->clear();
  size_t pos = 0;
  if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
    pos = 2;
    while (pos < text.size() && !IsSeparator(text[pos])) ++pos;
    *server = WString(text.substr(2, pos - 2));
    if (server->empty() || pos >= text.size()) return WBEM_E_INVALID_NAMESPACE;
    ++pos;
  }
  if (!SplitNamespace(text.substr(pos), nameSpace)) return WBEM_E_INVALID_NAMESPACE;
  return S_OK;
}

HRESULT ParseObjectPath(WStringView text, ObjectPath* out) {
  *out = ObjectPath();
  if (text.empty() || text.size() > 0x2000) return Invalid();
  size_t pos = 0;
  // Namespace part: everything before a ':' that comes before any quote.
  size_t colon = WStringView::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'"' || text[i] == u'\'' || text[i] == u'=') break;
    if (text[i] == u':') { colon = i; break; }
  }
  if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]) && colon == WStringView::npos)
    return Invalid();
  if (colon != WStringView::npos) {
    if (FAILED(ParseNamespacePath(text.substr(0, colon), &out->server, &out->nameSpace))) return Invalid();
    pos = colon + 1;
  }
  WStringView cls = ReadIdentifier(text, pos);
  if (!IsValidIdentifier(cls)) return Invalid();
  out->className = WString(cls);
  if (pos == text.size()) return S_OK;
  if (text[pos] == u'=') {
    ++pos;
    if (pos < text.size() && text[pos] == u'@') {
      ++pos;
      out->singleton = true;
      return pos == text.size() ? S_OK : Invalid();
    }
    PathKey k;
    if (!ReadValue(text, pos, k) || pos != text.size()) return Invalid();
    out->keys.push_back(std::move(k));
    return S_OK;
  }
  if (text[pos] != u'.') return Invalid();
  ++pos;
  while (true) {
    PathKey k;
    WStringView name = ReadIdentifier(text, pos);
    if (!IsValidIdentifier(name) || pos >= text.size() || text[pos] != u'=') return Invalid();
    k.name = WString(name);
    ++pos;
    if (!ReadValue(text, pos, k)) return Invalid();
    out->keys.push_back(std::move(k));
    if (pos == text.size()) return S_OK;
    if (text[pos] != u',') return Invalid();
    ++pos;
  }
}

WString ComputerName() {
  WString name = vr::os::ComputerName();
  return name.empty() ? WString(u"LOCALHOST") : name;
}

bool IsLocalServer(WStringView server) {
  return server == u"." || EqualsNoCase(server, u"localhost") || EqualsNoCase(server, ComputerName());
}

WString QuotePathString(WStringView s) {
  WString r;
  r.reserve(s.size() + 2);
  r.push_back(u'"');
  for (char16_t c : s) {
    if (c == u'"' || c == u'\\') r.push_back(u'\\');
    r.push_back(c);
  }
  r.push_back(u'"');
  return r;
}

WString PathValueText(const Variant& v, CIMTYPE type) {
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  switch (base) {
    case CIM_STRING: case CIM_DATETIME: case CIM_REFERENCE: return QuotePathString(v.bstrVal);
    case CIM_BOOLEAN: return v.boolVal ? u"TRUE" : u"FALSE";
    case CIM_SINT64: case CIM_UINT64: return v.bstrVal;
    default:
      if (auto n = CimIntegerValue(v, base)) return vr::text::Utf8ToWide(std::to_string(*n));
      return QuotePathString(v.bstrVal);
  }
}

WString RelativePath(const ResolvedClass& cls, const std::vector<Variant>& values) {
  if (cls.IsSingleton()) return cls.name + u"=@";
  WString r = cls.name;
  for (size_t i = 0; i < cls.keys.size(); ++i) {
    const size_t k = cls.keys[i];
    const PropertyDef& p = cls.properties[k];
    r += i == 0 ? u"." : u",";
    r += p.name + u"=";
    if (k < values.size() && values[k].vt != VT_NULL) r += PathValueText(values[k], p.type);
  }
  return r;
}

HRESULT CanonicalKeyOfValue(const Variant& v, CIMTYPE type, WStringView nameSpace, WString* out) {
  const CIMTYPE base = type & ~CIM_FLAG_ARRAY;
  if (v.vt == VT_NULL || v.vt == VT_EMPTY) return WBEM_E_ILLEGAL_NULL;
  switch (base) {
    case CIM_STRING: case CIM_DATETIME:
      if (v.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      *out = QuotePathString(ToLower(v.bstrVal));
      return S_OK;
    case CIM_REFERENCE: {
      if (v.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      WString ref;
      if (HRESULT hr = CanonicalReference(v.bstrVal, nameSpace, &ref); FAILED(hr)) return hr;
      *out = QuotePathString(ref);
      return S_OK;
    }
    case CIM_BOOLEAN:
      if (v.vt != VT_BOOL) return WBEM_E_TYPE_MISMATCH;
      *out = v.boolVal ? u"true" : u"false";
      return S_OK;
    case CIM_SINT64: case CIM_UINT64:
      if (v.vt != VT_BSTR) return WBEM_E_TYPE_MISMATCH;
      *out = v.bstrVal;
      return S_OK;
    default: {
      auto n = CimIntegerValue(v, base);
      if (!n) return WBEM_E_TYPE_MISMATCH;
      *out = vr::text::Utf8ToWide(std::to_string(*n));
      return S_OK;
    }
  }
}

HRESULT CanonicalKeyValue(const PathKey& key, CIMTYPE type, WStringView nameSpace, WString* out) {
  Variant typed;
  if (FAILED(ConvertToCim(Variant(key.text), type, &typed))) return WBEM_E_INVALID_OBJECT_PATH;
  HRESULT hr = CanonicalKeyOfValue(typed, type, nameSpace, out);
  return FAILED(hr) ? WBEM_E_INVALID_OBJECT_PATH : hr;
}

HRESULT CanonicalInstanceKey(const ResolvedClass& cls, const std::vector<Variant>& values,
                             WStringView nameSpace, WString* out) {
  if (cls.IsSingleton()) return *out = u"@", S_OK;
  WString r;
  for (size_t i = 0; i < cls.keys.size(); ++i) {
    const size_t k = cls.keys[i];
    WString canon;
    if (k >= values.size()) return WBEM_E_ILLEGAL_NULL;
    if (HRESULT hr = CanonicalKeyOfValue(values[k], cls.properties[k].type, nameSpace, &canon); FAILED(hr)) return hr;
    if (i) r += u",";
    r += ToLower(cls.properties[k].name) + u"=" + canon;
  }
  *out = std::move(r);
  return S_OK;
}

HRESULT CanonicalPathKey(const ResolvedClass& cls, const ObjectPath& path, WStringView nameSpace,
                         WString* out) {
  if (cls.IsSingleton()) {
    if (!path.singleton) return WBEM_E_INVALID_OBJECT_PATH;
    return *out = u"@", S_OK;
  }
  if (path.singleton || cls.keys.empty()) return WBEM_E_INVALID_OBJECT_PATH;
  std::vector<const PathKey*> byKey(cls.keys.size(), nullptr);
  if (path.keys.size() == 1 && path.keys[0].name.empty()) {
    if (cls.keys.size() != 1) return WBEM_E_INVALID_OBJECT_PATH;
    byKey[0] = &path.keys[0];
  } else {
    for (const auto& k : path.keys) {
      bool matched = false;
      for (size_t i = 0; i < cls.keys.size(); ++i)
        if (EqualsNoCase(cls.properties[cls.keys[i]].name, k.name)) {
          if (byKey[i]) return WBEM_E_INVALID_OBJECT_PATH;
          byKey[i] = &k;
          matched = true;
        }
      if (!matched) return WBEM_E_INVALID_OBJECT_PATH;
    }
  }
  WString r;
  for (size_t i = 0; i < cls.keys.size(); ++i) {
    if (!byKey[i]) return WBEM_E_INVALID_OBJECT_PATH;
    const PropertyDef& p = cls.properties[cls.keys[i]];
    WString canon;
    if (HRESULT hr = CanonicalKeyValue(*byKey[i], p.type, nameSpace, &canon); FAILED(hr)) return hr;
    if (i) r += u",";
    r += ToLower(p.name) + u"=" + canon;
  }
  *out = std::move(r);
  return S_OK;
}

}  // namespace vr::wmi
