// Console output of mordant and revenant. Their texts are formatted as UTF-8; the console
// receives them in the character set of the locale (LC_CTYPE), as the multibyte input files
// are read in it, so that what one run prints another reads back. Where that set is 7-bit
// ASCII (the C and POSIX locales) the console receives UTF-8, as the rest of the host's
// programs write it.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

// The console's bytes for a UTF-8 text. False, with out untouched, when the locale's character
// set has no character for part of it.
bool ToConsoleBytes(std::string_view utf8, std::string* out);

// Writes a UTF-8 text to a console stream; a character that the locale's set does not have
// is shown as '?'. False when the stream failed.
bool WriteConsoleText(std::FILE* stream, std::string_view utf8);

// Writes bytes already in the console's character set. False when the stream failed.
bool WriteConsoleBytes(std::FILE* stream, std::string_view bytes);

// Flushes the stream: 0 when everything written to it so far has reached it, otherwise the
// errno of the first failure (EIO when the C library kept none).
int ConsoleStreamError(std::FILE* stream);
