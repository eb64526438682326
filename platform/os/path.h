// File-system paths. The programs write paths with '\' as their data does; the host accepts
// '\' and '/' alike and maps '\' to '/' on POSIX. '/' plays the part of a drive; a path that
// starts with two separators names a share, which this host does not have.
#pragma once
#include "platform/text/wstring.h"

namespace vr::os {

constexpr size_t kMaxPath = 260;

// '\' becomes '/'.
WString ToNativeSeparators(WStringView path);
// Absolute, normalised ("." and ".." resolved, repeated separators folded) against the current
// directory, like _wfullpath. False when the result does not fit maxChars characters (the
// terminator included), the current directory cannot be read, or the path names a share.
bool FullPath(WStringView path, WString& out, size_t maxChars = kMaxPath);
// True when the full path holds one of ? * " < > | (the characters a path may not contain).
bool HasInvalidPathChar(WStringView path);

}  // namespace vr::os
