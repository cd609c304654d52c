#include "output/write_line.h"

#include <cstdio>
#include <memory>

#include "output/json_text.h"

namespace kel {

void writeLine(const Record& record) {
  std::optional<std::size_t> size = jsonTextSize(record);
  if (!size) return;
  // The whole line goes into one buffer sized once: lines with artwork run to
  // several megabytes, and nothing may copy or grow them on the way out.
  std::size_t lineSize = *size + 1;
  // Left uninitialised: every byte is written below.
  std::unique_ptr<char[]> line(new char[lineSize]);
  *formatJsonText(record, line.get()) = '\n';
  // Note: the lock makes the write and the flush one step for every other writer
  // of standard output, including the exit that takes the same lock, so no line
  // is ever interleaved or cut. Write errors are ignored: there is no one to tell.
  flockfile(stdout);
  std::fwrite(line.get(), 1, lineSize, stdout);
  std::fflush(stdout);
  funlockfile(stdout);
}

}  // namespace kel
