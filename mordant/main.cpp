// Process entry of mordant: the arguments as UTF-16, the result as an exit status.
#include <cstdio>
#include <vector>

#include "mordant/MordantMain.h"
#include "platform/os/hostroot.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

int main(int argc, char** argv) {
  std::vector<WString> args;
  // Arguments arrive as UTF-8; bytes that are not valid UTF-8 become U+FFFD.
  for (int i = 1; i < argc; ++i) args.push_back(vr::text::Utf8ToWide(argv[i] ? argv[i] : ""));
  if (args.size() == 1 && vr::text::EqualsNoCase(args[0], u"--version")) {
    std::printf("mordant %s\n", kMordantVersion);
    return 0;
  }
  // Every action reads the model of the host: without a host at the root, say so in one line
  // before anything is opened there. The usage (no arguments, a help option) needs no host.
  if (!args.empty() && !vr::os::HostExists() &&
      !(args.size() == 1 && (vr::text::EqualsNoCase(args[0], u"--usage") || vr::text::EqualsNoCase(args[0], u"--help") ||
                             vr::text::EqualsNoCase(args[0], u"-h") || vr::text::EqualsNoCase(args[0], u"/h") ||
                             args[0] == u"-?" || args[0] == u"/?"))) {
    std::fprintf(stderr, "\nERROR: No management server host at '%s'; make one with 'vrhost init'.\n",
                 vr::os::HostRoot().c_str());
    return 1;
  }
  return ExitStatusOf(MordantMain(args));
}
