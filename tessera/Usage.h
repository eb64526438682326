// The usage and help texts of tessera, both printed as they stand on standard output.
#pragma once
#include "platform/text/wstring.h"

namespace vr::front {

// "\n" and the usage lines of the catalogue (kUsageHeader to kUsageHelp).
WString UsageText();
// "\n" and the help lines of the catalogue (kHelpIntro to kHelpLineDelUndo2).
WString HelpText();

}  // namespace vr::front
