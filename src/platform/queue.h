#pragma once
// The platform's queues: the serial queue that runs every stateful task, and the
// shared background queue for blocking work. Dispatch on macOS, our own on Linux.

#include <chrono>
#include <functional>

namespace kel {

struct QueueImpl;
// A serial queue: its tasks run one at a time, in submission order, on a thread of
// the platform's. Queues live until the process ends.
using Queue = QueueImpl*;
using Task = std::function<void()>;

Queue createQueue(const char* label);

// Any thread. Returns at once; task runs after every task submitted before it.
void submit(Queue queue, Task task);

// Any thread. Returns at once; once delay has passed, task is submitted to queue
// and takes its turn after the tasks already there.
void submitAfter(Queue queue, std::chrono::nanoseconds delay, Task task);

// Any thread. Runs task on the shared background queue (utility quality of
// service), which is meant for work that blocks.
void submitBackground(Task task);

}  // namespace kel
