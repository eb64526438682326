// The exit codes of tessera, defined once for the entry, the run, the undo file check and the
// XML reader (the README's table lists them).
#pragma once

namespace vr::front {
constexpr int kExitSuccess = 0;
constexpr int kExitRollbackSucceeded = 1;
constexpr int kExitRollbackFailed = 2;
constexpr int kExitPackageDeployed = 3;
constexpr int kExitUnregisterErrors = 4;
constexpr int kExitWarnings = 5;
constexpr int kExitPatchNotRegistered = 6;
constexpr int kExitCommandLine = 50;
constexpr int kExitConfiguration = 51;
constexpr int kExitCannotOpen = 52;
constexpr int kExitUndoSyntax = 53;
constexpr int kExitFailure = 100;
}  // namespace vr::front
