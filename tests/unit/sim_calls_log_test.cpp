// The calls log, the scenario's own thread, the command delay and the host's
// set-up: what the tests of the bridge read back must be exact.

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/notification_center.h"
#include "sim/sim.h"
#include "sim/simulator.h"

namespace kel::sim {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

std::filesystem::path outputPath(const std::string& name) {
  const char* output = std::getenv("KEL_TEST_OUTPUT");
  std::filesystem::path dir = output != nullptr ? output : std::filesystem::temp_directory_path().string();
  std::filesystem::create_directories(dir);
  return dir / ("sim-log-" + std::to_string(getpid()) + "-" + name);
}

std::string writeFile(const std::string& name, const std::string& text) {
  auto path = outputPath(name);
  std::ofstream(path) << text;
  return path.string();
}

// Every line of the log, each parsed by an independent reader.
std::vector<Json> readLog(const std::string& path) {
  std::ifstream file(path);
  std::vector<Json> lines;
  for (std::string line; std::getline(file, line);) {
    Json parsed = Json::parse(line, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << line;
    lines.push_back(parsed);
  }
  return lines;
}

// Counts the service's own notifications (and one of the tests' choosing), each
// observer added once for the whole program.
struct Posted {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> names;
  std::string logPath;
  // For each notification: the number of log lines when its observer ran.
  std::vector<std::size_t> logLinesSeen;
};

Posted& posted() {
  static Posted& posts = *new Posted;
  static bool observing = [] {
    for (std::string_view name : {"kMRMediaRemoteNowPlayingInfoDidChangeNotification",
                                  "kMRMediaRemoteNowPlayingApplicationIsPlayingDidChangeNotification",
                                  "kMRMediaRemoteNowPlayingApplicationDidChangeNotification",
                                  "kMRMediaRemoteNowPlayingPlaybackQueueChangedNotification", "kelTestPing"}) {
      addObserver(name, [name] {
        Posted& p = posted();
        std::lock_guard lock(p.mutex);
        p.names.emplace_back(name);
        p.logLinesSeen.push_back(p.logPath.empty() ? 0 : readLog(p.logPath).size());
        p.arrived.notify_all();
      });
    }
    return true;
  }();
  (void)observing;
  return posts;
}

void resetPosted(const std::string& logPath) {
  Posted& p = posted();
  std::lock_guard lock(p.mutex);
  p.names.clear();
  p.logLinesSeen.clear();
  p.logPath = logPath;
}

std::vector<std::string> waitForPosts(std::size_t count) {
  Posted& p = posted();
  std::unique_lock lock(p.mutex);
  p.arrived.wait_for(lock, 10s, [&] { return p.names.size() >= count; });
  return p.names;
}

TEST(CallsLogTest, LogsEveryCallAndPostWithRisingTimes) {
  std::string log = outputPath("calls.jsonl").string();
  std::ofstream(log) << "left over from before\n";
  resetPosted(log);
  ASSERT_EQ(configure(writeFile("posts.jsonl", R"({"post": "kelTestPing"})"
                                               "\n"
                                               R"({"sleep": 20})"
                                               "\n"
                                               R"({"post": "kMRMediaRemoteNowPlayingInfoDidChangeNotification"})"),
                      log),
            "");
  EXPECT_TRUE(readLog(log).empty());  // Truncated by configure.

  Queue queue = createQueue("test.log");
  registerForNowPlayingNotifications(queue);
  EXPECT_EQ(waitForPosts(2).size(), 2u);

  // Each call's line is in the file before the call returns.
  std::size_t before = readLog(log).size();
  getNowPlayingApplicationIsPlaying(queue, [](void*, std::uint8_t) {}, nullptr);
  EXPECT_EQ(readLog(log).size(), before + 1);
  getNowPlayingInfo(queue, [](void*, InfoDictionary) {}, nullptr);
  EXPECT_EQ(readLog(log).size(), before + 2);
  EXPECT_TRUE(sendCommand(4, nullptr));
  EXPECT_EQ(readLog(log).size(), before + 3);
  setElapsedTime(12.5);
  setElapsedTime(-0.0);
  setElapsedTime(3);
  EXPECT_EQ(readLog(log).size(), before + 6);

  std::vector<Json> lines = readLog(log);
  ASSERT_EQ(lines.size(), 9u);
  // The register call comes first; the scenario's posts follow it, from its thread.
  EXPECT_EQ(lines[0]["call"], "register");
  EXPECT_EQ(lines[1]["post"], "kelTestPing");
  EXPECT_EQ(lines[2]["post"], "kMRMediaRemoteNowPlayingInfoDidChangeNotification");
  EXPECT_EQ(lines[3]["call"], "isPlaying");
  EXPECT_EQ(lines[4]["call"], "info");
  EXPECT_EQ(lines[5]["call"], "command");
  EXPECT_EQ(lines[5]["code"], 4);
  EXPECT_EQ(lines[6]["call"], "seek");
  EXPECT_EQ(lines[6]["seconds"], 12.5);
  EXPECT_EQ(lines[7]["seconds"], 0);
  EXPECT_EQ(lines[8]["seconds"], 3);
  double previous = 0;
  for (const Json& line : lines) {
    EXPECT_EQ(line.size(), line.contains("code") || line.contains("seconds") ? 3u : 2u) << line;
    ASSERT_TRUE(line["t"].is_number_float()) << line;
    EXPECT_GE(line["t"].get<double>(), previous) << line;
    previous = line["t"].get<double>();
  }
  // The sleep lies between the two posts.
  EXPECT_GE(lines[2]["t"].get<double>() - lines[1]["t"].get<double>(), 0.020);
}

TEST(CallsLogTest, PostLineIsWrittenBeforeTheObserversRun) {
  std::string log = outputPath("post-order.jsonl").string();
  resetPosted(log);
  ASSERT_EQ(configure(writeFile("post-order-scenario.jsonl", R"({"post": "kelTestPing"})"
                                                            "\n"
                                                            R"({"post": "kelTestPing"})"),
                      log),
            "");
  registerForNowPlayingNotifications(nullptr);
  ASSERT_EQ(waitForPosts(2).size(), 2u);
  Posted& p = posted();
  std::lock_guard lock(p.mutex);
  // register, then each post's line before its observer: 2 lines, then 3.
  EXPECT_EQ(p.logLinesSeen, (std::vector<std::size_t>{2, 3}));
}

TEST(CallsLogTest, CommandsInAScenarioChangeAndPostNothing) {
  resetPosted("");
  ASSERT_EQ(configure(writeFile("commands.jsonl", R"({"state": {"playing": 1, "info": {"title": "T"}}})"), ""), "");
  Queue queue = createQueue("test.commands");
  registerForNowPlayingNotifications(queue);
  for (std::int32_t code : {0, 1, 2, 3, 4, 5, 99, -1}) EXPECT_TRUE(sendCommand(code, nullptr));
  setElapsedTime(30);
  std::promise<std::uint8_t> playing;
  getNowPlayingApplicationIsPlaying(
      queue, [](void* context, std::uint8_t value) { static_cast<std::promise<std::uint8_t>*>(context)->set_value(value); },
      &playing);
  EXPECT_EQ(playing.get_future().get(), 1);
  // A post from a scenario step would have arrived by now: it is synchronous.
  EXPECT_TRUE(waitForPosts(0).empty());
}

TEST(CallsLogTest, LinesNeverInterleaveAcrossThreads) {
  std::string log = outputPath("threads.jsonl").string();
  ASSERT_EQ(configure(writeFile("threads-scenario.jsonl", ""), log), "");
  constexpr int threads = 4;
  constexpr int calls = 250;
  std::vector<std::thread> callers;
  for (int t = 0; t < threads; ++t) {
    callers.emplace_back([t] {
      for (int i = 0; i < calls; ++i) {
        if (t % 2 == 0) sendCommand(t * 1000 + i, nullptr);
        else setElapsedTime(t * 1000 + i + 0.5);
      }
    });
  }
  for (auto& caller : callers) caller.join();
  std::vector<Json> lines = readLog(log);
  ASSERT_EQ(lines.size(), std::size_t(threads * calls));
  std::vector<int> seen(threads * calls, 0);
  for (const Json& line : lines) {
    double value = line.contains("code") ? line["code"].get<double>() : line["seconds"].get<double>() - 0.5;
    int t = int(value) / 1000;
    int i = int(value) % 1000;
    ASSERT_TRUE(t >= 0 && t < threads && i >= 0 && i < calls) << line;
    ++seen[t * calls + i];
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), threads * calls);
}

TEST(CommandDelayTest, CommandsAndSeeksBlockAfterTheyAreLogged) {
  std::string log = outputPath("delay.jsonl").string();
  ASSERT_EQ(configure(writeFile("delay-scenario.jsonl", R"({"commandDelay": 200})"), log), "");
  registerForNowPlayingNotifications(nullptr);
  for (int round = 0; round < 2; ++round) {
    auto start = std::chrono::steady_clock::now();
    if (round == 0) sendCommand(1, nullptr);
    else setElapsedTime(5);
    // The delay is the behaviour here: the call may not return sooner.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
    double returned = secondsSinceStart();
    std::vector<Json> lines = readLog(log);
    ASSERT_EQ(lines.size(), std::size_t(2 + round));
    EXPECT_LE(lines.back()["t"].get<double>(), returned - 0.2);
  }
}

TEST(ConfigureTest, ReportsProblemsInOneLine) {
  std::string missing = outputPath("no-such-scenario.jsonl").string();
  const struct {
    std::string scenario;
    std::string calls;
    std::string part;  // Of the message.
  } cases[] = {
      {missing, "", "cannot read the scenario " + missing},
      {outputPath("").parent_path().string(), "", "cannot read the scenario"},
      {writeFile("bad.jsonl", "{\"sleep\": 1}\n{\"slep\": 1}\n"), "", "bad.jsonl:2: unknown step \"slep\""},
      {writeFile("good.jsonl", "{\"sleep\": 1}\n"), outputPath("no-dir/calls.jsonl").string(),
       "cannot create the calls log"},
      {"", outputPath("no-dir/calls.jsonl").string(), "cannot create the calls log"},
  };
  for (const auto& c : cases) {
    std::string problem = configure(c.scenario, c.calls);
    EXPECT_NE(problem.find(c.part), std::string::npos) << problem;
    EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
  }
  EXPECT_EQ(configure(writeFile("good.jsonl", "{\"sleep\": 1}\n"), ""), "");
  EXPECT_EQ(configure("", ""), "");
}

}  // namespace
}  // namespace kel::sim
