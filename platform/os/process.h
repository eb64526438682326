// Starting programs: a command line whose first word names the program (when it holds no
// separator, searched in the running program's folder, the current folder, then along PATH), optionally with its standard output in a file; waiting for it; its
// exit code. The shapes of CreateProcessW with STARTF_USESTDHANDLES, WaitForSingleObject and
// GetExitCodeProcess. Calls return Win32 error codes; each fallible call first asks the fault
// hook with the point named beside it (an injected 0 stands for the usual failure named there).
//
// The child gets the caller's environment and current directory, with standard input from
// the null device. The fault-injection settings (VR_FAULTS, VR_FAULTS_LOG) are not passed on:
// they are meant for the one program a test runs, and the ordinals of its points must not
// depend on the programs it starts.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"

namespace vr::os {

constexpr DWORD STILL_ACTIVE = 259;
constexpr long kInfinite = -1;

class Process {
 public:
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  int Id() const { return pid_; }

 private:
  friend long StartProcess(WStringView, WStringView, std::unique_ptr<Process>&);
  friend long WaitForProcess(Process&, long);
  friend long GetProcessExitCode(Process&, DWORD&);
  friend long TerminateProcess(Process&);
  explicit Process(int pid) : pid_(pid) {}
  int pid_;
  bool ended_ = false;
  DWORD exitCode_ = STILL_ACTIVE;
};

// The running program's process number (GetCurrentProcessId): it names the files and folders
// of one run. Cannot fail.
DWORD GetCurrentProcessId();

// The words of a command line by the rules of the product's home platform: blanks and tabs
// separate words, double quotes group, 2n backslashes before a quote stand for n backslashes,
// 2n+1 for n and a literal quote; "" inside quotes is a literal quote.
std::vector<WString> SplitCommandLine(WStringView commandLine);

// The folder of the running program as a native path without a trailing separator; empty when
// it cannot be told.
std::string RunningProgramFolder();

// Starts the program. stdoutPath empty: the child writes where the caller does; otherwise its
// standard output goes to that file, created or emptied. A program that cannot be found gives
// ERROR_FILE_NOT_FOUND, an empty command line ERROR_INVALID_PARAMETER, a program that cannot
// be run ERROR_ACCESS_DENIED (ERROR_BAD_EXE_FORMAT for a file that is no program).
// Point "os.StartProcess" (ERROR_FILE_NOT_FOUND).
long StartProcess(WStringView commandLine, WStringView stdoutPath, std::unique_ptr<Process>& out);
// Waits until the program ends, or timeoutMs milliseconds (kInfinite: no limit), then
// ERROR_WAIT_TIMEOUT. Point "os.WaitProcess" (ERROR_INVALID_HANDLE).
long WaitForProcess(Process& process, long timeoutMs = kInfinite);
// The exit code, STILL_ACTIVE while it runs; a program ended by a signal gives 128 plus the
// signal number, as a shell reports it. Point "os.GetExitCode" (ERROR_INVALID_HANDLE).
long GetProcessExitCode(Process& process, DWORD& code);
// Ends a program that is still running at once (it gets no chance to clean up) and waits for
// it to be gone; a program that has ended already is left alone. Point "os.TerminateProcess"
// (ERROR_ACCESS_DENIED).
long TerminateProcess(Process& process);

}  // namespace vr::os
