// The odbc.ini / odbcinst.ini format: "[section]" lines, "key = value" lines, comments with
// '#' or ';'. Section and key names are compared without regard to case.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "platform/text/wstring.h"

namespace vr::ado {

struct IniSection {
  WString name;
  std::vector<std::pair<WString, WString>> entries;  // in file order
};

struct IniFile {
  std::vector<IniSection> sections;
  const IniSection* Find(WStringView name) const;
};

// A missing or unreadable file reads as empty (the caller then falls back to the driver
// manager's own files).
void ReadIniFile(const std::string& path, IniFile& out);
void ParseIniText(std::string_view text, IniFile& out);

}  // namespace vr::ado
