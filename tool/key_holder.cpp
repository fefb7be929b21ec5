#include "tool/key_holder.h"

#include <utility>

namespace tessaroot {

KeyHolder::~KeyHolder() { CloseKey(); }

KeyHolder::KeyHolder(KeyHolder&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}

KeyHolder& KeyHolder::operator=(KeyHolder&& other) noexcept {
  if (this != &other) {
    CloseKey();
    key_ = std::exchange(other.key_, nullptr);
  }
  return *this;
}

LONG KeyHolder::OpenKey(HKEY parent, LPCWSTR name, REGSAM access) {
  HKEY opened = nullptr;
  const LONG status = ::RegOpenKeyExW(parent, name, 0, access, &opened);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  const LONG closed = CloseKey();
  key_ = opened;
  return closed;
}

LONG KeyHolder::CloseKey() noexcept {
  if (key_ == nullptr) {
    return ERROR_SUCCESS;
  }
  const LONG status = ::RegCloseKey(key_);
  key_ = nullptr;
  return status;
}

}  // namespace tessaroot
