#include "output/write_line.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <span>

#include "output/json_text.h"
#include "platform/io.h"

namespace kel {
namespace {

// Set, under the standard-output lock, once a write has failed: the rest of that
// line never left, and a later line would be glued to the cut one. Atomic only
// because ThreadSanitizer does not see stdio's lock.
std::atomic<bool> outputFailed = false;

// The buffer lines are built in, kept from one line to the next, and its size.
// Never freed at exit, which may come while a line is being built.
std::mutex lineLock;
char* lineBuffer = nullptr;
std::size_t lineCapacity = 0;

}  // namespace

bool writeLine(const Record& record) {
  // The room is found without a pass over the artwork: its Base64 text is written
  // once, straight into the line. Only the pages the text fills are touched.
  std::optional<std::size_t> room = jsonTextRoom(record);
  if (!room) return false;
  std::size_t lineRoom = *room + 1;
  std::lock_guard<std::mutex> bufferHeld(lineLock);
  // The whole line goes into one buffer, and the buffer is kept for the next
  // line: lines with artwork run to megabytes, new memory costs more in
  // first-touch page faults than building the line in it, and nothing may copy
  // or grow a line on the way out. Left uninitialised: every byte is written below.
  if (lineCapacity < lineRoom) {
    // Rounded up, so that the next picture, a little larger, fits as well.
    std::size_t step = lineRoom > (std::size_t{1} << 20) ? std::size_t{1} << 20 : std::size_t{4} << 10;
    lineCapacity = (lineRoom + step - 1) / step * step;
    delete[] lineBuffer;
    lineBuffer = new char[lineCapacity];
  }
  char* end = formatJsonText(record, lineBuffer);
  *end++ = '\n';
  std::size_t lineSize = static_cast<std::size_t>(end - lineBuffer);
  // Note: the standard-output lock makes the line one step for every other writer,
  // including the exit, which takes the same lock, so no line is ever interleaved
  // or cut. Whatever the host left in stdio's buffer goes first, to keep order.
  flockfile(stdout);
  bool written = false;
  if (!outputFailed) {
    std::fflush(stdout);
    written = writeAll(standardOutput, {lineBuffer, lineSize});
    outputFailed = !written;
  }
  funlockfile(stdout);
  return written;
}

}  // namespace kel
