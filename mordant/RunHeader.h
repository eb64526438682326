// What the undo MOF and the change log share: whether they carry their comment header, and the
// local date and time of the run as the header shows it.
#pragma once
#include <string>

// False when the environment variable NO_UNDO_OR_LOG_COMMENTS exists, whatever its value.
bool WantFileComments();
// The current local time in the locale's date and time representations ("%x %X").
std::string FormatRunDateTime();
