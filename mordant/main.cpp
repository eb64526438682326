// Process entry of mordant: the arguments as UTF-16, the result as an exit status.
#include <vector>

#include "mordant/MordantMain.h"
#include "platform/text/convert.h"

int main(int argc, char** argv) {
  std::vector<WString> args;
  // Arguments arrive as UTF-8; bytes that are not valid UTF-8 become U+FFFD.
  for (int i = 1; i < argc; ++i) args.push_back(vr::text::Utf8ToWide(argv[i] ? argv[i] : ""));
  return ExitStatusOf(MordantMain(args));
}
