// The final message of a run: the summary line main prints after the error when a run ends
// with an application error (other than the rollback outcomes 1 and 2, which have their own
// summaries). The registration run sets it to its failure text when it starts and empties it
// when it completes.
#pragma once
#include "platform/text/wstring.h"

namespace vr::front {

// Process-wide; empty at start.
WString& FinalMessage();
void SetFinalMessage(WString text);
void ClearFinalMessage();

}  // namespace vr::front
