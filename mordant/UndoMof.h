// The undo MOF: the definition of VR_ManagedNode as it was before the run, in UTF-16, wrapped
// so that compiling it (vrhost wmi import) puts the class back.
#pragma once
#include "platform/wmi/wbemcli.h"

// True when no undo MOF was asked for or it was written; false after a reported failure.
bool CreateUndoMof(IWbemClassObject* managedNode, const WChar* undoMof, int action, const WChar* inputFile);
