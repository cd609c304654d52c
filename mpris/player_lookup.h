#pragma once
// What the bridge's player lookup finds: the class "MRNowPlayingRequest", whose
// "localNowPlayingPlayerPath" gives a path whose "client" gives a client with the
// player's "bundleIdentifier".

#include <optional>
#include <string>

namespace kel::mpris {

// The bridge's queue, just before an info answer's callback, as the lookup is
// walked there and only there. From now on the lookup finds a client with
// bundleIdentifier, or no class at all when there is no player.
void presentPlayer(const std::optional<std::string>& bundleIdentifier);

}  // namespace kel::mpris
