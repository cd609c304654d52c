// The core's rules that need the Linux platform's queue, notifications and info
// dictionaries to build their cases.

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "entry/entry.h"
#include "output/json_text.h"
#include "platform/linux/linux_platform.h"
#include "platform/notification_center.h"
#include "publisher/schedule_update.h"
#include "publisher/state_record.h"
#include "support.h"

namespace kel {
namespace {

using namespace std::chrono_literals;

TEST(QueueTest, RunsTasksOneAtATimeInSubmissionOrder) {
  Queue queue = createQueue("test.order");
  std::vector<int> log;  // Written only by the queue's tasks, which must never overlap.
  std::atomic<int> running = 0, overlap = 0;
  std::vector<std::thread> submitters;
  for (int thread = 0; thread < 4; ++thread) {
    submitters.emplace_back([&, thread] {
      for (int i = 0; i < 500; ++i) {
        submit(queue, [&, entry = thread * 1000 + i] {
          if (running.fetch_add(1) != 0) overlap++;
          log.push_back(entry);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& submitter : submitters) submitter.join();
  test::drain(queue);
  EXPECT_EQ(overlap.load(), 0);
  ASSERT_EQ(log.size(), 2000u);
  std::vector<int> last(4, -1);  // Each thread's own tasks keep their order.
  for (int entry : log) EXPECT_GT(entry % 1000, std::exchange(last[std::size_t(entry / 1000)], entry % 1000));
}

TEST(QueueTest, DelayedTasksRunByDueTimeAfterTheTasksAlreadyQueued) {
  Queue queue = createQueue("test.delayed");
  std::vector<int> log;
  std::promise<void> lastRan;
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point ranAt;
  submitAfter(queue, 100ms, [&] { log.push_back(3), ranAt = std::chrono::steady_clock::now(), lastRan.set_value(); });
  submitAfter(queue, 50ms, [&] { log.push_back(2); });
  submitAfter(queue, 50ms, [&] { log.push_back(21); });  // Same due time: submission order.
  // A task that blocks past every due time: the delayed ones wait for it, then run in order.
  submit(queue, [&] { std::this_thread::sleep_until(start + 150ms), log.push_back(1); });
  ASSERT_EQ(lastRan.get_future().wait_for(10s), std::future_status::ready);
  EXPECT_EQ(log, (std::vector<int>{1, 2, 21, 3}));
  EXPECT_GE(ranAt - start, 100ms);
}

TEST(NotificationCenterTest, ObserversRunOnThePostingThreadForTheirNameOnly) {
  std::thread::id ranOn;
  int calls = 0;
  addObserver("test.first", [&] { ranOn = std::this_thread::get_id(), calls++; });
  addObserver("test.second", [&] { calls += 100; });
  std::thread([] { postNotification("test.first"); }).join();
  EXPECT_EQ(calls, 1);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  postNotification("test.none");
  EXPECT_EQ(calls, 1);
}

// A service that holds every is-playing query until the test answers it, and answers
// the info query at once with no information.
std::mutex mutex;
std::condition_variable asked;
std::vector<std::pair<service_abi::IsPlayingCallback, void*>> held;

void fakeIsPlaying(Queue, service_abi::IsPlayingCallback callback, void* context) {
  std::lock_guard lock(mutex);
  held.emplace_back(callback, context);
  asked.notify_all();
}

void fakeGetInfo(Queue onQueue, service_abi::InfoCallback callback, void* context) {
  submit(onQueue, [callback, context] { callback(context, nullptr); });
}

TEST(WhenPublishedTest, WaitsForThePublicationsRequestedBeforeAndNoLaterOnes) {
  queue = createQueue("test.publisher");
  getIsPlaying = reinterpret_cast<void*>(&fakeIsPlaying);
  getNowPlayingInfo = reinterpret_cast<void*>(&fakeGetInfo);
  // Requests a publication and waits for its query, the count-th one.
  auto requestQuery = [](std::size_t count) {
    scheduleUpdate();
    std::unique_lock lock(mutex);
    return asked.wait_for(lock, 10s, [&] { return held.size() >= count; });
  };
  auto answer = [](std::size_t index) {
    std::lock_guard lock(mutex);
    submit(queue, [query = held.at(index)] { query.first(query.second, 1); });
  };
  // Calls whenPublished on queue; the future tells whether done ran at once, within the call.
  auto published = [] {
    auto done = std::make_shared<std::promise<bool>>();
    auto inCall = std::make_shared<bool>(true);
    submit(queue, [=] { whenPublished([=] { done->set_value(*inCall); }), *inCall = false; });
    return done->get_future();
  };
  std::future<bool> idle = published();
  ASSERT_EQ(idle.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(idle.get()) << "with nothing pending, done runs at once";
  ASSERT_TRUE(requestQuery(1));
  std::future<bool> first = published();
  ASSERT_TRUE(requestQuery(2));
  std::future<bool> second = published();
  answer(0);
  ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(first.get()) << "an unanswered query keeps its publication pending";
  // The later publication is still unanswered; only the second caller waits for it.
  test::drain(queue);
  EXPECT_EQ(second.wait_for(0s), std::future_status::timeout);
  answer(1);
  ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
}

InfoEntry entryOf(InfoKind kind, std::int64_t integer, bool boolean = false, std::vector<std::uint8_t> bytes = {}) {
  InfoEntry made;
  made.kind = kind, made.integer = integer, made.boolean = boolean, made.bytes = std::move(bytes);
  return made;
}

// One publication: whether a player is found, the dictionary, and the line it must give.
struct Publication {
  bool player;
  std::vector<std::pair<std::string_view, InfoEntry>> info;
  std::string line;
  bool written = true;  // Whether its line leaves, as writeLine would report.
};

TEST(StateRecordTest, SendsArtworkOncePerIdentityAndAgainAfterANoPlayerRecord) {
  auto art = [](std::size_t size) { return std::pair(infoKey::artworkData, entryOf(InfoKind::bytes, 0, false, test::pattern(size))); };
  auto id = [](std::string text) { return std::pair(infoKey::artworkIdentifier, textEntry(std::move(text))); };
  auto title = [](std::string text) { return std::pair(infoKey::title, textEntry(std::move(text))); };
  const auto mime = std::pair(infoKey::artworkMIMEType, textEntry("image/png"));
  const std::string head = R"({"bundle":"com.example.player","playing":true,)";
  const Publication publications[] = {
      {true, {title("T"), id("a"), art(3), mime}, head + R"("title":"T","artworkID":"a","artwork":"AAEC","artworkMIME":"image\/png"})"},
      {true, {title("U"), id("a"), art(3), mime}, head + R"("title":"U","artworkID":"a"})"},
      {true, {id("b"), art(3)}, head + R"("artworkID":"b","artwork":"AAEC"})", false},  // Never left.
      {true, {id("b"), art(3)}, head + R"("artworkID":"b","artwork":"AAEC"})"},
      {true, {id("b"), art(0)}, head.substr(0, head.size() - 1) + "}"},  // Empty artwork is none.
      {true, {id("b"), art(2)}, head + R"("artworkID":"b"})"},  // The identity decides, not the bytes.
      // Without an identifier, the texts joined by bars; an identifier of another kind is none.
      {true, {title("T|"), art(1), {infoKey::artworkIdentifier, entryOf(InfoKind::integer, 5)}},
       head + R"("title":"T|","artworkID":"T|||","artwork":"AA=="})"},
      {false, {title("T|"), art(1)}, R"({"bundle":null})"},
      {true, {}, R"({"bundle":null})"},
      {true, {title("T|"), art(1)}, head + R"("title":"T|","artworkID":"T|||","artwork":"AA=="})"},
      {true, {id(""), art(1)}, head + R"("artworkID":"","artwork":"AA=="})"},
  };
  lastArtworkID.reset();
  auto lookup = makePlayerLookup(textResult("com.example.player"));
  for (std::size_t i = 0; i < std::size(publications); ++i) {
    const Publication& publication = publications[i];
    registerPlayerLookup(publication.player ? lookup.get() : nullptr);
    InfoDictionaryImpl info;
    for (const auto& [key, value] : publication.info) info.entries.emplace(key, value);
    Record record;
    buildStateRecord(1, &info, record);
    EXPECT_EQ(jsonText(record).value_or("no text"), publication.line) << "publication " << i;
    if (publication.written) recordArtworkSent(record);
  }
  registerPlayerLookup(nullptr);
}

TEST(StateRecordTest, NamesTheApplicationThatOwnsThePlayerOrNone) {
  InfoDictionaryImpl info;
  info.entries.emplace(infoKey::title, textEntry("T"));
  SelectorResult other;
  other.kind = SelectorResult::Kind::other;
  using Answer = std::optional<SelectorResult>;
  // The client's bundleIdentifier and parentApplicationBundleIdentifier, a change to
  // the lookup's objects, and the bundle.
  const std::tuple<Answer, Answer, std::function<void(PlayerLookupObjects&)>, const char*> cases[] = {
      {textResult("b"), {}, {}, "\"b\""},
      {textResult("b"), textResult("parent"), {}, "\"parent\""},  // A helper names its application.
      {textResult("b"), textResult(""), {}, "\"b\""},
      {textResult(""), {}, {}, "null"}, {SelectorResult{}, {}, {}, "null"}, {other, {}, {}, "null"}, {{}, {}, {}, "null"},
      {textResult("b"), {}, [](PlayerLookupObjects& o) { o.request.selectors.begin()->second = SelectorResult{}; }, "null"},
      {textResult("b"), {}, [](PlayerLookupObjects& o) { o.path.selectors.begin()->second = textResult("x"); }, "null"},
      {textResult("b"), {}, [](PlayerLookupObjects& o) { o.request.selectors.clear(); }, "null"},
  };
  for (const auto& [bundle, parent, change, expected] : cases) {
    auto lookup = makePlayerLookup(bundle, parent);
    if (change) change(*lookup);
    registerPlayerLookup(lookup.get());
    Record record;
    buildStateRecord(1, &info, record);
    std::string line = std::string(R"({"bundle":)") + expected + (expected[0] == 'n' ? "}" : R"(,"playing":true,"title":"T"})");
    EXPECT_EQ(jsonText(record), line);
  }
  registerPlayerLookup(nullptr);
}

TEST(StateRecordTest, TakesArtworkOfOneByteToFourMebibytesAndNumbersOfTheirOwnKind) {
  const std::pair<std::size_t, bool> sizes[] = {{4'194'304, true}, {4'194'305, false}, {1, true}, {0, false}};
  for (const auto& [size, taken] : sizes) {
    TextStore store;
    InfoDictionaryImpl info;
    info.entries.emplace("key", entryOf(InfoKind::bytes, 0, false, std::vector<std::uint8_t>(size)));
    EXPECT_EQ(artworkQualifies(readInfo(&info, "key", store)), taken) << size;
  }
  // An integer stays an integer, a boolean a boolean; a date, NaN or infinity is left out.
  auto lookup = makePlayerLookup(textResult("p"));
  registerPlayerLookup(lookup.get());
  InfoDictionaryImpl info;
  info.entries = {{std::string(infoKey::duration), entryOf(InfoKind::integer, 240)},
                  {std::string(infoKey::elapsedTime), realEntry(240.0)},
                  {std::string(infoKey::playbackRate), entryOf(InfoKind::boolean, 0, true)},
                  {std::string(infoKey::timestamp), realEntry(1.5, InfoKind::date)},
                  {std::string(infoKey::album), realEntry(2.0, InfoKind::date)},
                  {std::string(infoKey::title), textEntry("")}};
  Record record;
  buildStateRecord(0, &info, record);
  EXPECT_EQ(jsonText(record), R"({"bundle":"p","playing":false,"duration":240,"elapsed":240,"rate":true,"timestamp":1.5})");
  info.entries[std::string(infoKey::elapsedTime)] = realEntry(std::numeric_limits<double>::infinity());
  info.entries[std::string(infoKey::duration)] = realEntry(std::numeric_limits<double>::quiet_NaN());
  info.entries[std::string(infoKey::timestamp)] = realEntry(std::numeric_limits<double>::quiet_NaN(), InfoKind::date);
  Record second;
  buildStateRecord(0, &info, second);
  EXPECT_EQ(jsonText(second), R"({"bundle":"p","playing":false,"rate":true})");
  registerPlayerLookup(nullptr);
}

}  // namespace
}  // namespace kel
