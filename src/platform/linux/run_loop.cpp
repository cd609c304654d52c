#include "platform/run_loop.h"

#include <unistd.h>

namespace kel {

// The Linux run loop has no sources of its own: it blocks for good, without
// waking. pause() returns only after a signal handler ran.
void runLoop() {
  for (;;) pause();
}

}  // namespace kel
