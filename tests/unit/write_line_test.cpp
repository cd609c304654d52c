#include "output/write_line.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <future>
#include <limits>
#include <map>
#include <thread>

#include "../readback/readback_log.h"
#include "output/json_text.h"

namespace kel {
namespace {

// Standard output redirected into a pipe until restore(), and made fully buffered, so
// that only writeLine's own flush puts bytes into the pipe.
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
    for (ssize_t count; poll(&poller, 1, toTheEnd ? -1 : 0) == 1 &&
                        (count = ::read(ends[0], chunk, sizeof chunk)) > 0;)
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
  for (std::size_t i = 0; i < 2; ++i)
    readback::log("write_line_test", records[i], std::string_view(lines[i]).substr(0, lines[i].size() - 1));
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

}  // namespace
}  // namespace kel
