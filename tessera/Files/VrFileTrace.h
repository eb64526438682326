// Tracing shared by the file classes: every method ends with its exit trace, and no exception
// leaves a method (it is traced and turned into a failure result).
//
//   HRESULT VrTextFile::OpenFile(...) {
//     VR_TRACE_FUNCTION("VrTextFile::OpenFile", "Files\\VrTextFile", 0);
//     HRESULT hr = S_OK;
//     try { ... } VR_FILE_CATCH(hr, E_OUTOFMEMORY, E_FAIL)
//     VR_FILE_RETURN(hr);
//   }
#pragma once
#include <cstdint>
#include <new>

#include "platform/com/hresult.h"
#include "platform/text/format.h"
#include "tessera/TesseraTrace.h"

namespace vr::files {

constexpr unsigned kTraceFlags = 0;

inline WString ExitCodeText(uint32_t code) { return vr::text::Format(u"%x", code); }

}  // namespace vr::files

// Traces "Leaving method with exit code: 0x<hex>" and returns the value.
#define VR_FILE_RETURN(value)                                                                 \
  do {                                                                                        \
    const auto vrResult_ = (value);                                                           \
    VR_TRACE_INFO("Leaving method with exit code: 0x",                                        \
                  vr::files::ExitCodeText(static_cast<uint32_t>(vrResult_)));                 \
    return vrResult_;                                                                         \
  } while (0)

// The handlers after a method's try block: result := noMemory or failure.
#define VR_FILE_CATCH(result, noMemory, failure)                                              \
  catch (const std::bad_alloc&) {                                                             \
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_, ": out of memory");              \
    result = (noMemory);                                                                      \
  }                                                                                           \
  catch (...) {                                                                               \
    VR_TRACE_ERROR("Caught EXCEPTION in ", vrTraceFunction_);                                 \
    result = (failure);                                                                       \
  }
