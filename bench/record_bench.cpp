// The cost of a state record from the info dictionary to the bytes handed to
// standard output (here /dev/null): with 4 MiB of artwork through each Base64
// kernel, against a memcpy of the same line and the straightforward encoder; and
// without artwork, with the heap allocations it makes.

#include <unistd.h>

#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "bench_support.h"
#include "output/base64.h"
#include "output/json_text.h"
#include "publisher/state_record.h"
#include "straightforward_record.h"

namespace kel::bench {
namespace {

const InfoDictionaryImpl& artworkInfo() {
  static const InfoDictionaryImpl info = makeInfo(artworkLimit);
  return info;
}

const InfoDictionaryImpl& plainInfo() {
  static const InfoDictionaryImpl info = makeInfo(0);
  return info;
}

// The line writeStateRecord writes for the 4 MiB record, line feed included.
const std::string& artworkLine() {
  static const std::string line = [] {
    registerPlayer();
    lastArtworkID.reset();
    Record record;
    buildStateRecord(1, &artworkInfo(), record);
    return *jsonText(record) + "\n";
  }();
  return line;
}

// The line buffer is kept from one line to the next, as in the running bridge,
// so this is the building and writing of the line without first-touch page faults.
void stateRecord4MiB(benchmark::State& state, const Base64Kernel* kernel) {
  const Base64Kernel& previous = base64Kernel();
  useBase64Kernel(*kernel);
  registerPlayer();
  const InfoDictionaryImpl& info = artworkInfo();
  std::uint64_t before = 0;
  {
    StdoutToNull toNull;
    before = allocationCount();
    for (auto _ : state) {
      // Forgetting the artwork last sent makes every record carry the bytes.
      lastArtworkID.reset();
      writeStateRecord(1, &info);
    }
    reportAllocations(state, before);
  }
  useBase64Kernel(previous);
  if (!lastArtworkID) state.SkipWithError("the record was not written with its artwork");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(artworkLimit));
  state.counters["lineBytes"] = benchmark::Counter(static_cast<double>(artworkLine().size()));
}

void memcpyOfLine(benchmark::State& state) {
  const std::string& line = artworkLine();
  // Touched once, so that the copies do not pay for first-touch page faults.
  std::unique_ptr<char[]> target(new char[line.size()]);
  std::memset(target.get(), 0, line.size());
  for (auto _ : state) {
    std::memcpy(target.get(), line.data(), line.size());
    benchmark::DoNotOptimize(target.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(line.size()));
  state.counters["lineBytes"] = benchmark::Counter(static_cast<double>(line.size()));
}

bool writeAll(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t written = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
    if (written < 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

void nlohmann4MiB(benchmark::State& state) {
  registerPlayer();
  const InfoDictionaryImpl& info = artworkInfo();
  std::size_t lineSize = 0;
  {
    StdoutToNull toNull;
    std::uint64_t before = allocationCount();
    for (auto _ : state) {
      std::string line = straightforwardRecord(1, &info).dump();
      line += '\n';
      lineSize = line.size();
      if (!writeAll(line)) state.SkipWithError("the line could not be written");
    }
    reportAllocations(state, before);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(artworkLimit));
  state.counters["lineBytes"] = benchmark::Counter(static_cast<double>(lineSize));
}

void recordWithoutArtwork(benchmark::State& state) {
  registerPlayer();
  const InfoDictionaryImpl& info = plainInfo();
  {
    StdoutToNull toNull;
    std::uint64_t before = allocationCount();
    for (auto _ : state) writeStateRecord(1, &info);
    reportAllocations(state, before);
  }
  Record record;
  buildStateRecord(1, &info, record);
  state.counters["lineBytes"] = benchmark::Counter(static_cast<double>(*jsonTextSize(record) + 1));
}

}  // namespace

void registerRecordBenchmarks() {
  for (const Base64Kernel* kernel : base64Kernels()) {
    benchmark::RegisterBenchmark((std::string("StateRecord4MiB/") + kernel->name).c_str(), stateRecord4MiB, kernel)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Memcpy", memcpyOfLine)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Nlohmann4MiB", nlohmann4MiB)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("RecordWithoutArtwork", recordWithoutArtwork);
}

bool sameRecordBothWays() {
  registerPlayer();
  nlohmann::json ours = nlohmann::json::parse(artworkLine());
  nlohmann::json theirs = straightforwardRecord(1, &artworkInfo());
  if (ours == theirs) return true;
  ours["artwork"] = ours["artwork"].get<std::string>().substr(0, 40);
  theirs["artwork"] = theirs["artwork"].get<std::string>().substr(0, 40);
  std::cerr << "kel-bench: the two records differ:\n" << ours << "\n" << theirs << "\n";
  return false;
}

}  // namespace kel::bench
