// mordant, the platform qualifier updater: the command line, the usage statement and the run
// of one action inside the COM and WMI set-up.
//
// Folder mordant, library mordant_core and the program mordant: program code that uses wbem
// and platform/wmi, os, com and text.
#pragma once
#include <cstdio>
#include <optional>
#include <vector>

#include "platform/text/wstring.h"

constexpr const char* kMordantVersion = "1.1.0.2";

// The exit code of a run that cannot have the host's run lock: the same for every program of
// the host, so that an installer can tell "try again later" from a failure.
constexpr int kExitRunLockUnavailable = 100;

struct RunRequestT {
  int action = 0;  // ActionT
  std::optional<WString> inputFile;
  std::optional<WString> undoMof;
  std::optional<WString> changeLog;
};

// Parses the arguments after the program name. True with the request filled, or false with
// *exitCode set once the usage statement or an error has been printed.
bool ParseCommandLine(const std::vector<WString>& args, RunRequestT* request, int* exitCode);

void PrintUsage(std::FILE* stream);

// Runs one action and prints the closing banner; 0 for success, else 1, the failing HRESULT, or
// kExitRunLockUnavailable when the run lock cannot be had.
int Run(int action, const WChar* inputFile, const WChar* undoMof, const WChar* changeLog);

// The COM and WMI set-up around the action: 0, 1 for a failed set-up step, or the action's
// result.
int UpdatePlatformInformation(int action, const WChar* inputFile, const WChar* undoMof, const WChar* changeLog);

// The program: the locale, the command line, the run; the locale is put back before it returns.
int MordantMain(const std::vector<WString>& args);

// The process exit status of a result: the exit status holds 8 bits, so a failing HRESULT
// exits with its low byte, or 1 when that byte is 0.
int ExitStatusOf(int result);
