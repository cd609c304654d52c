#pragma once
// Splitting standard input into command lines in one fixed buffer. The bytes are
// read straight into the buffer; a line stays there until its line feed arrives,
// so memory never grows with the input.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

namespace kel {

// Receives each complete line, without its line feed. The view is valid only for
// the call.
using LineHandler = std::function<void(std::string_view line)>;

// The state of the split between two reads.
// Note: a line with more than maxLineLength bytes before its line feed is not a
// command. Its bytes are dropped as they arrive, up to and including its line
// feed, and it is never handed on.
struct LineSplitter {
  static constexpr std::size_t maxLineLength = 65536;
  // Room for the longest line and one byte more, which shows whether it ends there.
  std::array<char, maxLineLength + 1> buffer;
  // The bytes of the unfinished line, at the start of buffer.
  std::size_t pending = 0;
  // True while the bytes of a line found too long are being dropped.
  bool discarding = false;
};

// Where the next bytes read go; never empty.
std::span<char> freeSpace(LineSplitter& splitter);

// Takes count bytes just written to the start of freeSpace(splitter), and calls
// onLine for every line they complete.
void takeBytes(LineSplitter& splitter, std::size_t count, const LineHandler& onLine);

// The input has ended: a last line without a line feed is handed on like any other.
void finishLines(LineSplitter& splitter, const LineHandler& onLine);

// Blocks reading fd until its end, or a read error, which counts as the end, and
// hands on every line, the last one included. A read interrupted by a signal, or
// one that finds a non-blocking fd empty, is not an error: it is retried, and
// splits no line.
void readLines(int fd, LineSplitter& splitter, const LineHandler& onLine);

// The text of a line as a command sees it: the bytes before its first NUL byte,
// when they are valid UTF-8; nothing when they are not.
std::optional<std::string_view> commandText(std::string_view line);

}  // namespace kel
