#pragma once
// The now-playing info dictionary, under MediaRemote's key names, built from what a
// player reported.

#include <memory>

#include "mpris/artwork.h"
#include "mpris/player.h"
#include "platform/linux/linux_platform.h"

namespace kel::mpris {

// The dictionary for player, with artwork when there is some; empty when the
// player gave no metadata. The elapsed time and timestamp are the player's last
// known position. The artwork's bytes are shared, not copied.
std::shared_ptr<const InfoDictionaryImpl> buildInfo(const Player& player, std::shared_ptr<const Artwork> artwork);

}  // namespace kel::mpris
