#include "output/write_line.h"

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <span>

#include "output/json_text.h"

namespace kel {
namespace {

// Set, under the standard-output lock, once a write has failed: the rest of that
// line never left, and a later line would be glued to the cut one. Atomic only
// because ThreadSanitizer does not see stdio's lock.
std::atomic<bool> outputFailed = false;

// Writes every byte to fd, however the kernel splits the writes. An interrupted
// write is retried and a full non-blocking descriptor waited for, so neither cuts
// the line. False on any other error, with the rest unwritten.
bool writeAll(int fd, std::span<const char> bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(written));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd writable{fd, POLLOUT, 0};
      ::poll(&writable, 1, -1);  // Interrupted or not, the write is tried again.
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool writeLine(const Record& record) {
  std::optional<std::size_t> size = jsonTextSize(record);
  if (!size) return false;
  // The whole line goes into one buffer sized once: lines with artwork run to
  // several megabytes, and nothing may copy or grow them on the way out. Left
  // uninitialised: every byte is written below.
  std::size_t lineSize = *size + 1;
  std::unique_ptr<char[]> line(new char[lineSize]);
  *formatJsonText(record, line.get()) = '\n';
  // Note: the standard-output lock makes the line one step for every other writer,
  // including the exit, which takes the same lock, so no line is ever interleaved
  // or cut. Whatever the host left in stdio's buffer goes first, to keep order.
  flockfile(stdout);
  bool written = false;
  if (!outputFailed) {
    std::fflush(stdout);
    written = writeAll(STDOUT_FILENO, {line.get(), lineSize});
    outputFailed = !written;
  }
  funlockfile(stdout);
  return written;
}

}  // namespace kel
