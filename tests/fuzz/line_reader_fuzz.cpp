// The line splitter over any byte stream, split into reads at any points: the lines
// are those of the stream read in pieces as large as the buffer takes, and those of
// a plain reference splitter; the buffer never holds more than the longest line.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "commands/line_reader.h"
#include "fuzz_support.h"

namespace kel {
namespace {

constexpr std::size_t maxLine = LineSplitter::maxLineLength;

// The lines between line feeds, and a last one without a line feed, leaving out
// those longer than the limit.
std::vector<std::string> referenceLines(std::string_view stream) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < stream.size();) {
    std::size_t end = std::min(stream.find('\n', start), stream.size());
    if (end - start <= maxLine) lines.emplace_back(stream.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The lines of stream read in reads of the given sizes, taken in turn (each no
// larger than the free space), or of the whole free space when there are none.
std::vector<std::string> splitLines(std::string_view stream, const std::vector<std::size_t>& reads) {
  LineSplitter splitter;
  std::vector<std::string> lines;
  const LineHandler collect = [&](std::string_view line) { lines.emplace_back(line); };
  for (std::size_t at = 0, turn = 0; at < stream.size(); ++turn) {
    std::span<char> space = freeSpace(splitter);
    fuzz::check(!space.empty(), "there is always room for the next read");
    std::size_t wanted = reads.empty() ? space.size() : reads[turn % reads.size()];
    std::size_t count = std::min({wanted, space.size(), stream.size() - at});
    std::memcpy(space.data(), stream.data() + at, count);
    takeBytes(splitter, count, collect);
    at += count;
    fuzz::check(splitter.pending <= maxLine, "the buffer holds no more than the longest line");
  }
  finishLines(splitter, collect);
  return lines;
}

// The stream, from pieces: a byte below 0x80 is a count of bytes that follow as
// they are; any other is a run: one byte, then three bytes of repetitions, so that
// a small input can hold lines around the limit.
std::string streamFrom(fuzz::FuzzInput& input) {
  std::string stream;
  while (!input.empty() && stream.size() < 4 * maxLine) {
    std::uint8_t tag = input.byte();
    if (tag < 0x80) {
      std::vector<std::uint8_t> bytes = input.bytes(tag);
      stream.append(bytes.begin(), bytes.end());
    } else {
      char repeated = static_cast<char>(input.byte());
      stream.append(static_cast<std::size_t>(input.bits(3)) % (2 * maxLine + 3), repeated);
    }
  }
  return stream;
}

}  // namespace
}  // namespace kel

// A count of read sizes (below 8), each of three bytes, then the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  fuzz::FuzzInput input{data, size};
  std::vector<std::size_t> reads(input.byte() % 8);
  for (std::size_t& read : reads) read = static_cast<std::size_t>(input.bits(3)) % (maxLine + 2) + 1;
  std::string stream = streamFrom(input);
  std::vector<std::string> expected = referenceLines(stream);
  fuzz::check(splitLines(stream, {}) == expected, "read in whole buffers, the lines of the reference");
  fuzz::check(splitLines(stream, reads) == expected, "read in any pieces, the lines of the reference");
  return 0;
}
