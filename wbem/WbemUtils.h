// WbemUtils: the connection to the product's WMI namespace and the one way mordant and
// revenant report errors. Every report goes to the standard error stream under the heading
// "\nERROR: In <unit> line <n>:\n"; a failed COM call can be followed by the extended report,
// which gathers every further piece of error information the process holds at that moment.
//
// Folder wbem, libraries vr_wbem (mordant) and vr_wbem_revenant (revenant, whose name table
// also names WBEM_S_FALSE): program code shared by mordant and revenant and linked by them only;
// uses platform/wmi, os, com and text.
#pragma once
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <memory>

#include "platform/text/format.h"
#include "platform/wmi/wbemcli.h"

// The unit name reports carry: the reporting source file's own name.
#define WBEM_UNIT __FILE_NAME__

// The product namespace; nothing configures it.
extern const WChar* const kWbemNamespacePath;

// Created on entry by each larger operation; the function moves `line` forward at its
// checkpoints. When an exception leaves the function, the destructor prints
// "\nERROR: An unexpected exception was thrown from function <function>\n  somewhere after
// line <line> in file <unit>.\n"; on a normal return it prints nothing.
class FunctionContextT {
 public:
  FunctionContextT(const char* unit, uint32_t line, const char* function)
      : unit(unit), line(line), function(function), exceptionsAtEntry_(std::uncaught_exceptions()) {}
  FunctionContextT(const FunctionContextT&) = delete;
  FunctionContextT& operator=(const FunctionContextT&) = delete;
  ~FunctionContextT();

  const char* unit;
  uint32_t line;
  const char* function;

 private:
  int exceptionsAtEntry_;
};

// Connects to the product namespace: on success *services holds the new connection. COM and
// process security must be initialised. E_POINTER when services is null or already holds an
// interface (left as it was); otherwise the failing step's HRESULT, reported.
HRESULT InitializeWbem(std::shared_ptr<IWbemServices>* services);

// "\nERROR: In <unit> line <line>:\n" and then the formatted message, to standard error.
void ReportErrorList(const char* unit, unsigned line, const char* format,
                     std::initializer_list<vr::text::FormatArg> args);
template <class... A>
void ReportError(const char* unit, unsigned line, const char* format, const A&... args) {
  ReportErrorList(unit, line, format, {vr::text::FormatArg(args)...});
}

// The extended report for a failure code; nothing at all for a code that is not a failure.
void ReportExtendedErrorInfo(HRESULT hr);

// Clears errno and the last-error value. Called before each call whose failure is followed by
// the extended report, so that the report shows what that call left, not what an earlier,
// unrelated lookup of the C library (a locale file that does not exist) left behind.
void ClearCallErrorState();

// The symbolic name of an HRESULT, or "0x%08X" in a static buffer that the next unnamed
// value overwrites. mordant's table; revenant's (built with WBEM_UTILS_NAME_WBEM_S_FALSE)
// also names WBEM_S_FALSE.
const char* GetHresultName(HRESULT hr);
