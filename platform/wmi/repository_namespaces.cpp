// The repository's namespaces: finding, listing, creating and deleting them (a deleted
// namespace takes its child namespaces, classes, instances and qualifier declarations along).
#include "platform/wmi/repository.h"

#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/repository_parts.h"

namespace vr::wmi {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace repository_parts;

HRESULT Session::FindNamespace(WStringView name, NamespaceInfo* out, WString* why) {
  Statement q = repo_.db_->Sql("SELECT id, name FROM namespaces WHERE fold=?1");
  q.Bind(1, Fold(name));
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  if (!row) {
    if (why) *why = u"The namespace " + WString(name) + u" does not exist.";
    return WBEM_E_INVALID_NAMESPACE;
  }
  out->id = q.Int(0);
  out->name = Utf8ToWide(q.Text(1));
  q.Reset();
  return S_OK;
}

HRESULT Session::ChildNamespaces(const NamespaceInfo& ns, std::vector<WString>* names) {
  names->clear();
  const std::string prefix = Fold(ns.name) + "\\";
  Statement q = repo_.db_->Sql("SELECT name FROM namespaces WHERE fold > ?1 AND fold < ?2 ORDER BY fold");
  q.Bind(1, prefix).Bind(2, Fold(ns.name) + "]");
  bool row = false;
  HRESULT hr;
  while (SUCCEEDED(hr = q.Step(&row)) && row) {
    WString full = Utf8ToWide(q.Text(0));
    WString child = full.substr(ns.name.size() + 1);
    if (child.find(u'\\') == WString::npos) names->push_back(child);
  }
  return hr;
}

HRESULT Session::AllNamespaces(std::vector<NamespaceInfo>* out) {
  out->clear();
  Statement q = repo_.db_->Sql("SELECT id, name FROM namespaces ORDER BY fold");
  bool row = false;
  HRESULT hr;
  while (SUCCEEDED(hr = q.Step(&row)) && row) out->push_back({q.Int(0), Utf8ToWide(q.Text(1))});
  return hr;
}

HRESULT Session::CreateNamespace(const NamespaceInfo& parent, WStringView child, long flags, WString* why) {
  if (!IsValidIdentifier(child)) {
    if (why) *why = u"\"" + WString(child) + u"\" is not a valid namespace name.";
    return WBEM_E_INVALID_PARAMETER;
  }
  const WString full = parent.name + u"\\" + WString(child);
  NamespaceInfo existing;
  const bool exists = SUCCEEDED(FindNamespace(full, &existing, nullptr));
  if (exists && (flags & WBEM_FLAG_CREATE_ONLY)) {
    if (why) *why = u"The namespace " + full + u" already exists.";
    return WBEM_E_ALREADY_EXISTS;
  }
  if (!exists && (flags & WBEM_FLAG_UPDATE_ONLY)) {
    if (why) *why = u"The namespace " + full + u" does not exist.";
    return WBEM_E_NOT_FOUND;
  }
  if (exists) return S_OK;
  HRESULT hr = repo_.db_->Sql("INSERT INTO namespaces(fold, name) VALUES(?1, ?2)")
                   .Bind(1, Fold(full)).Bind(2, WideToUtf8(full)).Run();
  if (FAILED(hr)) return hr;
  return TouchSchema();
}

HRESULT Session::DeleteNamespace(const NamespaceInfo& parent, WStringView child, WString* why) {
  const WString full = parent.name + u"\\" + WString(child);
  NamespaceInfo target;
  if (FAILED(FindNamespace(full, &target, nullptr))) {
    if (why) *why = u"The namespace " + full + u" does not exist.";
    return WBEM_E_NOT_FOUND;
  }
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  SchemaGuard guard(repo_.classCache_);
  std::vector<int64_t> ids;
  {
    Statement q = repo_.db_->Sql("SELECT id FROM namespaces WHERE fold=?1 OR (fold > ?2 AND fold < ?3)");
    const std::string f = Fold(full);
    q.Bind(1, f).Bind(2, f + "\\").Bind(3, f + "]");
    bool row = false;
    HRESULT hr;
    while (SUCCEEDED(hr = q.Step(&row)) && row) ids.push_back(q.Int(0));
    if (FAILED(hr)) return hr;
  }
  for (int64_t id : ids) {
    for (const char* sql : {"DELETE FROM instance_keys WHERE ns=?1", "DELETE FROM instances WHERE ns=?1",
                            "DELETE FROM classes WHERE ns=?1", "DELETE FROM qualifier_decls WHERE ns=?1",
                            "DELETE FROM namespaces WHERE id=?1"}) {
      if (HRESULT hr = repo_.db_->Sql(sql).Bind(1, id).Run(); FAILED(hr)) return hr;
    }
  }
  if (HRESULT hr = TouchSchema(); FAILED(hr)) return hr;
  guard.armed = false;
  return sp.Release();
}

}  // namespace vr::wmi
