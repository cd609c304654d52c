#pragma once
// The now-playing info dictionary, under MediaRemote's key names, built from what a
// player reported.

#include <memory>

#include "mpris/player.h"
#include "platform/linux/standin.h"

namespace kel::mpris {

// Bus thread. The dictionary for player; empty when the player gave no metadata.
// The elapsed time and timestamp are the player's last known position.
std::shared_ptr<const InfoDictionaryImpl> buildInfo(const Player& player);

}  // namespace kel::mpris
