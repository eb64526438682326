// The files "#pragma include" names, read from the file system: a name is taken relative to
// the folder of the file that includes it and must stay inside that folder's tree (no
// absolute name, no ".." above it). '\' and '/' both separate folders, and a name that
// matches no file exactly matches one that differs only in letter case, as on the file
// systems the schemas are written on.
#pragma once
#include "platform/wmi/mof_reader.h"

namespace vr::wmi {

// topFile: the file the import reads (its folder is where the top-level includes are found);
// empty or "-" for standard input, whose includes are found in the current folder.
std::function<bool(WStringView includingFile, WStringView name, MofIncludedFile* out, WString* why)>
MofFileIncludes(WString topFile);

}  // namespace vr::wmi
