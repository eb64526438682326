// Whole-hive tools over the registry: transactions that span several calls, deleting a key
// tree, and the .reg text export, import and canonical snapshot that vrhost offers.
// Results are Win32 error codes.
#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace vr::registry {

// Runs body in one write transaction: every registry call it makes takes effect together
// when it returns ERROR_SUCCESS, and none does when it returns anything else (which is then
// the result). Point "registry.Transaction" (ERROR_ACCESS_DENIED).
long RunInTransaction(const std::function<long()>& body);

// Deletes subKey of key with everything below it. Point "registry.DeleteTree"
// (ERROR_ACCESS_DENIED); ERROR_FILE_NOT_FOUND when it does not exist.
long DeleteKeyTree(HKEY key, const WChar* subKey);

// The key (a path as HivePath reads it; empty for the whole hive) and everything below it as
// .reg text, UTF-8: keys in enumeration order, each key's values in theirs.
// Point "registry.Export" (ERROR_ACCESS_DENIED); ERROR_FILE_NOT_FOUND for a missing key.
long ExportRegText(WStringView key, std::string& text);

// Applies .reg text in one transaction: all of it or nothing. A syntax error gives
// ERROR_INVALID_DATA with error naming the line; a failing change its code and the line.
// Point "registry.Import" (ERROR_ACCESS_DENIED). warnings (when given) receives the values
// passed over (see ParseRegText).
long ImportRegText(std::string_view bytes, std::string& error, std::vector<std::string>* warnings = nullptr);

// The whole hive as canonical text: every key in the order of its path compared without
// regard to case, each key's values by name likewise, in .reg value syntax. Two hives that
// hold the same keys and values give the same bytes. Point "registry.Snapshot" (ERROR_ACCESS_DENIED).
long SnapshotRegText(std::string& text);

// Closes the hive's connection (tests and tools that remove a host root).
void CloseHive();

}  // namespace vr::registry
