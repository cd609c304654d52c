#include "publisher/schedule_update.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "entry/entry.h"
#include "platform/linux/linux_platform.h"
#include "service/service.h"

namespace kel {
namespace {

using namespace std::chrono_literals;

// A service that holds every is-playing query until the test answers it, and
// answers the info query at once with no information.
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

// Requests a publication and waits for its query, the count-th one.
void requestQuery(std::size_t count) {
  scheduleUpdate();
  std::unique_lock lock(mutex);
  ASSERT_TRUE(asked.wait_for(lock, 10s, [&] { return held.size() >= count; }));
}

// Answers the held query at index, on queue.
void answer(std::size_t index) {
  std::lock_guard lock(mutex);
  auto query = held.at(index);
  submit(queue, [query] { query.first(query.second, 1); });
}

// Calls whenPublished on queue. The future tells when done runs, and whether it ran
// at once, within the call.
std::future<bool> published() {
  auto done = std::make_shared<std::promise<bool>>();
  auto inCall = std::make_shared<bool>(true);
  submit(queue, [=] {
    whenPublished([=] { done->set_value(*inCall); });
    *inCall = false;
  });
  return done->get_future();
}

// Lets every task now on the queue run.
void drain() {
  std::promise<void> done;
  submit(queue, [&] { done.set_value(); });
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

TEST(WhenPublishedTest, WaitsForThePublicationsRequestedBeforeAndNoLaterOnes) {
  queue = createQueue("test.publisher");
  serviceEntries.getIsPlaying = &fakeIsPlaying;
  serviceEntries.getNowPlayingInfo = &fakeGetInfo;
  std::future<bool> idle = published();
  ASSERT_EQ(idle.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(idle.get()) << "with nothing pending, done runs at once";

  requestQuery(1);
  std::future<bool> first = published();
  requestQuery(2);
  std::future<bool> second = published();
  answer(0);
  ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(first.get()) << "an unanswered query keeps its publication pending";
  // The later publication is still unanswered; only the second caller waits for it.
  drain();
  EXPECT_EQ(second.wait_for(0s), std::future_status::timeout);
  answer(1);
  ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
}

}  // namespace
}  // namespace kel
