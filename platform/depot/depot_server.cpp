// The Depot component over its own ADO connection. Every value travels as a bound parameter.
#include <algorithm>

#include "platform/com/errorinfo.h"
#include "platform/com/runtime.h"
#include "platform/depot/depot.h"
#include "platform/depot/depot_connection.h"
#include "platform/fault/fault.h"
#include "platform/text/convert.h"

namespace vr::depot {
namespace {

using ADODB::ConnectionPtr;
using ADODB::RecordsetPtr;

constexpr const char16_t* kSource = u"VrDepot.Server";

HRESULT Fail(HRESULT hr, const WString& description) {
  auto info = std::make_shared<ErrorInfo>();
  info->description = description;
  info->source = kSource;
  info->guid = IID_IVrDepotServer;
  SetErrorInfo(0, info);
  return hr;
}

// An injected failure of a Depot call, with the error information the component leaves.
HRESULT Injected(const char* point) {
  const HRESULT hr = vr::fault::InjectedHresult(point, E_FAIL).value_or(S_OK);
  if (SUCCEEDED(hr)) return S_OK;
  return Fail(hr, u"The Depot operation failed (fault injected at " + vr::text::Utf8ToWide(point) + u")");
}

WString DatabaseError(const ConnectionPtr& c, const WString& what) {
  return what + u": " + vr::text::Utf8ToWide(DescribeErrors(c));
}

WString Decimal(LONG v) { return vr::text::Utf8ToWide(std::to_string(v)); }

bool IsDigits(const WString& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](WChar c) { return c >= u'0' && c <= u'9'; });
}

// The connection the component and the objects it hands out share.
struct Session {
  ConnectionPtr connection;
  bool Connected() const { return connection && connection->State() == ADODB::adStateOpen; }

  // Runs a query; rows come back in a client-side recordset.
  HRESULT Query(const WString& sql, const std::vector<Variant>& params, RecordsetPtr* rs, const WString& what) {
    HRESULT hr = ADODB::CreateRecordset(rs);
    if (FAILED(hr)) return Fail(hr, what + u": the recordset cannot be created");
    (*rs)->PutCursorLocation(ADODB::adUseClient);
    hr = (*rs)->Open(sql, params, connection, ADODB::adOpenForwardOnly, ADODB::adLockReadOnly, ADODB::adCmdText);
    if (FAILED(hr)) return Fail(hr, DatabaseError(connection, what));
    return S_OK;
  }
  HRESULT Run(const WString& sql, const std::vector<Variant>& params, const WString& what, long* affected = nullptr) {
    HRESULT hr = connection->Execute(sql, params, affected);
    return FAILED(hr) ? Fail(hr, DatabaseError(connection, what)) : S_OK;
  }
};

class Package final : public IVrDepotPackage {
 public:
  Package(WString id, WString name, WString version, WString logicalId)
      : id_(std::move(id)), name_(std::move(name)), version_(std::move(version)), logicalId_(std::move(logicalId)) {}
  HRESULT GetDeplPackId(WString* v) override { return Give(id_, v); }
  HRESULT GetName(WString* v) override { return Give(name_, v); }
  HRESULT GetVersion(WString* v) override { return Give(version_, v); }
  HRESULT GetLogicalId(WString* v) override { return Give(logicalId_, v); }

 private:
  static HRESULT Give(const WString& s, WString* v) {
    if (!v) return E_POINTER;
    *v = s;
    return S_OK;
  }
  WString id_, name_, version_, logicalId_;
};

class PolicyType final : public IVrDepotPolicyType {
 public:
  PolicyType(std::shared_ptr<Session> session, WString id, WString name)
      : session_(std::move(session)), id_(std::move(id)), name_(std::move(name)) {}

  HRESULT GetPolTypeId(WString* v) override {
    if (!v) return E_POINTER;
    *v = id_;
    return S_OK;
  }
  HRESULT GetName(WString* v) override {
    if (!v) return E_POINTER;
    *v = name_;
    return S_OK;
  }

  HRESULT AddFunctionalityModule(LONG systemType, LONG osType, WStringView osVersion, WStringView moduleId,
                                 WStringView location, const std::shared_ptr<IVrDepotPackage>& package) override {
    if (!package) return Fail(E_POINTER, u"AddFunctionalityModule needs a package");
    if (!session_->Connected()) return Fail(DEPOT_E_NOTCONNECTED, u"The Depot component is not connected to its database");
    if (HRESULT hr = Injected("depot.AddFunctionalityModule"); FAILED(hr)) return hr;
    WString packageId;
    package->GetDeplPackId(&packageId);
    // One statement adds the row unless an equal one is there (policy type ids compared
    // without regard to case): no row added means the module exists.
    const std::vector<Variant> values = {Variant(id_),           Variant(packageId),          Variant(Decimal(systemType)),
                                         Variant(Decimal(osType)), Variant(WString(osVersion)), Variant(WString(moduleId)),
                                         Variant(WString(location)), Variant(id_),            Variant(packageId),
                                         Variant(Decimal(systemType)), Variant(Decimal(osType)), Variant(WString(osVersion))};
    long added = 0;
    if (HRESULT hr = session_->Run(u"INSERT INTO VR_PM_FunctionalityModule (PolTypeId, DeplPackId, SystemType, OsType, "
                                   u"OsVersion, ModuleTypeId, Location) SELECT ?, ?, ?, ?, ?, ?, ? WHERE NOT EXISTS "
                                   u"(SELECT 1 FROM VR_PM_FunctionalityModule WHERE UPPER(PolTypeId)=UPPER(?) AND "
                                   u"DeplPackId=? AND SystemType=? AND OsType=? AND OsVersion=?)",
                                   values, u"Cannot add the functionality module", &added);
        FAILED(hr))
      return hr;
    if (added == 0)
      return Fail(DEPOT_E_MODULEEXISTS, u"The functionality module [PolTypeId='" + id_ + u"', DeplPackId='" + packageId +
                                            u"', SystemType='" + Decimal(systemType) + u"', OsType='" + Decimal(osType) +
                                            u"'] is registered already");
    return S_OK;
  }

 private:
  std::shared_ptr<Session> session_;
  WString id_, name_;
};

class Server final : public IVrDepotServer {
 public:
  HRESULT Connect() override {
    session_->connection.reset();
    nextId_.clear();
    if (HRESULT hr = Injected("depot.Connect"); FAILED(hr)) return hr;
    std::string why;
    ConnectionPtr c;
    if (HRESULT hr = OpenDepotDatabase(&c, why); FAILED(hr)) return Fail(hr, vr::text::Utf8ToWide(why));
    session_->connection = std::move(c);
    return S_OK;
  }

  HRESULT IsConnected(VARIANT_BOOL* connected) override {
    if (!connected) return E_POINTER;
    *connected = session_->Connected() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  HRESULT Disconnect() override {
    if (session_->Connected()) session_->connection->Close();
    session_->connection.reset();
    return S_OK;
  }

  HRESULT GetPackage(WStringView name, WStringView version, std::shared_ptr<IVrDepotPackage>* package) override {
    if (!package) return E_POINTER;
    package->reset();
    if (HRESULT hr = Ready("depot.GetPackage"); FAILED(hr)) return hr;
    return Find(WString(name), WString(version), package);
  }

  HRESULT RegisterPackage(WStringView logicalId, WStringView name, WStringView version, WStringView deployerId,
                          WStringView location, WStringView description,
                          std::shared_ptr<IVrDepotPackage>* package) override {
    if (!package) return E_POINTER;
    package->reset();
    if (HRESULT hr = Ready("depot.RegisterPackage"); FAILED(hr)) return hr;
    if (name.empty() || version.empty()) return Fail(DEPOT_E_INVALIDARG, u"A package needs a name and a version");
    std::shared_ptr<IVrDepotPackage> existing;
    if (HRESULT hr = Find(WString(name), WString(version), &existing); FAILED(hr)) return hr;
    if (existing)
      return Fail(DEPOT_E_PACKAGEEXISTS, u"The package '" + WString(name) + u" " + WString(version) + u"' is registered already");
    // One statement adds the row.
    WString id;
    HRESULT hr = NextPackageId(&id);
    if (FAILED(hr)) return hr;
    hr = session_->Run(u"INSERT INTO VR_PM_DeplPack (DeplPackId, Name, Version, LogicalId, DeployerId, Location, "
                       u"Description) VALUES (?, ?, ?, ?, ?, ?, ?)",
                       {Variant(id), Variant(WString(name)), Variant(WString(version)), Variant(WString(logicalId)),
                        Variant(WString(deployerId)), Variant(WString(location)), Variant(WString(description))},
                       u"Cannot add the package");
    if (FAILED(hr)) return hr;
    nextId_ = Increment(id);
    *package = std::make_shared<Package>(id, WString(name), WString(version), WString(logicalId));
    return S_OK;
  }

  HRESULT BeginTransaction() override {
    if (!session_->Connected()) return Fail(DEPOT_E_NOTCONNECTED, u"The Depot component is not connected to its database");
    auto& c = session_->connection;
    if (HRESULT hr = c->BeginTrans(); FAILED(hr)) return Fail(hr, DatabaseError(c, u"Cannot begin a transaction"));
    return S_OK;
  }
  HRESULT CommitTransaction() override {
    if (!session_->Connected()) return Fail(DEPOT_E_NOTCONNECTED, u"The Depot component is not connected to its database");
    if (HRESULT hr = Injected("depot.CommitTransaction"); FAILED(hr)) {
      session_->connection->RollbackTrans();
      nextId_.clear();
      return hr;
    }
    auto& c = session_->connection;
    nextId_.clear();
    if (HRESULT hr = c->CommitTrans(); FAILED(hr)) return Fail(hr, DatabaseError(c, u"Cannot commit the transaction"));
    return S_OK;
  }
  HRESULT RollbackTransaction() override {
    if (!session_->Connected()) return S_OK;
    auto& c = session_->connection;
    nextId_.clear();  // ids taken inside the transaction are free again
    if (!c->InTransaction()) return S_OK;
    if (HRESULT hr = c->RollbackTrans(); FAILED(hr)) return Fail(hr, DatabaseError(c, u"Cannot roll back the transaction"));
    return S_OK;
  }

  HRESULT GetPolicyType(WStringView polTypeId, std::shared_ptr<IVrDepotPolicyType>* policyType) override {
    if (!policyType) return E_POINTER;
    policyType->reset();
    if (HRESULT hr = Ready("depot.GetPolicyType"); FAILED(hr)) return hr;
    RecordsetPtr rs;
    // Policy type ids are GUID texts: letter case does not tell two apart.
    if (HRESULT hr = session_->Query(u"SELECT PolTypeId, Name FROM VR_PM_PolicyType WHERE UPPER(PolTypeId)=UPPER(?)",
                                     {Variant(WString(polTypeId))}, &rs, u"Cannot read the policy types");
        FAILED(hr))
      return hr;
    if (rs->EndOfFile())
      return Fail(DEPOT_E_POLICYTYPENOTFOUND, u"The policy type '" + WString(polTypeId) + u"' is not registered");
    WString id, name;
    rs->GetText(u"PolTypeId", &id);
    rs->GetText(u"Name", &name);
    *policyType = std::make_shared<PolicyType>(session_, id, name);
    return S_OK;
  }

 private:
  HRESULT Ready(const char* point) {
    if (!session_->Connected()) return Fail(DEPOT_E_NOTCONNECTED, u"The Depot component is not connected to its database");
    return Injected(point);
  }

  HRESULT Find(const WString& name, const WString& version, std::shared_ptr<IVrDepotPackage>* package) {
    RecordsetPtr rs;
    if (HRESULT hr = session_->Query(u"SELECT DeplPackId, Name, Version, LogicalId FROM VR_PM_DeplPack WHERE Name=? AND "
                                     u"Version=?",
                                     {Variant(name), Variant(version)}, &rs, u"Cannot read the packages");
        FAILED(hr))
      return hr;
    if (rs->EndOfFile()) return S_FALSE;
    WString id, n, v, l;
    rs->GetText(u"DeplPackId", &id);
    rs->GetText(u"Name", &n);
    rs->GetText(u"Version", &v);
    rs->GetText(u"LogicalId", &l);
    *package = std::make_shared<Package>(id, n, v, l);
    return S_OK;
  }

  // One above the largest numeric id in use, counting the ids that deployment rows and
  // functionality modules still name: a new package never takes the id of a package that is
  // gone while rows of it remain (it would seem deployed on those nodes). Worked out once per
  // transaction of the component (nobody else changes the ids meanwhile); each new package of
  // it then takes the next number. Outside a transaction they are looked at every time.
  HRESULT NextPackageId(WString* id) {
    if (!session_->connection->InTransaction()) nextId_.clear();
    if (!nextId_.empty()) {
      *id = nextId_;
      return S_OK;
    }
    RecordsetPtr rs;
    HRESULT hr = session_->Query(u"SELECT DeplPackId FROM VR_PM_DeplPack UNION SELECT DeplPackId FROM "
                                 u"VR_PM_InstalledDeplPack UNION SELECT DeplPackId FROM VR_PM_FunctionalityModule",
                                 {}, &rs, u"Cannot read the package ids");
    if (FAILED(hr)) return hr;
    WString largest;
    for (; !rs->EndOfFile(); rs->MoveNext()) {
      WString candidate;
      rs->GetText(u"DeplPackId", &candidate);
      while (candidate.size() > 1 && candidate.front() == u'0') candidate.erase(0, 1);
      if (IsDigits(candidate) && (candidate.size() > largest.size() || (candidate.size() == largest.size() && candidate > largest)))
        largest = candidate;
    }
    *id = Increment(largest.empty() ? WString(u"0") : largest);
    return S_OK;
  }

  // Decimal increment of a digit text of any length.
  static WString Increment(WString next) {
    size_t i = next.size();
    while (i > 0) {
      --i;
      if (next[i] == u'9') {
        next[i] = u'0';
        if (i == 0) next.insert(next.begin(), u'1');
      } else {
        ++next[i];
        break;
      }
    }
    return next;
  }

  std::shared_ptr<Session> session_ = std::make_shared<Session>();
  WString nextId_;  // the id the next new package takes, once worked out
};

}  // namespace

void RegisterDepotServer() {
  CoRegisterClass(CLSID_VrDepotServer, [](const IID& iid, std::shared_ptr<IUnknown>* out) -> HRESULT {
    static const IID kUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    if (!(iid == IID_IVrDepotServer) && !(iid == kUnknown)) return E_NOINTERFACE;
    *out = std::make_shared<Server>();
    return S_OK;
  });
}

}  // namespace vr::depot
