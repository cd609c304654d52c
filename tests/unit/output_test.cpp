#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <limits>
#include <map>
#include <thread>

#include "output/json_text.h"
#include "output/write_line.h"
#include "support.h"

namespace kel {
namespace {

// The JSON text of value alone, from the record {"v":value}, checked to fill exactly
// its promised size and room.
std::string valueText(Value value) {
  Record record;
  record.set("v", value);
  std::string text = jsonText(record).value_or(""), buffer(text.size() + 8, '\x55');
  EXPECT_EQ(jsonTextSize(record).value_or(0), text.size());
  EXPECT_EQ(jsonTextRoom(record).value_or(0), text.size());
  if (!text.empty()) formatJsonText(record, buffer.data());
  EXPECT_TRUE(buffer == text + std::string(8, '\x55')) << "another text, or one past its size";
  return text.size() < 6 ? text : text.substr(5, text.size() - 6);
}

TEST(JsonStringTest, WritesEveryScalarValueAsItsUtf8BytesOrItsEscape) {
  // The escapes: two characters where RFC 8259 has them, "/" escaped too, and "\u00XX"
  // for the other control characters.
  const std::string_view shortForms = "\"\\/\b\f\n\r\t", letters = "\"\\/bfnrt";
  std::string all, expected = "\"";
  for (char32_t c = 0; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;  // Surrogates are not scalar values.
    std::size_t at = c < 0x80 ? shortForms.find(char(c)) : shortForms.npos;
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
    expected += at != shortForms.npos ? std::string{'\\', letters[at]} : c < 0x20 ? escape : test::utf8(c);
    all += test::utf8(c);
  }
  std::string text = valueText(std::string_view(all));
  std::size_t same = std::mismatch(text.begin(), text.end(), expected.begin(), expected.end()).first - text.begin();
  EXPECT_TRUE(text == expected + '"') << "from byte " << same << ": " << text.substr(same, 32)
                                      << "\nand not: " << expected.substr(same, 32);
}

TEST(JsonStringTest, ReplacesEachMaximalIllFormedSubpartWithOneReplacementCharacter) {
  // After the Unicode standard's table of well-formed byte sequences (3-7) and its
  // example of maximal subparts (3-8), with bytes above 0x7F in every place.
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> cases[] = {
      {"a\xF1\x80\x80\xE1\x80\xC2" "b\x80" "c\x80\xBF" "d", "a" + r + r + r + "b" + r + "c" + r + r + "d"},
      {"\xC0\x80\xC1\xBF", r + r + r + r},                 // Overlong two-byte forms.
      {"\xC2\x80\xDF\xBF", "\xC2\x80\xDF\xBF"},            // The two-byte edges.
      {"\xE0\x9F\x80\xE0\xA0\x80", r + r + r + "\xE0\xA0\x80"},  // E0 takes A0..BF.
      {"\xED\xA0\x80\xED\x9F\xBF", r + r + r + "\xED\x9F\xBF"},  // ED: no surrogates.
      {"\xF0\x8F\xBF\xBF\xF0\x90\x80\x80", r + r + r + r + "\xF0\x90\x80\x80"},
      {"\xF4\x90\x80\x80\xF4\x8F\xBF\xBF", r + r + r + r + "\xF4\x8F\xBF\xBF"},  // Nothing above U+10FFFF.
      {"\xF5\xFE\xFF\x80\xBF", r + r + r + r + r},         // Never in UTF-8.
      {"\xE2\x82\xE2\x82\xAC/", r + "\xE2\x82\xAC\\/"},    // A new lead ends the subpart.
      {"\xF3\xBF\xBF", r},                                 // Cut short at the end.
      {"\xEF\xBF\xBD\x7F", r + "\x7F"},
  };
  for (const auto& [input, text] : cases)
    EXPECT_EQ(valueText(std::string_view(input)), '"' + text + '"') << testing::PrintToString(input);
}

TEST(JsonNumberTest, WritesTheShortestTextThatReadsBackExactly) {
  using Limits = std::numeric_limits<double>;
  const std::pair<Value, std::string_view> cases[] = {
      {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"}, {-0.0, "-0"}, {215.0, "215"}, {0.1, "0.1"},
      {-Limits::denorm_min(), "-5e-324"}, {Limits::max(), "1.7976931348623157e+308"},
      {Limits::min(), "2.2250738585072014e-308"}, {1e21, "1e+21"}, {123456.789, "123456.789"}};
  for (const auto& [value, expected] : cases) EXPECT_EQ(valueText(value), expected);
}

// Standard output redirected into a pipe until restore(), and fully buffered, so that
// only writeLine's own flush puts bytes into the pipe.
struct StdoutPipe {
  int ends[2] = {-1, -1}, saved = dup(STDOUT_FILENO);
  StdoutPipe() {
    EXPECT_EQ(pipe(ends), 0);
    std::fflush(stdout);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  }
  ~StdoutPipe() { close(ends[0]); }
  void restore() {
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  // What the pipe holds now or, with toTheEnd, all it will hold once restored.
  std::string read(bool toTheEnd) const {
    std::string text;
    char chunk[1 << 16];
    pollfd poller{ends[0], POLLIN, 0};
    for (ssize_t count; poll(&poller, 1, toTheEnd ? -1 : 0) == 1 && (count = ::read(ends[0], chunk, sizeof chunk)) > 0;)
      text.append(chunk, std::size_t(count));
    return text;
  }
};

TEST(WriteLineTest, WritesEachRecordAsOneLineFlushedBeforeReturningOrNothingAtAll) {
  const std::uint8_t art[] = {0xFF, 0xFF, 0xFE, 0x00};
  std::vector<Record> records(2);
  records[1].set("title", std::string_view("AC/DC\n"));
  records[1].set("a\\b/c", nullptr);
  records[1].set("playing", false);
  records[1].set("artwork", Base64Text{art});
  // A NaN or an infinity in any place: nothing at all, not even a line feed.
  using Limits = std::numeric_limits<double>;
  const double bad[] = {Limits::quiet_NaN(), -Limits::infinity(), Limits::infinity(), -Limits::quiet_NaN()};
  for (std::size_t at = 0; at < 4; ++at) {
    Record& record = records.emplace_back();
    for (std::size_t i = 0; i < 3; ++i) record.set(std::string_view("abc").substr(i, 1), i == at % 3 ? bad[at] : 1.0);
  }
  std::vector<std::string> lines;  // Checked once standard output is back, where failures show.
  StdoutPipe out;
  for (const Record& record : records) {
    writeLine(record);
    lines.push_back(out.read(false));
  }
  out.restore();
  lines.push_back(out.read(true));  // Nothing left unflushed.
  EXPECT_EQ(lines[0], "{}\n");
  EXPECT_EQ(lines[1], R"({"title":"AC\/DC\n","a\\b\/c":null,"playing":false,"artwork":"\/\/\/+AA=="})" "\n");
  for (std::size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(lines[i], "") << "record " << i;
}

TEST(WriteLineTest, LinesFromSeveralThreadsNeverInterleave) {
  // Every line is larger than a pipe holds, so writers block in mid-line.
  constexpr int threads = 4, lineCount = 48;
  const std::vector<std::uint8_t> art(100000, 0xFB);  // "+/v7" in Base64, with escapes.
  auto recordOf = [&](int i) {
    Record record;
    record.set("line", std::int64_t{i});
    record.set("artwork", Base64Text{std::span(art).first(std::size_t(50000 + 1000 * i))});
    return record;
  };
  std::map<std::string, int, std::less<>> numbers;  // Each line as it must come, and its number.
  for (int i = 0; i < lineCount; ++i) numbers[jsonText(recordOf(i)).value_or("") + '\n'] = i;
  StdoutPipe out;
  std::future<std::string> text = std::async(std::launch::async, [&out] { return out.read(true); });
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t)
    writers.emplace_back([&, t] { for (int i = t; i < lineCount; i += threads) writeLine(recordOf(i)); });
  for (auto& writer : writers) writer.join();
  out.restore();
  std::string all = text.get();
  // Every line whole, once, and each thread's lines in the order it wrote them.
  std::vector<int> next(threads);
  for (std::size_t start = 0, end; start < all.size(); start = end) {
    end = std::min(all.find('\n', start), all.size() - 1) + 1;
    auto found = numbers.find(std::string_view(all).substr(start, end - start));
    ASSERT_TRUE(found != numbers.end()) << "a line cut or mixed at byte " << start;
    EXPECT_EQ(found->second / threads, next[std::size_t(found->second % threads)]++);
  }
  EXPECT_EQ(next, std::vector<int>(threads, lineCount / threads));
}

TEST(WriteLineTest, HoldsTheStandardOutputLockUntilTheLineIsWhole) {
  // The exit takes the same lock, so it can never end the process in mid-line.
  const std::vector<std::uint8_t> art(1 << 20);
  Record record;
  record.set("artwork", Base64Text{art});
  StdoutPipe out;
  std::thread writer([&] { writeLine(record); });
  pollfd started{out.ends[0], POLLIN, 0};  // The pipe fills, and nobody reads it yet.
  ASSERT_EQ(poll(&started, 1, 10000), 1);
  const bool free = ftrylockfile(stdout) == 0;
  if (free) funlockfile(stdout);
  std::future<std::string> text = std::async(std::launch::async, [&out] { return out.read(true); });
  writer.join();
  out.restore();
  EXPECT_FALSE(free) << "the lock was free in mid-line";
  EXPECT_EQ(text.get(), jsonText(record).value_or("") + "\n");
}

}  // namespace
}  // namespace kel
