// The Linux platform's dispatch queues: one worker thread per serial queue, a
// task list and a timer list under one mutex, and a condition variable. An idle
// queue waits without a deadline, so it costs no CPU.

#include "platform/queue.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace kel {

struct QueueImpl {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Task> tasks;
  // Delayed tasks by due time; equal times keep their submission order.
  std::multimap<std::chrono::steady_clock::time_point, Task> timers;
};

namespace {

// Runs on the queue's own thread, for as long as the process lives.
[[noreturn]] void serve(QueueImpl& queue) {
  std::unique_lock lock(queue.mutex);
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    while (!queue.timers.empty() && queue.timers.begin()->first <= now) {
      queue.tasks.push_back(std::move(queue.timers.begin()->second));
      queue.timers.erase(queue.timers.begin());
    }
    if (!queue.tasks.empty()) {
      Task task = std::move(queue.tasks.front());
      queue.tasks.pop_front();
      lock.unlock();
      task();
      task = nullptr;  // Whatever the task holds goes before the next one runs.
      lock.lock();
    } else if (!queue.timers.empty()) {
      queue.wake.wait_until(lock, queue.timers.begin()->first);
    } else {
      queue.wake.wait(lock);
    }
  }
}

}  // namespace

Queue createQueue(const char*) {
  // Note: queues live until the process ends, as the bridge's does; never freed.
  auto* queue = new QueueImpl;
  std::thread([queue] { serve(*queue); }).detach();
  return queue;
}

void submit(Queue queue, Task task) {
  {
    std::lock_guard lock(queue->mutex);
    queue->tasks.push_back(std::move(task));
  }
  queue->wake.notify_one();
}

void submitAfter(Queue queue, std::chrono::nanoseconds delay, Task task) {
  auto due = std::chrono::steady_clock::now() + delay;
  {
    std::lock_guard lock(queue->mutex);
    queue->timers.emplace(due, std::move(task));
  }
  queue->wake.notify_one();
}

void submitBackground(Task task) {
  std::thread(std::move(task)).detach();
}

}  // namespace kel
