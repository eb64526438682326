// The HRESULT name tables of WbemUtils: the symbolic names the Windows SDK headers give.
#pragma once
#include "platform/com/hresult.h"

// The name of hr, or null when the table has none. withWbemSFalse selects revenant's table,
// which also names WBEM_S_FALSE (1).
const char* LookupHresultName(HRESULT hr, bool withWbemSFalse);
// How many names each table holds (145 for mordant's, 146 for revenant's).
unsigned HresultNameCount(bool withWbemSFalse);
