#include "publisher/publisher.h"

namespace kel {

// Publications arrive with the state publisher; until then a request does nothing.
void scheduleUpdate() {}

void whenPublished(std::function<void()> done) {
  done();
}

}  // namespace kel
