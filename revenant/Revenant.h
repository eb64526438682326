// revenant, the event-provider restorer: writes every __EventProviderRegistration instance of
// the product namespace back unchanged, which makes WMI register each event provider again.
//
// Folder revenant, library revenant_core and the program revenant: program code that uses wbem
// (vr_wbem_revenant) and platform/wmi, os, com and text.
#pragma once
#include "platform/wmi/wbemcli.h"

constexpr const char* kRevenantVersion = "1.0.0.1";

// The program: the start line, the restoration inside its COM frame, the closing banner.
// Arguments are ignored. 0 when every registration was written back, 100 when the run lock
// cannot be had, 1 otherwise.
int RevenantMain();

// COM and WMI set-up around the restoration; 0 or 1.
int ComMain();

// The HRESULT of the last step performed: 0 when every registration was written back.
HRESULT RestoreEventProviders(IWbemServices* services);
