#include "output/write_line.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <future>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../readback/readback_log.h"
#include "output/base64.h"

namespace kel {
namespace {

// Standard output redirected into a pipe while the object lives. Standard output
// is made fully buffered, so that only a flush by writeLine itself puts the bytes
// into the pipe.
struct StdoutPipe {
  int readEnd = -1;
  int savedStdout = -1;

  StdoutPipe() {
    int ends[2];
    std::fflush(stdout);
    if (pipe(ends) != 0) ADD_FAILURE() << "no pipe";
    readEnd = ends[0];
    savedStdout = dup(STDOUT_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    close(ends[1]);
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  }

  // Ends the redirection; the pipe then reads to its end.
  void restore() {
    if (savedStdout < 0) return;
    std::fflush(stdout);
    dup2(savedStdout, STDOUT_FILENO);
    close(savedStdout);
    savedStdout = -1;
  }

  ~StdoutPipe() {
    restore();
    close(readEnd);
  }

  // What the pipe holds now, without waiting for more.
  std::string available() const {
    std::string text;
    char chunk[4096];
    pollfd poller{readEnd, POLLIN, 0};
    while (poll(&poller, 1, 0) == 1 && (poller.revents & POLLIN)) {
      ssize_t count = read(readEnd, chunk, sizeof chunk);
      if (count <= 0) break;
      text.append(chunk, std::size_t(count));
    }
    return text;
  }

  // Reads everything up to the end, on another thread, so that writers of lines
  // larger than the pipe can go on.
  std::future<std::string> readAll() const {
    return std::async(std::launch::async, [fd = readEnd] {
      std::string text;
      char chunk[1 << 16];
      for (ssize_t count; (count = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, std::size_t(count));
      return text;
    });
  }
};

std::vector<std::uint8_t> randomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(count);
  for (auto& byte : bytes) byte = std::uint8_t(random());
  return bytes;
}

std::string escapedBase64(std::span<const std::uint8_t> bytes) {
  std::string text(base64EscapedSize(bytes), '\0');
  encodeBase64Escaped(bytes, text.data());
  return text;
}

TEST(WriteLineTest, WritesEachRecordAsOneLineFlushedBeforeReturning) {
  const std::vector<std::uint8_t> art = {0xFF, 0xFF, 0xFE, 0x00};
  Record unavailable, noPlayer, state, artwork;
  unavailable.set("error", std::string_view("unavailable"));
  noPlayer.set("bundle", nullptr);
  state.set("bundle", std::string_view("com.example.player"));
  state.set("playing", false);
  state.set("title", std::string_view("Tab\tand \"Tom\" \xE2\x99\xAA"));
  state.set("duration", std::int64_t{215});
  state.set("elapsed", 12.25);
  artwork.set("artwork", Base64Text{art});
  artwork.set("artworkMIME", std::string_view("image/png"));
  struct Case {
    const Record& record;
    std::string_view expected;
  } cases[] = {
      {unavailable, "{\"error\":\"unavailable\"}\n"},
      {noPlayer, "{\"bundle\":null}\n"},
      {state,
       "{\"bundle\":\"com.example.player\",\"playing\":false,"
       "\"title\":\"Tab\\tand \\\"Tom\\\" \xE2\x99\xAA\",\"duration\":215,\"elapsed\":12.25}\n"},
      {artwork, "{\"artwork\":\"\\/\\/\\/+AA==\",\"artworkMIME\":\"image\\/png\"}\n"},
  };
  // Checked once standard output is back, where failures can be reported.
  std::vector<std::string> lines;
  StdoutPipe out;
  for (const Case& c : cases) {
    writeLine(c.record);
    lines.push_back(out.available());
  }
  out.restore();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], cases[i].expected);
    readback::log("write_line_test", cases[i].record,
                  std::string_view(lines[i]).substr(0, lines[i].size() - 1));
  }
}

TEST(WriteLineTest, WritesNothingAtAllForARecordWithANonFiniteNumber) {
  std::vector<std::string> outputs;
  StdoutPipe out;
  for (double bad :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    Record record;
    record.set("bundle", std::string_view("com.example.player"));
    record.set("timestamp", bad);
    record.set("playing", true);
    writeLine(record);
    outputs.push_back(out.available());
  }
  out.restore();
  outputs.push_back(out.available());  // Nothing left unflushed either.
  for (const std::string& output : outputs) EXPECT_EQ(output, "");
}

TEST(WriteLineTest, WritesFourMebibytesOfArtworkAsOneLine) {
  std::vector<std::uint8_t> art = randomBytes(4 << 20, 1);
  std::string base64 = escapedBase64(art);
  Record record;
  record.set("artwork", Base64Text{art});
  StdoutPipe out;
  std::future<std::string> text = out.readAll();
  writeLine(record);
  out.restore();
  std::string line = text.get();
  EXPECT_TRUE(line == "{\"artwork\":\"" + base64 + "\"}\n") << line.size() << " bytes";
  readback::log("write_line_test", record, std::string_view(line).substr(0, line.size() - 1));
}

TEST(WriteLineTest, LinesFromSeveralThreadsNeverInterleave) {
  // Every line is larger than a pipe holds, so writers block in mid-line.
  constexpr int threads = 4;
  constexpr int linesPerThread = 12;
  std::vector<std::vector<std::uint8_t>> arts;
  for (int i = 0; i < threads * linesPerThread; ++i) {
    arts.push_back(randomBytes(std::size_t(66000 + 2003 * i), unsigned(i)));
  }
  auto recordOf = [&](int i) {
    Record record;
    record.set("line", std::int64_t{i});
    record.set("artwork", Base64Text{arts[std::size_t(i)]});
    return record;
  };
  StdoutPipe out;
  std::future<std::string> text = out.readAll();
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = t * linesPerThread; i < (t + 1) * linesPerThread; ++i) writeLine(recordOf(i));
    });
  }
  for (auto& writer : writers) writer.join();
  out.restore();
  std::string all = text.get();

  // Every line whole, once, and each thread's lines in the order it wrote them.
  std::vector<int> next(threads);
  int count = 0;
  for (std::size_t start = 0; start < all.size(); ++count) {
    std::size_t end = all.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "the output ends inside a line";
    std::string_view line(all.data() + start, end - start);
    int i = -1;
    constexpr std::string_view head = "{\"line\":";
    if (line.starts_with(head))
      std::from_chars(line.data() + head.size(), line.data() + line.size(), i);
    ASSERT_TRUE(i >= 0 && i < threads * linesPerThread) << line.substr(0, 40);
    EXPECT_EQ(i % linesPerThread, next[std::size_t(i / linesPerThread)]++) << "line " << i;
    Record record = recordOf(i);
    EXPECT_TRUE(line == "{\"line\":" + std::to_string(i) + ",\"artwork\":\"" +
                            escapedBase64(arts[std::size_t(i)]) + "\"}")
        << "line " << i << " was cut or mixed";
    readback::log("write_line_test", record, line);
    start = end + 1;
  }
  EXPECT_EQ(count, threads * linesPerThread);
}

}  // namespace
}  // namespace kel
