// Base of every host interface that travels through COM-shaped calls (WMI objects, the Depot
// component, error objects). Lifetime is held by std::shared_ptr; nothing counts by hand.
#pragma once
#include <cstdint>
#include <cstring>

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
  bool operator==(const GUID& o) const { return std::memcmp(this, &o, sizeof(GUID)) == 0; }
};
using CLSID = GUID;
using IID = GUID;
constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

class IUnknown {
 public:
  virtual ~IUnknown() = default;
};
