#include "platform/run_loop.h"

#include "platform/io.h"

namespace kel {

// The Linux run loop has no sources of its own: it blocks for good, without waking.
void runLoop() {
  blockForever();
}

}  // namespace kel
