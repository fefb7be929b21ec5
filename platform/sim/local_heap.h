// The simulated machine's local heap. LocalAlloc blocks and the blocks that
// simulated calls hand to their callers (SDDL conversions, message texts) come
// from here, so that tests can count what is left unfreed and make the heap
// fail. On NT the local heap is the process heap, so HeapFree on
// GetProcessHeap() releases these blocks too.
#pragma once

#include <cstddef>

namespace sim {

// A block of `bytes` for the caller, or null when the LocalHeap allocation
// knob is armed to fail (the caller then reports ERROR_NOT_ENOUGH_MEMORY).
// Counts as a local block of the current machine until FreeLocalBlock.
void* AllocateLocalBlock(std::size_t bytes);

// Frees a block from AllocateLocalBlock; false when `block` is not one.
bool FreeLocalBlock(void* block);

}  // namespace sim
