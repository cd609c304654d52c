#include "commands/commands.h"

namespace kel {

// Commands arrive with the command channel; until then standard input is not read.
void readCommands() {}

}  // namespace kel
