#pragma once

#include "platform/queue.h"

namespace kel {

// The serial queue on which every stateful task runs. Written once during
// start-up, before any other thread of ours exists, and only read afterwards.
extern Queue queue;

// Any thread. Returns once start-up has made its last request, the one for the
// first publication.
void waitForStartUp();

// Any thread. Ends the process with status, after the line being written, if any,
// is complete: it takes the standard-output lock, flushes, and leaves without
// running destructors, which other threads may still need.
[[noreturn]] void endProcess(int status);

}  // namespace kel
