#include "platform/wmi/sqlite_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>

#include "platform/text/convert.h"
#include "platform/wmi/wbem_codes.h"

namespace vr::wmi {

HRESULT SqliteCode(int rc, int systemErrno) {
  switch (rc & 0xFF) {
    case SQLITE_OK: case SQLITE_ROW: case SQLITE_DONE: return S_OK;
    case SQLITE_BUSY: case SQLITE_LOCKED: return WBEM_E_SERVER_TOO_BUSY;
    case SQLITE_FULL: return kWmiDiskFull;
    case SQLITE_IOERR: return systemErrno == ENOSPC ? kWmiDiskFull : WBEM_E_FAILED;
    case SQLITE_CORRUPT: case SQLITE_NOTADB: return WBEM_E_CRITICAL_ERROR;
    case SQLITE_NOMEM: return WBEM_E_OUT_OF_MEMORY;
    case SQLITE_PERM: case SQLITE_READONLY: case SQLITE_AUTH: return WBEM_E_ACCESS_DENIED;
    default: return WBEM_E_FAILED;
  }
}

HRESULT Statement::Step(bool* row) {
  *row = false;
  if (!s_.ok()) return WBEM_E_CRITICAL_ERROR;
  const int rc = s_.Step();
  if (rc == SQLITE_ROW) {
    *row = true;
    return S_OK;
  }
  s_.Reset();
  return rc == SQLITE_DONE ? S_OK : SqliteCode(rc, connection_.SystemErrno());
}

HRESULT Statement::Run() {
  bool row;
  HRESULT hr;
  do {
    hr = Step(&row);
  } while (SUCCEEDED(hr) && row);
  return hr;
}

HRESULT Database::Open(const std::string& path, std::unique_ptr<Database>* out, WString* why) {
  std::unique_ptr<Database> d(new Database);
  const int rc = vr::sqlite::Connection::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, d->db_);
  if (rc != SQLITE_OK) {
    if (why) *why = u"The WMI repository " + vr::text::Utf8ToWide(path) + u" cannot be opened: " + d->ErrorText();
    const HRESULT hr = SqliteCode(rc, d->db_->SystemErrno());
    return hr == WBEM_E_FAILED ? WBEM_E_CRITICAL_ERROR : hr;
  }
  long timeout = 10000;
  if (const char* t = std::getenv("VR_WMI_LOCK_TIMEOUT_MS"); t && *t) timeout = std::strtol(t, nullptr, 10);
  d->db_->SetBoundedWait(static_cast<int>(timeout));
  for (const char* pragma : kSettings) {
    if (HRESULT hr = d->Exec(pragma); FAILED(hr)) {
      if (why) *why = u"The WMI repository " + vr::text::Utf8ToWide(path) + u" cannot be opened: " + d->ErrorText();
      return hr;
    }
  }
  *out = std::move(d);
  return S_OK;
}

HRESULT Database::Exec(const char* sql) {
  const int rc = db_->Exec(sql);
  return SqliteCode(rc, rc == SQLITE_OK ? 0 : db_->SystemErrno());
}

HRESULT Database::Begin(bool write) {
  const int rc = db_->Begin(write);
  return SqliteCode(rc, rc == SQLITE_OK ? 0 : db_->SystemErrno());
}

HRESULT Database::Commit() {
  int systemErrno = 0;
  const int rc = db_->Commit(&systemErrno);
  return SqliteCode(rc, systemErrno);
}

WString Database::ErrorText(int result, int systemErrno, const std::string& message) {
  if ((result & 0xFF) == SQLITE_FULL || systemErrno == ENOSPC) return u"There is not enough space on the disk.";
  return vr::text::Utf8ToWide(message);
}

}  // namespace vr::wmi
