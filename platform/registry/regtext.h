// The .reg text format ("Windows Registry Editor Version 5.00"): parsing into operations and
// writing keys and values. Pure text work; regtools.h applies and produces it on the hive.
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\TB Vorant]      create the key (and its parents)
//   "DataDir"="\\srv\\data\\"                              REG_SZ, \\ and \" escaped
//   @="default value"                                     the key's unnamed value
//   "Count"=dword:0000000a                                REG_DWORD
//   "Blob"=hex:01,02,ff                                   REG_BINARY
//   "Path"=hex(2):25,00,54,00,00,00                       any type by number (2 REG_EXPAND_SZ,
//   "List"=hex(7):61,00,00,00,00,00                        7 REG_MULTI_SZ), UTF-16LE bytes
//   "Old"=-                                               delete the value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]                     delete the key and all below it
//
// Lines end in CR LF, LF or CR; a hex list continues on the next line after a trailing '\';
// lines starting with ';' are comments. Input may be UTF-8 (with or without its byte-order
// mark) or UTF-16 with its mark; a file with the older header "REGEDIT4" is ANSI text
// (Windows-1252), whose string data written as hex is ANSI too. Key paths name
// HKEY_LOCAL_MACHINE (or HKLM), the one hive of this host. Values written under a key that
// is being deleted ([-KEY]) are passed over, each with a warning, as the registry editor does.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"
#include "platform/text/wstring.h"

namespace vr::registry {

struct RegOperation {
  enum class Kind { CreateKey, DeleteTree, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  WString key;  // below HKEY_LOCAL_MACHINE, without the hive name; empty for the hive itself
  WString name;
  DWORD type = 0;
  std::string data;
  size_t line = 0;
};

// False with a message naming the line on any syntax error; nothing is half-parsed. warnings
// (when given) receives one line per value passed over.
bool ParseRegText(std::string_view bytes, std::vector<RegOperation>& ops, std::string& error,
                  std::vector<std::string>* warnings = nullptr);

// The hive-relative path of a key written as "HKEY_LOCAL_MACHINE\...", "HKLM\..." or as a path
// below the hive; false when it names another hive, by its full name or its short one
// (HKCU, HKU, HKCR, HKCC, ...).
bool HivePath(WStringView text, WString& relative);

// Text pieces of the writer, shared with the snapshot.
std::string RegHeader();                                  // header line and an empty line
std::string RegKeyLine(WStringView relativeKey);          // "[HKEY_LOCAL_MACHINE\...]\n"
std::string RegValueLine(WStringView name, DWORD type, std::string_view data);  // ends in "\n"

}  // namespace vr::registry
