// The entry of tessera: chooses the mode (help, register, unregister) from the command line,
// validates it, runs the registration object and turns every outcome into the exit code.
#pragma once
#include <exception>
#include <vector>

#include "platform/text/wstring.h"
#include "tessera/ExitCodes.h"

namespace vr::front {

// Prints the exception that ended a run (a _com_error, CCmdline_error, CApp_error or anything
// else) with the texts that go with it and returns its exit code. patch is the patch number of
// a registration, for the rollback summaries.
// plan: the run was a plan (-whatif); a failure then adds that the real run would stop there.
int ReportException(std::exception_ptr error, const WString& patch, bool plan = false);
}  // namespace vr::front

// args are the program's arguments without the program name. Prints to the console and
// returns the exit code; never throws.
int TesseraMain(const std::vector<WString>& args);
