#include "platform/wmi/services.h"

#include <cerrno>

#include "platform/com/errorinfo.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/text/casefold.h"
#include "platform/wmi/cim_types.h"
#include "platform/wmi/extended_status.h"
#include "platform/wmi/object_path.h"
#include "platform/wmi/wql.h"

using vr::fault::InjectedHresult;

namespace vr::wmi {

using vr::text::EqualsNoCase;

namespace {

constexpr size_t kPageSize = 256;

// The repository's file work must not leave its errno behind in the caller's thread, as a
// call into the WMI service would not.
class ErrnoGuard {
 public:
  ErrnoGuard() : saved_(errno) {}
  ~ErrnoGuard() { errno = saved_; }

 private:
  int saved_;
};

ObjectLocation LocationOf(const NamespaceInfo& ns) { return {ComputerName(), ns.name}; }

// Ends a failed call the way WMI does: the code, and an __ExtendedStatus for the caller.
HRESULT Failed(HRESULT hr, long flags, WStringView operation, WStringView parameter, WStringView why) {
  if (SUCCEEDED(hr)) return hr;
  if (!(flags & WBEM_FLAG_NO_ERROR_OBJECT)) SetExtendedStatus(hr, operation, parameter, why);
  return hr;
}

// What every call of the service repeats: it clears the thread's error object, keeps the
// caller's errno, passes its fault point, and ends in a failure with an __ExtendedStatus that
// names the operation and its parameter, unless the flags ask for none.
class ServiceCall {
 public:
  ServiceCall(const char16_t* operation, long flags) : operation_(operation), flags_(flags) { SetErrorInfo(0, nullptr); }
  ServiceCall(const ServiceCall&) = delete;
  ServiceCall& operator=(const ServiceCall&) = delete;
  // The parameter the error object names (read when the call ends: it may be refined).
  void Describe(const WString* parameter) { parameter_ = parameter; }
  // The call's result for a fault injected at its point.
  std::optional<HRESULT> Fault(const char* point) {
    if (auto f = InjectedHresult(point, WBEM_E_FAILED)) return Result(*f);
    return std::nullopt;
  }
  // hr as the call's result, with the error object when it is a failure.
  HRESULT Result(HRESULT hr, WStringView why = {}) {
    return Failed(hr, flags_, operation_, parameter_ ? WStringView(*parameter_) : WStringView(), why);
  }

 private:
  ErrnoGuard keepErrno_;
  const char16_t* operation_;
  long flags_;
  const WString* parameter_ = nullptr;
};

WString Param(const WChar* s) { return s ? WString(s) : WString(); }

// The namespace a call works in, checked again on every call (it may have been deleted).
HRESULT CurrentNamespace(Session& s, const NamespaceInfo& connected, NamespaceInfo* out, WString* why) {
  return s.FindNamespace(connected.name, out, why);
}

HRESULT CheckTimeout(long timeout) {
  return (timeout < 0 && timeout != WBEM_INFINITE) ? WBEM_E_INVALID_PARAMETER : S_OK;
}

class InstanceEnumerator final : public IEnumWbemClassObject {
 public:
  InstanceEnumerator(std::shared_ptr<Repository> repo, NamespaceInfo ns, std::vector<WString> classes,
                     std::vector<PropertyCondition> conditions, bool forwardOnly)
      : repo_(std::move(repo)), ns_(std::move(ns)), classes_(std::move(classes)),
        conditions_(std::move(conditions)), forwardOnly_(forwardOnly) {}

  HRESULT Reset() override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (auto f = InjectedHresult("wmi.Reset", WBEM_E_FAILED)) return Failed(*f, 0, u"Reset", ns_.name, u"");
    if (forwardOnly_) return Failed(WBEM_E_INVALID_OPERATION, 0, u"Reset", ns_.name, u"A forward-only enumeration cannot be reset.");
    cursor_ = PageCursor();
    buffer_.clear();
    return S_OK;
  }

  HRESULT Next(long timeout, ULONG count, std::shared_ptr<IWbemClassObject>* objects, ULONG* returned) override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (returned) *returned = 0;
    if (auto f = InjectedHresult("wmi.Next", WBEM_E_FAILED)) return Failed(*f, 0, u"Next", ns_.name, u"");
    if (!objects || !returned) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Next", ns_.name, u"");
    if (FAILED(CheckTimeout(timeout))) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Next", ns_.name, u"Invalid time-out.");
    for (ULONG i = 0; i < count; ++i) objects[i].reset();
    ULONG n = 0;
    while (n < count) {
      if (buffer_.empty()) {
        if (HRESULT hr = Fill(); FAILED(hr)) return hr;
        if (buffer_.empty()) break;
      }
      objects[n++] = WbemObject::FromInstance(std::move(buffer_.front()), LocationOf(ns_));
      buffer_.pop_front();
    }
    *returned = n;
    return n == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

  HRESULT Clone(std::shared_ptr<IEnumWbemClassObject>* copy) override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (auto f = InjectedHresult("wmi.EnumClone", WBEM_E_FAILED)) return Failed(*f, 0, u"Clone", ns_.name, u"");
    if (!copy) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Clone", ns_.name, u"");
    if (forwardOnly_) return Failed(WBEM_E_INVALID_OPERATION, 0, u"Clone", ns_.name, u"A forward-only enumeration cannot be cloned.");
    auto c = std::make_shared<InstanceEnumerator>(repo_, ns_, classes_, conditions_, forwardOnly_);
    c->cursor_ = cursor_;
    c->buffer_ = buffer_;
    *copy = std::move(c);
    return S_OK;
  }

  HRESULT Skip(long timeout, ULONG count) override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (auto f = InjectedHresult("wmi.Skip", WBEM_E_FAILED)) return Failed(*f, 0, u"Skip", ns_.name, u"");
    if (FAILED(CheckTimeout(timeout))) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Skip", ns_.name, u"Invalid time-out.");
    ULONG n = 0;
    while (n < count) {
      if (buffer_.empty()) {
        if (HRESULT hr = Fill(); FAILED(hr)) return hr;
        if (buffer_.empty()) break;
      }
      buffer_.pop_front();
      ++n;
    }
    return n == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

 private:
  // Reads the next page; a filtered page may hold nothing, so read until something or the end.
  HRESULT Fill() {
    while (buffer_.empty() && !cursor_.done) {
      Session s(*repo_, false);
      WString why;
      NamespaceInfo ns;
      HRESULT hr = s.status();
      if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
      std::vector<InstanceRecord> page;
      if (SUCCEEDED(hr)) hr = s.ReadPage(ns, classes_, conditions_, &cursor_, kPageSize, &page);
      if (FAILED(hr)) return Failed(hr, 0, u"Next", classes_.empty() ? ns_.name : classes_[0], why);
      for (auto& r : page) buffer_.push_back(std::move(r));
    }
    return S_OK;
  }

  std::shared_ptr<Repository> repo_;
  NamespaceInfo ns_;
  std::vector<WString> classes_;
  std::vector<PropertyCondition> conditions_;
  bool forwardOnly_;
  PageCursor cursor_;
  std::deque<InstanceRecord> buffer_;
};

class ClassEnumerator final : public IEnumWbemClassObject {
 public:
  ClassEnumerator(std::shared_ptr<Repository> repo, NamespaceInfo ns, std::vector<WString> names, bool forwardOnly)
      : repo_(std::move(repo)), ns_(std::move(ns)), names_(std::move(names)), forwardOnly_(forwardOnly) {}

  HRESULT Reset() override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (auto f = InjectedHresult("wmi.Reset", WBEM_E_FAILED)) return Failed(*f, 0, u"Reset", ns_.name, u"");
    if (forwardOnly_) return Failed(WBEM_E_INVALID_OPERATION, 0, u"Reset", ns_.name, u"A forward-only enumeration cannot be reset.");
    pos_ = 0;
    return S_OK;
  }

  HRESULT Next(long timeout, ULONG count, std::shared_ptr<IWbemClassObject>* objects, ULONG* returned) override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (returned) *returned = 0;
    if (auto f = InjectedHresult("wmi.Next", WBEM_E_FAILED)) return Failed(*f, 0, u"Next", ns_.name, u"");
    if (!objects || !returned) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Next", ns_.name, u"");
    if (FAILED(CheckTimeout(timeout))) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Next", ns_.name, u"Invalid time-out.");
    for (ULONG i = 0; i < count; ++i) objects[i].reset();
    ULONG n = 0;
    if (count > 0 && pos_ < names_.size()) {
      Session s(*repo_, false);
      NamespaceInfo ns;
      WString why;
      HRESULT hr = s.status();
      if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
      while (SUCCEEDED(hr) && n < count && pos_ < names_.size()) {
        std::shared_ptr<const ResolvedClass> cls;
        hr = s.GetClass(ns, names_[pos_], &cls, &why);
        if (hr == WBEM_E_NOT_FOUND) { ++pos_; hr = S_OK; continue; }  // deleted meanwhile
        if (FAILED(hr)) break;
        ++pos_;
        objects[n++] = WbemObject::FromClass(*cls, LocationOf(ns_));
      }
      if (FAILED(hr)) return Failed(hr, 0, u"Next", ns_.name, why);
    }
    *returned = n;
    return n == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

  HRESULT Clone(std::shared_ptr<IEnumWbemClassObject>* copy) override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (auto f = InjectedHresult("wmi.EnumClone", WBEM_E_FAILED)) return Failed(*f, 0, u"Clone", ns_.name, u"");
    if (!copy) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Clone", ns_.name, u"");
    if (forwardOnly_) return Failed(WBEM_E_INVALID_OPERATION, 0, u"Clone", ns_.name, u"A forward-only enumeration cannot be cloned.");
    auto c = std::make_shared<ClassEnumerator>(repo_, ns_, names_, forwardOnly_);
    c->pos_ = pos_;
    *copy = std::move(c);
    return S_OK;
  }

  HRESULT Skip(long timeout, ULONG count) override {
    SetErrorInfo(0, nullptr);
    ErrnoGuard keepErrno;
    if (auto f = InjectedHresult("wmi.Skip", WBEM_E_FAILED)) return Failed(*f, 0, u"Skip", ns_.name, u"");
    if (FAILED(CheckTimeout(timeout))) return Failed(WBEM_E_INVALID_PARAMETER, 0, u"Skip", ns_.name, u"Invalid time-out.");
    const size_t left = names_.size() - pos_;
    const size_t n = count < left ? count : left;
    pos_ += n;
    return n == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
  }

 private:
  std::shared_ptr<Repository> repo_;
  NamespaceInfo ns_;
  std::vector<WString> names_;
  bool forwardOnly_;
  size_t pos_ = 0;
};

// The namespace an object path names, or the connected one.
HRESULT PathNamespace(Session& s, const NamespaceInfo& connected, const ObjectPath& path, NamespaceInfo* out, WString* why) {
  if (!path.server.empty() && !IsLocalServer(path.server)) {
    *why = u"The path names another computer (" + path.server + u").";
    return WBEM_E_INVALID_PARAMETER;
  }
  if (path.nameSpace.empty()) return CurrentNamespace(s, connected, out, why);
  return s.FindNamespace(path.nameSpace, out, why);
}

}  // namespace

HRESULT Services::GetObject(const WChar* objectPath, long flags, IWbemContext*, std::shared_ptr<IWbemClassObject>* object,
                            std::shared_ptr<IWbemCallResult>* callResult) {
  ServiceCall call(u"GetObject", flags);
  const WString param = Param(objectPath);
  call.Describe(&param);
  if (object) object->reset();
  if (callResult) callResult->reset();
  if (auto f = call.Fault("wmi.GetObject")) return *f;
  if (!object) return call.Result(WBEM_E_INVALID_PARAMETER, u"No place for the object was given.");
  if (!objectPath || !*objectPath) {
    *object = WbemObject::BlankClass(LocationOf(ns_));
    return S_OK;
  }
  ObjectPath path;
  if (FAILED(ParseObjectPath(param, &path)))
    return call.Result(WBEM_E_INVALID_OBJECT_PATH, u"The text is not an object path.");
  Session s(*repo_, false);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = PathNamespace(s, ns_, path, &ns, &why);
  if (SUCCEEDED(hr) && path.IsClassPath()) {
    std::shared_ptr<const ResolvedClass> cls;
    hr = s.GetClass(ns, path.className, &cls, &why);
    if (SUCCEEDED(hr)) *object = WbemObject::FromClass(*cls, LocationOf(ns));
  } else if (SUCCEEDED(hr)) {
    InstanceRecord rec;
    hr = s.GetInstance(ns, path, &rec, &why);
    if (SUCCEEDED(hr)) *object = WbemObject::FromInstance(std::move(rec), LocationOf(ns));
  }
  return call.Result(hr, why);
}

HRESULT Services::PutClass(IWbemClassObject* object, long flags, IWbemContext*, std::shared_ptr<IWbemCallResult>* callResult) {
  ServiceCall call(u"PutClass", flags);
  if (callResult) callResult->reset();
  auto* obj = dynamic_cast<WbemObject*>(object);
  const WString param = obj ? obj->Class().name : WString();
  call.Describe(&param);
  if (auto f = call.Fault("wmi.PutClass")) return *f;
  if (!obj || !obj->IsClass()) return call.Result(WBEM_E_INVALID_PARAMETER, u"The object is not a class.");
  Session s(*repo_, true);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
  if (SUCCEEDED(hr)) hr = s.PutClass(ns, obj->Declaration(), flags & (WBEM_FLAG_CREATE_ONLY | WBEM_FLAG_UPDATE_ONLY | WBEM_MASK_UPDATE_MODE), &why);
  if (SUCCEEDED(hr)) hr = s.Commit();
  if (SUCCEEDED(hr)) obj->MarkStored();
  return call.Result(hr, why);
}

HRESULT Services::DeleteClass(const WChar* className, long flags, IWbemContext*, std::shared_ptr<IWbemCallResult>* callResult) {
  ServiceCall call(u"DeleteClass", flags);
  if (callResult) callResult->reset();
  const WString param = Param(className);
  call.Describe(&param);
  if (auto f = call.Fault("wmi.DeleteClass")) return *f;
  if (!className || !IsValidIdentifier(param)) return call.Result(WBEM_E_INVALID_PARAMETER, u"Not a class name.");
  Session s(*repo_, true);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
  if (SUCCEEDED(hr)) hr = s.DeleteClass(ns, param, &why);
  if (SUCCEEDED(hr)) hr = s.Commit();
  return call.Result(hr, why);
}

HRESULT Services::CreateClassEnum(const WChar* superclass, long flags, IWbemContext*,
                                  std::shared_ptr<IEnumWbemClassObject>* enumerator) {
  ServiceCall call(u"CreateClassEnum", flags);
  const WString param = Param(superclass);
  call.Describe(&param);
  if (enumerator) enumerator->reset();
  if (auto f = call.Fault("wmi.CreateClassEnum")) return *f;
  if (!enumerator) return call.Result(WBEM_E_INVALID_PARAMETER);
  Session s(*repo_, false);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
  if (SUCCEEDED(hr) && !param.empty()) {
    std::shared_ptr<const ResolvedClass> cls;
    hr = s.GetClass(ns, param, &cls, &why);
    if (hr == WBEM_E_NOT_FOUND) hr = WBEM_E_INVALID_CLASS;
  }
  std::vector<WString> names;
  if (SUCCEEDED(hr)) hr = s.ListClasses(ns, param, !(flags & WBEM_FLAG_SHALLOW), true, &names);
  if (SUCCEEDED(hr))
    *enumerator = std::make_shared<ClassEnumerator>(repo_, ns_, std::move(names), (flags & WBEM_FLAG_FORWARD_ONLY) != 0);
  return call.Result(hr, why);
}

HRESULT Services::PutInstance(IWbemClassObject* instance, long flags, IWbemContext*, std::shared_ptr<IWbemCallResult>* callResult) {
  ServiceCall call(u"PutInstance", flags);
  if (callResult) callResult->reset();
  auto* obj = dynamic_cast<WbemObject*>(instance);
  WString param = obj ? obj->Class().name : WString();
  call.Describe(&param);
  if (obj && !obj->IsClass()) {
    const InstanceRecord r = obj->Record();
    param = RelativePath(*r.cls, r.values);
  }
  if (auto f = call.Fault("wmi.PutInstance")) return *f;
  if (!obj || obj->IsClass()) return call.Result(WBEM_E_INVALID_PARAMETER, u"The object is not an instance.");
  Session s(*repo_, true);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
  if (SUCCEEDED(hr)) hr = s.PutInstance(ns, obj->Record(), flags & (WBEM_FLAG_CREATE_ONLY | WBEM_FLAG_UPDATE_ONLY), nullptr, &why);
  if (SUCCEEDED(hr)) hr = s.Commit();
  return call.Result(hr, why);
}

HRESULT Services::DeleteInstance(const WChar* objectPath, long flags, IWbemContext*,
                                 std::shared_ptr<IWbemCallResult>* callResult) {
  ServiceCall call(u"DeleteInstance", flags);
  if (callResult) callResult->reset();
  const WString param = Param(objectPath);
  call.Describe(&param);
  if (auto f = call.Fault("wmi.DeleteInstance")) return *f;
  ObjectPath path;
  if (!objectPath || FAILED(ParseObjectPath(param, &path)))
    return call.Result(WBEM_E_INVALID_OBJECT_PATH, u"The text is not an object path.");
  if (path.IsClassPath())
    return call.Result(WBEM_E_INVALID_OBJECT_PATH, u"The path names a class, not an instance.");
  Session s(*repo_, true);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = PathNamespace(s, ns_, path, &ns, &why);
  if (SUCCEEDED(hr)) hr = s.DeleteInstance(ns, path, &why);
  if (SUCCEEDED(hr)) hr = s.Commit();
  return call.Result(hr, why);
}

HRESULT Services::CreateInstanceEnum(const WChar* className, long flags, IWbemContext*,
                                     std::shared_ptr<IEnumWbemClassObject>* enumerator) {
  ServiceCall call(u"CreateInstanceEnum", flags);
  const WString param = Param(className);
  call.Describe(&param);
  if (enumerator) enumerator->reset();
  if (auto f = call.Fault("wmi.CreateInstanceEnum")) return *f;
  if (!enumerator || !className) return call.Result(WBEM_E_INVALID_PARAMETER);
  Session s(*repo_, false);
  WString why;
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
  std::shared_ptr<const ResolvedClass> cls;
  if (SUCCEEDED(hr)) {
    hr = s.GetClass(ns, param, &cls, &why);
    if (hr == WBEM_E_NOT_FOUND) hr = WBEM_E_INVALID_CLASS;
  }
  std::vector<WString> classes;
  if (SUCCEEDED(hr)) {
    if (flags & WBEM_FLAG_SHALLOW) classes.push_back(cls->name);
    else hr = s.ClassAndDescendants(ns, cls->name, &classes);
  }
  if (SUCCEEDED(hr))
    *enumerator = std::make_shared<InstanceEnumerator>(repo_, ns_, std::move(classes), std::vector<PropertyCondition>(),
                                                       (flags & WBEM_FLAG_FORWARD_ONLY) != 0);
  return call.Result(hr, why);
}

HRESULT Services::ExecQuery(const WChar* queryLanguage, const WChar* query, long flags, IWbemContext*,
                            std::shared_ptr<IEnumWbemClassObject>* enumerator) {
  ServiceCall call(u"ExecQuery", flags);
  const WString param = Param(query);
  call.Describe(&param);
  if (enumerator) enumerator->reset();
  if (auto f = call.Fault("wmi.ExecQuery")) return *f;
  if (!enumerator || !query) return call.Result(WBEM_E_INVALID_PARAMETER);
  if (!queryLanguage || !EqualsNoCase(queryLanguage, u"WQL"))
    return call.Result(WBEM_E_INVALID_QUERY_TYPE, u"Only WQL queries are supported.");
  WqlQuery q;
  WString why;
  if (FAILED(ParseWql(param, &q, &why))) return call.Result(WBEM_E_INVALID_QUERY, why);
  Session s(*repo_, false);
  NamespaceInfo ns;
  HRESULT hr = s.status();
  if (SUCCEEDED(hr)) hr = CurrentNamespace(s, ns_, &ns, &why);
  std::shared_ptr<const ResolvedClass> cls;
  if (SUCCEEDED(hr)) {
    hr = s.GetClass(ns, q.className, &cls, &why);
    if (hr == WBEM_E_NOT_FOUND) hr = WBEM_E_INVALID_CLASS;
  }
  std::vector<PropertyCondition> conditions;
  for (size_t i = 0; SUCCEEDED(hr) && i < q.conditions.size(); ++i) {
    const WqlCondition& c = q.conditions[i];
    const int at = cls->FindProperty(c.property);
    if (at < 0) {
      why = u"The class " + cls->name + u" has no property " + c.property + u".";
      hr = WBEM_E_INVALID_QUERY;
      break;
    }
    const PropertyDef& p = cls->properties[static_cast<size_t>(at)];
    PropertyCondition pc;
    pc.property = at;
    Variant literal;
    switch (c.kind) {
      case WqlCondition::Kind::kNull: literal = Variant::Null(); break;
      case WqlCondition::Kind::kBoolean: literal = Variant(c.text == u"TRUE"); break;
      default: literal = Variant(c.text); break;
    }
    if (p.IsArray() || FAILED(ConvertToCim(literal, p.type, &pc.value))) {
      why = u"The value given for " + p.name + u" does not fit its type.";
      hr = WBEM_E_INVALID_QUERY;
      break;
    }
    conditions.push_back(std::move(pc));
  }
  std::vector<WString> classes;
  if (SUCCEEDED(hr)) hr = s.ClassAndDescendants(ns, cls->name, &classes);
  if (SUCCEEDED(hr))
    *enumerator = std::make_shared<InstanceEnumerator>(repo_, ns_, std::move(classes), std::move(conditions),
                                                       (flags & WBEM_FLAG_FORWARD_ONLY) != 0);
  return call.Result(hr, why);
}

HRESULT Locator::ConnectServer(const WChar* networkResource, const WChar* user, const WChar*, const WChar*, long,
                               const WChar*, IWbemContext*, std::shared_ptr<IWbemServices>* services) {
  ServiceCall call(u"ConnectServer", 0);
  const WString param = Param(networkResource);
  call.Describe(&param);
  if (services) services->reset();
  if (auto f = call.Fault("wmi.ConnectServer")) return *f;
  if (!services || !networkResource) return call.Result(WBEM_E_INVALID_PARAMETER);
  WString server, name;
  if (FAILED(ParseNamespacePath(param, &server, &name)))
    return call.Result(WBEM_E_INVALID_NAMESPACE, u"The text is not a namespace path.");
  if (!server.empty() && !IsLocalServer(server))
    return call.Result(HRESULT_FROM_WIN32(1722), u"This host serves only the local computer; " + server + u" cannot be reached.");
  if (user && *user) return call.Result(WBEM_E_LOCAL_CREDENTIALS);
  std::shared_ptr<Repository> repo;
  WString why;
  HRESULT hr = Repository::OpenHost(&repo, &why);
  NamespaceInfo ns;
  if (SUCCEEDED(hr)) {
    Session s(*repo, false);
    hr = s.status();
    if (SUCCEEDED(hr)) hr = s.FindNamespace(name, &ns, &why);
  }
  if (FAILED(hr)) return call.Result(hr, why);
  *services = std::make_shared<Services>(std::move(repo), std::move(ns));
  return S_OK;
}

void RegisterWbemLocator() {
  CoRegisterClass(CLSID_WbemLocator, [](const IID& iid, std::shared_ptr<IUnknown>* out) -> HRESULT {
    static const IID kUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    if (!(iid == IID_IWbemLocator) && !(iid == kUnknown)) return E_NOINTERFACE;
    *out = std::make_shared<Locator>();
    return S_OK;
  });
}

}  // namespace vr::wmi
