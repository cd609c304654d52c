#pragma once

namespace kel {

// Starts the reader of standard input on the background queue and returns at once.
// Each line becomes a handleCommand task on queue, in the order of the lines. At
// the end of input the process ends with status 0, once the commands read before
// it have run and the publications requested by then are written, or after about
// two seconds, whichever comes first.
void readCommands();

}  // namespace kel
