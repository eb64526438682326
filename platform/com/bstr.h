// BSTR: a length-prefixed UTF-16 string allocated by the system, owned by whoever receives it.
#pragma once
#include <cstdint>

#include "platform/text/wstring.h"

using BSTR = WChar*;

BSTR SysAllocString(const WChar* s);
BSTR SysAllocStringLen(const WChar* s, uint32_t len);
void SysFreeString(BSTR s);
uint32_t SysStringLen(BSTR s);

// Owns one BSTR.
class CBstr {
 public:
  CBstr() = default;
  explicit CBstr(WStringView s) : p_(SysAllocStringLen(s.data(), static_cast<uint32_t>(s.size()))) {}
  CBstr(const CBstr&) = delete;
  CBstr& operator=(const CBstr&) = delete;
  ~CBstr() { SysFreeString(p_); }
  void Attach(BSTR b) { SysFreeString(p_); p_ = b; }
  // Where a call that hands out a string puts it; a string still held is freed first.
  BSTR* Receive() {
    Attach(nullptr);
    return &p_;
  }
  BSTR get() const { return p_; }
  WString str() const { return p_ ? WString(p_, SysStringLen(p_)) : WString(); }
 private:
  BSTR p_ = nullptr;
};
