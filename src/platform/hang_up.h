#pragma once

namespace kel {

// Blocks until the writing end of the pipe or terminal fd is closed (or fd fails),
// without reading from it and without waking for its data; may never return, as
// for a file, which has no writing end to close.
void waitForHangUp(int fd);

}  // namespace kel
