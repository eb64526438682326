#include "platform/os/dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "platform/com/hresult.h"
#include "platform/fault/fault.h"
#include "platform/os/lasterror.h"
#include "platform/os/native_internal.h"
#include "platform/os/path.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

using vr::fault::InjectedWin32;

namespace vr::os {
namespace {

using internal::ErrorFromErrno;
using internal::Native;

// A path the host cannot name: a share, or a character no path may hold.
long CheckName(WStringView path) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  const WString native = ToNativeSeparators(path);
  if (native.size() >= 2 && native[0] == u'/' && native[1] == u'/') return ERROR_BAD_NETPATH;
  if (HasInvalidPathChar(path)) return ERROR_INVALID_NAME;
  return ERROR_SUCCESS;
}

std::string ParentOf(const std::string& native) {
  std::string p = native;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

// ENOENT of the last component is "file not found"; of a parent, "path not found".
long MissingError(const std::string& native) {
  return IsNativeDirectory(ParentOf(native)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

bool NameLess(const DirEntry& a, const DirEntry& b) {
  const int c = vr::text::CompareNoCase(a.name, b.name);
  return c != 0 ? c < 0 : a.name < b.name;
}

long ListNative(const std::string& native, std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* dir = ::opendir(native.c_str());
  if (!dir) {
    const int err = errno;
    if (err == ENOTDIR) return ERROR_DIRECTORY;
    return ErrorFromErrno(err, ERROR_PATH_NOT_FOUND);
  }
  std::unique_ptr<DIR, int (*)(DIR*)> guard(dir, ::closedir);
  errno = 0;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    DirEntry entry;
    entry.name = vr::text::Utf8ToWide(e->d_name);
    struct stat st;
    const std::string child = native + (native.back() == '/' ? "" : "/") + e->d_name;
    if (::lstat(child.c_str(), &st) == 0) {
      if (S_ISLNK(st.st_mode)) {
        struct stat target;
        // A link counts as what it points at; the walk never enters linked folders.
        if (::stat(child.c_str(), &target) == 0) st = target;
      }
      entry.isDirectory = S_ISDIR(st.st_mode);
      if (!entry.isDirectory) entry.size = static_cast<uint64_t>(st.st_size);
    }
    entries.push_back(std::move(entry));
    errno = 0;
  }
  if (errno != 0) return ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
  std::sort(entries.begin(), entries.end(), NameLess);
  return ERROR_SUCCESS;
}

bool IsLink(const std::string& native) {
  struct stat st;
  return ::lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

long WalkNative(const std::string& native, const WString& shown, WChar separator,
                const std::function<bool(const WString&, const DirEntry&)>& visit, bool& stopped) {
  std::vector<DirEntry> entries;
  if (long rc = ListNative(native, entries); rc != ERROR_SUCCESS) return rc;
  for (const DirEntry& e : entries) {
    WString path = shown;
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += separator;
    path += e.name;
    if (!visit(path, e)) {
      stopped = true;
      return ERROR_SUCCESS;
    }
    const std::string child = native + (native.back() == '/' ? "" : "/") + vr::text::WideToUtf8(e.name);
    if (e.isDirectory && !IsLink(child)) {
      if (long rc = WalkNative(child, path, separator, visit, stopped); rc != ERROR_SUCCESS || stopped) return rc;
    }
  }
  return ERROR_SUCCESS;
}

long RemoveNative(const std::string& native) {
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT ? ERROR_SUCCESS : ErrorFromErrno(errno);
  if (!S_ISDIR(st.st_mode)) return ::unlink(native.c_str()) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
  DIR* dir = ::opendir(native.c_str());
  if (!dir) return ErrorFromErrno(errno);
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  ::closedir(dir);
  for (const auto& n : names)
    if (long rc = RemoveNative(native + "/" + n); rc != ERROR_SUCCESS) return rc;
  return ::rmdir(native.c_str()) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
}

struct FdGuard {
  int fd;
  ~FdGuard() { ::close(fd); }
};

std::string UniqueSuffix() {
  static std::mt19937_64 gen{std::random_device{}() ^ static_cast<uint64_t>(::getpid())};
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string s;
  for (int i = 0; i < 10; ++i) s += digits[gen() % 36];
  return s;
}

}  // namespace

long CreateDirectory(WStringView path) {
  if (auto injected = InjectedWin32("os.CreateDirectory", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  const std::string native = Native(path);
  if (::mkdir(native.c_str(), 0777) == 0) return ERROR_SUCCESS;
  return ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
}

long CreateDirectoryTree(WStringView path) {
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  std::string native = Native(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (IsNativeDirectory(native)) return ERROR_SUCCESS;
  const std::string parent = ParentOf(native);
  if (parent != native && !IsNativeDirectory(parent)) {
    if (long rc = CreateDirectoryTree(vr::text::Utf8ToWide(parent)); rc != ERROR_SUCCESS) return rc;
  }
  const long rc = CreateDirectory(vr::text::Utf8ToWide(native));
  return (rc == ERROR_ALREADY_EXISTS && IsNativeDirectory(native)) ? ERROR_SUCCESS : rc;
}

long RemoveDirectory(WStringView path) {
  if (auto injected = InjectedWin32("os.RemoveDirectory", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  const std::string native = Native(path);
  if (::rmdir(native.c_str()) == 0) return ERROR_SUCCESS;
  if (errno == ENOTDIR) return ERROR_DIRECTORY;
  if (errno == EEXIST) return ERROR_DIR_NOT_EMPTY;
  return errno == ENOENT ? MissingError(native) : ErrorFromErrno(errno);
}

long RemoveTree(WStringView path) {
  if (auto injected = InjectedWin32("os.RemoveTree", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  std::string native = Native(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native == "/") return ERROR_ACCESS_DENIED;
  return RemoveNative(native);
}

bool IsNativeDirectory(const std::string& nativePath) {
  struct stat st;
  return ::stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DirectoryExists(WStringView path) { return CheckName(path) == ERROR_SUCCESS && IsNativeDirectory(Native(path)); }

long ListDirectory(WStringView path, std::vector<DirEntry>& entries) {
  entries.clear();
  if (auto injected = InjectedWin32("os.ListDirectory", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  return ListNative(Native(path), entries);
}

long WalkTree(WStringView root, const std::function<bool(const WString&, const DirEntry&)>& visit, WChar separator) {
  if (auto injected = InjectedWin32("os.WalkTree", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(root); rc != ERROR_SUCCESS) return rc;
  bool stopped = false;
  return WalkNative(Native(root), WString(root), separator, visit, stopped);
}

long FindFilesByName(WStringView root, WStringView fileName, std::vector<WString>& found, WChar separator) {
  found.clear();
  if (auto injected = InjectedWin32("os.FindFiles", ERROR_ACCESS_DENIED)) return *injected;
  return WalkTree(
      root,
      [&](const WString& path, const DirEntry& e) {
        if (!e.isDirectory && vr::text::EqualsNoCase(e.name, fileName)) found.push_back(path);
        return true;
      },
      separator);
}

long CopyFile(WStringView from, WStringView to, bool failIfExists) {
  if (auto injected = InjectedWin32("os.CopyFile", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(from); rc != ERROR_SUCCESS) return rc;
  if (long rc = CheckName(to); rc != ERROR_SUCCESS) return rc;
  const std::string src = Native(from), dst = Native(to);
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno == ENOENT ? MissingError(src) : ErrorFromErrno(errno);
  FdGuard inGuard{in};
  struct stat st;
  if (::fstat(in, &st) != 0) return ErrorFromErrno(errno);
  if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
  struct stat target;
  if (::stat(dst.c_str(), &target) == 0) {
    if (S_ISDIR(target.st_mode)) return ERROR_ACCESS_DENIED;
    if (failIfExists) return ERROR_FILE_EXISTS;
    if (target.st_dev == st.st_dev && target.st_ino == st.st_ino) return ERROR_SHARING_VIOLATION;
  }
  const std::string parent = ParentOf(dst);
  if (!IsNativeDirectory(parent)) return ERROR_PATH_NOT_FOUND;
  // The new content goes to a temporary file beside the target and is renamed into place.
  const std::string temp = parent + "/.vrcopy-" + UniqueSuffix();
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
  if (out < 0) return ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
  long rc = internal::CopyAllBytes(in, out);
  if (::close(out) != 0 && rc == ERROR_SUCCESS) rc = ErrorFromErrno(errno);
  if (rc == ERROR_SUCCESS) {
    if (failIfExists) {
      // link() refuses an existing name, so a target made meanwhile is not overwritten.
      if (::link(temp.c_str(), dst.c_str()) != 0) {
        if (errno == EEXIST) {
          rc = ERROR_FILE_EXISTS;
        } else if (errno == EPERM || errno == ENOTSUP || errno == EXDEV || errno == EMLINK) {
          // No hard links here: check and rename, which leaves only a narrow window.
          struct stat again;
          if (::stat(dst.c_str(), &again) == 0) rc = ERROR_FILE_EXISTS;
          else if (::rename(temp.c_str(), dst.c_str()) != 0) rc = ErrorFromErrno(errno);
        } else {
          rc = ErrorFromErrno(errno);
        }
      }
    } else if (::rename(temp.c_str(), dst.c_str()) != 0) {
      rc = ErrorFromErrno(errno);
    }
  }
  ::unlink(temp.c_str());
  return rc;
}

long FlushFolder(WStringView path) {
  if (auto injected = InjectedWin32("os.FlushFolder", ERROR_WRITE_FAULT)) return *injected;
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  const int fd = ::open(Native(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
  const long rc = ::fsync(fd) == 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
  ::close(fd);
  return rc;
}

long GetCurrentDirectory(WString& path) {
  if (auto injected = InjectedWin32("os.GetCurrentDirectory", ERROR_ACCESS_DENIED)) return *injected;
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return ErrorFromErrno(errno, ERROR_PATH_NOT_FOUND);
    buf.resize(buf.size() * 2);
  }
  path = vr::text::Utf8ToWide(buf.data());
  return ERROR_SUCCESS;
}

long SetCurrentDirectory(WStringView path) {
  if (auto injected = InjectedWin32("os.SetCurrentDirectory", ERROR_ACCESS_DENIED)) return *injected;
  if (long rc = CheckName(path); rc != ERROR_SUCCESS) return rc;
  const std::string native = Native(path);
  if (::chdir(native.c_str()) == 0) return ERROR_SUCCESS;
  if (errno == ENOTDIR) return IsNativeDirectory(ParentOf(native)) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND;
  return errno == ENOENT ? MissingError(native) : ErrorFromErrno(errno);
}

}  // namespace vr::os

namespace {
BOOL Report(long rc) {
  SetLastError(static_cast<DWORD>(rc));
  return rc == ERROR_SUCCESS ? TRUE : FALSE;
}
WStringView View(const WChar* p) { return p ? WStringView(p) : WStringView(); }
}  // namespace

BOOL CreateDirectoryW(const WChar* path, void*) { return Report(vr::os::CreateDirectory(View(path))); }
BOOL RemoveDirectoryW(const WChar* path) { return Report(vr::os::RemoveDirectory(View(path))); }
BOOL CopyFileW(const WChar* from, const WChar* to, BOOL failIfExists) {
  return Report(vr::os::CopyFile(View(from), View(to), failIfExists != FALSE));
}
BOOL SetCurrentDirectoryW(const WChar* path) { return Report(vr::os::SetCurrentDirectory(View(path))); }

DWORD GetCurrentDirectoryW(DWORD size, WChar* buffer) {
  WString cwd;
  if (long rc = vr::os::GetCurrentDirectory(cwd); rc != ERROR_SUCCESS) {
    SetLastError(static_cast<DWORD>(rc));
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  if (!buffer || size < cwd.size() + 1) return static_cast<DWORD>(cwd.size() + 1);
  std::memcpy(buffer, cwd.data(), cwd.size() * sizeof(WChar));
  buffer[cwd.size()] = 0;
  return static_cast<DWORD>(cwd.size());
}
