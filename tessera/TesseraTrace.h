// Tracing as every function of tessera does it: a block trace for entry and exit, message
// traces at severity 1 (progress) and 4 (errors), failure traces for failed system calls.
//
//   VR_TRACE_FUNCTION("CXmlReader::Load", "XmlParser\\XmlReader", 16);
//   VR_TRACE_INFO("Loading file \"", path, "\".");
//   VR_TRACE_FAILURE("RegOpenKeyEx (\"HKEY_LOCAL_MACHINE\\", key, "\")", rc);
//
// A message trace builds its text only when its severity is enabled.
#pragma once
#include <cstdint>
#include <string>

#include "platform/qkit/qkit.h"
#include "platform/text/wstring.h"

extern qkit_TraceObject_t g_TesseraBlockTrace;    // category 3: block traces
extern qkit_TraceObject_t g_TesseraMessageTrace;  // category 7: message traces

namespace vr::trace {

constexpr unsigned kProgress = _qkit_TraceTypeMap_t::eSevInfo;
constexpr unsigned kError = _qkit_TraceTypeMap_t::eSevError;
constexpr unsigned kRunFlags = 16;    // run control and the XML reader
constexpr unsigned kModelFlags = 8;   // model operations

// A status shown as "0x%X": a Win32 error e > 0 becomes 0x8007xxxx, other values are kept.
struct Hr {
  explicit Hr(long code) : value(code) {}
  long value;
};

inline void AppendPiece(qkit_String_t& s, const qkit_String_t& p) { s = s.Concatenate(p); }
inline void AppendPiece(qkit_String_t& s, const char* p) { s = s.Concatenate(p); }
inline void AppendPiece(qkit_String_t& s, const char16_t* p) { s = s.Concatenate(p); }
inline void AppendPiece(qkit_String_t& s, const WString& p) { s = s.Concatenate(WStringView(p)); }
inline void AppendPiece(qkit_String_t& s, WStringView p) { s = s.Concatenate(p); }
inline void AppendPiece(qkit_String_t& s, const std::string& p) { s = s.Concatenate(p.c_str()); }
inline void AppendPiece(qkit_String_t& s, int n) { s = s.Concatenate(qkit_String_t().FormatNumber(n, "%d")); }
inline void AppendPiece(qkit_String_t& s, long n) { s = s.Concatenate(qkit_String_t().FormatNumber(n, "%ld")); }
inline void AppendPiece(qkit_String_t& s, unsigned n) { s = s.Concatenate(qkit_String_t().FormatNumber(n, "%u")); }
inline void AppendPiece(qkit_String_t& s, unsigned long n) { s = s.Concatenate(qkit_String_t().FormatNumber(n, "%lu")); }
inline void AppendPiece(qkit_String_t& s, double d) { s = s.Concatenate(std::to_string(d).c_str()); }
void AppendPiece(qkit_String_t& s, Hr hr);

template <class... P>
qkit_String_t Text(const char* function, const P&... pieces) {
  qkit_String_t s(function);
  s = s.Concatenate("  ");
  (AppendPiece(s, pieces), ...);
  return s;
}

}  // namespace vr::trace

#define VR_TRACE_FUNCTION(name, file, flags)                             \
  static constexpr const char* vrTraceFunction_ = "\"" name "\"";        \
  static constexpr const char* vrTraceFile_ = file;                      \
  qkit_BlockTrace_t vrBlockTrace_(g_TesseraBlockTrace, vrTraceFunction_, \
                                  vrTraceFile_, __LINE__, flags)

#define VR_TRACE(severity, ...)                                                          \
  do {                                                                                   \
    if (g_TesseraMessageTrace.IsEnabled(severity))                                       \
      g_TesseraMessageTrace.Trace(severity, 0,                                           \
                                  vr::trace::Text(vrTraceFunction_, __VA_ARGS__),        \
                                  vrTraceFile_, __LINE__);                               \
  } while (0)

#define VR_TRACE_INFO(...) VR_TRACE(vr::trace::kProgress, __VA_ARGS__)
#define VR_TRACE_ERROR(...) VR_TRACE(vr::trace::kError, __VA_ARGS__)
// Last argument: the status of the failed call (HRESULT or Win32 error).
#define VR_TRACE_FAILURE(...) VR_TRACE_FAILURE_IMPL(__VA_ARGS__)
#define VR_TRACE_FAILURE_IMPL(desc, ...) \
  VR_TRACE(vr::trace::kError, "-> subHR failure from ", desc, vr::trace::FailureTail(__VA_ARGS__))

namespace vr::trace {
// The tail of a failure trace: the rest of the description, " = " and the status.
template <class... P>
qkit_String_t FailureTail(const P&... piecesThenStatus);
}  // namespace vr::trace
#include "tessera/TesseraTraceTail.h"
