#include "platform/hang_up.h"

#include <poll.h>

#include <cerrno>

namespace kel {

// The reader's background thread. Asking poll for no event leaves only the ones it
// always reports: a hang-up, an error, a descriptor that is not open.
void waitForHangUp(int fd) {
  pollfd watched{fd, 0, 0};
  while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
  }
}

}  // namespace kel
