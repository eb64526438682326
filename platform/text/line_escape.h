// Text kept on one line of a line-based file, and within its field where tabs separate the
// fields: backslash, line feed and carriage return written as \\ \n \r, and tab as \t where
// the caller asks. The run journal's manifest, the ledger and the sections' records, and the
// tables vrhost prints, all write their texts this way.
#pragma once
#include <string>
#include <string_view>

namespace vr::text {

enum class TabEscape {
  kEscape,  // tabs separate the fields of the line: a tab in the text becomes \t
  kKeep,    // one text per line (key=value): a tab stays as it is
};

std::string EscapeLineText(std::string_view text, TabEscape tabs = TabEscape::kEscape);

// Reads back what EscapeLineText wrote, with either TabEscape. False for a text it cannot
// have written (a lone backslash at the end, or an escape it does not write); *out then
// holds the lenient reading, each such backslash standing for the character after it, or
// for itself at the end.
bool UnescapeLineText(std::string_view text, std::string& out);

}  // namespace vr::text
