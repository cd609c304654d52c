// The simulated service's answering rules: answers come on the caller's queue and
// never inside the query call, at once, after a delay or never, in the order they
// fall due, and with the state as it was when the query was made. Also the leading
// steps of a scenario and what the player lookup and the info dictionary give.

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "platform/class_lookup.h"
#include "platform/info_value.h"
#include "sim/sim.h"
#include "sim/simulator.h"

namespace kel::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Generous: what a user would call a hang, not a measure of speed.
constexpr auto patience = 10s;

std::string writeScenario(const std::string& text) {
  const char* output = std::getenv("KEL_TEST_OUTPUT");
  std::filesystem::path dir = output != nullptr ? output : std::filesystem::temp_directory_path().string();
  std::filesystem::create_directories(dir);
  auto path = dir / ("sim-answers-" + std::to_string(getpid()) + ".jsonl");
  std::ofstream(path) << text;
  return path.string();
}

// Sets the simulator up with scenario and registers, as the bridge would.
void start(const std::string& scenario) {
  ASSERT_EQ(configure(writeScenario(scenario), ""), "");
  registerForNowPlayingNotifications(nullptr);
}

Step stepOf(const std::string& line) {
  Scenario scenario = readScenario(line, "step.jsonl");
  EXPECT_EQ(scenario.error, "");
  return scenario.steps.at(0);
}

// Set while the test's thread is inside a query call, to catch an answer given inline.
thread_local bool insideQuery = false;

struct Answer {
  int tag = 0;
  std::uint8_t playing = 0;
  bool hasInfo = false;
  std::string title;
  std::thread::id thread;
  bool wasInline = false;
  Clock::time_point at;
};

struct Probe;

struct Answers {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Answer> list;
  // The contexts of the queries; a query never answered keeps its context, so the
  // test owns them rather than the callbacks.
  std::deque<Probe> probes;

  void add(Answer answer) {
    answer.thread = std::this_thread::get_id();
    answer.wasInline = insideQuery;
    answer.at = Clock::now();
    // Notified under the lock: the test may destroy this as soon as it sees the answer.
    std::lock_guard lock(mutex);
    list.push_back(std::move(answer));
    arrived.notify_all();
  }

  // The answers so far, once there are at least count of them (or patience ran out).
  std::vector<Answer> waitFor(std::size_t count) {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, patience, [&] { return list.size() >= count; });
    return list;
  }
};

struct Probe {
  Answers* answers;
  int tag;
};

Probe* probeFor(Answers& answers, int tag) {
  return &answers.probes.emplace_back(Probe{&answers, tag});
}

void askIsPlaying(Queue queue, Answers& answers, int tag) {
  auto callback = [](void* context, std::uint8_t playing) {
    auto* probe = static_cast<Probe*>(context);
    Answer answer;
    answer.tag = probe->tag;
    answer.playing = playing;
    probe->answers->add(std::move(answer));
  };
  insideQuery = true;
  getNowPlayingApplicationIsPlaying(queue, callback, probeFor(answers, tag));
  insideQuery = false;
}

void askInfo(Queue queue, Answers& answers, int tag) {
  auto callback = [](void* context, InfoDictionary info) {
    auto* probe = static_cast<Probe*>(context);
    Answer answer;
    answer.tag = probe->tag;
    answer.hasInfo = info != nullptr;
    InfoValue title = readInfo(info, "title");
    if (title.kind == InfoKind::string) answer.title = std::string(title.text);
    probe->answers->add(std::move(answer));
  };
  insideQuery = true;
  getNowPlayingInfo(queue, callback, probeFor(answers, tag));
  insideQuery = false;
}

std::thread::id threadOf(Queue queue) {
  std::promise<std::thread::id> id;
  submit(queue, [&] { id.set_value(std::this_thread::get_id()); });
  return id.get_future().get();
}

TEST(ServiceAnswersTest, AnswersComeOnTheCallersQueueAndNeverInline) {
  for (const char* rule : {R"({"answers": "now"})", R"({"answers": 0})", R"({"answers": 30})"}) {
    start(std::string(rule) + "\n" + R"({"state": {"playing": 3, "info": {"title": "T"}}})");
    Queue queue = createQueue("test.answers");
    std::thread::id queueThread = threadOf(queue);
    Answers answers;
    askIsPlaying(queue, answers, 1);
    askInfo(queue, answers, 2);
    auto list = answers.waitFor(2);
    ASSERT_EQ(list.size(), 2u) << rule;
    for (const Answer& answer : list) {
      EXPECT_EQ(answer.thread, queueThread) << rule;
      EXPECT_FALSE(answer.wasInline) << rule;
    }
    EXPECT_EQ(list[0].playing, 3) << rule;
    EXPECT_EQ(list[1].title, "T") << rule;
  }
}

TEST(ServiceAnswersTest, DelayedAnswersCarryTheStateAsItWasAtTheQuery) {
  start(R"({"answers": 300})"
        "\n"
        R"({"state": {"playing": true, "info": {"title": "A"}}})");
  Queue queue = createQueue("test.delayed");
  Answers answers;
  auto asked = Clock::now();
  askIsPlaying(queue, answers, 1);
  askInfo(queue, answers, 2);
  runStep(stepOf(R"({"state": {"playing": false, "info": {"title": "B"}}})"));
  auto list = answers.waitFor(2);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].playing, 1);
  EXPECT_EQ(list[1].title, "A");
  // The delay is the behaviour here: no answer may come sooner.
  EXPECT_GE(list[0].at - asked, 300ms);
  EXPECT_GE(list[1].at - asked, 300ms);

  askIsPlaying(queue, answers, 3);
  askInfo(queue, answers, 4);
  list = answers.waitFor(4);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[2].playing, 0);
  EXPECT_EQ(list[3].title, "B");
}

TEST(ServiceAnswersTest, QueriesUnderNeverAreNeverAnswered) {
  start(R"({"answers": "never"})");
  Queue queue = createQueue("test.never");
  Answers answers;
  askIsPlaying(queue, answers, 1);
  askInfo(queue, answers, 2);
  // A task submitted well after the queries runs, and still no answer came before it.
  std::promise<void> passed;
  submitAfter(queue, 300ms, [&] { passed.set_value(); });
  passed.get_future().wait();
  runStep(stepOf(R"({"answers": "now"})"));
  askIsPlaying(queue, answers, 3);
  auto list = answers.waitFor(1);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].tag, 3);
  // The change of rule does not revive the queries made under "never".
  std::promise<void> later;
  submitAfter(queue, 200ms, [&] { later.set_value(); });
  later.get_future().wait();
  EXPECT_EQ(answers.waitFor(1).size(), 1u);
}

TEST(ServiceAnswersTest, AnswersRunInTheOrderTheyFallDue) {
  start(R"({"answers": 900})");
  Queue queue = createQueue("test.order");
  Answers answers;
  askIsPlaying(queue, answers, 1);  // Due at 900 ms.
  runStep(stepOf(R"({"answers": 400})"));
  askInfo(queue, answers, 2);  // Due at 400 ms.
  runStep(stepOf(R"({"answers": "now"})"));
  askIsPlaying(queue, answers, 3);  // Due at once.
  runStep(stepOf(R"({"answers": 0})"));
  askInfo(queue, answers, 4);  // Due at once, after the one before.
  auto list = answers.waitFor(4);
  ASSERT_EQ(list.size(), 4u);
  std::vector<int> order;
  for (const Answer& answer : list) order.push_back(answer.tag);
  EXPECT_EQ(order, (std::vector<int>{3, 4, 2, 1}));
}

TEST(ServiceAnswersTest, UntilAStepChangesThemTheServiceIsQuiet) {
  start("");
  Queue queue = createQueue("test.quiet");
  Answers answers;
  askIsPlaying(queue, answers, 1);
  askInfo(queue, answers, 2);
  auto list = answers.waitFor(2);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].playing, 0);
  EXPECT_FALSE(list[1].hasInfo);
  EXPECT_EQ(lookupClass("MRNowPlayingRequest"), nullptr);
}

TEST(ServiceAnswersTest, LeadingStepsAreInPlaceWhenRegistrationReturns) {
  // The sleep keeps the later state away until long after the test has looked.
  ASSERT_EQ(configure(writeScenario(R"({"state": {"playing": 9, "player": {"client": {"bundleIdentifier": "b"}}}})"
                                    "\n"
                                    R"({"answers": 50})"
                                    "\n"
                                    R"({"state": {"info": {"title": "Lead"}}})"
                                    "\n"
                                    R"({"sleep": 60000})"
                                    "\n"
                                    R"({"state": {"playing": 0, "info": null}})"),
                      ""),
            "");
  Queue queue = createQueue("test.leading");
  Answers answers;
  askIsPlaying(queue, answers, 1);  // Before registration: nothing is set yet.
  ASSERT_EQ(answers.waitFor(1).size(), 1u);
  EXPECT_EQ(lookupClass("MRNowPlayingRequest"), nullptr);

  registerForNowPlayingNotifications(queue);
  EXPECT_NE(lookupClass("MRNowPlayingRequest"), nullptr);
  auto asked = Clock::now();
  askIsPlaying(queue, answers, 2);
  askInfo(queue, answers, 3);
  auto list = answers.waitFor(3);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].playing, 0);
  EXPECT_EQ(list[1].playing, 9);
  EXPECT_EQ(list[2].title, "Lead");
  EXPECT_GE(list[1].at - asked, 50ms);
}

TEST(ServiceAnswersTest, InfoDictionaryHoldsTheScenariosValues) {
  start(R"({"state": {"info": {"s": "x", "i": 7, "r": 2.5, "b": false, "d": {"date": 86400.5},)"
        R"( "y": {"bytes": 3}, "o": {"other": true}, "n": {"real": "nan"}}}})");
  Queue queue = createQueue("test.info");
  std::promise<void> done;
  auto callback = [](void* context, InfoDictionary info) {
    EXPECT_FALSE(infoIsEmpty(info));
    EXPECT_EQ(readInfo(info, "s").text, "x");
    EXPECT_EQ(readInfo(info, "i").kind, InfoKind::integer);
    EXPECT_EQ(readInfo(info, "i").integer, 7);
    EXPECT_EQ(readInfo(info, "r").kind, InfoKind::real);
    EXPECT_EQ(readInfo(info, "r").real, 2.5);
    EXPECT_EQ(readInfo(info, "b").kind, InfoKind::boolean);
    EXPECT_EQ(readInfo(info, "d").kind, InfoKind::date);
    EXPECT_EQ(readInfo(info, "d").real, 86400.5);
    EXPECT_EQ(readInfo(info, "y").bytes.size(), 3u);
    EXPECT_EQ(readInfo(info, "o").kind, InfoKind::other);
    EXPECT_TRUE(std::isnan(readInfo(info, "n").real));
    EXPECT_EQ(readInfo(info, "missing").kind, InfoKind::absent);
    static_cast<std::promise<void>*>(context)->set_value();
  };
  getNowPlayingInfo(queue, callback, &done);
  EXPECT_EQ(done.get_future().wait_for(patience), std::future_status::ready);

  // An empty object is a dictionary with no entries, not the absence of one.
  runStep(stepOf(R"({"state": {"info": {}}})"));
  std::promise<bool> empty;
  auto emptyCallback = [](void* context, InfoDictionary info) {
    static_cast<std::promise<bool>*>(context)->set_value(info != nullptr && infoIsEmpty(info));
  };
  getNowPlayingInfo(queue, emptyCallback, &empty);
  EXPECT_TRUE(empty.get_future().get());
}

// What the bridge's lookup finds, step by step, written as one line.
std::string walkLookup() {
  Object cls = lookupClass("MRNowPlayingRequest");
  if (cls == nullptr) return "no class";
  if (!respondsTo(cls, "localNowPlayingPlayerPath")) return "no path selector";
  Object path = callForObject(cls, "localNowPlayingPlayerPath");
  if (path == nullptr) return "nil path";
  if (!respondsTo(path, "client")) return "no client selector";
  Object client = callForObject(path, "client");
  if (client == nullptr) return "nil client";
  std::string found = "client";
  for (const char* selector : {"parentApplicationBundleIdentifier", "bundleIdentifier"}) {
    found += std::string(" ") + selector + "=";
    if (!respondsTo(client, selector)) {
      found += "unsupported";
    } else if (auto text = callForString(client, selector)) {
      found += "\"" + std::string(*text) + "\"";
    } else {
      found += callForObject(client, selector) == nullptr ? "nil-or-other" : "object";
    }
  }
  return found;
}

TEST(ServiceAnswersTest, PlayerLookupGivesWhatTheStateSays) {
  const struct {
    const char* player;
    const char* found;
  } cases[] = {
      {"null", "no class"},
      {R"({"path": "unsupported"})", "no path selector"},
      {R"({"path": null})", "nil path"},
      {R"({"client": "unsupported"})", "no client selector"},
      {R"({"client": null})", "nil client"},
      {R"({"client": {}})", "client parentApplicationBundleIdentifier=unsupported bundleIdentifier=unsupported"},
      {R"({"client": {"parentApplicationBundleIdentifier": "p", "bundleIdentifier": "b"}})",
       "client parentApplicationBundleIdentifier=\"p\" bundleIdentifier=\"b\""},
      {R"({"client": {"parentApplicationBundleIdentifier": null, "bundleIdentifier": ""}})",
       "client parentApplicationBundleIdentifier=nil-or-other bundleIdentifier=\"\""},
      {R"({"client": {"parentApplicationBundleIdentifier": 12}})",
       "client parentApplicationBundleIdentifier=nil-or-other bundleIdentifier=unsupported"},
  };
  start("");
  for (const auto& c : cases) {
    runStep(stepOf(std::string(R"({"state": {"player": )") + c.player + "}}"));
    EXPECT_EQ(walkLookup(), c.found) << c.player;
  }
  // A non-string value is a value of another kind, not nil.
  runStep(stepOf(R"({"state": {"player": {"client": {"bundleIdentifier": 12}}}})"));
  Object client = callForObject(callForObject(lookupClass("MRNowPlayingRequest"), "localNowPlayingPlayerPath"), "client");
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(client->selectors.at("bundleIdentifier").kind, SelectorResult::Kind::other);
}

}  // namespace
}  // namespace kel::sim
