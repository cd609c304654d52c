// The two passes a 4 MiB picture takes through each Base64 kernel on its own:
// counting the "/" that the line's size needs, and the escaped encoding into a
// buffer already touched, so that neither pays for page faults.

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "output/base64.h"

namespace kel::bench {
namespace {

const std::vector<std::uint8_t>& picture() {
  static const std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> random(std::size_t{4} << 20);
    std::mt19937_64 generator(7);
    for (auto& byte : random) byte = static_cast<std::uint8_t>(generator());
    return random;
  }();
  return bytes;
}

void countSlashes(benchmark::State& state, const Base64Kernel* kernel) {
  std::size_t count = 0;
  for (auto _ : state) benchmark::DoNotOptimize(count = kernel->countSlashes(picture()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(picture().size()));
}

void encodeEscaped(benchmark::State& state, const Base64Kernel* kernel) {
  std::size_t size = base64Size(picture().size()) + scalarBase64.countSlashes(picture());
  std::unique_ptr<char[]> out(new char[size]());
  for (auto _ : state) {
    benchmark::DoNotOptimize(kernel->encode(picture(), out.get(), true));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(size));
}

}  // namespace

void registerBase64Benchmarks() {
  for (const Base64Kernel* kernel : base64Kernels()) {
    benchmark::RegisterBenchmark((std::string("CountSlashes4MiB/") + kernel->name).c_str(), countSlashes, kernel)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((std::string("EncodeEscaped4MiB/") + kernel->name).c_str(), encodeEscaped, kernel)
        ->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace kel::bench
