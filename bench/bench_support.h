#pragma once
// What the benchmarks share: the info dictionary of a state record as the Linux
// Linux platform holds it, a player for the lookup, standard output sent to /dev/null,
// and the count of heap allocations.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "platform/linux/linux_platform.h"

namespace kel::bench {

// A full state record's dictionary: title, artist, album, duration, elapsed time,
// rate, timestamp; with artworkBytes > 0 also that many random bytes of artwork
// (so about one Base64 character in 64 is "/"), its MIME type and identifier.
InfoDictionaryImpl makeInfo(std::size_t artworkBytes);

// Makes the player lookup find the application "com.example.player".
void registerPlayer();

// Standard output goes to /dev/null while this lives; the benchmark library's
// own output is flushed first, so that none of it is lost there.
struct StdoutToNull {
  int saved = -1;
  StdoutToNull();
  ~StdoutToNull();
  StdoutToNull(const StdoutToNull&) = delete;
  StdoutToNull& operator=(const StdoutToNull&) = delete;
};

// Every operator new of the process so far, on any thread (allocation_count.cpp).
std::uint64_t allocationCount();

// Sets the counter "allocations" to the allocations per iteration since before.
void reportAllocations(benchmark::State& state, std::uint64_t before);

// Registers the benchmarks of record_bench.cpp, base64_bench.cpp and commands_bench.cpp.
void registerRecordBenchmarks();
void registerBase64Benchmarks();
void registerCommandBenchmarks();

// Whether the straightforward encoder's record and ours parse to the same JSON
// value; prints the difference on standard error when they do not.
bool sameRecordBothWays();

}  // namespace kel::bench
