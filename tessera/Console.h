// Console output of tessera. Errors and warnings go to the standard error stream behind
// "ERROR:" or "WARNING:", padded with blanks to the indent and wrapped to the width with a
// hanging indent; usage, help and summaries go to standard output as they stand. The console
// receives UTF-8.
#pragma once
#include <functional>
#include <string_view>

#include "platform/text/wstring.h"

namespace vr::console {

enum MessageKind : int {
  kError = 0,    // "ERROR:" prefix, standard error
  kWarning = 1,  // "WARNING:" prefix, standard error
  kPlain = 4,    // usage and help: printed as it stands
  kBullet = 5,   // "*" bullet, standard output
};

constexpr int kIndent = 10;
constexpr int kWidth = 80;

// Kinds 0, 1 and 5: the prefix padded to `indent`, the text wrapped so that no line is longer
// than `width` characters (a word longer than that keeps a line of its own, whole), every
// continuation line and every line of a multi-line text indented by `indent` blanks, each
// line ended by "\n". Any other kind: the text unchanged.
WString FormatConsoleText(WStringView text, int indent, int width, int kind);

// Formats with indent 10 and width 80 and writes kinds 0 and 1 to standard error, every other
// kind to standard output.
void PrintConsoleText(WStringView text, int kind);

// Writes text unformatted.
void WriteStdout(WStringView text);
void WriteStderr(WStringView text);

// Tests: receives what would go to the console (toStderr, UTF-8 bytes); an empty function
// restores the real streams.
using ConsoleWriter = std::function<void(bool toStderr, std::string_view utf8)>;
void SetConsoleWriter(ConsoleWriter writer);

}  // namespace vr::console
