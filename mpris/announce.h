#pragma once
// Telling the bridge what changed: choosing the now-playing player again, updating
// what the player lookup finds, and posting the notifications MediaRemote posts.

#include <string_view>

#include "mpris/bus_values.h"

namespace kel::mpris {

// Bus thread, after the properties of the player owner changed (changes), or after
// players came or went (playersChanged). Nothing is posted before the service is
// ready: the bridge's first publication waits for that anyway.
void announce(std::string_view owner, const PropertyChanges& changes, bool playersChanged);

}  // namespace kel::mpris
