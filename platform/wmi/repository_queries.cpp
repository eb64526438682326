// Reading instances a page at a time: every instance of a list of classes in key order, or
// those that meet a query's conditions, a condition on a key answered from the key index.
#include "platform/wmi/repository.h"

#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/instance_codec.h"
#include "platform/wmi/repository_parts.h"

namespace vr::wmi {

using vr::text::EqualsNoCase;
using vr::text::WideToUtf8;
using namespace repository_parts;

bool Session::Matches(const InstanceRecord& rec, const std::vector<PropertyCondition>& conditions,
                      WStringView ns) const {
  for (const auto& c : conditions) {
    const PropertyDef& p = rec.cls->properties[static_cast<size_t>(c.property)];
    const Variant& have = rec.values[static_cast<size_t>(c.property)];
    if (c.value.vt == VT_NULL) {
      if (have.vt != VT_NULL) return false;
      continue;
    }
    if (have.vt == VT_NULL) return false;
    // Strings compare without regard to case and references as paths, like keys do.
    WString a, b;
    if (FAILED(CanonicalKeyOfValue(have, p.type, ns, &a)) || FAILED(CanonicalKeyOfValue(c.value, p.type, ns, &b))) {
      if (have != c.value) return false;
      continue;
    }
    if (a != b) return false;
  }
  return true;
}

HRESULT Session::ReadPage(const NamespaceInfo& ns, const std::vector<WString>& classes,
                          const std::vector<PropertyCondition>& conditions, PageCursor* cursor, size_t limit,
                          std::vector<InstanceRecord>* out) {
  out->clear();
  if (cursor->done || classes.empty()) { cursor->done = true; return S_OK; }
  std::shared_ptr<const ResolvedClass> top;
  if (HRESULT hr = GetClass(ns, classes[0], &top, nullptr); FAILED(hr)) return hr;

  if (IsNamespaceClass(*top)) {
    std::vector<WString> children;
    if (HRESULT hr = ChildNamespaces(ns, &children); FAILED(hr)) return hr;
    for (const auto& c : children) {
      InstanceRecord rec;
      if (HRESULT hr = NamespaceInstance(ns, c, &rec); FAILED(hr)) return hr;
      if (Matches(rec, conditions, ns.name)) out->push_back(std::move(rec));
    }
    cursor->done = true;
    return S_OK;
  }

  // A condition on a key is answered from the key index; the rest is filtered here.
  const PropertyCondition* keyCondition = nullptr;
  for (const auto& c : conditions)
    if (top->properties[static_cast<size_t>(c.property)].IsKey() && c.value.vt != VT_NULL) keyCondition = &c;
  // Results are instances of the listed classes (by instance class, so a condition on an
  // inherited key finds instances of subclasses too), with the conditions met on properties
  // resolved by name in the instance's class.
  auto accept = [&](InstanceRecord& rec) {
    bool listed = false;
    for (const auto& c : classes) listed = listed || EqualsNoCase(c, rec.cls->name);
    if (!listed) return false;
    for (const auto& c : conditions) {
      const PropertyDef& p = top->properties[static_cast<size_t>(c.property)];
      const int at = rec.cls->FindProperty(p.name);
      if (at < 0) return false;
      PropertyCondition local{at, c.value};
      if (!Matches(rec, {local}, ns.name)) return false;
    }
    return true;
  };

  if (keyCondition) {
    const PropertyDef& p = top->properties[static_cast<size_t>(keyCondition->property)];
    WString canon;
    if (FAILED(CanonicalKeyOfValue(keyCondition->value, p.type, ns.name, &canon))) { cursor->done = true; return S_OK; }
    Statement q = repo_.db_->Sql(
        "SELECT i.id, i.class, i.data FROM instance_keys k JOIN instances i ON i.id = k.inst "
        "WHERE k.ns=?1 AND k.key_class=?2 AND k.name=?3 AND k.value=?4 AND k.inst > ?5 ORDER BY k.inst LIMIT ?6");
    q.Bind(1, ns.id).Bind(2, Fold(KeySpace(*top))).Bind(3, KeyName(p)).Bind(4, WideToUtf8(canon))
        .Bind(5, cursor->lastId).Bind(6, static_cast<int64_t>(limit));
    bool row = false;
    HRESULT hr;
    size_t seen = 0;
    while (SUCCEEDED(hr = q.Step(&row)) && row) {
      ++seen;
      cursor->lastId = q.Int(0);
      InstanceRecord rec;
      if (HRESULT d = Decode(ns, q.Text(1), q.Blob(2), &rec); FAILED(d)) { q.Reset(); return d; }
      if (accept(rec)) out->push_back(std::move(rec));
    }
    if (FAILED(hr)) return hr;
    if (seen < limit) cursor->done = true;
    return S_OK;
  }

  while (out->size() < limit && cursor->classIndex < classes.size()) {
    Statement q = repo_.db_->Sql(
        "SELECT ikey, class, data FROM instances WHERE ns=?1 AND class=?2 AND ikey > ?3 ORDER BY ikey LIMIT ?4");
    q.Bind(1, ns.id).Bind(2, Fold(classes[cursor->classIndex])).Bind(3, cursor->lastKey)
        .Bind(4, static_cast<int64_t>(limit - out->size()));
    bool row = false;
    HRESULT hr;
    size_t seen = 0;
    const size_t wanted = limit - out->size();
    while (SUCCEEDED(hr = q.Step(&row)) && row) {
      ++seen;
      cursor->lastKey = std::string(q.Text(0));
      InstanceRecord rec;
      if (HRESULT d = Decode(ns, q.Text(1), q.Blob(2), &rec); FAILED(d)) { q.Reset(); return d; }
      if (conditions.empty() || accept(rec)) out->push_back(std::move(rec));
    }
    if (FAILED(hr)) return hr;
    if (seen < wanted) {
      ++cursor->classIndex;
      cursor->lastKey.clear();
    }
    if (!conditions.empty() && seen == wanted) break;  // a filtered page may come back short
  }
  if (cursor->classIndex >= classes.size()) cursor->done = true;
  return S_OK;
}

}  // namespace vr::wmi
