// Process entry of tessera: the user's locale, the arguments as UTF-16, and the exit code.
#include <clocale>
#include <vector>

#include "platform/text/convert.h"
#include "tessera/TesseraMain.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  try {
    std::vector<WString> args;
    args.reserve(argc > 1 ? static_cast<size_t>(argc - 1) : 0);
    // Arguments arrive as UTF-8; bytes that are not valid UTF-8 become U+FFFD.
    for (int i = 1; i < argc; ++i) args.push_back(vr::text::Utf8ToWide(argv[i] ? argv[i] : ""));
    return TesseraMain(args);
  } catch (...) {
    return vr::front::kExitFailure;
  }
}
