#pragma once
// Between the seam's Queue and the dispatch queue it stands for. Objective-C++ only:
// there a dispatch queue is an object pointer.

#include <dispatch/dispatch.h>

#include "platform/queue.h"

namespace kel {

// Any thread.
inline dispatch_queue_t dispatchQueue(Queue queue) {
  return (__bridge dispatch_queue_t)static_cast<void*>(queue);
}

// Any thread.
inline Queue seamQueue(dispatch_queue_t queue) {
  return static_cast<Queue>((__bridge void*)queue);
}

}  // namespace kel
