#include "platform/wmi/mof_compiler.h"

#include <map>
#include <optional>

#include "platform/com/errorinfo.h"
#include "platform/fault/fault.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/extended_status.h"
#include "platform/wmi/mof_writer.h"
#include "platform/wmi/object_path.h"
#include "platform/wmi/services.h"
#include "platform/wmi/system_classes.h"
#include "platform/wmi/wbem_object.h"

using vr::fault::InjectedHresult;

namespace vr::wmi {

using vr::text::EqualsNoCase;

namespace {

struct CompileFailure {
  HRESULT code;
  MofPosition position;
  WString message;
};

[[noreturn]] void Fail(HRESULT code, MofPosition at, WString message) { throw CompileFailure{code, at, std::move(message)}; }

struct AliasTarget {
  WString nameSpace;
  WString relPath;
};

class Compiler {
 public:
  Compiler(Session& session, MofImportCounts* counts) : s_(session), counts_(counts) {}

  void Run(const MofDocument& doc) {
    for (const auto& st : doc.statements) {
      switch (st.kind) {
        case MofStatement::Kind::kClass: Class(st); break;
        case MofStatement::Kind::kInstance: Instance(st); break;
        case MofStatement::Kind::kDeleteClass: DeleteClass(st); break;
        case MofStatement::Kind::kDeleteInstance: DeleteInstance(st); break;
        case MofStatement::Kind::kQualifier: QualifierDeclaration(st); break;
      }
    }
    CheckClassesNamed();
  }

 private:
  NamespaceInfo Namespace(const MofStatement& st) {
    NamespaceInfo ns;
    WString why;
    if (HRESULT hr = s_.FindNamespace(st.nameSpace, &ns, &why); FAILED(hr)) Fail(hr, st.position, why);
    return ns;
  }

  void Class(const MofStatement& st) {
    const NamespaceInfo ns = Namespace(st);
    WString why;
    int property = -1, method = -1;
    if (HRESULT hr = s_.PutClass(ns, st.cls, st.flags, &why, &property, &method); FAILED(hr)) {
      // A failure about one property or method is reported where it is declared.
      MofPosition at = st.position;
      if (property >= 0 && static_cast<size_t>(property) < st.propertyPositions.size())
        at = st.propertyPositions[static_cast<size_t>(property)];
      else if (method >= 0 && static_cast<size_t>(method) < st.methodPositions.size())
        at = st.methodPositions[static_cast<size_t>(method)];
      Fail(hr, at, u"class " + st.cls.name + u": " + why);
    }
    classesPut_.push_back(&st);
    ++counts_->classes;
  }

  void QualifierDeclaration(const MofStatement& st) {
    const NamespaceInfo ns = Namespace(st);
    WString why;
    if (HRESULT hr = s_.PutQualifierDecl(ns, st.qualifier, &why); FAILED(hr))
      Fail(hr, st.position, u"qualifier " + st.qualifier.name + u": " + why);
    ++counts_->qualifiers;
  }

  // Every class a reference or an embedded object of this import's classes names must exist
  // now that the import is done, as a superclass must.
  void CheckClassesNamed() {
    for (const MofStatement* st : classesPut_) {
      const NamespaceInfo ns = Namespace(*st);
      auto check = [&](const WString& cls, MofPosition at, const WString& what) {
        if (cls.empty()) return;
        std::shared_ptr<const ResolvedClass> found;
        const HRESULT hr = s_.GetClass(ns, cls, &found, nullptr);
        if (hr == WBEM_E_NOT_FOUND)
          Fail(WBEM_E_INVALID_CLASS, at, u"class " + st->cls.name + u": the class " + cls + u" of " + what +
                                             u" does not exist.");
        if (FAILED(hr)) Fail(hr, at, u"class " + st->cls.name + u": the class " + cls + u" cannot be read.");
      };
      const ClassDecl& c = st->cls;
      for (size_t i = 0; i < c.properties.size() && i < st->propertyPositions.size(); ++i)
        check(c.properties[i].refClass, st->propertyPositions[i], u"the property " + c.properties[i].name);
      for (size_t i = 0; i < c.methods.size() && i < st->methodPositions.size(); ++i) {
        const MethodDef& m = c.methods[i];
        check(m.returnClass, st->methodPositions[i], u"what the method " + m.name + u" returns");
        for (const auto& p : m.parameters)
          check(p.refClass, st->methodPositions[i], u"the parameter " + p.name + u" of the method " + m.name);
      }
    }
  }

  void Instance(const MofStatement& st) {
    const NamespaceInfo ns = Namespace(st);
    std::shared_ptr<const ResolvedClass> cls;
    WString why;
    if (HRESULT hr = s_.GetClass(ns, st.className, &cls, &why); FAILED(hr))
      Fail(hr == WBEM_E_NOT_FOUND ? WBEM_E_INVALID_CLASS : hr, st.position, u"instance of " + st.className + u": " + why);
    InstanceRecord rec;
    rec.cls = cls;
    for (const auto& p : cls->properties) rec.values.push_back(p.value);
    rec.qualifiers = st.qualifiers;
    for (const auto& p : st.properties) {
      const int at = cls->FindProperty(p.name);
      if (at < 0) Fail(WBEM_E_NOT_FOUND, p.position, u"the class " + cls->name + u" has no property " + p.name);
      const PropertyDef& def = cls->properties[static_cast<size_t>(at)];
      Variant v = p.value.value;
      if (!p.value.alias.empty()) {
        if (def.BaseType() != CIM_REFERENCE || def.IsArray())
          Fail(WBEMMOF_E_TYPE_MISMATCH, p.value.position, u"the alias $" + p.value.alias + u" can only be the value of a reference");
        const AliasTarget& target = aliases_.at(vr::text::ToLower(p.value.alias));
        v = Variant(EqualsNoCase(target.nameSpace, ns.name) ? target.relPath
                                                            : u"\\\\.\\" + target.nameSpace + u":" + target.relPath);
      }
      if (def.BaseType() == CIM_OBJECT && v.vt != VT_NULL)
        Fail(WBEMMOF_E_TYPE_MISMATCH, p.value.position,
             u"the value of " + p.name + u" is an embedded object: such values are not supported by this repository");
      Variant converted;
      if (FAILED(ConvertToCim(v, def.type, &converted)))
        Fail(WBEMMOF_E_TYPE_MISMATCH, p.value.position, u"the value of " + p.name + u" does not fit its type");
      if (def.BaseType() == CIM_REFERENCE && converted.vt == VT_BSTR) {
        ObjectPath path;
        if (FAILED(ParseObjectPath(converted.bstrVal, &path)))
          Fail(WBEMMOF_E_TYPE_MISMATCH, p.value.position, u"the value of " + p.name + u" is not an object path");
      }
      rec.values[static_cast<size_t>(at)] = std::move(converted);
      if (!p.qualifiers.empty()) rec.propertyQualifiers.emplace_back(def.name, p.qualifiers);
    }
    WString relPath;
    if (HRESULT hr = s_.PutInstance(ns, rec, st.flags, &relPath, &why); FAILED(hr))
      Fail(hr, st.position, u"instance of " + cls->name + u": " + why);
    if (!st.alias.empty()) aliases_[vr::text::ToLower(st.alias)] = {ns.name, relPath};
    ++counts_->instances;
  }

  void DeleteClass(const MofStatement& st) {
    const NamespaceInfo ns = Namespace(st);
    WString why;
    HRESULT hr = s_.DeleteClass(ns, st.target, &why);
    if (hr == WBEM_E_NOT_FOUND && !st.failIfMissing) return;
    if (FAILED(hr)) Fail(hr, st.position, u"deleteclass " + st.target + u": " + why);
    ++counts_->deletions;
  }

  void DeleteInstance(const MofStatement& st) {
    const NamespaceInfo ns = Namespace(st);
    ObjectPath path;
    ParseObjectPath(st.target, &path);
    WString why;
    HRESULT hr = s_.DeleteInstance(ns, path, &why);
    if (hr == WBEM_E_NOT_FOUND && !st.failIfMissing) return;
    if (FAILED(hr)) Fail(hr, st.position, u"deleteinstance " + st.target + u": " + why);
    ++counts_->deletions;
  }

  Session& s_;
  MofImportCounts* counts_;
  std::map<WString, AliasTarget> aliases_;
  std::vector<const MofStatement*> classesPut_;
};

}  // namespace

HRESULT CompileMof(Repository& repo, WStringView text, WStringView defaultNamespace, MofImportCounts* counts,
                   MofError* error, const MofIncludeReader& include) {
  MofImportCounts local;
  if (!counts) counts = &local;
  *counts = MofImportCounts();
  *error = MofError();
  if (auto f = InjectedHresult("wmi.CompileMof", WBEM_E_FAILED)) {
    error->code = *f;
    error->message = u"the repository refused the import (" + WbemStatusText(*f) + u")";
    return *f;
  }
  Session s(repo, true);
  if (FAILED(s.status())) {
    error->code = s.status();
    error->message = u"the WMI repository cannot be changed now (" + WbemStatusText(s.status()) + u")";
    return s.status();
  }
  // The text is read with what the repository holds: the qualifier declarations of each
  // namespace and the classes that types may name.
  std::map<WString, std::optional<NamespaceInfo>> namespaces;
  auto findNamespace = [&](WStringView name) -> const NamespaceInfo* {
    auto it = namespaces.find(vr::text::ToLower(name));
    if (it == namespaces.end()) {
      std::optional<NamespaceInfo> found;
      NamespaceInfo ns;
      if (SUCCEEDED(s.FindNamespace(name, &ns, nullptr))) found = ns;
      it = namespaces.emplace(vr::text::ToLower(name), found).first;
    }
    return it->second ? &*it->second : nullptr;
  };
  HRESULT lookupFailure = S_OK;
  MofReadOptions options;
  options.storedDeclaration = [&](WStringView nsName, WStringView name, QualifierDecl* out) {
    const NamespaceInfo* ns = findNamespace(nsName);
    if (!ns) return false;
    const HRESULT hr = s.GetQualifierDecl(*ns, name, out);
    if (FAILED(hr) && hr != WBEM_E_NOT_FOUND && SUCCEEDED(lookupFailure)) lookupFailure = hr;
    return SUCCEEDED(hr);
  };
  options.storedClass = [&](WStringView nsName, WStringView name) {
    const NamespaceInfo* ns = findNamespace(nsName);
    std::shared_ptr<const ResolvedClass> cls;
    return ns && SUCCEEDED(s.GetClass(*ns, name, &cls, nullptr));
  };
  options.include = include;
  MofDocument doc;
  if (HRESULT hr = ReadMof(text, defaultNamespace, &doc, error, &options); FAILED(hr)) return hr;
  if (FAILED(lookupFailure)) {
    error->code = lookupFailure;
    error->message = u"the qualifier declarations cannot be read (" + WbemStatusText(lookupFailure) + u")";
    return lookupFailure;
  }
  try {
    Compiler c(s, counts);
    c.Run(doc);
  } catch (const CompileFailure& f) {
    *counts = MofImportCounts();
    error->code = f.code;
    error->position = f.position;
    error->message = f.message;
    if (f.position.file > 0 && f.position.file < doc.files.size()) error->file = doc.files[f.position.file];
    return f.code;
  }
  if (HRESULT hr = s.Commit(); FAILED(hr)) {
    *counts = MofImportCounts();
    error->code = hr;
    error->message = u"the import could not be committed (" + WbemStatusText(hr) + u")";
    return hr;
  }
  return S_OK;
}

WString NamespacePragma(WStringView nameSpace) {
  return u"#pragma namespace(" + MofString(u"\\\\.\\" + WString(nameSpace)) + u")\n";
}

namespace {

HRESULT ExportInstances(Session& s, const NamespaceInfo& ns, const WString& cls, const TextSink& sink,
                        const QualifierDeclLookup* decls) {
  PageCursor cursor;
  std::vector<InstanceRecord> page;
  while (!cursor.done) {
    if (HRESULT hr = s.ReadPage(ns, {cls}, {}, &cursor, 256, &page); FAILED(hr)) return hr;
    for (const auto& rec : page) {
      InstanceText t;
      t.cls = rec.cls.get();
      t.values = &rec.values;
      t.qualifiers = &rec.qualifiers;
      t.propertyQualifiers = &rec.propertyQualifiers;
      sink(MofInstanceText(t, 0, decls));
    }
  }
  return S_OK;
}

bool IsSystem(const WString& name) { return name.size() >= 2 && name[0] == u'_' && name[1] == u'_'; }

}  // namespace

HRESULT ExportNamespace(Repository& repo, WStringView nameSpace, WStringView className, bool withPragma,
                        const TextSink& sink, WString* why) {
  Session s(repo, false);
  if (FAILED(s.status())) return s.status();
  NamespaceInfo ns;
  if (HRESULT hr = s.FindNamespace(nameSpace, &ns, why); FAILED(hr)) return hr;
  std::vector<WString> classes;
  if (className.empty()) {
    if (HRESULT hr = s.ListClasses(ns, u"", true, true, &classes); FAILED(hr)) return hr;
  } else {
    std::shared_ptr<const ResolvedClass> cls;
    if (HRESULT hr = s.GetClass(ns, className, &cls, why); FAILED(hr)) return hr;
    if (HRESULT hr = s.ListClasses(ns, cls->name, true, true, &classes); FAILED(hr)) return hr;
    classes.insert(classes.begin(), cls->name);
  }
  if (withPragma) sink(NamespacePragma(ns.name));
  // The declarations come first: the uses below are read with them.
  std::vector<QualifierDecl> declarations;
  if (HRESULT hr = s.ListQualifierDecls(ns, &declarations); FAILED(hr)) return hr;
  std::map<WString, const QualifierDecl*> byName;
  for (const auto& d : declarations) {
    sink(MofQualifierDeclText(d));
    byName[vr::text::ToLower(d.name)] = &d;
  }
  const QualifierDeclLookup lookup = [&](WStringView name) -> const QualifierDecl* {
    auto it = byName.find(vr::text::ToLower(name));
    return it == byName.end() ? nullptr : it->second;
  };
  const QualifierDeclLookup* decls = byName.empty() ? nullptr : &lookup;
  for (const auto& c : classes) {
    if (IsSystem(c)) continue;
    std::shared_ptr<const ResolvedClass> cls;
    if (HRESULT hr = s.GetClass(ns, c, &cls, why); FAILED(hr)) return hr;
    sink(MofClassText(LocalDeclaration(*cls), 0, decls));
  }
  for (const auto& c : classes) {
    if (EqualsNoCase(c, u"__NAMESPACE")) continue;
    std::shared_ptr<const ResolvedClass> cls;
    if (HRESULT hr = s.GetClass(ns, c, &cls, why); FAILED(hr)) return hr;
    if (cls->IsAbstract() || (cls->keys.empty() && !cls->IsSingleton())) continue;
    if (HRESULT hr = ExportInstances(s, ns, c, sink, decls); FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT QueryText(Repository& repo, WStringView nameSpace, WStringView wql, const TextSink& sink, size_t* count,
                  WString* why) {
  if (count) *count = 0;
  NamespaceInfo ns;
  {
    Session s(repo, false);
    if (FAILED(s.status())) return s.status();
    if (HRESULT hr = s.FindNamespace(nameSpace, &ns, why); FAILED(hr)) return hr;
  }
  std::shared_ptr<Repository> handle(std::shared_ptr<Repository>(), &repo);  // not owning
  Services services(handle, ns);
  std::shared_ptr<IEnumWbemClassObject> e;
  const WString text(wql);
  HRESULT hr = services.ExecQuery(u"WQL", text.c_str(), WBEM_FLAG_FORWARD_ONLY, nullptr, &e);
  while (SUCCEEDED(hr)) {
    std::shared_ptr<IWbemClassObject> obj;
    ULONG n = 0;
    hr = e->Next(WBEM_INFINITE, 1, &obj, &n);
    if (FAILED(hr) || n == 0) break;
    CBstr mof;
    if (SUCCEEDED(obj->GetObjectText(0, mof.Receive()))) sink(mof.str());
    if (count) ++*count;
  }
  if (FAILED(hr) && why) {
    std::shared_ptr<ErrorInfo> info;
    if (GetErrorInfo(0, &info) == S_OK && info) *why = info->description;
  }
  return FAILED(hr) ? hr : S_OK;
}

HRESULT SnapshotText(Repository& repo, const TextSink& sink, WString* why) {
  std::vector<NamespaceInfo> all;
  {
    Session s(repo, false);
    if (FAILED(s.status())) return s.status();
    if (HRESULT hr = s.AllNamespaces(&all); FAILED(hr)) return hr;
  }
  for (const auto& ns : all) sink(u"namespace " + ns.name + u"\n");
  for (const auto& ns : all) {
    sink(u"\n");
    if (HRESULT hr = ExportNamespace(repo, ns.name, u"", true, sink, why); FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace vr::wmi
