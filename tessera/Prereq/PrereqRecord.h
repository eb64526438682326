// The before-image record of the prerequisite section: before the section changes a file or
// creates a folder, it writes what that file or folder was into the run journal, so that a run
// killed (or whose rollback failed) at any point is put back exactly by restoring the record.
//
// One item per line, UTF-8, fields separated by tabs (tabs, line ends and backslashes in a path
// are escaped):
//   file <path> absent          the file did not exist
//   file <path> bytes <hex>     the file held these bytes
//   folder <path> absent        the folder did not exist
// A record may hold several blocks for the same path (a run records again before each change);
// the first item of a path is the state before the run, and is what a restore puts back.
#pragma once
#include <string>
#include <vector>

#include "platform/text/wstring.h"

namespace vr::prereq {

// The item that records a file as it is now; false (rc set) when it exists but cannot be read.
bool RecordFileState(const WString& path, std::string& item, long& rc);
// The item of a folder that does not exist yet (empty when it does: nothing to record).
std::string RecordAbsentFolder(const WString& path);

// The record of a save of the prerequisite file: the file, its backup, and every copy of it in
// the packages tree (the files the save and the copy step may change). False with message 205
// when one of them cannot be read.
bool BuildPrereqSaveRecord(const WString& mainFile, std::string& block, WString& message);

// Writes a block durably into the record of the run going on (nothing when no run journal is
// open, as in a section tested on its own). False with message 266 when it cannot be written:
// the section must then change nothing.
bool WritePrereqRecord(const std::string& block, WString& message);

// Puts every recorded file and folder back to its first recorded state, newest item first, so
// that files are dealt with before the folders that hold them. Items already in their state
// are left alone, so the restore may run again after it was cut short. False with message
// 268 (an item that cannot be read) or 205 (a file that cannot be put back) on failure.
bool RestorePrereqRecord(const std::string& record, WString& message);

}  // namespace vr::prereq
