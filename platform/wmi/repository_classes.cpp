// Class storage: a class is kept as the MOF text of its own declaration and resolved against
// its superclass when read (resolved classes are cached until the schema changes). Putting a
// class checks it against its subclasses and instances in the update modes WMI has.
#include "platform/wmi/repository.h"

#include <algorithm>

#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/instance_codec.h"
#include "platform/wmi/mof_reader.h"
#include "platform/wmi/mof_writer.h"
#include "platform/wmi/repository_parts.h"
#include "platform/wmi/system_classes.h"

namespace vr::wmi {

using vr::text::EqualsNoCase;
using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;
using namespace repository_parts;

namespace {

bool SameType(const PropertyDef& a, const PropertyDef& b) {
  return a.type == b.type && EqualsNoCase(a.refClass, b.refClass);
}

}  // namespace

HRESULT Session::ClassRow(const NamespaceInfo& ns, WStringView name, bool* exists, std::string* text,
                          WString* storedName) {
  Statement q = repo_.db_->Sql("SELECT name, text FROM classes WHERE ns=?1 AND fold=?2");
  q.Bind(1, ns.id).Bind(2, Fold(name));
  bool row = false;
  if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
  *exists = row;
  if (row) {
    if (storedName) *storedName = Utf8ToWide(q.Text(0));
    if (text) *text = std::string(q.Text(1));
    q.Reset();
  }
  return S_OK;
}

HRESULT Session::LoadClass(const NamespaceInfo& ns, WStringView name, int depth,
                           std::shared_ptr<const ResolvedClass>* out) {
  if (auto sys = SystemClass(name)) { *out = sys; return S_OK; }
  if (depth > 64) return WBEM_E_CRITICAL_ERROR;
  const auto cacheKey = std::make_pair(ns.id, Fold(name));
  if (auto it = repo_.classCache_.find(cacheKey); it != repo_.classCache_.end()) {
    *out = it->second;
    return S_OK;
  }
  bool exists = false;
  std::string text;
  if (HRESULT hr = ClassRow(ns, name, &exists, &text, nullptr); FAILED(hr)) return hr;
  if (!exists) return WBEM_E_NOT_FOUND;
  MofDocument doc;
  MofError error;
  MofReadOptions stored;
  stored.storedText = true;
  if (FAILED(ReadMof(Utf8ToWide(text), u"root", &doc, &error, &stored)) || doc.statements.size() != 1 ||
      doc.statements[0].kind != MofStatement::Kind::kClass)
    return WBEM_E_CRITICAL_ERROR;
  const ClassDecl& decl = doc.statements[0].cls;
  std::shared_ptr<const ResolvedClass> parent;
  if (!decl.superclass.empty()) {
    HRESULT hr = LoadClass(ns, decl.superclass, depth + 1, &parent);
    if (hr == WBEM_E_NOT_FOUND) return WBEM_E_INVALID_SUPERCLASS;
    if (FAILED(hr)) return hr;
  }
  std::shared_ptr<const ResolvedClass> resolved;
  if (HRESULT hr = ResolveClass(decl, parent, &resolved, nullptr); FAILED(hr)) return hr;
  repo_.classCache_[cacheKey] = resolved;
  *out = resolved;
  return S_OK;
}

HRESULT Session::GetClass(const NamespaceInfo& ns, WStringView name, std::shared_ptr<const ResolvedClass>* out,
                          WString* why) {
  HRESULT hr = IsValidIdentifier(name) ? LoadClass(ns, name, 0, out) : WBEM_E_NOT_FOUND;
  if (hr == WBEM_E_NOT_FOUND && why) *why = u"The class " + WString(name) + u" does not exist in " + ns.name + u".";
  else if (FAILED(hr) && why) *why = u"The class " + WString(name) + u" cannot be read: the repository is damaged.";
  return hr;
}

HRESULT Session::DirectChildren(const NamespaceInfo& ns, WStringView name, std::vector<WString>* out) {
  out->clear();
  for (const auto& c : SystemClasses())
    if (EqualsNoCase(c->superclass, name)) out->push_back(c->name);
  // The index is named: left to itself, SQLite walks the namespace's rows in primary-key order,
  // and an export (one call per class) then reads every class text once per class. The names
  // are sorted below.
  Statement q = repo_.db_->Sql("SELECT name FROM classes INDEXED BY classes_by_super WHERE ns=?1 AND super=?2");
  q.Bind(1, ns.id).Bind(2, Fold(name));
  bool row = false;
  HRESULT hr;
  while (SUCCEEDED(hr = q.Step(&row)) && row) out->push_back(Utf8ToWide(q.Text(0)));
  std::sort(out->begin(), out->end(), [](const WString& a, const WString& b) { return vr::text::CompareNoCase(a, b) < 0; });
  return hr;
}

HRESULT Session::ClassAndDescendants(const NamespaceInfo& ns, WStringView name, std::vector<WString>* out) {
  out->clear();
  out->push_back(WString(name));
  for (size_t i = 0; i < out->size(); ++i) {
    std::vector<WString> children;
    if (HRESULT hr = DirectChildren(ns, (*out)[i], &children); FAILED(hr)) return hr;
    out->insert(out->end(), children.begin(), children.end());
    if (out->size() > 100000) return WBEM_E_CRITICAL_ERROR;
  }
  return S_OK;
}

HRESULT Session::ListClasses(const NamespaceInfo& ns, WStringView superclass, bool deep, bool withSystem,
                             std::vector<WString>* out) {
  out->clear();
  // Depth first, so that every class follows its superclass.
  std::vector<std::pair<WString, bool>> stack;  // name, emit
  std::vector<WString> roots;
  if (HRESULT hr = DirectChildren(ns, superclass, &roots); FAILED(hr)) return hr;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, true);
  while (!stack.empty()) {
    WString name = std::move(stack.back().first);
    stack.pop_back();
    const bool system = name.size() >= 2 && name[0] == u'_' && name[1] == u'_';
    if (withSystem || !system) out->push_back(name);
    if (!deep) continue;
    std::vector<WString> children;
    if (HRESULT hr = DirectChildren(ns, name, &children); FAILED(hr)) return hr;
    for (auto it = children.rbegin(); it != children.rend(); ++it) stack.emplace_back(*it, true);
    if (out->size() > 100000) return WBEM_E_CRITICAL_ERROR;
  }
  return S_OK;
}

HRESULT Session::HasInstances(const NamespaceInfo& ns, const std::vector<WString>& classes, bool* any) {
  *any = false;
  for (const auto& c : classes) {
    Statement q = repo_.db_->Sql("SELECT 1 FROM instances WHERE ns=?1 AND class=?2 LIMIT 1");
    q.Bind(1, ns.id).Bind(2, Fold(c));
    bool row = false;
    if (HRESULT hr = q.Step(&row); FAILED(hr)) return hr;
    if (row) { q.Reset(); *any = true; return S_OK; }
  }
  return S_OK;
}

HRESULT Session::DeleteInstancesOf(const NamespaceInfo& ns, WStringView cls) {
  const std::string f = Fold(cls);
  HRESULT hr = repo_.db_->Sql("DELETE FROM instance_keys WHERE inst IN (SELECT id FROM instances WHERE ns=?1 AND class=?2)")
                   .Bind(1, ns.id).Bind(2, f).Run();
  if (FAILED(hr)) return hr;
  return repo_.db_->Sql("DELETE FROM instances WHERE ns=?1 AND class=?2").Bind(1, ns.id).Bind(2, f).Run();
}

HRESULT Session::DeleteClassTree(const NamespaceInfo& ns, WStringView name) {
  std::vector<WString> tree;
  if (HRESULT hr = ClassAndDescendants(ns, name, &tree); FAILED(hr)) return hr;
  for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
    if (HRESULT hr = DeleteInstancesOf(ns, *it); FAILED(hr)) return hr;
    HRESULT hr = repo_.db_->Sql("DELETE FROM classes WHERE ns=?1 AND fold=?2").Bind(1, ns.id).Bind(2, Fold(*it)).Run();
    if (FAILED(hr)) return hr;
  }
  return TouchSchema();
}

HRESULT Session::DeleteClass(const NamespaceInfo& ns, WStringView name, WString* why) {
  if (SystemClass(name)) {
    if (why) *why = u"The system class " + WString(name) + u" cannot be deleted.";
    return WBEM_E_INVALID_OPERATION;
  }
  bool exists = false;
  if (HRESULT hr = ClassRow(ns, name, &exists, nullptr, nullptr); FAILED(hr)) return hr;
  if (!exists) {
    if (why) *why = u"The class " + WString(name) + u" does not exist in " + ns.name + u".";
    return WBEM_E_NOT_FOUND;
  }
  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  SchemaGuard guard(repo_.classCache_);
  if (HRESULT hr = DeleteClassTree(ns, name); FAILED(hr)) return hr;
  guard.armed = false;
  return sp.Release();
}

namespace {

// The flags and the name of a class to put, before the repository is asked anything.
HRESULT CheckClassToPut(const ClassDecl& decl, long flags, WString* why) {
  auto fail = [&](HRESULT hr, const WString& text) {
    if (why) *why = text;
    return hr;
  };
  if ((flags & WBEM_FLAG_CREATE_ONLY) && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_INVALID_PARAMETER, u"Create-only and update-only exclude each other.");
  if ((flags & WBEM_MASK_UPDATE_MODE) == WBEM_MASK_UPDATE_MODE)
    return fail(WBEM_E_INVALID_PARAMETER, u"Safe and force update modes exclude each other.");
  if (decl.name.empty()) return fail(WBEM_E_INVALID_OBJECT, u"The class has no name (__CLASS is not set).");
  if (!IsValidIdentifier(decl.name)) return fail(WBEM_E_INVALID_PARAMETER, u"\"" + decl.name + u"\" is not a valid class name.");
  if (decl.name.size() >= 2 && decl.name[0] == u'_' && decl.name[1] == u'_')
    return fail(WBEM_E_INVALID_OPERATION, u"System classes (names beginning with __) cannot be changed.");
  return S_OK;
}

// What a new definition of a stored class changes for the instances and subclasses it has.
struct ClassChange {
  bool propsChanged = false;      // properties added, removed or retyped, or another superclass
  bool keysChanged = false;       // other keys, or keys of other names or types
  bool instanceConflict = false;  // stored instances do not fit the new definition as they are
};

ClassChange CompareClasses(const ResolvedClass& old, const ResolvedClass& now) {
  ClassChange c;
  const bool superChanged = !EqualsNoCase(old.superclass, now.superclass);
  c.propsChanged = old.properties.size() != now.properties.size() || superChanged;
  for (const auto& p : old.properties) {
    const int at = now.FindProperty(p.name);
    if (at < 0 || !SameType(p, now.properties[static_cast<size_t>(at)])) c.instanceConflict = c.propsChanged = true;
  }
  c.keysChanged = old.keys.size() != now.keys.size();
  for (size_t i = 0; !c.keysChanged && i < old.keys.size(); ++i) {
    const auto& a = old.properties[old.keys[i]];
    const auto& b = now.properties[now.keys[i]];
    c.keysChanged = !EqualsNoCase(a.name, b.name) || !SameType(a, b);
  }
  c.instanceConflict = c.instanceConflict || c.keysChanged || superChanged;
  return c;
}

}  // namespace

HRESULT Session::ResolveClassToPut(const NamespaceInfo& ns, const ClassDecl& declIn,
                                   std::shared_ptr<const ResolvedClass>* resolved, WString* why,
                                   int* failedProperty, int* failedMethod) {
  auto fail = [&](HRESULT hr, const WString& text) {
    if (why) *why = text;
    return hr;
  };
  std::shared_ptr<const ResolvedClass> parent;
  if (!declIn.superclass.empty()) {
    HRESULT hr = GetClass(ns, declIn.superclass, &parent, nullptr);
    if (hr == WBEM_E_NOT_FOUND)
      return fail(WBEM_E_INVALID_SUPERCLASS, u"The superclass " + declIn.superclass + u" of " + declIn.name + u" does not exist.");
    if (FAILED(hr)) return hr;
    if (EqualsNoCase(parent->name, declIn.name) || parent->InheritsFrom(declIn.name))
      return fail(WBEM_E_CIRCULAR_REFERENCE, u"The class " + declIn.name + u" cannot derive from itself.");
  }
  WString reason;
  ResolveChecks checks;
  // A reference may name a class that is not there yet, as any reference may (an export
  // lists classes by name, not in the order they refer to each other); a class that is there
  // must descend from the class of the inherited reference.
  checks.isSubclassOf = [&](WStringView derived, WStringView base) {
    std::shared_ptr<const ResolvedClass> c;
    const HRESULT hr = GetClass(ns, derived, &c, nullptr);
    if (hr == WBEM_E_NOT_FOUND) return true;
    return SUCCEEDED(hr) && (EqualsNoCase(c->name, base) || c->InheritsFrom(base));
  };
  if (HRESULT hr = ResolveClass(declIn, parent, resolved, &reason, &checks); FAILED(hr)) {
    if (failedProperty) *failedProperty = checks.failedProperty;
    if (failedMethod) *failedMethod = checks.failedMethod;
    return fail(hr, reason);
  }
  return S_OK;
}

// Subclasses must still resolve against the new definition; the force mode deletes those that
// do not (with their instances), the other modes refuse the change.
HRESULT Session::ReconcileSubclasses(const NamespaceInfo& ns, WStringView name, const std::vector<WString>& family,
                                     long flags, WString* why) {
  for (size_t i = 1; i < family.size(); ++i) {
    std::shared_ptr<const ResolvedClass> child;
    HRESULT ch = GetClass(ns, family[i], &child, nullptr);
    if (ch == WBEM_E_NOT_FOUND) continue;  // deleted with a conflicting ancestor
    if (SUCCEEDED(ch)) continue;
    if ((flags & WBEM_MASK_UPDATE_MODE) != WBEM_FLAG_UPDATE_FORCE_MODE) {
      if (why) *why = u"The subclass " + family[i] + u" of " + WString(name) + u" conflicts with the new definition.";
      return WBEM_E_CLASS_HAS_CHILDREN;
    }
    if (HRESULT d = DeleteClassTree(ns, family[i]); FAILED(d)) return d;
  }
  return S_OK;
}

HRESULT Session::PutClass(const NamespaceInfo& ns, const ClassDecl& declIn, long flags, WString* why,
                          int* failedProperty, int* failedMethod) {
  if (failedProperty) *failedProperty = -1;
  if (failedMethod) *failedMethod = -1;
  auto fail = [&](HRESULT hr, const WString& text) {
    if (why) *why = text;
    return hr;
  };
  if (HRESULT hr = CheckClassToPut(declIn, flags, why); FAILED(hr)) return hr;
  bool exists = false;
  WString storedName;
  if (HRESULT hr = ClassRow(ns, declIn.name, &exists, nullptr, &storedName); FAILED(hr)) return hr;
  if (exists && (flags & WBEM_FLAG_CREATE_ONLY))
    return fail(WBEM_E_ALREADY_EXISTS, u"The class " + declIn.name + u" already exists.");
  if (!exists && (flags & WBEM_FLAG_UPDATE_ONLY))
    return fail(WBEM_E_NOT_FOUND, u"The class " + declIn.name + u" does not exist, so it cannot be updated.");
  std::shared_ptr<const ResolvedClass> resolved;
  if (HRESULT hr = ResolveClassToPut(ns, declIn, &resolved, why, failedProperty, failedMethod); FAILED(hr)) return hr;
  const ClassDecl decl = LocalDeclaration(*resolved);

  Savepoint sp(*repo_.db_);
  if (FAILED(sp.status())) return sp.status();
  SchemaGuard guard(repo_.classCache_);
  std::vector<WString> family;  // the class and its descendants
  std::shared_ptr<const ResolvedClass> old;
  ClassChange change;
  bool anyInstances = false;
  if (exists) {
    if (HRESULT hr = GetClass(ns, declIn.name, &old, why); FAILED(hr)) return hr;
    change = CompareClasses(*old, *resolved);
    if (HRESULT hr = ClassAndDescendants(ns, declIn.name, &family); FAILED(hr)) return hr;
    if (HRESULT hr = HasInstances(ns, family, &anyInstances); FAILED(hr)) return hr;
    const long mode = flags & WBEM_MASK_UPDATE_MODE;
    if (change.instanceConflict && anyInstances && mode != WBEM_FLAG_UPDATE_FORCE_MODE)
      return fail(WBEM_E_CLASS_HAS_INSTANCES, u"The class " + declIn.name +
                  u" has instances, and the change removes, retypes or rekeys properties they hold.");
    if (family.size() > 1 && change.propsChanged && mode == WBEM_FLAG_UPDATE_COMPATIBLE)
      return fail(WBEM_E_CLASS_HAS_CHILDREN, u"The class " + declIn.name +
                  u" has subclasses; changing its properties needs the safe or force update mode.");
  }

  HRESULT hr = repo_.db_->Sql("INSERT OR REPLACE INTO classes(ns, fold, name, super, text) VALUES(?1, ?2, ?3, ?4, ?5)")
                   .Bind(1, ns.id).Bind(2, Fold(decl.name)).Bind(3, WideToUtf8(decl.name))
                   .Bind(4, Fold(decl.superclass)).Bind(5, WideToUtf8(MofClassText(decl, 0))).Run();
  if (FAILED(hr)) return hr;
  if (HRESULT t = TouchSchema(); FAILED(t)) return t;
  if (HRESULT r = ReconcileSubclasses(ns, declIn.name, family, flags, why); FAILED(r)) return r;
  if (exists && change.instanceConflict && anyInstances) {
    std::vector<WString> remaining;
    if (HRESULT r = ClassAndDescendants(ns, declIn.name, &remaining); FAILED(r)) return r;
    if (HRESULT m = MigrateInstances(ns, remaining, *old, change.keysChanged); FAILED(m)) return m;
  }
  if (HRESULT r = sp.Release(); FAILED(r)) return r;
  guard.armed = false;
  return S_OK;
}

HRESULT Session::MigrateInstances(const NamespaceInfo& ns, const std::vector<WString>& classes,
                                  const ResolvedClass&, bool keysChanged) {
  for (const auto& c : classes) {
    if (keysChanged) {
      if (HRESULT hr = DeleteInstancesOf(ns, c); FAILED(hr)) return hr;
      continue;
    }
    std::shared_ptr<const ResolvedClass> cls;
    if (HRESULT hr = GetClass(ns, c, &cls, nullptr); FAILED(hr)) return hr;
    std::vector<std::pair<int64_t, std::string>> rows;
    {
      Statement q = repo_.db_->Sql("SELECT id, data FROM instances WHERE ns=?1 AND class=?2");
      q.Bind(1, ns.id).Bind(2, Fold(c));
      bool row = false;
      HRESULT hr;
      while (SUCCEEDED(hr = q.Step(&row)) && row) rows.emplace_back(q.Int(0), std::string(q.Blob(1)));
      if (FAILED(hr)) return hr;
    }
    for (auto& [id, data] : rows) {
      InstanceRecord rec;
      if (HRESULT hr = DecodeInstance(data.data(), data.size(), cls, &rec); FAILED(hr)) return hr;
      for (size_t i = 0; i < rec.values.size(); ++i) {
        Variant v;
        if (FAILED(ConvertToCim(rec.values[i], cls->properties[i].type, &v))) v = Variant::Null();
        rec.values[i] = std::move(v);
      }
      HRESULT hr = repo_.db_->Sql("UPDATE instances SET data=?1 WHERE id=?2").BindBlob(1, EncodeInstance(rec)).Bind(2, id).Run();
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

}  // namespace vr::wmi
