// The command line of mordant: one action with its file arguments, in long, dash or slash form.
#include <cstdio>

#include "mordant/MordantMain.h"
#include "mordant/PlatformInfo.h"
#include "platform/text/casefold.h"
#include "platform/text/format.h"
#include "wbem/ConsoleText.h"

using vr::text::EqualsNoCase;
using vr::text::FormatA;

namespace {

// The date and time of the build: "Mmm dd yyyy hh:mm:ss".
const char* const kBuilt = __DATE__ " " __TIME__;
const char* const kRule = "-----------------------------------------------------------------------------\n";

bool IsLead(WChar c) { return c == u'-' || c == u'/'; }

// "-x..." or "/x..." for the letter x, either case.
bool IsShort(const WString& arg, char letter) {
  return arg.size() >= 2 && IsLead(arg[0]) && vr::text::ToLowerChar(arg[1]) == static_cast<WChar>(letter);
}
bool HasValue(const WString& arg) { return arg.size() > 2; }
WString ValueOf(const WString& arg) { return arg.substr(2); }

bool IsOneOf(const WString& arg, std::initializer_list<const char16_t*> names) {
  for (const char16_t* n : names)
    if (EqualsNoCase(arg, n)) return true;
  return false;
}

// An option pair of the four-argument form: both long, both dash or both slash.
bool IsPair(const WString& a, const WString& o, const char16_t* longA, const char16_t* longO, char shortA,
            char shortO) {
  if (EqualsNoCase(a, longA) && EqualsNoCase(o, longO)) return true;
  for (const char16_t lead : {u'-', u'/'}) {
    const WString sa{lead, static_cast<WChar>(shortA)}, so{lead, static_cast<WChar>(shortO)};
    if (EqualsNoCase(a, sa) && EqualsNoCase(o, so)) return true;
  }
  return false;
}

void Err(const std::string& text) { WriteConsoleText(stderr, text); }

bool Fail(const std::string& message, int* exitCode) {
  Err(message);
  PrintUsage(stderr);
  *exitCode = 1;
  return false;
}

const char* const kInvalidCombination = "\nERROR: An invalid combination of arguments was specified.\n";

}  // namespace

void PrintUsage(std::FILE* stream) {
  std::string u;
  u += kRule;
  u += "mordant.exe\n";
  u += FormatA("  Version            : %s\n", kMordantVersion);
  u += FormatA("  Date and Time Built: %s\n", kBuilt);
  u += kRule;
  u += "Options:\n"
       "  --usage:\n"
       "  --help :\n"
       "  -h     :\n"
       "  -?     :\n"
       "           Prints this usage statement.\n"
       "\n"
       "  --add <filename> [--log <change-log> | --undo <undo-mof>]:\n"
       "  -a    <filename> [-l    <change-log> | -u     <undo-mof>]:\n"
       "  -a<filename>     [-l<change-log>     |  -u<undo-mof>]:\n"
       "           Adds the platforms listed in <filename> to the VR_ManagedNode\n"
       "           class.  Each line of the file has one of these forms:\n"
       "           #<comment>\n"
       "           SYSTEM-TYPE  : <description> , <value> ;\n"
       "           OS-TYPE      : <description> , <value> ;\n"
       "           SYSTEM-CPU-OS: <cpu-type>    , <value0> , ... <valueN> ;\n"
       "           OS-VERSION   : <version-number> , <value> ;\n"
       "           <change-log> records the changes that were made.\n"
       "           <undo-mof> receives the state of VR_ManagedNode before the\n"
       "           change.\n"
       "\n"
       "  --check <filename>:\n"
       "  -c      <filename>:\n"
       "  -c<filename>      :\n"
       "           Validates <filename> without updating the model.\n"
       "\n"
       "  --dump:\n"
       "  -d    :\n"
       "           Dumps the current system types, OS types and OS versions to\n"
       "           standard output in the format of the input file.\n"
       "\n"
       "  --remove <filename> [--undo <undo-mof>]:\n"
       "  -r    <filename> [-u     <undo-mof>]:\n"
       "  -r<filename>     [-u<undo-mof>]:\n"
       "           Removes the OS versions listed in <filename>, whose lines have\n"
       "           the form:\n"
       "           OS-VERSION: <version-number> , <value> ;\n"
       "           <undo-mof> receives the state of VR_ManagedNode before the\n"
       "           change.\n"
       "\n"
       "  Notes:\n"
       "           The input file is taken as localized MBCS text unless UTF-8 or\n"
       "           Unicode indicator bytes begin it.\n"
       "           All error messages are written to standard error.\n";
  u += kRule;
  u += FormatA(" mordant - vers %s - built %s\n", kMordantVersion, kBuilt);
  u += kRule;
  WriteConsoleText(stream, u);
  ConsoleStreamError(stream);  // flushes; a failure is kept for the caller to report
}

bool ParseCommandLine(const std::vector<WString>& args, RunRequestT* request, int* exitCode) {
  *request = RunRequestT{};
  const size_t n = args.size();
  if (n == 0) {
    PrintUsage(stderr);
    *exitCode = 1;
    return false;
  }
  if (n == 1) {
    const WString& a = args[0];
    if (IsOneOf(a, {u"--usage", u"--help", u"-h", u"/h", u"-?", u"/?"})) {
      PrintUsage(stdout);
      *exitCode = 0;
      return false;
    }
    const struct {
      char letter;
      int action;
    } withFile[] = {{'a', eADD}, {'r', eREMOVE}, {'c', eCHECK}};
    for (const auto& w : withFile) {
      if (!IsShort(a, w.letter)) continue;
      if (!HasValue(a)) return Fail(FormatA("\nERROR: Argument missing after \"%S\"\n", a), exitCode);
      request->action = w.action;
      request->inputFile = ValueOf(a);
      return true;
    }
    if (IsShort(a, 'd')) {
      if (HasValue(a)) return Fail(FormatA("\nERROR: \"%-2.2S\" does not take an argument.\n", a), exitCode);
      request->action = eDUMP;
      return true;
    }
    if (EqualsNoCase(a, u"--dump")) {
      request->action = eDUMP;
      return true;
    }
    if (IsOneOf(a, {u"--add", u"--check", u"--remove"}))
      return Fail(FormatA("\nERROR: Argument missing after \"%S\"\n", a), exitCode);
    return Fail(FormatA("\nERROR: \"%S\" is an invalid argument.\n", a), exitCode);
  }
  if (n == 2) {
    const WString &a = args[0], &b = args[1];
    const bool sameLead = !a.empty() && !b.empty() && a[0] == b[0];
    if (IsShort(a, 'a') && HasValue(a) && IsShort(b, 'l') && HasValue(b) && sameLead) {
      request->action = eADD;
      request->inputFile = ValueOf(a);
      request->changeLog = ValueOf(b);
      return true;
    }
    if (IsShort(a, 'a') && HasValue(a) && IsShort(b, 'u') && HasValue(b) && sameLead) {
      request->action = eADD;
      request->inputFile = ValueOf(a);
      request->undoMof = ValueOf(b);
      return true;
    }
    if (IsShort(a, 'r') && HasValue(a) && IsShort(b, 'u') && HasValue(b) && sameLead) {
      request->action = eREMOVE;
      request->inputFile = ValueOf(a);
      request->undoMof = ValueOf(b);
      return true;
    }
    const struct {
      std::initializer_list<const char16_t*> names;
      int action;
    } withFile[] = {{{u"--add", u"-a", u"/a"}, eADD}, {{u"--remove", u"-r", u"/r"}, eREMOVE},
                    {{u"--check", u"-c", u"/c"}, eCHECK}};
    for (const auto& w : withFile) {
      if (!IsOneOf(a, w.names)) continue;
      request->action = w.action;
      request->inputFile = b;
      return true;
    }
    return Fail(kInvalidCombination, exitCode);
  }
  if (n == 3) return Fail(kInvalidCombination, exitCode);
  if (n == 4) {
    const WString &a = args[0], &f = args[1], &o = args[2], &v = args[3];
    if (IsPair(a, o, u"--add", u"--log", 'a', 'l')) {
      request->action = eADD;
      request->inputFile = f;
      request->changeLog = v;
      return true;
    }
    if (IsPair(a, o, u"--add", u"--undo", 'a', 'u')) {
      request->action = eADD;
      request->inputFile = f;
      request->undoMof = v;
      return true;
    }
    if (IsPair(a, o, u"--remove", u"--undo", 'r', 'u')) {
      request->action = eREMOVE;
      request->inputFile = f;
      request->undoMof = v;
      return true;
    }
    return Fail(kInvalidCombination, exitCode);
  }
  return Fail("\nERROR: Too many arguments specified!\n", exitCode);
}
