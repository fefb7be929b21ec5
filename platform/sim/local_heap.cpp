#include "platform/sim/local_heap.h"

#include <cstdlib>
#include <cstring>
#include <set>

#include "platform/sim/call.h"
#include "platform/sim/control.h"

namespace sim {
namespace {

// The process heap's identity; any non-null value the tool cannot confuse
// with a block.
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x00140000));

std::set<void*>& LiveBlocks() {
  static std::set<void*> blocks;
  return blocks;
}

}  // namespace

void* AllocateLocalBlock(std::size_t bytes) {
  if (AllocationFails(Allocator::LocalHeap)) return nullptr;
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block == nullptr) return nullptr;
  LiveBlocks().insert(block);
  ++Current().localBlocks;
  return block;
}

bool FreeLocalBlock(void* block) {
  if (LiveBlocks().erase(block) == 0) return false;
  std::free(block);
  if (Current().localBlocks > 0) --Current().localBlocks;
  return true;
}

}  // namespace sim

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  sim::Call call("LocalAlloc");
  if (call.FailWithLastError()) return nullptr;
  if ((uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) != LMEM_FIXED) {
    sim::SetError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* block = sim::AllocateLocalBlock(uBytes);
  if (block == nullptr) {
    sim::SetError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  if (uFlags & LMEM_ZEROINIT) std::memset(block, 0, uBytes);
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  sim::Call call("LocalFree");
  // A refused free hands the block back, still the caller's.
  if (call.FailWithLastError()) return hMem;
  if (hMem == nullptr) return nullptr;
  if (!sim::FreeLocalBlock(hMem)) {
    sim::SetError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  return nullptr;
}

HANDLE WINAPI GetProcessHeap() {
  sim::Call call("GetProcessHeap");
  if (call.FailWithLastError()) return nullptr;
  return sim::kProcessHeap;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  sim::Call call("HeapFree");
  if (call.FailWithLastError()) return FALSE;
  if (hHeap != sim::kProcessHeap) {
    sim::SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  (void)dwFlags;
  if (lpMem == nullptr) return TRUE;
  if (!sim::FreeLocalBlock(lpMem)) {
    sim::SetError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}
