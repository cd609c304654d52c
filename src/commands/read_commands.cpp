// The reader of standard input, and the end of the process when the input ends.

#include "commands/commands.h"

#include <cerrno>
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

// Runs on the reader's thread. Finishes what was asked before the end of input,
// then ends the process from a task on queue, where no line can be half written.
void finishAndExit() {
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
void readLines() {
  // Note: the buffer is never freed; the process ends while this thread may still
  // be in a read.
  static LineSplitter& splitter = *new LineSplitter;
  const LineHandler submitLine = [](std::string_view line) {
    std::optional<std::string_view> text = commandText(line);
    if (!text) return;
    submit(queue, [command = std::string(*text)] { handleCommand(command); });
  };
  for (;;) {
    std::span<char> space = freeSpace(splitter);
    ssize_t count = ::read(STDIN_FILENO, space.data(), space.size());
    if (count < 0 && errno == EINTR) continue;
    // The end of input, or a read error, which is taken as the end.
    if (count <= 0) break;
    takeBytes(splitter, static_cast<std::size_t>(count), submitLine);
  }
  finishLines(splitter, submitLine);
  finishAndExit();
}

}  // namespace

void readCommands() {
  submitBackground(readLines);
}

}  // namespace kel
