#pragma once

namespace kel {

// Starts the reader of standard input on the background queue and returns at once.
// Each line becomes a handleCommand task on queue, in the order of the lines. At
// the end of input the process ends with status 0, once the commands read before
// it have run and the publications requested by then are written, or after about
// two seconds, whichever comes first.
void readCommands();

// Starts, on the background queue, a watch for the host closing its end of
// standard input, and returns at once. From that moment the process ends within
// about two seconds, even while the reader cannot read (it is held back behind a
// command that blocks, or start-up is held in a registration call that blocks).
void watchForHangUp();

}  // namespace kel
