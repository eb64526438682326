// Checks of the values the command line gives, beyond the option table: control characters,
// which would break the one-line header fields of the undo file, and paths on a drive or a
// share, which this host does not have.
#pragma once
#include "platform/text/wstring.h"

namespace vr::cmdline {

// True when the text holds a C0 or C1 control character (line breaks and tabs included),
// DEL, or a Unicode line or paragraph separator.
bool HasControlCharacter(WStringView text);
// The offset of the first such character, or npos.
size_t FindControlCharacter(WStringView text);
// The text with each of those characters shown as "\xNN" (or "\xNNNN"), for a message.
WString ShowControlCharacters(WStringView text);

// The drive ("C:\") or share ("\\server\share") a path begins with, or empty when it begins
// with neither. Paths of this host begin at its root folder; a drive or share cannot be
// entered here.
WString DriveOrShareOf(WStringView path);
inline bool IsOnDriveOrShare(WStringView path) { return !DriveOrShareOf(path).empty(); }
// True for a share path that names its server but no share ("\server").
bool ShareNameMissing(WStringView path);

}  // namespace vr::cmdline
