#pragma once

#include <functional>

namespace kel {

// Any thread. Asks for a publication of the now-playing state; requests that come
// close together are answered by one publication.
void scheduleUpdate();

// Runs on queue. Calls done, on queue, once every publication requested so far
// (every request whose gate task has run) has written its record or has been
// dropped; at once when none is pending. Used to finish the work asked for before
// the end of input.
void whenPublished(std::function<void()> done);

}  // namespace kel
