#include "tessera/TesseraTrace.h"

#include "platform/com/hresult.h"

qkit_TraceObject_t g_TesseraBlockTrace("tessera", _qkit_TraceTypeMap_t::eCatBlock);
qkit_TraceObject_t g_TesseraMessageTrace("tessera", _qkit_TraceTypeMap_t::eCatMessage);

namespace vr::trace {

void AppendPiece(qkit_String_t& s, Hr hr) {
  const HRESULT value = HRESULT_FROM_WIN32(hr.value);
  s = s.Concatenate(qkit_String_t().FormatNumber(static_cast<unsigned int>(value), "0x%X"));
}

}  // namespace vr::trace
