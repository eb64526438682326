// The stored (enciphered) secrets of a text, such as the registry's DBAccess "Password" value,
// shown as "VRSB1:(enciphered with the host key)": their bytes differ from host to host (a fresh
// key and nonce each time) while what they stand for is the same, so that snapshots of hosts in
// the same state compare equal.
#pragma once
#include <string>

namespace vrhost {

std::string HideStoredSecrets(std::string text);

// A value of a Depot row as one tab-separated cell: backslash, tab, line feed and carriage
// return written as \\ \t \n \r.
std::string EscapedCell(const std::string& text);

}  // namespace vrhost
