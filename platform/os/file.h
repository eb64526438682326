// Files of the host (every file it or a program saves goes through here): reads, share modes, atomic saves
// with a backup, new files placed whole, delete, rename, size, temporary files, the trace's file.
//
// Paths are UTF-16 and may use '\' or '/'. Every call returns a Win32 error code
// (platform/com/hresult.h): ERROR_SUCCESS (0) on success, and the code the Windows call would
// give otherwise (2 file not found, 3 path not found, 5 access denied, 32 sharing violation,
// 80 file exists, 112 disk full, ...). Every fallible call first asks the fault hook with the
// point named beside it ("file.Open", ...); an injected code 0 stands for the call's usual
// failure, which is named there too.
//
// Sharing: a file opened with Share::DenyWrite cannot be opened for writing by anybody else
// (in this process or another) while it stays open, and it cannot be opened so while somebody
// else has it open for writing; both are refused with ERROR_SHARING_VIOLATION. The locks are
// advisory: they bind the programs that go through this interface, not other programs.
//
// Folder platform/os, library vr_os: host layer of files, folders, paths, processes, clock,
// computer, locale, messages, data folder and run lock; uses platform/com, text and fault. The
// only folder whose sources include operating-system headers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/text/wstring.h"

namespace vr::os {

enum class Share {
  DenyNone,   // others may read and write
  DenyWrite,  // others may read, nobody else may write
};

// An open file; closed when destroyed. Writes are not buffered in the process: a Write has
// reached the operating system when it returns (write-through in the sense of a log).
class File {
 public:
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens like fopen with mode "rb" (read), "wb" (create or truncate), "ab" (create or
  // append; every write goes to the end) or "r+b" (read and write an existing file).
  // out must be empty on entry. Point "file.Open" (usual failure: ERROR_ACCESS_DENIED).
  static long Open(WStringView path, std::string_view mode, Share share, std::unique_ptr<File>& out);

  // Up to size bytes from the current position; got < size only at the end of the file.
  // Point "file.Read" (ERROR_READ_FAULT).
  long Read(void* data, size_t size, size_t& got);
  // Everything from the current position to the end. Point "file.Read" (ERROR_READ_FAULT).
  long ReadAll(std::string& out);
  // written tells how many bytes reached the file, also on failure.
  // Point "file.Write" (ERROR_WRITE_FAULT).
  long Write(const void* data, size_t size, size_t& written);
  // Forces the written bytes to the disk (fsync). Point "file.Sync" (ERROR_WRITE_FAULT).
  long Sync();
  // Current size in bytes. Point "file.Size" (ERROR_INVALID_HANDLE).
  long Size(uint64_t& size);
  // Closes the file; it is closed afterwards even when this reports a failure.
  // Point "file.Close" (ERROR_WRITE_FAULT). Closing a closed file gives ERROR_INVALID_HANDLE.
  long Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  friend class AtomicFile;
  friend long CreateNewFile(const std::string&, std::string_view, bool);
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The whole content of a file (opened for reading, deny none). Point "file.ReadWhole"
// (ERROR_READ_FAULT), after which the open and read points of File apply.
long ReadWholeFile(WStringView path, std::string& bytes);

// A new version of a file, written safely: the bytes go to a temporary file in the target's
// folder; Commit forces it to disk, keeps the previous file as the backup when one is asked
// for, and renames it over the target. Until the rename the target keeps its old content, and
// after it the new one: the target's name never holds a half-written file or nothing. An
// object destroyed (or aborted) without a successful Commit removes its temporary file.
class AtomicFile {
 public:
  // Where a failed Commit stopped; the target then still holds its previous content.
  enum class Step {
    None,          // nothing failed
    Write,         // pending bytes could not be written, or the flush to disk failed
    BackupAccess,  // the existing backup is not readable and writable
    BackupDelete,  // the existing backup could not be replaced
    TargetAccess,  // the existing target is not readable and writable
    BackupKeep,    // the existing target could not be kept under the backup name
    Rename,        // the new file could not be renamed over the target
    Closed,        // Commit or Abort already happened
  };

  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Starts a new version of target. Fails with ERROR_PATH_NOT_FOUND when the folder does not
  // exist and ERROR_SHARING_VIOLATION when the target is open elsewhere with deny-write or for
  // writing. Point "file.SaveCreate" (ERROR_ACCESS_DENIED).
  static long Create(WStringView target, std::unique_ptr<AtomicFile>& out);

  // Point "file.Write" (ERROR_WRITE_FAULT); written as File::Write.
  long Write(const void* data, size_t size, size_t& written);

  // Ends the new version: flush to disk (point "file.Sync"), close ("file.Close"); then, when
  // backup is not empty, the existing target is kept under a second, temporary name beside the
  // backup (target and an older backup must be readable and writable, the backup's folder
  // writable; points "file.Access", "file.Delete", "file.SaveBackup"); then the new file is
  // renamed over the target (point "file.SaveRename") and the kept file over the backup (an
  // older backup of a target that did not exist is removed), and the folder flushed. The
  // target holds its old content until that rename, and an older backup stays as it was when
  // the save fails. On failure failedStep tells where it stopped and the temporary files are
  // gone. Commit after Commit or Abort fails with ERROR_INVALID_HANDLE.
  long Commit(WStringView backup, Step& failedStep);
  long Commit(WStringView backup = {}) {
    Step ignored;
    return Commit(backup, ignored);
  }
  // Drops the new version.
  void Abort();

  const WString& Target() const { return target_; }

 private:
  AtomicFile() = default;
  WString target_;
  std::string nativeTarget_;
  std::string nativeTemp_;
  std::unique_ptr<File> temp_;
  std::unique_ptr<File> targetGuard_;  // the target held for writing while we replace it
};

// Writes bytes as the whole new content of path with AtomicFile; backup as in Commit.
long SaveFileAtomic(WStringView path, std::string_view bytes, WStringView backup = {});

// Removes a file (not a folder). Point "file.Delete" (ERROR_ACCESS_DENIED).
long DeleteFile(WStringView path);
// Renames or moves a file; with replace an existing file at to is replaced (atomically when
// both are in one file system), without it ERROR_ALREADY_EXISTS. Moves between file systems
// copy and delete. Point "file.Rename" (ERROR_ACCESS_DENIED).
long MoveFile(WStringView from, WStringView to, bool replace);
// _waccess shape: ERROR_SUCCESS when the file exists and allows what is asked.
// Point "file.Access" (ERROR_ACCESS_DENIED).
long CheckAccess(WStringView path, bool read, bool write);

// Makes a file readable and writable by its owner only (mode 0600). With create, a missing
// file is created empty with that mode (exclusively, so a file made meanwhile is kept); without
// it a missing file is no error. Point "file.Restrict" (ERROR_ACCESS_DENIED).
long RestrictToOwner(WStringView path, bool create);

// True when something exists at path: a file, a folder, or a link to one of them.
bool PathExists(WStringView path);
// True when path names an existing regular file (folders are not files).
bool FileExists(WStringView path);
// True when both paths name one existing file, whatever the names: the same path, a hard or
// symbolic link, another spelling of the folders. False when either does not exist.
bool IsSameFile(WStringView a, WStringView b);
// Size in bytes of an existing file. Point "file.Size" (ERROR_INVALID_HANDLE).
long FileSize(WStringView path, uint64_t& size);

// GetTempPathW shape: $TMPDIR (when set and a folder) or /tmp, with a trailing '/'.
// Point "file.GetTempPath" (ERROR_PATH_NOT_FOUND).
long GetTempPath(WString& folder);
// GetTempFileNameW shape with the unique number chosen by the system: creates a new empty
// file folder + prefix (first three characters) + unique part + ".tmp", mode 0600, and names
// it in path. Point "file.GetTempFileName" (ERROR_ACCESS_DENIED).
long GetTempFileName(WStringView folder, WStringView prefix, WString& path);

// ---- New files that must appear whole or not at all ----
//
// These take POSIX file names (UTF-8, '/'), as the stores below the host root name their
// files.

// Puts a finished new file under its final name without replacing a file that is there
// already (another program may have made one meanwhile: it stays, and is the one to use), then
// removes the new file's temporary name and flushes the folder, so that the name survives a
// power cut. ERROR_ALREADY_EXISTS when a file was there; the temporary file is gone either
// way. Point "file.Place" (ERROR_ACCESS_DENIED).
long PlaceNewFile(const std::string& temp, const std::string& target);

// Writes bytes as a new file at path in the same way: a temporary file beside it (readable and
// writable by the owner only when ownerOnly, from its creation on), flushed to disk, then
// placed with PlaceNewFile. ERROR_ALREADY_EXISTS when a file was there (it is kept as it is).
// Points "file.SaveCreate" (ERROR_ACCESS_DENIED), then those of File::Write, File::Sync,
// File::Close and PlaceNewFile.
long CreateNewFile(const std::string& path, std::string_view bytes, bool ownerOnly);

// Removes a file that an earlier attempt, cut short, may have left under a name about to be
// used again. Best effort and no fault point: nothing depends on its outcome.
void RemoveLeftoverFile(const std::string& path);

// ---- The trace's file ----

// An append-only file for the trace: each Append goes to the end of the file in one write, so
// that the lines of programs tracing into one file at once do not mix. Nothing here is a fault
// point and nothing fails the caller: the trace records a run, and must neither change which
// points the run reaches nor make it fail.
class AppendOnlyLog {
 public:
  // Opens (creating it readable and writable by the owner only) the file; null when it
  // cannot be opened.
  static std::unique_ptr<AppendOnlyLog> Open(const std::string& nativePath);
  ~AppendOnlyLog();
  AppendOnlyLog(const AppendOnlyLog&) = delete;
  AppendOnlyLog& operator=(const AppendOnlyLog&) = delete;
  void Append(std::string_view text);

 private:
  explicit AppendOnlyLog(int fd) : fd_(fd) {}
  int fd_;
};

// ---- Files a layer reads under a fault point of its own ----

// A file opened for reading by a layer whose one fault point stands for the whole load (the XML
// reader's "xml.Load"), so these calls have none. Opening never waits (a named pipe without a
// writer is opened, not waited for) and follows links; the caller decides what it accepts by
// IsRegular and Size. reason gets the system's words for a failure ("No such file or
// directory"), for the caller's messages.
class PlainReader {
 public:
  static long Open(const std::string& nativePath, std::unique_ptr<PlainReader>& out, std::string& reason);
  ~PlainReader();
  PlainReader(const PlainReader&) = delete;
  PlainReader& operator=(const PlainReader&) = delete;
  bool IsRegular() const { return regular_; }
  uint64_t Size() const { return size_; }
  // Up to size bytes in one read (retried when interrupted); got 0 at the end.
  long Read(void* data, size_t size, size_t& got, std::string& reason);

 private:
  PlainReader(int fd, bool regular, uint64_t size) : fd_(fd), regular_(regular), size_(size) {}
  int fd_;
  bool regular_;
  uint64_t size_;
};

// ---- The stores' own checks of their files ----
//
// The registry hive and the WMI repository look at their files before they open them and
// flush their logs; they do it under their own fault points, so these calls have none.

// What is at a POSIX file name, links followed.
struct NativeFileStatus {
  bool exists = false;
  bool isDirectory = false;
  bool isRegular = false;
  uint64_t size = 0;
};
// ERROR_SUCCESS with status.exists false when nothing is there (ERROR_FILE_NOT_FOUND is never
// returned); otherwise the Win32 error of a name that cannot be looked at (ERROR_ACCESS_DENIED
// for a folder on the way that may not be entered, ...).
long GetNativeFileStatus(const std::string& path, NativeFileStatus& status);
// True when the caller may read (list, for a folder), write (make names in, for a folder)
// and enter (folders) what is at path, as far as asked.
bool NativeAccessAllowed(const std::string& path, bool read, bool write, bool enter);
// Forces the content of an existing file to the disk. ERROR_FILE_NOT_FOUND when there is no
// such file.
long SyncNativeFile(const std::string& path);

// The Win32 error for a POSIX errno value (ENOENT 2, ENOTDIR 3, EACCES 5, ENOSPC 112, ...).
long Win32FromErrno(int err);
// A UTF-16 path as the POSIX file name it stands for: '\' as '/', UTF-8.
std::string NativePath(WStringView path);

}  // namespace vr::os
