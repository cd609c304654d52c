#include "commands/line_reader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace kel {
namespace {

constexpr std::size_t maxLine = LineSplitter::maxLineLength;

// The lines between line feeds, and a last one without a line feed when not
// empty, leaving out those longer than the limit.
std::vector<std::string> referenceLines(const std::string& input) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = 0; (end = input.find('\n', start)) != std::string::npos; start = end + 1) {
    if (end - start <= maxLine) lines.push_back(input.substr(start, end - start));
  }
  if (start < input.size() && input.size() - start <= maxLine) lines.push_back(input.substr(start));
  return lines;
}

// Feeds input to a new splitter in reads of at most chunk bytes (fewer when its
// free space is smaller), then ends the input; returns the lines handed on.
std::vector<std::string> split(const std::string& input, std::size_t chunk) {
  LineSplitter splitter;
  std::vector<std::string> lines;
  const LineHandler collect = [&](std::string_view line) { lines.emplace_back(line); };
  for (std::size_t at = 0, count = 0; at < input.size(); at += count) {
    std::span<char> space = freeSpace(splitter);
    if (space.empty()) return {"no free space"};
    count = std::min({chunk, space.size(), input.size() - at});
    std::memcpy(space.data(), input.data() + at, count);
    takeBytes(splitter, count, collect);
    EXPECT_LE(splitter.pending, maxLine);  // Memory stays bounded.
  }
  finishLines(splitter, collect);
  return lines;
}

TEST(LineReaderTest, SplitsLikeTheReferenceWhateverTheReadSizes) {
  // Every pair of these lines, with and without a last line feed, in reads of every
  // size up to 16 bytes and of the sizes around the limit.
  const std::string lines[] = {"", std::string("a\0b\r", 4), std::string(maxLine - 1, 'w'),
                               std::string(maxLine, 'x'), std::string(maxLine + 1, 'y'), std::string(3 * maxLine + 5, 'z')};
  std::vector<std::size_t> chunks = {4096, maxLine - 1, maxLine, maxLine + 1, SIZE_MAX};
  for (std::size_t chunk = 1; chunk <= 16; ++chunk) chunks.push_back(chunk);
  for (std::size_t i = 0; i < 6 * 6 * 2; ++i) {
    const std::string input = lines[i / 12] + "\n" + lines[i / 2 % 6] + (i % 2 == 0 ? "" : "\n");
    for (std::size_t chunk : chunks) {
      ASSERT_EQ(split(input, chunk), referenceLines(input)) << input.size() << " bytes in reads of " << chunk;
    }
  }
}

TEST(LineReaderTest, ReadsToTheEndThroughInterruptedAndEmptyReads) {
  // A handler installed without SA_RESTART makes a blocked read fail with EINTR; a
  // non-blocking pipe makes a read between the pieces fail with EAGAIN.
  struct sigaction action {}, previous {};
  action.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  for (bool nonBlocking : {false, true}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    if (nonBlocking) fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    LineSplitter splitter;
    std::vector<std::string> lines;
    std::thread reader([&] { readLines(fds[0], splitter, [&](std::string_view line) { lines.emplace_back(line); }); });
    for (std::string_view piece : {"pl", "ay\nne", "xt"}) {
      EXPECT_EQ(write(fds[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
      // The reader, which cannot finish before the pipe is closed, is blocked nearly
      // all the time, so most of these land there.
      for (int i = 0; i < 20; ++i) {
        pthread_kill(reader.native_handle(), SIGUSR1);
        usleep(2000);
      }
    }
    close(fds[1]);
    reader.join();
    close(fds[0]);
    EXPECT_EQ(lines, (std::vector<std::string>{"play", "next"})) << "non-blocking: " << nonBlocking;
  }
  sigaction(SIGUSR1, &previous, nullptr);
}

}  // namespace
}  // namespace kel
