// The reader of standard input, and the end of the process when the input ends.

#include "commands/commands.h"

#include <chrono>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>

#include "commands/handle_command.h"
#include "commands/line_reader.h"
#include "entry/entry.h"
#include "platform/queue.h"
#include "publisher/publisher.h"

namespace kel {

namespace {

using namespace std::chrono_literals;

// How long the work asked for before the end of input may take to finish, for a
// service that never answers or a command that blocks.
constexpr auto finishBound = 2s;

// Runs on the reader's thread. Finishes what was asked before the end of input:
// the process ends from a task on queue once the commands queued before it have
// run and the publications requested by then are written, or after finishBound.
void finishAndExit() {
  // Start-up asks for the first publication just after starting this reader; input
  // that has already ended must not outrun that request.
  waitForStartUp();
  submitBackground([] {
    std::this_thread::sleep_for(finishBound);
    endProcess(0);
  });
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
    submit(queue, [command = std::string(*text)] { handleCommand(command); });
  };
  readLines(STDIN_FILENO, splitter, submitLine);
  finishAndExit();
}

}  // namespace

void readCommands() {
  submitBackground(readStandardInput);
}

}  // namespace kel
