// A session: one transaction on the repository (a savepoint inside another session of the same
// thread), its commit, and the schema counter that tells every process when its cached
// classes are out of date.
#include "platform/wmi/repository.h"

namespace vr::wmi {

Session::Session(Repository& repo, bool write) : repo_(repo), lock_(repo.mutex_) {
  nested_ = repo_.depth_ > 0;
  status_ = nested_ ? repo_.db_->Exec("SAVEPOINT session") : repo_.db_->Begin(write);
  if (FAILED(status_)) return;
  open_ = true;
  ++repo_.depth_;
  Statement q = repo_.db_->Sql("SELECT value FROM meta WHERE name='schema'");
  bool row = false;
  status_ = q.Step(&row);
  if (SUCCEEDED(status_) && row) schema_ = q.Int(0);
  q.Reset();
  if (SUCCEEDED(status_) && schema_ != repo_.cachedSchema_) {
    repo_.classCache_.clear();
    repo_.cachedSchema_ = schema_;
  }
}

Session::~Session() {
  if (!open_) return;
  if (nested_) {
    repo_.db_->Exec("ROLLBACK TO session");
    repo_.db_->Exec("RELEASE session");
  } else {
    repo_.db_->Rollback();
  }
  --repo_.depth_;
  if (schemaChanged_) {
    repo_.classCache_.clear();
    repo_.cachedSchema_ = -1;
  }
}

HRESULT Session::Commit() {
  if (!open_) return FAILED(status_) ? status_ : WBEM_E_UNEXPECTED;
  if (FAILED(status_)) return status_;
  int64_t schema = -1;
  if (schemaChanged_ && !nested_) {
    Statement q = repo_.db_->Sql("SELECT value FROM meta WHERE name='schema'");
    bool row = false;
    if (SUCCEEDED(q.Step(&row)) && row) schema = q.Int(0);
    q.Reset();
  }
  HRESULT hr = nested_ ? repo_.db_->Exec("RELEASE session") : repo_.db_->Commit();
  if (FAILED(hr)) {
    if (nested_) {
      repo_.db_->Exec("ROLLBACK TO session");
      repo_.db_->Exec("RELEASE session");
    }
    repo_.classCache_.clear();
    repo_.cachedSchema_ = -1;
  } else if (schemaChanged_ && !nested_) {
    repo_.cachedSchema_ = schema;
  }
  open_ = false;
  --repo_.depth_;
  return hr;
}

HRESULT Session::TouchSchema() {
  HRESULT hr = repo_.db_->Sql("UPDATE meta SET value=value+1 WHERE name='schema'").Run();
  if (FAILED(hr)) return hr;
  schemaChanged_ = true;
  // Classes read from now on reflect this transaction: they are good until it ends.
  repo_.classCache_.clear();
  repo_.cachedSchema_ = -1;
  return S_OK;
}

}  // namespace vr::wmi
