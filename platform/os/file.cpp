#include "platform/os/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/dir.h"
#include "platform/os/native_internal.h"
#include "platform/os/path.h"
#include "platform/text/convert.h"

using vr::fault::InjectedWin32;

namespace vr::os {
namespace {

constexpr long kErrorNotSameDevice = 17;

std::string ParentOf(const std::string& native) {
  const size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return native.substr(0, slash);
}

// ENOENT means "file not found" when the folder exists and "path not found" when it does not,
// as Windows tells the two apart.
long ErrorForPath(int err, const std::string& native) {
  if (err == ENOENT && !IsNativeDirectory(ParentOf(native))) return ERROR_PATH_NOT_FOUND;
  return Win32FromErrno(err);
}

// Share modes are two advisory locks per file, both shared (read) locks owned by the open file
// description (Linux OFD locks), far beyond any real file end: a handle open for writing holds
// the writer byte, a handle that denies writing holds the deny-write byte. Each side takes its
// own byte first and then looks for the other's; when two race, both see each other and both
// give up, so two incompatible handles can never both be open.
constexpr off_t kWriterByte = 0x7FFFFFFF00000000LL;
constexpr off_t kDenyWriteByte = kWriterByte + 1;

bool LockByte(int fd, off_t byte) {
  struct flock fl = {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

void UnlockByte(int fd, off_t byte) {
  struct flock fl = {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  ::fcntl(fd, F_OFD_SETLK, &fl);
}

// True when another open file description holds a lock on the byte.
bool OthersHold(int fd, off_t byte) {
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

// Registers the handle as writer and/or write denier. False (and nothing held) on a conflict.
bool TakeShareLocks(int fd, bool writer, bool denyWrite) {
  if (writer && !LockByte(fd, kWriterByte)) return false;
  if (denyWrite && !LockByte(fd, kDenyWriteByte)) {
    if (writer) UnlockByte(fd, kWriterByte);
    return false;
  }
  const bool conflict = (writer && OthersHold(fd, kDenyWriteByte)) || (denyWrite && OthersHold(fd, kWriterByte));
  if (conflict) {
    if (writer) UnlockByte(fd, kWriterByte);
    if (denyWrite) UnlockByte(fd, kDenyWriteByte);
  }
  return !conflict;
}

void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Unique enough for names that are then created with O_EXCL.
std::string RandomPart(size_t length) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static thread_local std::mt19937_64 gen{std::random_device{}() ^ static_cast<uint64_t>(::getpid())};
  std::string s;
  for (size_t i = 0; i < length; ++i) s += kChars[gen() % (sizeof(kChars) - 1)];
  return s;
}

// Copies the bytes of one file to a new file (the fallback when a hard link cannot be made).
long CopyBytes(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Win32FromErrno(errno);
  struct stat st;
  ::fstat(in, &st);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return Win32FromErrno(e);
  }
  long rc = internal::CopyAllBytes(in, out);
  if (::close(out) != 0 && rc == ERROR_SUCCESS) rc = Win32FromErrno(errno);
  ::close(in);
  if (rc != ERROR_SUCCESS) ::unlink(to.c_str());
  return rc;
}

}  // namespace

namespace internal {

long WriteAllBytes(int fd, const void* data, size_t size, size_t& written) {
  written = 0;
  const char* p = static_cast<const char*>(data);
  while (written < size) {
    const ssize_t n = ::write(fd, p + written, size - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Win32FromErrno(errno);
    }
    if (n == 0) return ERROR_WRITE_FAULT;
    written += static_cast<size_t>(n);
  }
  return ERROR_SUCCESS;
}

long CopyAllBytes(int in, int out) {
  std::vector<char> buf(1 << 16);
  for (;;) {
    const ssize_t n = ::read(in, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Win32FromErrno(errno);
    }
    if (n == 0) break;
    size_t written = 0;
    if (long rc = WriteAllBytes(out, buf.data(), static_cast<size_t>(n), written); rc != ERROR_SUCCESS) return rc;
  }
  return ::fsync(out) == 0 ? ERROR_SUCCESS : Win32FromErrno(errno);
}

}  // namespace internal

long Win32FromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG: return ERROR_HANDLE_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY: return ERROR_BUSY;
    case EXDEV: return kErrorNotSameDevice;
    case EAGAIN: return ERROR_LOCK_VIOLATION;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case EIO: return ERROR_GEN_FAILURE;
    case ELOOP: return ERROR_INVALID_NAME;
    default: return ERROR_GEN_FAILURE;
  }
}

std::string NativePath(WStringView path) { return vr::text::WideToUtf8(ToNativeSeparators(path)); }

// ---- File ----

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

long File::Open(WStringView path, std::string_view mode, Share share, std::unique_ptr<File>& out) {
  if (out) return ERROR_INVALID_PARAMETER;
  if (auto f = InjectedWin32("file.Open", ERROR_ACCESS_DENIED)) return *f;
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string native = NativePath(path);
  bool writer = false, truncate = false;
  int flags = O_CLOEXEC;
  if (mode == "rb" || mode == "r") {
    // A reader never waits in open (a named pipe without writer would block it there); what is
    // not a regular file is refused below.
    flags |= O_RDONLY | O_NONBLOCK;
  } else if (mode == "wb" || mode == "w") {
    writer = truncate = true;
    flags |= O_CREAT;
  } else if (mode == "ab" || mode == "a") {
    writer = true;
    flags |= O_CREAT | O_APPEND;
  } else if (mode == "r+b" || mode == "rb+" || mode == "r+") {
    writer = true;
    flags |= O_RDWR;
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  // A writer is opened read-write where it may be, so that it can hold its shared lock; the
  // truncation of "wb" waits until the locks allow writing.
  int fd = -1;
  if (writer && !(flags & O_RDWR)) {
    fd = ::open(native.c_str(), flags | O_RDWR, 0666);
    if (fd < 0 && errno == EACCES) fd = ::open(native.c_str(), flags | O_WRONLY, 0666);
  } else {
    fd = ::open(native.c_str(), flags, 0666);
  }
  if (fd < 0) return ErrorForPath(errno, native);
  struct stat st;
  const bool statted = ::fstat(fd, &st) == 0;
  if (statted && (S_ISDIR(st.st_mode) || (!writer && !S_ISREG(st.st_mode)))) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
  }
  if (flags & O_NONBLOCK) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  const bool canLock = (::fcntl(fd, F_GETFL) & O_ACCMODE) != O_WRONLY;
  if (canLock && !TakeShareLocks(fd, writer, share == Share::DenyWrite)) {
    ::close(fd);
    return ERROR_SHARING_VIOLATION;
  }
  if (truncate && ::ftruncate(fd, 0) != 0) {
    const int e = errno;
    ::close(fd);
    return Win32FromErrno(e);
  }
  out.reset(new File(fd));
  return ERROR_SUCCESS;
}

long File::Read(void* data, size_t size, size_t& got) {
  got = 0;
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (auto f = InjectedWin32("file.Read", ERROR_READ_FAULT)) return *f;
  char* p = static_cast<char*>(data);
  while (got < size) {
    const ssize_t n = ::read(fd_, p + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Win32FromErrno(errno);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return ERROR_SUCCESS;
}

long File::ReadAll(std::string& out) {
  out.clear();
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (auto f = InjectedWin32("file.Read", ERROR_READ_FAULT)) return *f;
  struct stat st;
  size_t expected = 0;
  if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    const off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    if (pos >= 0 && pos < st.st_size) expected = static_cast<size_t>(st.st_size - pos);
  }
  // One read of the expected size, then on until the end (the file may grow meanwhile).
  size_t have = 0;
  out.resize(expected > 0 ? expected : 65536);
  for (;;) {
    if (have == out.size()) out.resize(out.size() + std::max<size_t>(65536, out.size() / 2));
    const ssize_t n = ::read(fd_, out.data() + have, out.size() - have);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      out.clear();
      return Win32FromErrno(e);
    }
    if (n == 0) break;
    have += static_cast<size_t>(n);
  }
  out.resize(have);
  return ERROR_SUCCESS;
}

long File::Write(const void* data, size_t size, size_t& written) {
  written = 0;
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (auto f = InjectedWin32("file.Write", ERROR_WRITE_FAULT)) return *f;
  return internal::WriteAllBytes(fd_, data, size, written);
}

long File::Sync() {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (auto f = InjectedWin32("file.Sync", ERROR_WRITE_FAULT)) return *f;
  if (::fsync(fd_) != 0) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

long File::Size(uint64_t& size) {
  size = 0;
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  if (auto f = InjectedWin32("file.Size", ERROR_INVALID_HANDLE)) return *f;
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Win32FromErrno(errno);
  size = static_cast<uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

long File::Close() {
  if (fd_ < 0) return ERROR_INVALID_HANDLE;
  const int fd = fd_;
  fd_ = -1;
  if (auto f = InjectedWin32("file.Close", ERROR_WRITE_FAULT)) {
    ::close(fd);
    return *f;
  }
  if (::close(fd) != 0 && errno != EINTR) return Win32FromErrno(errno);
  return ERROR_SUCCESS;
}

long ReadWholeFile(WStringView path, std::string& bytes) {
  bytes.clear();
  if (auto f = InjectedWin32("file.ReadWhole", ERROR_READ_FAULT)) return *f;
  std::unique_ptr<File> file;
  if (long rc = File::Open(path, "rb", Share::DenyNone, file)) return rc;
  const long rc = file->ReadAll(bytes);
  file->Close();
  if (rc != ERROR_SUCCESS) bytes.clear();
  return rc;
}

// ---- AtomicFile ----

AtomicFile::~AtomicFile() { Abort(); }

long AtomicFile::Create(WStringView target, std::unique_ptr<AtomicFile>& out) {
  if (out) return ERROR_INVALID_PARAMETER;
  if (auto f = InjectedWin32("file.SaveCreate", ERROR_ACCESS_DENIED)) return *f;
  if (target.empty()) return ERROR_PATH_NOT_FOUND;
  std::unique_ptr<AtomicFile> a(new AtomicFile);
  a->target_ = WString(target);
  a->nativeTarget_ = NativePath(target);
  const std::string& native = a->nativeTarget_;
  if (native.back() == '/') return ERROR_ACCESS_DENIED;
  const std::string folder = ParentOf(native);
  if (!IsNativeDirectory(folder)) return ERROR_PATH_NOT_FOUND;

  struct stat st;
  const bool targetExists = ::stat(native.c_str(), &st) == 0;
  if (targetExists && S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  if (targetExists) {
    // Hold the target as a writer until the rename: it refuses deny-write readers meanwhile,
    // and a reader that denies writing now makes this save a sharing violation.
    const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      if (!TakeShareLocks(fd, true, false)) {
        ::close(fd);
        return ERROR_SHARING_VIOLATION;
      }
      a->targetGuard_.reset(new File(fd));
    }
  }

  const size_t slash = native.find_last_of('/');
  const std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  const std::string prefix = (folder == "/" ? std::string() : folder) + "/." + name + ".";
  const mode_t mode = targetExists ? (st.st_mode & 07777) : 0666;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    a->nativeTemp_ = prefix + RandomPart(6) + ".tmp";
    fd = ::open(a->nativeTemp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const long rc = Win32FromErrno(errno);
    a->nativeTemp_.clear();
    return rc;
  }
  // The new version keeps the old one's permissions (O_CREAT applied the umask to them).
  if (targetExists) ::fchmod(fd, mode);
  a->temp_.reset(new File(fd));
  out = std::move(a);
  return ERROR_SUCCESS;
}

long AtomicFile::Write(const void* data, size_t size, size_t& written) {
  written = 0;
  if (!temp_) return ERROR_INVALID_HANDLE;
  return temp_->Write(data, size, written);
}

long AtomicFile::Commit(WStringView backup, Step& failedStep) {
  failedStep = Step::Closed;
  if (!temp_) return ERROR_INVALID_HANDLE;
  auto fail = [&](Step step, long rc) {
    failedStep = step;
    Abort();
    return rc;
  };
  if (long rc = temp_->Sync()) return fail(Step::Write, rc);
  if (long rc = temp_->Close()) return fail(Step::Write, rc);

  const std::string nativeBackup = backup.empty() ? std::string() : NativePath(backup);
  // The previous file gets a second name first, a temporary one beside the backup; only once
  // the new file is in place does that name replace the old backup. A save that fails, or is
  // cut short, thus leaves the old backup as it was.
  std::string keptTarget;
  bool backupExists = false;
  if (!backup.empty()) {
    struct stat st;
    backupExists = ::lstat(nativeBackup.c_str(), &st) == 0;
    const bool targetExists = ::stat(nativeTarget_.c_str(), &st) == 0;
    // Every check comes before anything changes, so a refused save loses nothing.
    if (backupExists)
      if (long rc = CheckAccess(backup, true, true)) return fail(Step::BackupAccess, rc);
    if (targetExists)
      if (long rc = CheckAccess(target_, true, true)) return fail(Step::TargetAccess, rc);
    if (backupExists) {
      // The old backup will be replaced: its folder must allow that.
      if (auto f = InjectedWin32("file.Delete", ERROR_ACCESS_DENIED)) return fail(Step::BackupDelete, *f);
      if (::access(ParentOf(nativeBackup).c_str(), W_OK | X_OK) != 0) return fail(Step::BackupDelete, Win32FromErrno(errno));
    }
    if (targetExists) {
      if (auto f = InjectedWin32("file.SaveBackup", ERROR_ACCESS_DENIED)) return fail(Step::BackupKeep, *f);
      const size_t slash = nativeBackup.find_last_of('/');
      const std::string folder = slash == std::string::npos ? "." : nativeBackup.substr(0, slash);
      const std::string name = slash == std::string::npos ? nativeBackup : nativeBackup.substr(slash + 1);
      int e = EEXIST;
      for (int attempt = 0; attempt < 100 && e == EEXIST; ++attempt) {
        keptTarget = folder + "/." + name + "." + RandomPart(6) + ".tmp";
        e = ::link(nativeTarget_.c_str(), keptTarget.c_str()) == 0 ? 0 : errno;
      }
      if (e != 0) {
        if (e != EPERM && e != ENOTSUP && e != EMLINK && e != EXDEV && e != ENOSYS) {
          keptTarget.clear();
          return fail(Step::BackupKeep, Win32FromErrno(e));
        }
        if (long rc = CopyBytes(nativeTarget_, keptTarget)) {
          ::unlink(keptTarget.c_str());
          keptTarget.clear();
          return fail(Step::BackupKeep, rc);
        }
      }
    }
  }

  auto failRename = [&](long rc) {
    if (!keptTarget.empty()) ::unlink(keptTarget.c_str());
    return fail(Step::Rename, rc);
  };
  if (auto f = InjectedWin32("file.SaveRename", ERROR_ACCESS_DENIED)) return failRename(*f);
  if (::rename(nativeTemp_.c_str(), nativeTarget_.c_str()) != 0) return failRename(Win32FromErrno(errno));
  nativeTemp_.clear();
  // The new file is in place; the previous one becomes the backup (replacing the older one in
  // one step), or, for a file that had none, an older backup goes.
  if (!keptTarget.empty()) {
    if (::rename(keptTarget.c_str(), nativeBackup.c_str()) != 0) ::unlink(keptTarget.c_str());
  } else if (backupExists) {
    ::unlink(nativeBackup.c_str());
  }
  SyncFolder(ParentOf(nativeTarget_));
  targetGuard_.reset();
  failedStep = Step::None;
  return ERROR_SUCCESS;
}

void AtomicFile::Abort() {
  temp_.reset();
  if (!nativeTemp_.empty()) {
    ::unlink(nativeTemp_.c_str());
    nativeTemp_.clear();
  }
  targetGuard_.reset();
}

// ---- New files ----

long PlaceNewFile(const std::string& temp, const std::string& target) {
  if (auto f = InjectedWin32("file.Place", ERROR_ACCESS_DENIED)) {
    ::unlink(temp.c_str());
    return *f;
  }
  // link, not rename: link never replaces what is at the target's name.
  long rc = ERROR_SUCCESS;
  if (::link(temp.c_str(), target.c_str()) != 0) rc = errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorForPath(errno, target);
  ::unlink(temp.c_str());
  if (rc == ERROR_SUCCESS) SyncFolder(ParentOf(target));
  return rc;
}

long CreateNewFile(const std::string& path, std::string_view bytes, bool ownerOnly) {
  if (auto f = InjectedWin32("file.SaveCreate", ERROR_ACCESS_DENIED)) return *f;
  if (path.empty() || path.back() == '/') return ERROR_PATH_NOT_FOUND;
  const std::string folder = ParentOf(path);
  if (!IsNativeDirectory(folder)) return ERROR_PATH_NOT_FOUND;
  const size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string prefix = (folder == "/" ? std::string() : folder) + "/." + name + ".";
  const mode_t mode = ownerOnly ? 0600 : 0666;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = prefix + RandomPart(6) + ".tmp";
    fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return Win32FromErrno(errno);
  if (ownerOnly) ::fchmod(fd, 0600);  // whatever the umask left
  File file(fd);
  size_t written = 0;
  long rc = file.Write(bytes.data(), bytes.size(), written);
  if (rc == ERROR_SUCCESS) rc = file.Sync();
  if (rc == ERROR_SUCCESS) rc = file.Close();
  if (rc != ERROR_SUCCESS) {
    ::unlink(temp.c_str());
    return rc;
  }
  return PlaceNewFile(temp, path);
}

void RemoveLeftoverFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

std::unique_ptr<AppendOnlyLog> AppendOnlyLog::Open(const std::string& nativePath) {
  const int fd = ::open(nativePath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  return std::unique_ptr<AppendOnlyLog>(new AppendOnlyLog(fd));
}

AppendOnlyLog::~AppendOnlyLog() { ::close(fd_); }

void AppendOnlyLog::Append(std::string_view text) {
  size_t written = 0;
  internal::WriteAllBytes(fd_, text.data(), text.size(), written);
}

long PlainReader::Open(const std::string& nativePath, std::unique_ptr<PlainReader>& out, std::string& reason) {
  out.reset();
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = std::strerror(errno);
    return Win32FromErrno(errno);
  }
  struct stat st;
  const bool statted = ::fstat(fd, &st) == 0;
  out.reset(new PlainReader(fd, statted && S_ISREG(st.st_mode), statted ? static_cast<uint64_t>(st.st_size) : 0));
  return ERROR_SUCCESS;
}

PlainReader::~PlainReader() { ::close(fd_); }

long PlainReader::Read(void* data, size_t size, size_t& got, std::string& reason) {
  got = 0;
  ssize_t n;
  do {
    n = ::read(fd_, data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    reason = std::strerror(errno);
    return Win32FromErrno(errno);
  }
  got = static_cast<size_t>(n);
  return ERROR_SUCCESS;
}

long GetNativeFileStatus(const std::string& path, NativeFileStatus& status) {
  status = NativeFileStatus{};
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? ERROR_SUCCESS : Win32FromErrno(errno);
  status.exists = true;
  status.isDirectory = S_ISDIR(st.st_mode);
  status.isRegular = S_ISREG(st.st_mode);
  status.size = static_cast<uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

bool NativeAccessAllowed(const std::string& path, bool read, bool write, bool enter) {
  const int how = (read ? R_OK : 0) | (write ? W_OK : 0) | (enter ? X_OK : 0);
  return ::access(path.c_str(), how == 0 ? F_OK : how) == 0;
}

long SyncNativeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : Win32FromErrno(errno);
  const long rc = ::fdatasync(fd) == 0 ? ERROR_SUCCESS : Win32FromErrno(errno);
  ::close(fd);
  return rc;
}

long SaveFileAtomic(WStringView path, std::string_view bytes, WStringView backup) {
  std::unique_ptr<AtomicFile> file;
  if (long rc = AtomicFile::Create(path, file)) return rc;
  size_t written;
  if (long rc = file->Write(bytes.data(), bytes.size(), written)) return rc;
  return file->Commit(backup);
}

// ---- Names ----

long DeleteFile(WStringView path) {
  if (auto f = InjectedWin32("file.Delete", ERROR_ACCESS_DENIED)) return *f;
  const std::string native = NativePath(path);
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  if (::unlink(native.c_str()) != 0) return ErrorForPath(errno, native);
  return ERROR_SUCCESS;
}

long MoveFile(WStringView from, WStringView to, bool replace) {
  if (auto f = InjectedWin32("file.Rename", ERROR_ACCESS_DENIED)) return *f;
  if (from.empty() || to.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string src = NativePath(from), dst = NativePath(to);
  struct stat st;
  if (::lstat(src.c_str(), &st) != 0) return ErrorForPath(errno, src);
  const bool isFolder = S_ISDIR(st.st_mode);
  if (!replace) {
    if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) == 0) return ERROR_SUCCESS;
    if (errno == EEXIST) return ERROR_ALREADY_EXISTS;
    if (errno != EINVAL && errno != ENOSYS && errno != EXDEV) return ErrorForPath(errno, errno == ENOENT ? dst : src);
    if (errno != EXDEV) {
      // A file system without the no-replace flag.
      if (::lstat(dst.c_str(), &st) == 0) return ERROR_ALREADY_EXISTS;
      if (::rename(src.c_str(), dst.c_str()) == 0) return ERROR_SUCCESS;
    }
  } else {
    if (::lstat(dst.c_str(), &st) == 0 && S_ISDIR(st.st_mode) != isFolder) return ERROR_ACCESS_DENIED;
    if (::rename(src.c_str(), dst.c_str()) == 0) return ERROR_SUCCESS;
  }
  if (errno != EXDEV) return ErrorForPath(errno, dst);
  if (isFolder) return kErrorNotSameDevice;
  // Another file system: copy to a temporary name beside the target, rename it, then delete.
  const std::string temp = ParentOf(dst) + "/." + RandomPart(8) + ".move";
  if (long rc = CopyBytes(src, temp)) return rc;
  if (!replace && ::lstat(dst.c_str(), &st) == 0) {
    ::unlink(temp.c_str());
    return ERROR_ALREADY_EXISTS;
  }
  if (::rename(temp.c_str(), dst.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    return Win32FromErrno(e);
  }
  ::unlink(src.c_str());
  return ERROR_SUCCESS;
}

long CheckAccess(WStringView path, bool read, bool write) {
  if (auto f = InjectedWin32("file.Access", ERROR_ACCESS_DENIED)) return *f;
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string native = NativePath(path);
  const int how = (read ? R_OK : 0) | (write ? W_OK : 0);
  if (::access(native.c_str(), how == 0 ? F_OK : how) != 0) return ErrorForPath(errno, native);
  return ERROR_SUCCESS;
}

long RestrictToOwner(WStringView path, bool create) {
  if (auto f = InjectedWin32("file.Restrict", ERROR_ACCESS_DENIED)) return *f;
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  const std::string native = NativePath(path);
  if (create) {
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      const bool ok = ::fchmod(fd, 0600) == 0;  // whatever the umask left
      ::close(fd);
      return ok ? ERROR_SUCCESS : ErrorForPath(errno, native);
    }
    if (errno != EEXIST) return ErrorForPath(errno, native);
  }
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return errno == ENOENT && !create ? ERROR_SUCCESS : ErrorForPath(errno, native);
  if ((st.st_mode & 07777) == 0600) return ERROR_SUCCESS;
  if (::chmod(native.c_str(), 0600) != 0) return ErrorForPath(errno, native);
  return ERROR_SUCCESS;
}

bool PathExists(WStringView path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0;
}

bool FileExists(WStringView path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsSameFile(WStringView a, WStringView b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa, sb;
  if (::stat(NativePath(a).c_str(), &sa) != 0 || ::stat(NativePath(b).c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

long FileSize(WStringView path, uint64_t& size) {
  size = 0;
  if (auto f = InjectedWin32("file.Size", ERROR_INVALID_HANDLE)) return *f;
  const std::string native = NativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return ErrorForPath(errno, native);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  size = static_cast<uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

long GetTempPath(WString& folder) {
  if (auto f = InjectedWin32("file.GetTempPath", ERROR_PATH_NOT_FOUND)) return *f;
  std::string dir = "/tmp";
  if (const char* env = std::getenv("TMPDIR"); env && *env && IsNativeDirectory(env)) dir = env;
  if (dir.back() != '/') dir += '/';
  folder = vr::text::Utf8ToWide(dir);
  return ERROR_SUCCESS;
}

long GetTempFileName(WStringView folder, WStringView prefix, WString& path) {
  if (auto f = InjectedWin32("file.GetTempFileName", ERROR_ACCESS_DENIED)) return *f;
  std::string dir = folder.empty() ? std::string("./") : NativePath(folder);
  if (!IsNativeDirectory(dir)) return ERROR_DIRECTORY;
  if (dir.back() != '/') dir += '/';
  const std::string pre = vr::text::WideToUtf8(prefix.substr(0, 3));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = dir + pre + RandomPart(6) + ".tmp";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      path = vr::text::Utf8ToWide(name);
      return ERROR_SUCCESS;
    }
    if (errno != EEXIST) return Win32FromErrno(errno);
  }
  return ERROR_FILE_EXISTS;
}

}  // namespace vr::os
