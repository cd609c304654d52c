// Command lines per second through the real reader of standard input
// (readCommands: the line splitter, the UTF-8 check, the backlog that holds the
// host back) and the interpreter (handleCommand on queue) into the service's
// command entry points, here counting ones. Standard input is a pipe that
// this thread fills.

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "bench_support.h"
#include "commands/read_commands.h"
#include "entry/entry.h"
#include "platform/linux/linux_platform.h"

namespace kel::bench {
namespace {

constexpr int linesPerBatch = 20000;

std::atomic<std::uint64_t> commandsSeen{0};
std::atomic<std::uint64_t> commandsWanted{0};
std::mutex doneMutex;
std::condition_variable done;

// Runs on queue, once per command: wakes the benchmark when the batch is through.
void noteCommand() {
  std::uint64_t seen = commandsSeen.fetch_add(1, std::memory_order_relaxed) + 1;
  if (seen == commandsWanted.load(std::memory_order_relaxed)) {
    std::lock_guard lock(doneMutex);
    done.notify_all();
  }
}

bool countingSendCommand(std::int32_t, const void*) {
  noteCommand();
  return true;
}

void countingSetElapsedTime(double) { noteCommand(); }

// The write end of the pipe that is standard input. The reader runs for the rest
// of the process: the pipe is never closed, as its end would end the process.
int startReader() {
  static const int writeEnd = [] {
    queue = createQueue("com.kel.bench");
    serviceEntries.sendCommand = &countingSendCommand;
    serviceEntries.setElapsedTime = &countingSetElapsedTime;
    int ends[2];
    if (pipe(ends) != 0) return -1;
    dup2(ends[0], STDIN_FILENO);
    close(ends[0]);
    readCommands();
    return ends[1];
  }();
  return writeEnd;
}

const std::string& batch() {
  static const std::string lines = [] {
    std::string text;
    for (int i = 0; i < linesPerBatch; ++i) text += i % 2 == 0 ? "seek 12.5\n" : "toggle\n";
    return text;
  }();
  return lines;
}

void commands(benchmark::State& state) {
  int input = startReader();
  if (input < 0) {
    state.SkipWithError("no pipe");
    return;
  }
  const std::string& lines = batch();
  for (auto _ : state) {
    commandsWanted.store(commandsSeen.load() + linesPerBatch);
    // Blocks whenever the pipe is full, as a host's writes do.
    for (std::size_t written = 0; written < lines.size();) {
      ssize_t count = ::write(input, lines.data() + written, lines.size() - written);
      if (count < 0) {
        state.SkipWithError("write failed");
        return;
      }
      written += static_cast<std::size_t>(count);
    }
    std::unique_lock lock(doneMutex);
    done.wait(lock, [] { return commandsSeen.load() >= commandsWanted.load(); });
  }
  state.SetItemsProcessed(state.iterations() * linesPerBatch);
}

}  // namespace

void registerCommandBenchmarks() {
  benchmark::RegisterBenchmark("Commands", commands)->UseRealTime()->Unit(benchmark::kMillisecond);
}

}  // namespace kel::bench
