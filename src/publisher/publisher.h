#pragma once

namespace kel {

// Any thread. Asks for a publication of the now-playing state; requests that come
// close together are answered by one publication.
void scheduleUpdate();

}  // namespace kel
