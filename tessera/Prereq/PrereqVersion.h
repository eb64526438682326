// Versions of the prerequisite configuration folders ("7.5", "7.10", "8.0-beta"): their order,
// and the highest version folder of the configuration folder.
#pragma once
#include "platform/text/wstring.h"

namespace vr::prereq {

// <0, 0, >0. Parts split at '.' and '-' compare by their leading number, then by the rest
// (a part without rest is smaller; rests compare without regard to case); a rest starting with
// '*' matches anything; missing parts count as 0 ("1.0" equals "1.0.0").
int CompareVersions(WStringView a, WStringView b);

// The highest subfolder of folder whose name is a version and that holds "vroreqcheck.cfg",
// "1.0.0" (the folder itself) when
// there is none, or empty when the folder cannot be listed.
WString FindHighestVersion(const WString& folder);

}  // namespace vr::prereq
