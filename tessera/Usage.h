// The usage and help texts of tessera, both printed as they stand on standard output.
#pragma once
#include "platform/text/wstring.h"

namespace vr::front {

// "\n" and messages 2600 to 2606.
WString UsageText();
// "\n" and messages 2700 to 2730.
WString HelpText();

}  // namespace vr::front
