// Move-only owners for the platform buffers that tessaroot's own code frees.
// Each one closes exactly what it holds in its destructor and never looks at
// the result of the releasing call.
#pragma once

#include <cstdlib>
#include <memory>

#include "platform/platform.h"

namespace platform {

// A block from the C heap (malloc), released with free.
struct CrtFree {
  void operator()(void* block) const noexcept { std::free(block); }
};
template <typename T>
using unique_crt_ptr = std::unique_ptr<T, CrtFree>;

// A block that the platform allocated with LocalAlloc for the caller, released
// with LocalFree.
struct LocalFreeDeleter {
  void operator()(void* block) const noexcept { ::LocalFree(block); }
};
template <typename T>
using unique_local_ptr = std::unique_ptr<T, LocalFreeDeleter>;

}  // namespace platform
