// revenant takes no arguments; any that are given are ignored, but a request for help or for
// the version is answered without touching the namespace.
#include <cstdio>
#include <cstring>

#include "platform/os/hostroot.h"
#include "revenant/Revenant.h"

namespace {

bool IsHelp(const char* arg) {
  for (const char* help : {"--help", "-help", "-h", "-?", "/?", "/h"})
    if (std::strcmp(arg, help) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (IsHelp(argv[i])) {
      std::fputs("usage: revenant\n\n"
                 "Writes every event-provider registration (__EventProviderRegistration) of the\n"
                 "product's WMI namespace back unchanged, so that WMI registers each event\n"
                 "provider again. Use it when the namespace has been damaged. Other arguments\n"
                 "are ignored.\n\n"
                 "  --help, -h, -?, /?   print this text and change nothing\n"
                 "  --version            print the version\n\n"
                 "Exit status: 0 every registration was written back, 100 another program held\n"
                 "the host's run lock past the wait, 1 otherwise.\n",
                 stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("revenant %s\n", kRevenantVersion);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  // The restoration reads the namespace of the host: without a host at the root, say so in
  // one line before anything is opened or made there.
  if (!vr::os::HostExists()) {
    std::fprintf(stderr, "\nERROR: No management server host at '%s'; make one with 'vrhost init'.\n",
                 vr::os::HostRoot().c_str());
    return 1;
  }
  return RevenantMain();
}
