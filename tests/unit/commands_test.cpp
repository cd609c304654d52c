#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

#include "commands/handle_command.h"
#include "commands/line_reader.h"
#include "commands/number_reader.h"
#include "commands/trim.h"
#include "support.h"

namespace kel {
namespace {

// Tells zeros of different signs apart.
std::pair<double, bool> withSign(double value) { return {value, std::signbit(value)}; }

TEST(NumberReaderTest, AgreesWithStrtodOnTheFormItReads) {
  // In the C locale strtod reads the same form, rounding and range, in text holding
  // nothing it reads beyond the form. First the edges of range and precision, and
  // characters above 0x7F, then random text over the characters of the form.
  const std::string nines(30, '9'), zeros(400, '0');
  std::vector<std::string> texts = {
      "-0", "0.1000000000000000055511151231257827", "4.9e-324", "2.4e-324", "1.7976931348623157e308",
      "1.7976931348623159e308", "1" + zeros, "0." + zeros + "1e50", zeros + "e999", "0.001e310", "-1e-999",
      "1e" + nines, "0.0000001e" + nines, "1e-" + nines, "1000e-" + nines, "0e" + nines, "-1e" + nines,
      "\xC2\xA0" "5", "\xD9\xA1\xD9\xA2", "\xEF\xBC\x91", "1,5", "5e-x", "-12.5e1\xFF",
  };
  const std::string alphabet = "0123456789012345678901234567890123456789..++--eeE \t!";
  std::mt19937 random(20240611);
  for (int round = 0; round < 30000; ++round) {
    std::string& text = texts.emplace_back();
    for (std::size_t i = random() % 25; i > 0; --i) text += alphabet[random() % alphabet.size()];
  }
  for (const std::string& text : texts)
    ASSERT_EQ(withSign(readNumber(text)), withSign(std::strtod(text.c_str(), nullptr))) << testing::PrintToString(text);
  // What strtod reads beyond the form: other whitespace, infinities, NaN, hexadecimal.
  for (const char* text : {"\n5", "\v5", "\r5", "\f5", "inf", "-inf", "infinity", "nan", "NaN", "0x10", "0X1p3"})
    EXPECT_EQ(withSign(readNumber(text)), withSign(0.0)) << testing::PrintToString(text);
}

// The set of Foundation's whitespaceAndNewlineCharacterSet: Unicode's Z categories,
// U+0009 to U+000D and U+0085.
constexpr char32_t whitespace[] = {0x9,    0xA,    0xB,    0xC,    0xD,    0x20,   0x85,   0xA0,   0x1680,
                                   0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                   0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};

TEST(TrimTest, TrimsExactlyTheWhitespaceAndNewlineCharacters) {
  for (char32_t c = 0; c <= 0x10FFFF && !HasFatalFailure(); ++c) {
    const bool member = std::find(std::begin(whitespace), std::end(whitespace), c) != std::end(whitespace);
    ASSERT_EQ(isWhitespaceOrNewline(c), member) << std::hex << unsigned(c);
    if (!member && c > 0x3100 && c % 97 != 0 && (c < 0xD800 || c > 0xDFFF)) continue;
    // Encoded surrogates are not UTF-8, so they are text.
    const std::string e = test::utf8(c), inner = "a" + e + "b", text = e + " \t" + inner + "\n" + e;
    ASSERT_EQ(trimWhitespace(text), member ? inner : text) << std::hex << unsigned(c);
    ASSERT_EQ(trimWhitespace(" " + e + "\r\n"), member ? "" : e) << std::hex << unsigned(c);
  }
  // Bytes that are not UTF-8 are text: a stray byte, U+3000 cut short, a stray byte between two U+2028.
  const std::pair<std::string, std::string> notUtf8[] = {{"\xFF play ", "\xFF play"}, {" play \x80", "play \x80"},
      {" \xE3\x80 ", "\xE3\x80"}, {"\xE2\x80\xA8\x80\xE2\x80\xA8", "\x80"}};
  for (const auto& [text, trimmed] : notUtf8) EXPECT_EQ(trimWhitespace(text), trimmed) << testing::PrintToString(text);
}

TEST(CommandTest, EachWordGivesItsCommandAndSeeksGoNowhereBelowZero) {
  using Kind = Command::Kind;
  struct Case { std::string_view line; Kind kind; std::int32_t code = 0; double seconds = 0; };
  const Case cases[] = {
      {"play", Kind::send, 0}, {"pause", Kind::send, 1}, {"toggle", Kind::send, 2}, {"next", Kind::send, 4},
      {"previous", Kind::send, 5}, {"refresh", Kind::refresh}, {"  play \r\n", Kind::send, 0},
      {"\xC2\xA0\xE3\x80\x80toggle\xE2\x80\xA8\xC2\x85", Kind::send, 2}, {"\xE2\x80\x8Bplay", Kind::none},
      {"Play", Kind::none}, {"play now", Kind::none}, {"stop", Kind::none}, {"", Kind::none},
      {"seek 12.5", Kind::seek, 0, 12.5}, {"seek  \t7", Kind::seek, 0, 7}, {"seek 5abc", Kind::seek, 0, 5},
      {"seek -0", Kind::seek, 0, 0}, {"seek -1e-999", Kind::seek, 0, 0}, {"seek x", Kind::seek, 0, 0},
      {"seek -1", Kind::none}, {"seek -0.001", Kind::none}, {"seek 1e999", Kind::none}, {"seek", Kind::none},
      {"seek\t5", Kind::none}, {"Seek 5", Kind::none},
  };
  for (const Case& c : cases) {
    Command command = interpretCommand(c.line);
    EXPECT_EQ(std::tuple(command.kind, command.code, withSign(command.seconds)),
              std::tuple(c.kind, c.code, withSign(c.seconds))) << testing::PrintToString(std::string(c.line));
  }
  // The bytes a command sees: up to a NUL, and nothing unless valid UTF-8.
  EXPECT_EQ(std::tuple(commandText(std::string_view("next\0\xFF", 6)), commandText("pause\xFF"), commandText("caf\xC3\xA9")),
            std::tuple("next", std::nullopt, "caf\xC3\xA9"));
}

constexpr std::size_t maxLine = 65536;  // The bound itself, not the code's constant.

// Feeds input to a new splitter in reads of at most chunk bytes, then ends the input.
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

TEST(LineReaderTest, HandsOnEveryLineUpTo65536BytesWhateverTheReadSizes) {
  // Every pair of these lines, with and without a last line feed.
  const std::string lines[] = {"", std::string("a\0b\r", 4), std::string(maxLine - 1, 'w'),
                               std::string(maxLine, 'x'), std::string(maxLine + 1, 'y'), std::string(3 * maxLine + 5, 'z')};
  for (std::size_t i = 0; i < 6 * 6 * 2; ++i) {
    const std::string& first = lines[i / 12], & second = lines[i / 2 % 6];
    const std::string input = first + "\n" + second + (i % 2 == 0 ? "" : "\n");
    std::vector<std::string> expected;  // A last line is one when it ends with a line feed or is not empty.
    if (first.size() <= maxLine) expected.push_back(first);
    if (second.size() <= maxLine && (!second.empty() || i % 2 == 1)) expected.push_back(second);
    for (std::size_t chunk : {std::size_t{1}, std::size_t{5}, std::size_t{4096}, maxLine - 1, maxLine, maxLine + 1, SIZE_MAX})
      ASSERT_EQ(split(input, chunk), expected) << input.size() << " bytes in reads of " << chunk;
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
      // The reader cannot finish before the pipe is closed, so most signals find it blocked.
      for (int i = 0; i < 10; ++i) {
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
