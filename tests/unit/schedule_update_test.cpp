#include "publisher/publisher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "entry/entry.h"
#include "platform/linux/standin.h"
#include "service/service.h"

namespace kel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A service whose is-playing answers the test can hold back and release, and which
// answers the info query at once with no information.
struct FakeService {
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  std::vector<Clock::time_point> askedAt;  // When each is-playing query came.
  std::vector<std::pair<service_abi::IsPlayingCallback, void*>> held;
  int answered = 0;  // Info answers handed to the bridge.

  // Waits until count is-playing queries have come.
  bool waitAsked(std::size_t count) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return askedAt.size() >= count; });
  }
};

FakeService service;

// Runs on queue, called by the publisher.
void fakeIsPlaying(Queue onQueue, service_abi::IsPlayingCallback callback, void* context) {
  std::lock_guard lock(service.mutex);
  service.askedAt.push_back(Clock::now());
  if (service.holding) {
    service.held.emplace_back(callback, context);
  } else {
    submit(onQueue, [callback, context] { callback(context, 1); });
  }
  service.changed.notify_all();
}

// Runs on queue, called by the publisher.
void fakeGetInfo(Queue onQueue, service_abi::InfoCallback callback, void* context) {
  submit(onQueue, [callback, context] {
    {
      std::lock_guard lock(service.mutex);
      service.answered++;
    }
    callback(context, nullptr);
  });
}

void holdAnswers() {
  std::lock_guard lock(service.mutex);
  service.holding = true;
}

// Answers the held query at index, on queue.
void release(std::size_t index) {
  std::lock_guard lock(service.mutex);
  auto [callback, context] = service.held.at(index);
  submit(queue, [callback = callback, context = context] { callback(context, 1); });
}

// Asks, on queue, to be told when the publications requested so far are done.
std::future<void> published() {
  auto promise = std::make_shared<std::promise<void>>();
  std::future<void> future = promise->get_future();
  submit(queue, [promise] { whenPublished([promise] { promise->set_value(); }); });
  return future;
}

// Lets every task now on the queue run.
void drain() {
  std::promise<void> done;
  submit(queue, [&] { done.set_value(); });
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

class ScheduleUpdateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    queue = createQueue("test.publisher");
    getIsPlaying = reinterpret_cast<void*>(&fakeIsPlaying);
    getNowPlayingInfo = reinterpret_cast<void*>(&fakeGetInfo);
  }
  void SetUp() override {
    std::lock_guard lock(service.mutex);
    service.holding = false;
    service.askedAt.clear();
    service.held.clear();
    service.answered = 0;
  }
  void TearDown() override {
    // Leaves no publication behind for the next case.
    ASSERT_EQ(published().wait_for(10s), std::future_status::ready);
  }
};

TEST_F(ScheduleUpdateTest, ABurstOfRequestsGivesOnePublicationAfterTheWindow) {
  Clock::time_point start = Clock::now();
  for (int i = 0; i < 10; ++i) {
    scheduleUpdate();
    std::this_thread::sleep_for(5ms);
  }
  // Requested while the window is open: waits for the publication still to come.
  ASSERT_EQ(published().wait_for(10s), std::future_status::ready);
  std::lock_guard lock(service.mutex);
  ASSERT_EQ(service.askedAt.size(), 1u);
  EXPECT_EQ(service.answered, 1);
  EXPECT_GE(service.askedAt[0] - start, 150ms);
}

TEST_F(ScheduleUpdateTest, ARequestAfterThePublishTaskStartedOpensANewWindow) {
  holdAnswers();
  scheduleUpdate();
  ASSERT_TRUE(service.waitAsked(1));
  // The first publication is waiting for its answer; this request is not absorbed.
  scheduleUpdate();
  ASSERT_TRUE(service.waitAsked(2));
  {
    std::lock_guard lock(service.mutex);
    EXPECT_GE(service.askedAt[1] - service.askedAt[0], 150ms);
  }
  release(0);
  release(1);
  ASSERT_EQ(published().wait_for(10s), std::future_status::ready);
  std::lock_guard lock(service.mutex);
  EXPECT_EQ(service.answered, 2);
}

TEST_F(ScheduleUpdateTest, WaitsForThePublicationsRequestedBeforeAndNoLaterOnes) {
  holdAnswers();
  scheduleUpdate();
  ASSERT_TRUE(service.waitAsked(1));
  std::future<void> first = published();
  scheduleUpdate();
  ASSERT_TRUE(service.waitAsked(2));
  std::future<void> second = published();
  drain();
  // A query that is not answered keeps both waiting.
  EXPECT_EQ(first.wait_for(0s), std::future_status::timeout);
  release(0);
  ASSERT_EQ(first.wait_for(10s), std::future_status::ready);
  // The later publication is still unanswered; only the second caller waits for it.
  drain();
  EXPECT_EQ(second.wait_for(0s), std::future_status::timeout);
  release(1);
  ASSERT_EQ(second.wait_for(10s), std::future_status::ready);
}

TEST_F(ScheduleUpdateTest, CallsDoneAtOnceWhenNothingIsPending) {
  std::promise<bool> ranInline;
  submit(queue, [&] {
    bool ran = false;
    whenPublished([&] { ran = true; });
    ranInline.set_value(ran);
  });
  std::future<bool> result = ranInline.get_future();
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(result.get());
  std::lock_guard lock(service.mutex);
  EXPECT_TRUE(service.askedAt.empty());
}

}  // namespace
}  // namespace kel
