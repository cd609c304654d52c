#include "commands/line_reader.h"

#include <cstring>

#include "platform/io.h"
#include "text/utf8.h"

namespace kel {

std::span<char> freeSpace(LineSplitter& splitter) {
  return std::span<char>(splitter.buffer).subspan(splitter.pending);
}

void takeBytes(LineSplitter& splitter, std::size_t count, const LineHandler& onLine) {
  char* data = splitter.buffer.data();
  std::size_t end = splitter.pending + count;
  std::size_t lineStart = 0;
  // The bytes already pending hold no line feed; only the new ones are searched.
  std::size_t searchFrom = splitter.pending;
  while (searchFrom < end) {
    auto* found = static_cast<char*>(std::memchr(data + searchFrom, '\n', end - searchFrom));
    if (found == nullptr) break;
    auto lineEnd = static_cast<std::size_t>(found - data);
    if (!splitter.discarding) onLine({data + lineStart, lineEnd - lineStart});
    splitter.discarding = false;
    lineStart = searchFrom = lineEnd + 1;
  }
  std::size_t rest = end - lineStart;
  if (splitter.discarding || rest > LineSplitter::maxLineLength) {
    // The buffer is full without a line feed: the line is too long. From here on
    // every byte up to its line feed is dropped, and the buffer is free again.
    splitter.discarding = true;
    splitter.pending = 0;
    return;
  }
  std::memmove(data, data + lineStart, rest);
  splitter.pending = rest;
}

void finishLines(LineSplitter& splitter, const LineHandler& onLine) {
  if (!splitter.discarding && splitter.pending > 0) onLine({splitter.buffer.data(), splitter.pending});
  splitter.pending = 0;
  splitter.discarding = false;
}

void readLines(int fd, LineSplitter& splitter, const LineHandler& onLine) {
  for (;;) {
    std::span<char> space = freeSpace(splitter);
    std::ptrdiff_t count = readSome(fd, space);
    if (count <= 0) break;
    takeBytes(splitter, static_cast<std::size_t>(count), onLine);
  }
  finishLines(splitter, onLine);
}

std::optional<std::string_view> commandText(std::string_view line) {
  std::string_view text = line.substr(0, line.find('\0'));
  if (!isValidUtf8(text)) return std::nullopt;
  return text;
}

}  // namespace kel
