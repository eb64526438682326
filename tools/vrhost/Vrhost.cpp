#include "tools/vrhost/Vrhost.h"

#include <algorithm>
#include <sys/stat.h>

#include <cstdio>

#include "platform/os/dir.h"
#include "platform/os/hostroot.h"

namespace vrhost {
namespace {

struct Tables {
  std::vector<Command> commands;
  std::vector<InitStep> steps;
  std::vector<SnapshotSection> sections;
};

Tables& T() {
  static Tables* t = new Tables;
  return *t;
}

}  // namespace

Registrar::Registrar(const Command& command) { T().commands.push_back(command); }
Registrar::Registrar(const InitStep& step) { T().steps.push_back(step); }
Registrar::Registrar(const SnapshotSection& section) { T().sections.push_back(section); }

const std::vector<Command>& Commands() {
  auto& c = T().commands;
  std::sort(c.begin(), c.end(), [](const Command& a, const Command& b) { return std::string(a.name) < b.name; });
  return c;
}

std::vector<InitStep> InitSteps() {
  auto s = T().steps;
  std::stable_sort(s.begin(), s.end(), [](const InitStep& a, const InitStep& b) { return a.order < b.order; });
  return s;
}

std::vector<SnapshotSection> SnapshotSections() {
  auto s = T().sections;
  std::stable_sort(s.begin(), s.end(), [](const SnapshotSection& a, const SnapshotSection& b) { return a.order < b.order; });
  return s;
}

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
