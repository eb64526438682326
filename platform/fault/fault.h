// Fault injection: every fallible host call asks Hit() with its point name ("wmi.PutInstance",
// "registry.SetValue", "file.Rename", ...) before doing its work.
//
// VR_FAULTS="point#N=code;point#M=code;point#*=code" makes the Nth call (1-based), or every
// call, of a point fail with the code, which the call site returns as the system would (an
// HRESULT, a Win32 error, an errno-shaped status: each point documents which). "point#N"
// without "=code" gives code 0, meaning the call site's own usual failure.
// VR_FAULTS_LOG=FILE appends "point#N" for every call reached, so a test can list the points
// of a run and sweep them one by one.
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace vr::fault {

// The code to fail with, or nothing when the call goes ahead.
std::optional<long long> Hit(std::string_view point);

// Tests: replace the configuration (same syntax as VR_FAULTS) and reset all counters.
void Configure(std::string_view spec);
// Tests: set the log file ("" for none).
void SetLogFile(const std::string& path);
// Forget all faults and counters (the environment is not read again).
void Reset();

}  // namespace vr::fault
