// CRC-32 with the reflected polynomial 0xEDB88320 (the CRC of zip and PNG). The narrow form
// runs over bytes; the wide form runs over UTF-16 units and feeds only each unit's low byte
// into the table, which is how the checksum of a Unicode file is defined.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/text/wstring.h"

class VrCrc32 {
 public:
  VrCrc32();
  // False (and result untouched) only when the table could not be made.
  bool Update(std::string_view bytes, uint32_t& result) const;
  bool Update(WStringView units, uint32_t& result) const;

 private:
  std::unique_ptr<uint32_t[]> table_;
};
