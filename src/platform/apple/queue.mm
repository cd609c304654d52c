// Queues on macOS: a serial dispatch queue, and the shared utility queue for the
// reader. Every task runs inside an autorelease pool, so that the objects the
// player lookup leaves autoreleased are freed after each task.

#include "platform/queue.h"

#include "platform/apple/dispatch_queue.h"

namespace kel {

// The start-up thread. A serial queue with default attributes; never released, as
// it serves until the process ends.
Queue createQueue(const char* label) {
  return seamQueue(dispatch_queue_create(label, DISPATCH_QUEUE_SERIAL));
}

// Any thread; the block runs on queue. The block holds its own copy of task.
void submit(Queue queue, Task task) {
  dispatch_async(dispatchQueue(queue), ^{
    @autoreleasepool {
      task();
    }
  });
}

// Any thread; the block runs on queue once delay has passed.
void submitAfter(Queue queue, std::chrono::nanoseconds delay, Task task) {
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay.count()), dispatchQueue(queue), ^{
    @autoreleasepool {
      task();
    }
  });
}

// Any thread; the block runs on a thread of the shared utility queue.
void submitBackground(Task task) {
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_UTILITY, 0), ^{
    @autoreleasepool {
      task();
    }
  });
}

}  // namespace kel
