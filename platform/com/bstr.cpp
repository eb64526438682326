#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>

// Layout: a 4-byte length in bytes, then the characters, then a terminating zero.
BSTR SysAllocStringLen(const WChar* s, uint32_t len) {
  if (len > 0x3FFFFFF0u) return nullptr;
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + (static_cast<size_t>(len) + 1) * sizeof(WChar)));
  if (!block) return nullptr;
  const uint32_t bytes = len * static_cast<uint32_t>(sizeof(WChar));
  std::memcpy(block, &bytes, sizeof bytes);
  auto* text = reinterpret_cast<WChar*>(block + sizeof(uint32_t));
  if (s && len) std::memcpy(text, s, len * sizeof(WChar));
  else if (len) std::memset(text, 0, len * sizeof(WChar));
  text[len] = 0;
  return text;
}

BSTR SysAllocString(const WChar* s) {
  if (!s) return nullptr;
  uint32_t n = 0;
  while (s[n]) ++n;
  return SysAllocStringLen(s, n);
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<char*>(s) - sizeof(uint32_t));
}

uint32_t SysStringLen(BSTR s) {
  if (!s) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(s) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(WChar);
}
