#include "publisher/publisher.h"

namespace kel {

// Publications arrive with the state publisher; until then a request does nothing.
void scheduleUpdate() {}

}  // namespace kel
