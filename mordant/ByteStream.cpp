#include <cerrno>

#include "mordant/VrUnicodeFileImpl.h"
#include "platform/com/hresult.h"
#include "platform/os/file.h"

namespace {
constexpr size_t kBufferSize = 64 * 1024;
}

int ErrnoFromWin32(long error) {
  switch (error) {
    case 0: return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EBUSY;
    case ERROR_HANDLE_DISK_FULL:
    case 112: return ENOSPC;  // ERROR_DISK_FULL
    case 80:                  // ERROR_FILE_EXISTS
    case 183: return EEXIST;  // ERROR_ALREADY_EXISTS
    case 123: return EINVAL;  // ERROR_INVALID_NAME
    case 267: return ENOTDIR; // ERROR_DIRECTORY
    default: return EIO;
  }
}

ByteStreamT::ByteStreamT() = default;
ByteStreamT::~ByteStreamT() { Close(); }

void ByteStreamT::Fail(long win32) {
  error_ = true;
  errno_ = ErrnoFromWin32(win32);
  errno = errno_;
}

void ByteStreamT::SetError(int err) {
  error_ = true;
  errno_ = err;
  errno = err;
}

bool ByteStreamT::Open(const WString& path, const char* mode) {
  writing_ = mode[0] == 'w';
  const long rc = vr::os::File::Open(path, writing_ ? "wb" : "rb", vr::os::Share::DenyNone, file_);
  if (rc != ERROR_SUCCESS) {
    Fail(rc);
    return false;
  }
  buffer_.resize(kBufferSize);
  return true;
}

bool ByteStreamT::Fill() {
  if (!file_ || error_) return false;
  size_t got = 0;
  const long rc = file_->Read(buffer_.data(), buffer_.size(), got);
  if (rc != ERROR_SUCCESS) {
    Fail(rc);
    return false;
  }
  pos_ = 0;
  len_ = got;
  if (got == 0) {
    eof_ = true;
    return false;
  }
  return true;
}

int ByteStreamT::Getc() {
  if (!pushed_.empty()) {
    const unsigned char b = pushed_.back();
    pushed_.pop_back();
    return b;
  }
  if (pos_ >= len_ && !Fill()) return -1;
  return buffer_[pos_++];
}

bool ByteStreamT::Ungetc(unsigned char byte) {
  pushed_.push_back(byte);
  eof_ = false;
  return true;
}

bool ByteStreamT::Putc(unsigned char byte) {
  if (!file_ || error_) {
    if (!error_) Fail(ERROR_INVALID_HANDLE);
    errno = errno_;
    return false;
  }
  if (len_ == buffer_.size() && !Flush()) return false;
  buffer_[len_++] = byte;
  return true;
}

bool ByteStreamT::Flush() {
  if (!writing_ || !file_) return true;
  if (error_) return false;
  size_t written = 0;
  const long rc = file_->Write(buffer_.data(), len_, written);
  if (rc != ERROR_SUCCESS) {
    Fail(rc);
    return false;
  }
  len_ = 0;
  return true;
}

bool ByteStreamT::Close() {
  if (!file_) return !error_;
  bool ok = Flush();
  // What was written reaches the disk before the file counts as written.
  if (ok && writing_) {
    const long synced = file_->Sync();
    if (synced != ERROR_SUCCESS) {
      Fail(synced);
      ok = false;
    }
  }
  const long rc = file_->Close();
  if (rc != ERROR_SUCCESS && ok) {
    Fail(rc);
    ok = false;
  }
  file_.reset();
  return ok;
}
