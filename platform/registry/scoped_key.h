// The owner of one open registry key. Code outside the registry layer holds every key it opens
// or creates in one, so that each path out of a function closes the key exactly once and none
// is closed by hand.
#pragma once
#include <utility>

#include "platform/registry/registry.h"

namespace vr::registry {

class ScopedKey {
 public:
  ScopedKey() = default;
  explicit ScopedKey(HKEY key) noexcept : key_(key) {}
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ScopedKey(ScopedKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  ScopedKey& operator=(ScopedKey&& other) noexcept {
    if (this != &other) {
      Close();
      key_ = std::exchange(other.key_, nullptr);
    }
    return *this;
  }
  ~ScopedKey() { Close(); }

  // The key, as the registry calls take it.
  operator HKEY() const noexcept { return key_; }
  HKEY get() const noexcept { return key_; }

  // Where an open, create or connect call puts its new key. A key still held is closed first,
  // so one owner can take several keys in turn.
  HKEY* Receive() {
    Close();
    return &key_;
  }

  // Closes the key now, for callers whose order of registry calls matters (a key closed before
  // the next step rather than at the end of the block). The result of the close; success when
  // no key is held, without a call.
  LONG Close() { return key_ ? RegCloseKey(std::exchange(key_, nullptr)) : ERROR_SUCCESS; }

  // Hands the key to a caller that closes it itself.
  HKEY Release() noexcept { return std::exchange(key_, nullptr); }

 private:
  HKEY key_ = nullptr;
};

}  // namespace vr::registry
