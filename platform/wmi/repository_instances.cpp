// Instance storage: an instance is a row with its canonical key and its values in the binary
// form of instance_codec.h, and each of its key values once more in the key index. Getting,
// putting and deleting one instance by path.
#include "platform/wmi/repository.h"

#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/instance_codec.h"
#include "platform/wmi/repository_parts.h"
#include "platform/wmi/system_classes.h"

namespace vr::wmi {

using vr::text::EqualsNoCase;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace repository_parts;

HRESULT Session::Decode(const NamespaceInfo& ns, std::string_view rowClass, std::string_view data, InstanceRecord* out) {
  std::shared_ptr<const ResolvedClass> cls;
  if (HRESULT hr = GetClass(ns, Utf8ToWide(rowClass), &cls, nullptr); FAILED(hr))
    return hr == WBEM_E_NOT_FOUND ? WBEM_E_CRITICAL_ERROR : hr;
  return DecodeInstance(data.data(), data.size(), cls, out);
}

HRESULT Session::FindRow(const NamespaceInfo& ns, const ResolvedClass& cls, const std::string& key, bool* found,
                         int64_t* id, std::string* rowClass, std::string* data) {
  Statement q = repo_.db_->Sql("SELECT id, class, data FROM instances WHERE ns=?1 AND key_class=?2 AND ikey=?3");
  q.Bind(1, ns.id).Bind(2, Fold(KeySpace(cls))).Bind(3, key);
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  *found = row;
  if (row) {
    *id = q.Int(0);
    *rowClass = std::string(q.Text(1));
    if (data) *data = std::string(q.Blob(2));
    q.Reset();
  }
  return S_OK;
}

HRESULT Session::NamespaceInstance(const NamespaceInfo& ns, WStringView child, InstanceRecord* out) {
  std::vector<WString> children;
  if (HRESULT hr = ChildNamespaces(ns, &children); FAILED(hr)) return hr;
  for (const auto& c : children)
    if (EqualsNoCase(c, child)) {
      out->cls = SystemClass(u"__NAMESPACE");
      out->values.assign(out->cls->properties.size(), Variant::Null());
      out->values[static_cast<size_t>(out->cls->FindProperty(u"Name"))] = Variant(c);
      return S_OK;
    }
  return WBEM_E_NOT_FOUND;
}

HRESULT Session::ClassAndKeyOfPath(const NamespaceInfo& ns, const ObjectPath& path,
                                   std::shared_ptr<const ResolvedClass>* cls, WString* canon, WString* why) {
  if (HRESULT hr = GetClass(ns, path.className, cls, why); FAILED(hr)) return hr;
  if (HRESULT hr = CanonicalPathKey(**cls, path, ns.name, canon); FAILED(hr)) {
    if (why) *why = u"The path does not name the keys of " + (*cls)->name + u".";
    return hr;
  }
  return S_OK;
}

HRESULT Session::GetInstance(const NamespaceInfo& ns, const ObjectPath& path, InstanceRecord* out, WString* why) {
  std::shared_ptr<const ResolvedClass> cls;
  WString canon;
  if (HRESULT hr = ClassAndKeyOfPath(ns, path, &cls, &canon, why); FAILED(hr)) return hr;
  if (IsNamespaceClass(*cls)) {
    HRESULT hr = NamespaceInstance(ns, path.keys[0].text, out);
    if (hr == WBEM_E_NOT_FOUND && why) *why = u"The namespace " + ns.name + u"\\" + path.keys[0].text + u" does not exist.";
    return hr;
  }
  bool found = false;
  int64_t id = 0;
  std::string rowClass, data;
  if (HRESULT hr = FindRow(ns, *cls, WideToUtf8(canon), &found, &id, &rowClass, &data); FAILED(hr)) return hr;
  InstanceRecord rec;
  if (found) {
    if (HRESULT hr = Decode(ns, rowClass, data, &rec); FAILED(hr)) return hr;
    found = EqualsNoCase(rec.cls->name, cls->name) || rec.cls->InheritsFrom(cls->name);
  }
  if (!found) {
    if (why) *why = u"There is no such instance of " + cls->name + u".";
    return WBEM_E_NOT_FOUND;
  }
  *out = std::move(rec);
  return S_OK;
}

HRESULT Session::WriteInstance(const NamespaceInfo& ns, const ResolvedClass& cls, const InstanceRecord& rec,
                               const std::string& key, bool exists, int64_t id) {
  const std::string blob = EncodeInstance(rec);
  if (exists)
    return repo_.db_->Sql("UPDATE instances SET data=?1, class=?2 WHERE id=?3").BindBlob(1, blob)
        .Bind(2, Fold(cls.name)).Bind(3, id).Run();
  const std::string keySpace = Fold(KeySpace(cls));
  HRESULT hr = repo_.db_->Sql("INSERT INTO instances(ns, key_class, ikey, class, data) VALUES(?1, ?2, ?3, ?4, ?5)")
                   .Bind(1, ns.id).Bind(2, keySpace).Bind(3, key).Bind(4, Fold(cls.name)).BindBlob(5, blob).Run();
  if (FAILED(hr)) return hr;
  const int64_t newId = repo_.db_->LastInsertId();
  for (size_t k : cls.keys) {
    WString canon;
    if (HRESULT c = CanonicalKeyOfValue(rec.values[k], cls.properties[k].type, ns.name, &canon); FAILED(c)) return c;
    hr = repo_.db_->Sql("INSERT INTO instance_keys(inst, ns, key_class, name, value) VALUES(?1, ?2, ?3, ?4, ?5)")
             .Bind(1, newId).Bind(2, ns.id).Bind(3, keySpace).Bind(4, KeyName(cls.properties[k]))
             .Bind(5, WideToUtf8(canon)).Run();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT Session::PutInstance(const NamespaceInfo& ns, const InstanceRecord& in, long flags, WString* relPath,
                             WString* why) {
  auto fail = [&](HRESULT hr, const WString& text) {
    if (why) *why = text;
    return hr;
  };
  if ((flags & WBEM_FLAG_CREATE_ONLY) && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_INVALID_PARAMETER, u"Create-only and update-only exclude each other.");
  std::shared_ptr<const ResolvedClass> cls;
  if (HRESULT hr = GetClass(ns, in.cls->name, &cls, why); FAILED(hr))
    return hr == WBEM_E_NOT_FOUND ? WBEM_E_INVALID_CLASS : hr;
  if (cls->IsAbstract()) return fail(WBEM_E_INVALID_OPERATION, u"The class " + cls->name + u" is abstract and has no instances.");
  if (cls->keys.empty() && !cls->IsSingleton())
    return fail(WBEM_E_INVALID_CLASS, u"The class " + cls->name + u" has no key, so its instances cannot be stored.");

  // The values go into the class as it is now, by name.
  InstanceRecord rec;
  rec.cls = cls;
  rec.qualifiers = in.qualifiers;
  rec.propertyQualifiers = in.propertyQualifiers;
  rec.values.reserve(cls->properties.size());
  for (const auto& p : cls->properties) {
    const int at = in.cls->FindProperty(p.name);
    if (at < 0 || static_cast<size_t>(at) >= in.values.size()) { rec.values.push_back(p.value); continue; }
    Variant v;
    if (FAILED(ConvertToCim(in.values[static_cast<size_t>(at)], p.type, &v)))
      return fail(WBEM_E_TYPE_MISMATCH, u"The value of " + p.name + u" does not fit its type.");
    rec.values.push_back(std::move(v));
  }
  for (size_t k : cls->keys)
    if (rec.values[k].vt == VT_NULL)
      return fail(WBEM_E_ILLEGAL_NULL, u"The key property " + cls->properties[k].name + u" of " + cls->name + u" has no value.");
  if (IsNamespaceClass(*cls)) {
    const Variant& name = rec.values[cls->keys[0]];
    if (HRESULT hr = CreateNamespace(ns, name.bstrVal, flags, why); FAILED(hr)) return hr;
    if (relPath) *relPath = RelativePath(*cls, rec.values);
    return S_OK;
  }
  WString canon;
  if (HRESULT hr = CanonicalInstanceKey(*cls, rec.values, ns.name, &canon); FAILED(hr))
    return fail(hr == WBEM_E_INVALID_OBJECT_PATH ? WBEM_E_INVALID_OBJECT_PATH : hr,
                u"A key value of the " + cls->name + u" instance is not valid.");
  const std::string key = WideToUtf8(canon);
  bool found = false;
  int64_t id = 0;
  std::string rowClass;
  if (HRESULT hr = FindRow(ns, *cls, key, &found, &id, &rowClass, nullptr); FAILED(hr)) return hr;
  if (found && (flags & WBEM_FLAG_CREATE_ONLY))
    return fail(WBEM_E_ALREADY_EXISTS, u"The instance " + RelativePath(*cls, rec.values) + u" already exists.");
  if (!found && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_NOT_FOUND, u"The instance " + RelativePath(*cls, rec.values) + u" does not exist, so it cannot be updated.");
  if (found && rowClass != Fold(cls->name))
    return fail(WBEM_E_ALREADY_EXISTS, u"An instance of " + Utf8ToWide(rowClass) + u" already has the key of " +
                RelativePath(*cls, rec.values) + u".");
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  if (HRESULT hr = WriteInstance(ns, *cls, rec, key, found, id); FAILED(hr)) return hr;
  if (HRESULT hr = sp.Release(); FAILED(hr)) return hr;
  if (relPath) *relPath = RelativePath(*cls, rec.values);
  return S_OK;
}

HRESULT Session::DeleteInstance(const NamespaceInfo& ns, const ObjectPath& path, WString* why) {
  std::shared_ptr<const ResolvedClass> cls;
  WString canon;
  if (HRESULT hr = ClassAndKeyOfPath(ns, path, &cls, &canon, why); FAILED(hr)) return hr;
  if (IsNamespaceClass(*cls)) return DeleteNamespace(ns, path.keys[0].text, why);
  bool found = false;
  int64_t id = 0;
  std::string rowClass;
  if (HRESULT hr = FindRow(ns, *cls, WideToUtf8(canon), &found, &id, &rowClass, nullptr); FAILED(hr)) return hr;
  if (found && rowClass != Fold(cls->name)) {
    std::shared_ptr<const ResolvedClass> actual;
    found = SUCCEEDED(GetClass(ns, Utf8ToWide(rowClass), &actual, nullptr)) && actual->InheritsFrom(cls->name);
  }
  if (!found) {
    if (why) *why = u"There is no such instance of " + cls->name + u".";
    return WBEM_E_NOT_FOUND;
  }
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  if (HRESULT hr = repo_.db_->Sql("DELETE FROM instance_keys WHERE inst=?1").Bind(1, id).Run(); FAILED(hr)) return hr;
  if (HRESULT hr = repo_.db_->Sql("DELETE FROM instances WHERE id=?1").Bind(1, id).Run(); FAILED(hr)) return hr;
  return sp.Release();
}

}  // namespace vr::wmi
