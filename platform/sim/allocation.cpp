// Allocation-failure knobs for the C heap, the local heap and operator new.
//
// The host build links tessaroot's objects with --wrap=malloc (and calloc,
// realloc), so their C-heap calls come here first. Allocations made while a
// simulated call runs are the simulator's own and are never failed.
#include <cstdlib>
#include <new>

#include "platform/sim/call.h"
#include "platform/sim/control.h"

extern "C" {
void __real_free(void* block);
void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
}

namespace sim {
namespace {

struct Knob {
  unsigned skip = 0;     // allocations still let through before the first failure
  unsigned failing = 0;  // failures still to hand out
};

Knob g_knobs[3];
unsigned long g_counted[3];
bool g_clobberOnRelease = false;

Knob& KnobOf(Allocator allocator) { return g_knobs[static_cast<int>(allocator)]; }

}  // namespace

bool AllocationFails(Allocator allocator) {
  Knob& knob = KnobOf(allocator);
  if (knob.failing == 0) return false;
  if (knob.skip > 0) {
    --knob.skip;
    return false;
  }
  --knob.failing;
  return true;
}

void FailAllocations(Allocator allocator, unsigned nth, unsigned count) {
  Knob& knob = KnobOf(allocator);
  knob.skip = nth > 0 ? nth - 1 : 0;
  knob.failing = count;
}

void ClearAllocationFailures() {
  for (Knob& knob : g_knobs) knob = Knob{};
  g_clobberOnRelease = false;
}

unsigned PendingAllocationFailures(Allocator allocator) { return KnobOf(allocator).failing; }

unsigned long AllocationsMade(Allocator allocator) { return g_counted[static_cast<int>(allocator)]; }

void ClobberLastErrorOnRelease(bool clobber) { g_clobberOnRelease = clobber; }

namespace {

bool CallerAllocationFails(Allocator allocator) {
  if (InsideSimulatedCall()) return false;
  ++g_counted[static_cast<int>(allocator)];
  return AllocationFails(allocator);
}

void* NewBlock(std::size_t size) {
  if (CallerAllocationFails(Allocator::OperatorNew)) return nullptr;
  return __real_malloc(size == 0 ? 1 : size);
}

}  // namespace
}  // namespace sim

extern "C" {

void* __wrap_malloc(std::size_t size) {
  if (sim::CallerAllocationFails(sim::Allocator::CHeap)) return nullptr;
  return __real_malloc(size);
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
  if (sim::CallerAllocationFails(sim::Allocator::CHeap)) return nullptr;
  return __real_calloc(count, size);
}

void __wrap_free(void* block) {
  if (sim::g_clobberOnRelease && block != nullptr && !sim::InsideSimulatedCall()) {
    sim::Current().lastError = sim::kReleaseClobber;
  }
  __real_free(block);
}

void* __wrap_realloc(void* block, std::size_t size) {
  if (sim::CallerAllocationFails(sim::Allocator::CHeap)) return nullptr;
  return __real_realloc(block, size);
}

}  // extern "C"

void* operator new(std::size_t size) {
  if (void* block = sim::NewBlock(size)) return block;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
  if (void* block = sim::NewBlock(size)) return block;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return sim::NewBlock(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return sim::NewBlock(size); }

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
