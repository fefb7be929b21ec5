// How the whole reset scales with the size of the class tree, on the
// simulated machine: time per key, and what each key costs in registry calls
// and in the tool's own allocations (none, once the empty ACL is built).
//
//   cmake --build --preset host --target reset_benchmark
//   build/host/bench/reset_benchmark
#include <benchmark/benchmark.h>

#include <string>

#include "error/com_error.h"
#include "platform/sim/control.h"
#include "platform/sim/registry_control.h"
#include "tool/reset.h"

namespace {

// A class tree of `keys` keys, ten children to a key, every one damaged.
sim::Machine DamagedMachine(int keys) {
  sim::Machine machine = sim::DefaultMachine();
  sim::AddKey(machine, L"SOFTWARE", L"O:BAG:SYD:(A;CI;GA;;;BA)");
  sim::AddKey(machine, L"SOFTWARE\\Classes", L"O:BUG:BUD:(A;;KA;;;WD)");
  std::vector<std::wstring> paths = {L"SOFTWARE\\Classes"};
  for (int i = 0; i < keys; ++i) {
    const std::wstring path = paths[static_cast<std::size_t>(i / 10)] + L"\\key" + std::to_wstring(i);
    sim::AddKey(machine, path, i % 3 == 0 ? L"O:BUG:BUD:P(D;;KA;;;WD)" : L"O:BAG:SYD:(A;;KR;;;BU)");
    paths.push_back(path);
  }
  return machine;
}

void BM_ResetClassesRoot(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  const sim::Machine damaged = DamagedMachine(keys);
  std::size_t calls = 0;
  unsigned long allocations = 0;
  for (auto _ : state) {
    state.PauseTiming();
    sim::Machine machine = damaged;
    sim::MachineScope scope(machine);
    const unsigned long before = sim::AllocationsMade(sim::Allocator::CHeap) +
                                 sim::AllocationsMade(sim::Allocator::OperatorNew);
    state.ResumeTiming();
    tessaroot::ResetClassesRoot();
    state.PauseTiming();
    calls = machine.calls.size();
    allocations = sim::AllocationsMade(sim::Allocator::CHeap) + sim::AllocationsMade(sim::Allocator::OperatorNew) -
                  before;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * keys);
  state.counters["calls_per_key"] = static_cast<double>(calls) / keys;
  state.counters["tool_allocations"] = static_cast<double>(allocations);
}
BENCHMARK(BM_ResetClassesRoot)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
