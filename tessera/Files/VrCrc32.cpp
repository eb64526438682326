#include "tessera/Files/VrCrc32.h"

#include <new>

VrCrc32::VrCrc32() : table_(new (std::nothrow) uint32_t[256]) {
  if (!table_) return;
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table_[n] = c;
  }
}

bool VrCrc32::Update(std::string_view bytes, uint32_t& result) const {
  if (!table_) return false;
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char c : bytes) crc = table_[(crc ^ c) & 0xFF] ^ (crc >> 8);
  result = ~crc;
  return true;
}

bool VrCrc32::Update(WStringView units, uint32_t& result) const {
  if (!table_) return false;
  uint32_t crc = 0xFFFFFFFFu;
  for (char16_t c : units) crc = table_[(crc ^ c) & 0xFF] ^ (crc >> 8);
  result = ~crc;
  return true;
}
