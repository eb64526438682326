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
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace vr::fault {

// The exit status of a process ended by an "exit" fault (as a shell reports a SIGKILL).
constexpr int kExitStatus = 137;

// The code to fail with, or nothing when the call goes ahead.
std::optional<long long> Hit(std::string_view point);

// Tests: replace the configuration (same syntax as VR_FAULTS) and reset all counters.
void Configure(std::string_view spec);
// Tests: set the log file ("" for none).
void SetLogFile(const std::string& path);
// Forget all faults and counters (the environment is not read again).
void Reset();

}  // namespace vr::fault
