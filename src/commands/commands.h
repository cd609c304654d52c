#pragma once

namespace kel {

// Starts the reader of standard input on the background queue and returns at once.
void readCommands();

}  // namespace kel
