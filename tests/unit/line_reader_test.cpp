#include "commands/line_reader.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kel {
namespace {

constexpr std::size_t maxLine = LineSplitter::maxLineLength;

// Feeds input to a new splitter in pieces of at most chunk bytes (fewer when its
// free space is smaller), then ends the input; returns the lines handed on.
std::vector<std::string> split(const std::string& input, std::size_t chunk) {
  auto splitter = std::make_unique<LineSplitter>();
  std::vector<std::string> lines;
  const LineHandler collect = [&](std::string_view line) { lines.emplace_back(line); };
  for (std::size_t at = 0; at < input.size();) {
    std::span<char> space = freeSpace(*splitter);
    EXPECT_FALSE(space.empty());
    std::size_t count = std::min({chunk, space.size(), input.size() - at});
    std::memcpy(space.data(), input.data() + at, count);
    takeBytes(*splitter, count, collect);
    EXPECT_LE(splitter->pending, maxLine);
    at += count;
  }
  finishLines(*splitter, collect);
  return lines;
}

const std::size_t chunkSizes[] = {1, 2, 3, 7, 4096, maxLine, maxLine + 1, SIZE_MAX};

TEST(LineReaderTest, SplitsAtLineFeedsWhateverTheReadSizes) {
  struct Case {
    std::string input;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"\n", {""}},
      {"play\n", {"play"}},
      {"play\nnext\n", {"play", "next"}},
      {"play\n\nnext", {"play", "", "next"}},
      {"last line without a line feed", {"last line without a line feed"}},
      {"a\r\nb\r\n", {"a\r", "b\r"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"\n\n\n", {"", "", ""}},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : chunkSizes) {
      EXPECT_EQ(split(c.input, chunk), c.lines)
          << testing::PrintToString(c.input) << " in pieces of " << chunk;
    }
  }
}

TEST(LineReaderTest, DropsLinesLongerThanTheLimitAndGoesOn) {
  const std::string longest(maxLine, 'x');
  const std::string tooLong(maxLine + 1, 'y');
  const std::string huge(3 * maxLine + 5, 'z');
  struct Case {
    std::string name;
    std::string input;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"longest line kept", longest + "\nnext\n", {longest, "next"}},
      {"one byte more dropped", tooLong + "\nnext\n", {"next"}},
      {"several buffers dropped", huge + "\nnext", {"next"}},
      {"between short lines", "a\n" + tooLong + "\nb\n", {"a", "b"}},
      {"two in a row", tooLong + "\n" + huge + "\nc\n", {"c"}},
      {"longest kept at the end", "a\n" + longest, {"a", longest}},
      {"too long at the end", "a\n" + tooLong, {"a"}},
      {"too long then the limit", tooLong + "\n" + longest + "\n", {longest}},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : chunkSizes) {
      std::vector<std::string> lines = split(c.input, chunk);
      EXPECT_EQ(lines, c.lines) << c.name << " in pieces of " << chunk;
    }
  }
}

TEST(LineReaderTest, CommandTextEndsAtTheFirstNulAndMustBeValidUtf8) {
  struct Case {
    std::string line;
    std::optional<std::string> text;
  };
  const std::vector<Case> cases = {
      {"play", "play"},
      {"", ""},
      {std::string("pl\0ay", 5), "pl"},
      {std::string("\0play", 5), ""},
      {std::string("ok\0\xFF", 4), "ok"},  // What follows the NUL is not looked at.
      {"\xFF", std::nullopt},
      {"pl\xC3" "ay", std::nullopt},
      {std::string("\xFFok\0", 4), std::nullopt},
      {"se\xC3\xA9k", "se\xC3\xA9k"},
  };
  for (const Case& c : cases) {
    std::optional<std::string_view> text = commandText(c.line);
    std::optional<std::string> got;
    if (text) got = std::string(*text);
    EXPECT_EQ(got, c.text) << testing::PrintToString(c.line);
  }
}

TEST(LineReaderTest, ReadsToTheEndThroughInterruptedReads) {
  // A handler installed without SA_RESTART makes a blocked read fail with EINTR.
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);

  auto splitter = std::make_unique<LineSplitter>();
  std::vector<std::string> lines;
  std::atomic<bool> done = false;
  std::thread reader([&] {
    readLines(fds[0], *splitter, [&](std::string_view line) { lines.emplace_back(line); });
    done = true;
  });
  auto interrupt = [&] {
    // The reader is blocked in read nearly all the time, so most of these land there.
    for (int i = 0; i < 20 && !done; ++i) {
      pthread_kill(reader.native_handle(), SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  };
  ASSERT_EQ(write(fds[1], "pl", 2), 2);
  interrupt();
  ASSERT_EQ(write(fds[1], "ay\nne", 5), 5);
  interrupt();
  ASSERT_EQ(write(fds[1], "xt", 2), 2);
  interrupt();
  close(fds[1]);
  reader.join();
  close(fds[0]);
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{"play", "next"}));
}

}  // namespace
}  // namespace kel
