// Temporary files that a killed run leaves behind. The host writes new file content beside
// its target first: ".vrcopy-XXXXXX" while copying a file (CopyFile) and ".NAME.XXXXXX.tmp"
// while saving one (AtomicFile). A run that ends normally removes them; a run that is killed
// cannot, and the next run removes them here.
#pragma once
#include <string>
#include <string_view>

namespace vr::os {

// True for the names of the host's own temporary files (".vrcopy-*", ".*.tmp").
bool IsHostTempFileName(std::string_view name);

// Removes the host's temporary files in folder (POSIX path), and in the folders below it when
// recursive, whose last change is older than olderThan (seconds since the epoch): files of
// runs that are over, not of one that is writing now. removed counts them. Best effort: what
// cannot be listed or removed is skipped; the result is the first error met, or
// ERROR_SUCCESS. Point "os.RemoveStaleTempFiles" (ERROR_ACCESS_DENIED, nothing removed).
long RemoveStaleTempFiles(const std::string& folder, long long olderThan, bool recursive, int& removed);

// Removes the files in folder (not below it) whose names begin with prefix and end with suffix
// and whose last change is older than olderThan: the temporary files of the programs' own kind
// in the user's temporary folder ("vrn*.tmp"). Same results and point as above.
long RemoveStaleNamedFiles(const std::string& folder, std::string_view prefix, std::string_view suffix,
                           long long olderThan, int& removed);

}  // namespace vr::os
