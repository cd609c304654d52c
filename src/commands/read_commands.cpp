// The reader of standard input, and the end of the process when the input ends.

#include "commands/read_commands.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "commands/handle_command.h"
#include "commands/line_reader.h"
#include "entry/entry.h"
#include "platform/hang_up.h"
#include "platform/io.h"
#include "platform/queue.h"
#include "publisher/schedule_update.h"

namespace kel {

namespace {

using namespace std::chrono_literals;

// How long the work asked for before the end of input may take to finish, for a
// service that never answers or a command that blocks.
constexpr auto finishBound = 2s;

// The lines read but not yet handled may hold this many bytes. Then the reader
// stops reading until queue catches up, and the full pipe holds the host back:
// memory does not grow with the input, and no line is dropped. Each line also
// counts a share for the task that carries it, so that empty lines count too.
constexpr std::size_t backlogBudget = 1 << 20;
constexpr std::size_t taskCost = 64;

std::mutex backlogMutex;
std::condition_variable backlogShrank;
std::size_t backlogBytes = 0;

std::once_flag watchdogStarted;

// Any thread. From now on the process ends within finishBound, whatever blocks.
void startWatchdog() {
  std::call_once(watchdogStarted, [] {
    submitBackground([] {
      std::this_thread::sleep_for(finishBound);
      endProcess(0);
    });
  });
}

// Runs on the reader's thread. Waits until the backlog has room for cost more
// bytes; an empty backlog always has.
void waitForRoom(std::size_t cost) {
  std::unique_lock lock(backlogMutex);
  backlogShrank.wait(lock, [cost] { return backlogBytes == 0 || backlogBytes + cost <= backlogBudget; });
  backlogBytes += cost;
}

// Runs on queue, once a line's command has been carried out.
void lineHandled(std::size_t cost) {
  {
    std::lock_guard lock(backlogMutex);
    backlogBytes -= cost;
  }
  backlogShrank.notify_one();
}

// Runs on the reader's thread. Finishes what was asked before the end of input:
// the process ends from a task on queue once the commands queued before it have
// run and the publications requested by then are written, or after finishBound.
void finishAndExit() {
  // First of all, as anything after it may block for good (a registration call
  // that never returns, a queue held by a command).
  startWatchdog();
  // Start-up asks for the first publication just after starting this reader; input
  // that has already ended must not outrun that request.
  waitForStartUp();
  // Every command read so far is on queue ahead of this task. A "refresh" among
  // them asks for its publication only when it runs, so its gate task lands
  // behind this one: one more hop lets every such gate run before the wait.
  submit(queue, [] {
    submit(queue, [] { whenPublished([] { endProcess(0); }); });
  });
}

// Runs on the background queue until the end of input.
void readStandardInput() {
  // Never destroyed, so that nothing at exit can pull it from under this thread.
  static LineSplitter& splitter = *new LineSplitter;
  const LineHandler submitLine = [](std::string_view line) {
    std::optional<std::string_view> text = commandText(line);
    if (!text) return;
    std::size_t cost = text->size() + taskCost;
    waitForRoom(cost);
    submit(queue, [command = std::string(*text), cost] {
      handleCommand(command);
      lineHandled(cost);
    });
  };
  readLines(standardInput, splitter, submitLine);
  finishAndExit();
}

}  // namespace

void readCommands() {
  submitBackground(readStandardInput);
}

void watchForHangUp() {
  // The host closing its end counts even while unread lines remain in the pipe.
  submitBackground([] {
    waitForHangUp(standardInput);
    startWatchdog();
  });
}

}  // namespace kel
