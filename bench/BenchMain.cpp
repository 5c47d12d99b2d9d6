// The benchmarks run with the heap set up as the program sets it up.
#include <benchmark/benchmark.h>

#include "platform/Allocator.h"

int main(int argc, char** argv) {
  corvald::KeepFreedMemoryForReuse();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
