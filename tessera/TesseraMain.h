// The entry of tessera: chooses the mode (help, register, unregister) from the command line,
// validates it, runs the registration object and turns every outcome into the exit code.
//
// Folder tessera, the registration program; program code that uses the host layers and nothing
// of mordant, revenant or wbem. Its libraries, each seeing only what it links:
//   tessera_common        trace, message catalogue, exceptions, exit codes (this folder)
//   tessera_files         Files/: text, configuration and log files
//   tessera_xml           XmlParser/: the registration file's records and CXmlReader
//   tessera_front         command line, console, usage, final message (this folder)
//   tessera_env           the product's registry strings (this folder)
//   tessera_undo          the undo file's envelope (this folder)
//   tessera_database      Database/: the package section's SQL access to the Depot database
//   tessera_registration  the registration object, run journal, ledger and recovery (this
//                         folder), with its sections in ModelUpdater/, Packages/ and Prereq/
//   tessera_main          this entry; main.cpp makes the program of it
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
