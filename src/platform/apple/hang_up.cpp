#include "platform/hang_up.h"

#include <sys/event.h>
#include <unistd.h>

#include <cerrno>

namespace kel {

// A thread of the utility queue. Darwin's poll reports no hang-up when asked for no
// event, so a kqueue watches the descriptor instead: edge-triggered, it wakes once
// per write of the host's, and its end-of-file flag tells the hang-up. Where fd
// cannot be watched, it blocks for good.
void waitForHangUp(int fd) {
  int queue = kqueue();
  struct kevent change;
  EV_SET(&change, fd, EVFILT_READ, EV_ADD | EV_CLEAR, 0, 0, nullptr);
  if (queue < 0 || kevent(queue, &change, 1, nullptr, 0, nullptr) < 0) {
    for (;;) pause();
  }
  for (;;) {
    struct kevent event;
    int count = kevent(queue, nullptr, 0, &event, 1, nullptr);
    if (count < 0 && errno != EINTR) return;
    if (count > 0 && (event.flags & (EV_EOF | EV_ERROR)) != 0) return;
  }
}

}  // namespace kel
