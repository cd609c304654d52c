// The escaped encoding of a 4 MiB picture through each Base64 kernel on its own,
// into a buffer already touched, so that it pays for no page faults.

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

void encodeEscaped(benchmark::State& state, const Base64Kernel* kernel) {
  std::size_t size = base64Size(picture().size()) + countBase64Slashes(picture());
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
    benchmark::RegisterBenchmark((std::string("EncodeEscaped4MiB/") + kernel->name).c_str(), encodeEscaped, kernel)
        ->Unit(benchmark::kMicrosecond);
  }
}

}  // namespace kel::bench
