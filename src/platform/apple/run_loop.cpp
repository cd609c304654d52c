#include "platform/run_loop.h"

#include <CoreFoundation/CoreFoundation.h>

namespace kel {

// The thread that called kel_mediaremote_run: serves its run loop in the default
// mode, and returns only if the run loop has no sources.
void runLoop() {
  CFRunLoopRun();
}

}  // namespace kel
