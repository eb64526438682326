// vrhost COMMAND [ARGS] [--root DIR]: administers the host root of a simulated management
// server. Exit status 0 success, 1 failure, 2 usage error.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/path.h"
#include "platform/text/convert.h"
#include "tools/vrhost/Vrhost.h"
#include "vr_version.h"

namespace {

void PrintHelp(FILE* to) {
  std::fputs("usage: vrhost COMMAND [ARGS] [--root DIR]\n\n"
             "The host root is DIR, else $VR_HOST_ROOT, else $XDG_DATA_HOME/vorant/host\n"
             "(~/.local/share/vorant/host; /var/lib/vorant/host without a home).\n\nCommands:\n",
             to);
  for (const auto& c : vrhost::Commands()) std::fprintf(to, "  vrhost %s\n      %s\n", c.synopsis, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool ok = true;
  std::string root;
  if (vrhost::TakeOption(args, "--root", root, ok)) {
    WString full;
    if (root.empty() || !vr::os::FullPath(vr::text::Utf8ToWide(root), full, 4096)) {
      vrhost::Error("the host root '" + root + "' is not a usable path");
      return vrhost::kUsage;
    }
    std::string native = vr::text::WideToUtf8(full);
    while (native.size() > 1 && native.back() == '/') native.pop_back();
    ::setenv("VR_HOST_ROOT", native.c_str(), 1);
  }
  if (!ok) return vrhost::kUsage;
  if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
    PrintHelp(args.empty() ? stderr : stdout);
    return args.empty() ? vrhost::kUsage : vrhost::kOk;
  }
  if (args[0] == "--version") {
    std::printf("vrhost %s\n", VR_PACKAGE_VERSION);
    return std::fflush(stdout) == 0 ? vrhost::kOk : vrhost::kFailed;
  }
  const std::string name = args[0];
  args.erase(args.begin());
  for (const auto& c : vrhost::Commands()) {
    if (name != c.name) continue;
    // "vrhost COMMAND --help" (or -h): that command's usage, and nothing else is done.
    if (std::find_if(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; }) !=
        args.end()) {
      std::printf("usage: vrhost %s\n      %s\n", c.synopsis, c.summary);
      return std::fflush(stdout) == 0 ? vrhost::kOk : vrhost::kFailed;
    }
    return c.run(args);
  }
  vrhost::Error("unknown command '" + name + "'");
  PrintHelp(stderr);
  return vrhost::kUsage;
}
