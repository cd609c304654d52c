#pragma once
// Watching the players on the session bus: the names that come and go, what each
// player reports, and the first look at the players already there.

#include "mpris/bus_thread.h"

namespace kel::mpris {

// Bus thread, once, after connecting or failing to. Without a bus the service is
// ready at once, with no player.
void watchPlayers();

// Any thread. Whether the first look at the bus is done (or took too long).
bool isReady();

// Bus thread. Runs task once the first look at the bus is done: at once if it is.
void whenReady(BusTask task);

}  // namespace kel::mpris
