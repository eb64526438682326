// The entry of tessera: chooses the mode (help, register, unregister) from the command line,
// validates it, runs the registration object and turns every outcome into the exit code.
#pragma once
#include <exception>
#include <vector>

#include "platform/text/wstring.h"

// Exit codes of tessera.
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

// Prints the exception that ended a run (a _com_error, CCmdline_error, CApp_error or anything
// else) with the texts that go with it and returns its exit code. patch is the patch number of
// a registration, for the rollback summaries.
int ReportException(std::exception_ptr error, const WString& patch);
}  // namespace vr::front

// args are the program's arguments without the program name. Prints to the console and
// returns the exit code; never throws.
int TesseraMain(const std::vector<WString>& args);
