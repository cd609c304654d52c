// The Linux platform's queue, and the core's record rules, which need the platform's
// info dictionaries to build their cases.

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "entry/entry.h"
#include "output/json_text.h"
#include "platform/linux/linux_platform.h"
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

InfoEntry entryOf(InfoKind kind, std::int64_t integer, bool boolean = false, std::vector<std::uint8_t> bytes = {}) {
  InfoEntry made;
  made.kind = kind, made.integer = integer, made.boolean = boolean, made.bytes = std::move(bytes);
  return made;
}

using Entries = std::vector<std::pair<std::string_view, InfoEntry>>;

// The line a publication with a player found through lookup (none for no player) and
// a dictionary of entries writes; the artwork counts as sent when written is set, as
// once writeLine reports the line written.
std::string publish(const PlayerLookupObjects* lookup, const Entries& entries, bool written = true) {
  registerPlayerLookup(lookup);
  InfoDictionaryImpl info;
  for (const auto& [key, value] : entries) info.entries.insert_or_assign(std::string(key), value);
  Record record;
  buildStateRecord(1, &info, record);
  if (written) recordArtworkSent(record);
  registerPlayerLookup(nullptr);
  return jsonText(record).value_or("no text");
}

TEST(StateRecordTest, SendsArtworkOf1ByteTo4MebibytesOncePerIdentityAndAgainAfterANoPlayerRecord) {
  auto art = [](std::size_t size) { return std::pair(infoKey::artworkData, entryOf(InfoKind::bytes, 0, false, test::pattern(size))); };
  auto id = [](std::string text) { return std::pair(infoKey::artworkIdentifier, textEntry(std::move(text))); };
  auto title = [](std::string text) { return std::pair(infoKey::title, textEntry(std::move(text))); };
  const auto mime = std::pair(infoKey::artworkMIMEType, textEntry("image/png"));
  const auto player = makePlayerLookup(textResult("p"));
  const std::string head = R"({"bundle":"p","playing":true,)";
  lastArtworkID.reset();
  EXPECT_EQ(publish(player.get(), {title("T"), id("a"), art(3), mime}),
            head + R"("title":"T","artworkID":"a","artwork":"AAEC","artworkMIME":"image\/png"})");
  EXPECT_EQ(publish(player.get(), {title("U"), id("a"), art(3), mime}), head + R"("title":"U","artworkID":"a"})");
  EXPECT_EQ(publish(player.get(), {id("b"), art(3)}, false), head + R"("artworkID":"b","artwork":"AAEC"})");  // Never left.
  EXPECT_EQ(publish(player.get(), {id("b"), art(3)}), head + R"("artworkID":"b","artwork":"AAEC"})");
  EXPECT_EQ(publish(player.get(), {id("b"), art(0)}), R"({"bundle":"p","playing":true})");  // Empty is none.
  EXPECT_EQ(publish(player.get(), {id("b"), art(2)}), head + R"("artworkID":"b"})");  // The identity decides.
  // Without an identifier, the texts joined by bars; an identifier of another kind is none.
  const auto notText = std::pair(infoKey::artworkIdentifier, entryOf(InfoKind::integer, 5));
  EXPECT_EQ(publish(player.get(), {title("T|"), art(1), notText}), head + R"("title":"T|","artworkID":"T|||","artwork":"AA=="})");
  EXPECT_EQ(publish(nullptr, {title("T|"), art(1)}), R"({"bundle":null})");
  EXPECT_EQ(publish(player.get(), {title("T|"), art(1)}), head + R"("title":"T|","artworkID":"T|||","artwork":"AA=="})");
  EXPECT_EQ(publish(player.get(), {}), R"({"bundle":null})");
  EXPECT_EQ(publish(player.get(), {title("T|"), art(1)}), head + R"("title":"T|","artworkID":"T|||","artwork":"AA=="})");
  // The limit: 4 MiB is sent, under a new identity; a byte more is none.
  EXPECT_EQ(publish(player.get(), {id("big"), art(4'194'305)}), R"({"bundle":"p","playing":true})");
  std::string big = publish(player.get(), {id("big"), art(4'194'304)}), text;
  for (char c : test::base64(test::pattern(4'194'304))) c == '/' ? text += "\\/" : text += c;
  EXPECT_TRUE(big == head + R"("artworkID":"big","artwork":")" + text + "\"}") << big.substr(0, 80);
}

TEST(StateRecordTest, NamesTheApplicationThatOwnsThePlayerOrNone) {
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
    std::string line = std::string(R"({"bundle":)") + expected + (expected[0] == 'n' ? "}" : R"(,"playing":true,"title":"T"})");
    EXPECT_EQ(publish(lookup.get(), {{infoKey::title, textEntry("T")}}), line);
  }
}

TEST(StateRecordTest, KeepsEachNumbersKindAndLeavesOutWhatIsNotAFiniteNumber) {
  auto player = makePlayerLookup(textResult("p"));
  constexpr double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(publish(player.get(), {{infoKey::duration, entryOf(InfoKind::integer, 240)}, {infoKey::elapsedTime, realEntry(240.0)},
                                   {infoKey::playbackRate, entryOf(InfoKind::boolean, 0, true)},
                                   {infoKey::timestamp, realEntry(1.5, InfoKind::date)},
                                   {infoKey::album, realEntry(2.0, InfoKind::date)}, {infoKey::title, textEntry("")}}),
            R"({"bundle":"p","playing":true,"duration":240,"elapsed":240,"rate":true,"timestamp":1.5})");
  EXPECT_EQ(publish(player.get(), {{infoKey::duration, realEntry(nan)}, {infoKey::elapsedTime, realEntry(inf)},
                                   {infoKey::playbackRate, realEntry(-inf)}, {infoKey::timestamp, realEntry(nan, InfoKind::date)},
                                   {infoKey::artist, entryOf(InfoKind::integer, 1)}}),
            R"({"bundle":"p","playing":true})");
}

}  // namespace
}  // namespace kel
