// kel-bench: the Google Benchmark runner, with the core's own checks first.

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "bench_support.h"
#include "output/base64.h"

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 64;
  // A ratio against the straightforward encoder means something only when both
  // write the same record.
  if (!kel::bench::sameRecordBothWays()) return 1;
  // The kernel the library chose at start-up, which is the one the targets are for.
  benchmark::AddCustomContext("base64Kernel", kel::base64Kernel().name);
  kel::bench::registerRecordBenchmarks();
  kel::bench::registerBase64Benchmarks();
  kel::bench::registerCommandBenchmarks();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::cout.flush();
  std::fflush(nullptr);
  // The command reader still blocks on its pipe: leave without destructors.
  _exit(0);
}
