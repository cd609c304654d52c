#pragma once

namespace kel {

// Serves the calling thread's run loop. Returns only if the run loop has nothing to
// serve; the Linux one never returns.
void runLoop();

}  // namespace kel
