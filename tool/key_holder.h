// The owner of one open registry key handle.
#pragma once

#include "platform/platform.h"

namespace tessaroot {

// Holds at most one open key and closes it with RegCloseKey when it goes out
// of scope, also when a failure leaves that scope. Move-only.
class KeyHolder {
 public:
  KeyHolder() noexcept = default;
  ~KeyHolder();
  KeyHolder(KeyHolder&& other) noexcept;
  KeyHolder& operator=(KeyHolder&& other) noexcept;
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;

  // Opens `name` below `parent` with exactly `access`. On success a key held
  // before is closed first and the result is that close's status; the new
  // key is held. On failure the holder is unchanged and RegOpenKeyExW's
  // status is returned.
  LONG OpenKey(HKEY parent, LPCWSTR name, REGSAM access);

  // Closes the held key and holds none; the close's status, or 0 when
  // nothing was held.
  LONG CloseKey() noexcept;

  // The held key, still owned by the holder; null when none is held.
  HKEY Handle() const noexcept { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace tessaroot
