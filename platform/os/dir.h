// Folders of the host: create, remove, exist, list, walk a tree, search a tree for a file name,
// copy files with and without overwrite, and the current directory.
//
// Paths are UTF-16 and may use '\' or '/'. Calls return a Win32 error code: ERROR_SUCCESS (0),
// or what the Windows call would give (2 file not found, 3 path not found, 5 access denied,
// 80 file exists, 123 invalid name, 145 folder not empty, 183 already exists, 267 not a
// folder). Every fallible call first asks the fault hook with the point named beside it; an
// injected code 0 stands for the usual failure named there.
#pragma once
#include <string>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"

namespace vr::os {

struct DirEntry {
  WString name;
  bool isDirectory = false;
  uint64_t size = 0;  // files only
};

// One folder: ERROR_ALREADY_EXISTS when something of that name exists, ERROR_PATH_NOT_FOUND
// when its parent does not. Point "os.CreateDirectory" (ERROR_ACCESS_DENIED).
long CreateDirectory(WStringView path);
// A folder and every missing parent; an existing folder is success.
// Point "os.CreateDirectory" for each folder made.
long CreateDirectoryTree(WStringView path);
// Forces a folder's entries (names made, renamed or removed in it) to the disk, so that they
// survive a power cut. Point "os.FlushFolder" (ERROR_WRITE_FAULT).
long FlushFolder(WStringView path);
// An empty folder: ERROR_DIR_NOT_EMPTY otherwise. Point "os.RemoveDirectory" (ERROR_ACCESS_DENIED).
long RemoveDirectory(WStringView path);
// A folder with everything in it (symbolic links are removed, never followed); a missing
// path is success. Point "os.RemoveTree" (ERROR_ACCESS_DENIED).
long RemoveTree(WStringView path);
// True when path names an existing folder.
bool DirectoryExists(WStringView path);
// The same for a POSIX file name (symbolic links followed): the one test of the host for
// "is this a folder".
bool IsNativeDirectory(const std::string& nativePath);

// The entries of a folder except "." and "..", ordered by name without regard to case (as the
// file system of the product's home platform lists them). Point "os.ListDirectory"
// (ERROR_ACCESS_DENIED); a missing folder gives ERROR_PATH_NOT_FOUND, a file ERROR_DIRECTORY.
long ListDirectory(WStringView path, std::vector<DirEntry>& entries);

// Visits every entry below root, a folder before its contents, each folder's entries in the
// order of ListDirectory. The visitor gets the entry's path (root, separator, relative path,
// with separator between every component) and the entry; returning false stops the walk.
// Links to folders are visited but not entered. Point "os.WalkTree" (ERROR_ACCESS_DENIED) once
// per walk; folders below that cannot be listed end the walk with their error.
long WalkTree(WStringView root, const std::function<bool(const WString& path, const DirEntry& entry)>& visit,
              WChar separator = u'\\');
// Paths of every file below root whose name equals fileName without regard to case, in walk
// order. Point "os.FindFiles" (ERROR_ACCESS_DENIED), then those of WalkTree.
long FindFilesByName(WStringView root, WStringView fileName, std::vector<WString>& found,
                     WChar separator = u'\\');

// CopyFileW: copies the content and permission bits of a file. With failIfExists an existing
// target gives ERROR_FILE_EXISTS; otherwise it is replaced atomically (the target holds its
// old content or the whole new one, never part of it). Point "os.CopyFile" (ERROR_ACCESS_DENIED).
long CopyFile(WStringView from, WStringView to, bool failIfExists);

// The current directory as a full path with '/' separators. Point "os.GetCurrentDirectory"
// (ERROR_ACCESS_DENIED).
long GetCurrentDirectory(WString& path);
// Point "os.SetCurrentDirectory" (ERROR_ACCESS_DENIED); a missing folder gives
// ERROR_FILE_NOT_FOUND (ERROR_PATH_NOT_FOUND when its parent is missing too), a file
// ERROR_DIRECTORY.
long SetCurrentDirectory(WStringView path);

}  // namespace vr::os

// Win32 shapes of the calls above; failures leave their code for GetLastError
// (platform/os/lasterror.h).
BOOL CreateDirectoryW(const WChar* path, void* securityAttributes);
BOOL RemoveDirectoryW(const WChar* path);
BOOL CopyFileW(const WChar* from, const WChar* to, BOOL failIfExists);
BOOL SetCurrentDirectoryW(const WChar* path);
// Characters written without the terminator; when the buffer of size characters is too small,
// the size needed with the terminator; 0 on failure.
DWORD GetCurrentDirectoryW(DWORD size, WChar* buffer);
