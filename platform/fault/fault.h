// Fault injection: every fallible host call asks Hit() with its point name ("wmi.PutInstance",
// "registry.SetValue", "file.Rename", ...) before doing its work.
//
// VR_FAULTS="point#N=code;point#M=code;point#*=code" makes the Nth call (1-based), or every
// call, of a point fail with the code, which the call site returns as the system would (an
// HRESULT, a Win32 error, an errno-shaped status: each point documents which). "point#N"
// without "=code" gives code 0, meaning the call site's own usual failure.
// "point#N=exit" ends the process on the spot instead (_exit with kExitStatus: no destructors,
// no buffered output, no cleanup), as a kill at that moment would; the call's work has not
// been done. Tests use it to check what a crash at each point leaves behind.
// VR_FAULTS_LOG=FILE appends "point#N" for every call reached, so a test can list the points
// of a run and sweep them one by one.
//
// A call site hands back the code as the call it stands for reports failure: an HRESULT or a
// Win32 error. One mapping reads a code the same way at every point, so that a sweep giving
// one code to all the points of a run means the same failure at each:
//
//   code in VR_FAULTS                     at an HRESULT point        at a Win32 point
//   0 (or none)                           the call's usual failure   the call's usual failure
//   1..0xFFFF: a Win32 error              HRESULT_FROM_WIN32(code)   the code
//   0x8007xxxx: a Win32 error as HRESULT  the code                   xxxx
//   any other negative: a failed HRESULT  the code                   the call's usual failure
//   0x10000..0x7FFFFFFF: a success code   the code (WBEM_S_TIMEDOUT  the call's usual failure
//     with a facility                     of a wait that timed out;
//                                         a call that only reports
//                                         failures goes ahead)
//   beyond 32 bits                        the call's usual failure   the call's usual failure
//
// A Win32 call cannot report an HRESULT that carries no Win32 error, so such a code fails the
// call the way it usually fails rather than with a number no caller expects. Hexadecimal codes
// of eight digits are read as 32-bit patterns: 0x80041001 is the failed HRESULT it names.
//
// Folder platform/fault, library vr_fault: the lowest host layer; it uses nothing of the tree,
// and every host service that can fail asks it before its work.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vr::fault {

// The exit status of a process ended by an "exit" fault (as a shell reports a SIGKILL).
constexpr int kExitStatus = 137;

// The code to fail with, or nothing when the call goes ahead.
std::optional<long long> Hit(std::string_view point);

// The HRESULT an HRESULT point returns (usual: its own failure for code 0), or nothing when the
// call goes ahead.
std::optional<int32_t> InjectedHresult(std::string_view point, int32_t usual);
// The Win32 error a Win32 point returns (usual: its own failure), or nothing when the call goes
// ahead.
std::optional<long> InjectedWin32(std::string_view point, long usual);

// The mapping itself, for a call site that looks at the code first (a point whose call can
// also answer S_FALSE, for one).
int32_t HresultFromInjected(long long code, int32_t usual);
long Win32FromInjected(long long code, long usual);

// Tests: replace the configuration (same syntax as VR_FAULTS) and reset all counters.
void Configure(std::string_view spec);
// Tests: set the log file ("" for none).
void SetLogFile(const std::string& path);
// Forget all faults and counters (the environment is not read again).
void Reset();

}  // namespace vr::fault
