#include "platform/queue.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/notification_center.h"

namespace kel {
namespace {

using namespace std::chrono_literals;

// Collects what tasks record, and lets the test wait for the last one.
struct Log {
  std::mutex mutex;
  std::vector<int> entries;
  void add(int entry) {
    std::lock_guard lock(mutex);
    entries.push_back(entry);
  }
};

void drain(Queue queue) {
  std::promise<void> done;
  submit(queue, [&] { done.set_value(); });
  ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

TEST(QueueTest, RunsTasksOneAtATimeInSubmissionOrder) {
  Queue queue = createQueue("test.order");
  Log log;
  std::atomic<int> running = 0;
  std::atomic<int> overlap = 0;
  std::vector<std::thread> submitters;
  // Several threads submit; each thread's own tasks must keep their order.
  for (int thread = 0; thread < 4; ++thread) {
    submitters.emplace_back([&, thread] {
      for (int i = 0; i < 500; ++i) {
        submit(queue, [&, thread, i] {
          if (running.fetch_add(1) != 0) overlap++;
          log.add(thread * 1000 + i);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& submitter : submitters) submitter.join();
  drain(queue);
  EXPECT_EQ(overlap.load(), 0);
  ASSERT_EQ(log.entries.size(), 2000u);
  std::vector<int> last(4, -1);
  for (int entry : log.entries) {
    EXPECT_GT(entry % 1000, last[entry / 1000]);
    last[entry / 1000] = entry % 1000;
  }
}

TEST(QueueTest, DelayedTasksRunByDueTimeAfterTheTasksAlreadyQueued) {
  Queue queue = createQueue("test.delayed");
  Log log;
  auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point ranAt;
  submitAfter(queue, 120ms, [&] { log.add(3); ranAt = std::chrono::steady_clock::now(); });
  submitAfter(queue, 60ms, [&] { log.add(2); });
  submitAfter(queue, 60ms, [&] { log.add(21); });  // Same due time: submission order.
  // A task that blocks past the due times: the delayed ones wait for it, then run in order.
  submit(queue, [&] { std::this_thread::sleep_for(200ms); log.add(1); });
  std::this_thread::sleep_for(300ms);
  drain(queue);
  EXPECT_EQ(log.entries, (std::vector<int>{1, 2, 21, 3}));
  EXPECT_GE(ranAt - start, 120ms);
}

TEST(NotificationCenterTest, ObserversRunOnThePostingThreadForTheirNameOnly) {
  std::thread::id ranOn;
  int calls = 0;
  addObserver("test.first", [&] { ranOn = std::this_thread::get_id(); calls++; });
  addObserver("test.second", [&] { calls += 100; });
  std::thread([] { postNotification("test.first"); }).join();
  EXPECT_EQ(calls, 1);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  postNotification("test.none");
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kel
