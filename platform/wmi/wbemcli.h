// The WMI client interfaces, shaped after the calls the programs make. Objects are held by
// std::shared_ptr; strings going in are UTF-16 (a BSTR or a literal), strings coming out are
// BSTRs the caller frees with SysFreeString, arrays coming out are SafeArrays the caller
// destroys with SafeArrayDestroy.
//
// The locator is a registered COM class: CoCreateInstance(CLSID_WbemLocator, nullptr,
// CLSCTX_ALL, IID_IWbemLocator, &unknown) gives an IWbemLocator (std::dynamic_pointer_cast).
// An object's other interfaces are reached the same way (the COM QueryInterface).
//
// Failures of IWbemServices and IEnumWbemClassObject calls leave an __ExtendedStatus object in
// the thread error information (GetErrorInfo: ErrorInfo::object is an IWbemClassObject);
// calls on objects and qualifier sets return their code only.
//
// Every call passes the fault point "wmi.<Call>": ConnectServer, GetObject, PutClass,
// DeleteClass, CreateClassEnum, PutInstance, DeleteInstance, CreateInstanceEnum, ExecQuery;
// Next, Skip, Reset, EnumClone (IEnumWbemClassObject); Get, Put, Delete, GetNames,
// BeginEnumeration, NextProperty, EndEnumeration, GetQualifierSet, GetPropertyQualifierSet,
// Clone, GetObjectText, SpawnDerivedClass, SpawnInstance, CompareTo, GetPropertyOrigin,
// InheritsFrom (IWbemClassObject); QualifierGet, QualifierPut, QualifierDelete,
// QualifierGetNames, QualifierBeginEnumeration, QualifierNext, QualifierEndEnumeration
// (IWbemQualifierSet). An injected code is the call's result: 0 means WBEM_E_FAILED, 1 to
// 0xFFFF a Win32 error as its HRESULT, others as they are; a success code such as
// WBEM_S_TIMEDOUT (0x40004) on Next returns that code with no objects, as a time-out does.
//
// Behind these interfaces (services.h, wbem_object.h) is the repository (repository.h), one
// file per part: repository.cpp opens it and holds its tables, repository_session.cpp its
// transactions, then namespaces, classes, qualifiers, instances and queries, each in a
// repository_<part>.cpp. MOF text is read by mof_reader.h (mof_lexer.cpp, mof_reader.cpp with
// the productions, mof_pragmas, mof_qualifiers, mof_values, mof_classes, mof_instances),
// compiled into a repository by mof_compiler.h and written by mof_writer.h.
//
// Folder platform/wmi, library vr_wmi: host layer of the WMI service (repository and its store,
// object model and paths, MOF reader, compiler and writer, WQL); uses platform/sqlite, os, com,
// text and fault. Its subfolder testing/ (vr_wmi_testing) serves tests only.
#pragma once
#include <memory>

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"
#include "platform/wmi/wbem_codes.h"

class IWbemQualifierSet;
class IWbemClassObject;
class IEnumWbemClassObject;
class IWbemServices;

// Call contexts and call results are accepted and ignored: every call runs synchronously.
class IWbemContext : public IUnknown {};
class IWbemCallResult : public IUnknown {};

class IWbemQualifierSet : public IUnknown {
 public:
  // WBEM_E_NOT_FOUND when the qualifier does not exist. flavor may be null.
  virtual HRESULT Get(const WChar* name, long flags, VARIANT* value, long* flavor) = 0;
  // Values: VT_I4, VT_R8, VT_BSTR, VT_BOOL or one-dimensional arrays of them.
  virtual HRESULT Put(const WChar* name, VARIANT* value, long flavor) = 0;
  virtual HRESULT Delete(const WChar* name) = 0;
  // WBEM_FLAG_ALWAYS, WBEM_FLAG_LOCAL_ONLY or WBEM_FLAG_PROPAGATED_ONLY.
  virtual HRESULT GetNames(long flags, SAFEARRAY** names) = 0;
  virtual HRESULT BeginEnumeration(long flags) = 0;
  // WBEM_S_NO_MORE_DATA after the last qualifier.
  virtual HRESULT Next(long flags, BSTR* name, VARIANT* value, long* flavor) = 0;
  virtual HRESULT EndEnumeration() = 0;
};

class IWbemClassObject : public IUnknown {
 public:
  virtual HRESULT GetQualifierSet(std::shared_ptr<IWbemQualifierSet>* qualifiers) = 0;
  // value, type and flavor may each be null.
  virtual HRESULT Get(const WChar* name, long flags, VARIANT* value, CIMTYPE* type,
                      long* flavor) = 0;
  // On a class, a new name adds a property (of the given type, or of the value's type when
  // type is 0); on an instance, the property must exist.
  virtual HRESULT Put(const WChar* name, long flags, VARIANT* value, CIMTYPE type) = 0;
  virtual HRESULT Delete(const WChar* name) = 0;
  virtual HRESULT GetNames(const WChar* qualifierName, long flags, VARIANT* qualifierValue,
                           SAFEARRAY** names) = 0;
  virtual HRESULT BeginEnumeration(long enumFlags) = 0;
  virtual HRESULT Next(long flags, BSTR* name, VARIANT* value, CIMTYPE* type, long* flavor) = 0;
  virtual HRESULT EndEnumeration() = 0;
  virtual HRESULT GetPropertyQualifierSet(const WChar* property,
                                          std::shared_ptr<IWbemQualifierSet>* qualifiers) = 0;
  virtual HRESULT Clone(std::shared_ptr<IWbemClassObject>* copy) = 0;
  virtual HRESULT GetObjectText(long flags, BSTR* text) = 0;
  virtual HRESULT SpawnDerivedClass(long flags, std::shared_ptr<IWbemClassObject>* newClass) = 0;
  virtual HRESULT SpawnInstance(long flags, std::shared_ptr<IWbemClassObject>* newInstance) = 0;
  // WBEM_S_SAME or WBEM_S_DIFFERENT.
  virtual HRESULT CompareTo(long flags, IWbemClassObject* other) = 0;
  virtual HRESULT GetPropertyOrigin(const WChar* name, BSTR* className) = 0;
  // WBEM_S_NO_ERROR or WBEM_S_FALSE.
  virtual HRESULT InheritsFrom(const WChar* ancestor) = 0;
};

class IEnumWbemClassObject : public IUnknown {
 public:
  virtual HRESULT Reset() = 0;
  // objects points at count slots; WBEM_S_FALSE when fewer than count were returned.
  virtual HRESULT Next(long timeout, ULONG count, std::shared_ptr<IWbemClassObject>* objects,
                       ULONG* returned) = 0;
  virtual HRESULT Clone(std::shared_ptr<IEnumWbemClassObject>* copy) = 0;
  virtual HRESULT Skip(long timeout, ULONG count) = 0;
};

class IWbemServices : public IUnknown {
 public:
  // A class path ("VR_ManagedNode"), an instance path ("VR_NodeGroup.Name=\"x\""), or an
  // empty path for a new blank class.
  virtual HRESULT GetObject(const WChar* objectPath, long flags, IWbemContext* context,
                            std::shared_ptr<IWbemClassObject>* object,
                            std::shared_ptr<IWbemCallResult>* callResult) = 0;
  virtual HRESULT PutClass(IWbemClassObject* object, long flags, IWbemContext* context,
                           std::shared_ptr<IWbemCallResult>* callResult) = 0;
  virtual HRESULT DeleteClass(const WChar* className, long flags, IWbemContext* context,
                              std::shared_ptr<IWbemCallResult>* callResult) = 0;
  virtual HRESULT CreateClassEnum(const WChar* superclass, long flags, IWbemContext* context,
                                  std::shared_ptr<IEnumWbemClassObject>* enumerator) = 0;
  virtual HRESULT PutInstance(IWbemClassObject* instance, long flags, IWbemContext* context,
                              std::shared_ptr<IWbemCallResult>* callResult) = 0;
  virtual HRESULT DeleteInstance(const WChar* objectPath, long flags, IWbemContext* context,
                                 std::shared_ptr<IWbemCallResult>* callResult) = 0;
  virtual HRESULT CreateInstanceEnum(const WChar* className, long flags, IWbemContext* context,
                                     std::shared_ptr<IEnumWbemClassObject>* enumerator) = 0;
  // "WQL": SELECT * FROM class [WHERE property = value [AND property = value ...]].
  virtual HRESULT ExecQuery(const WChar* queryLanguage, const WChar* query, long flags,
                            IWbemContext* context,
                            std::shared_ptr<IEnumWbemClassObject>* enumerator) = 0;
};

class IWbemLocator : public IUnknown {
 public:
  // networkResource: "\\.\root\..." or "//./root/...", or a namespace path without server.
  virtual HRESULT ConnectServer(const WChar* networkResource, const WChar* user,
                                const WChar* password, const WChar* locale, long securityFlags,
                                const WChar* authority, IWbemContext* context,
                                std::shared_ptr<IWbemServices>* services) = 0;
};

extern const CLSID CLSID_WbemLocator;
extern const IID IID_IWbemLocator;
extern const IID IID_IWbemServices;
extern const IID IID_IWbemClassObject;
extern const IID IID_IWbemQualifierSet;
extern const IID IID_IEnumWbemClassObject;

namespace vr::wmi {
// Registers the locator with the COM runtime. Referencing CLSID_WbemLocator already does it
// before main; calling it again is harmless.
void RegisterWbemLocator();
}  // namespace vr::wmi
