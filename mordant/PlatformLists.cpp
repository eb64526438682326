#include "mordant/PlatformLists.h"

#include <unordered_map>
#include <unordered_set>

#include "platform/text/casefold.h"

WString DeriveCpuKey(WStringView description) {
  WString key;
  for (WChar c : description) {
    if (c == u' ') break;
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')) key.push_back(c);
  }
  return key;
}

CpuOsList MergeCpuOsEntries(const CpuOsList& entries) {
  CpuOsList merged;
  std::unordered_map<WString, size_t> byKey;
  std::vector<std::unordered_set<WString>> values;
  for (const CpuOsEntry& entry : entries) {
    const auto [it, isNew] = byKey.emplace(vr::text::ToLower(entry.cpuKey), merged.size());
    if (isNew) {
      merged.push_back({entry.cpuKey, {}});
      values.emplace_back();
    }
    for (const WString& value : entry.osTypes) {
      if (values[it->second].insert(vr::text::ToLower(value)).second) merged[it->second].osTypes.push_back(value);
    }
  }
  return merged;
}
