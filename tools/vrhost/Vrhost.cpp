#include "tools/vrhost/Vrhost.h"

#include <algorithm>
#include <cstdio>

#include "platform/os/dir.h"
#include "platform/os/hostroot.h"

namespace vrhost {

std::string Root() { return vr::os::HostRoot(); }

bool RequireRoot() {
  const std::string root = Root();
  if (vr::os::IsNativeDirectory(root)) return true;
  Error("the host root " + root + " does not exist; create it with vrhost init");
  return false;
}

void Error(const std::string& text) { std::fprintf(stderr, "vrhost: %s\n", text.c_str()); }

int UsageError(const std::string& text, const Command& command) {
  Error(text);
  std::fprintf(stderr, "usage: vrhost %s\n", command.synopsis);
  return kUsage;
}

bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value, bool& ok) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == name) {
      if (i + 1 >= args.size()) {
        Error("option " + name + " needs a value");
        ok = false;
        return false;
      }
      value = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      return true;
    }
    if (args[i].rfind(name + "=", 0) == 0) {
      value = args[i].substr(name.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      return true;
    }
  }
  return false;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return false;
  args.erase(it);
  return true;
}

}  // namespace vrhost
