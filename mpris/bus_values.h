#pragma once
// Reading what players report: their properties, as GetAll and Get answer them and
// as PropertiesChanged and Seeked announce them. A value of another D-Bus type than
// the one MPRIS gives it is left out; it never stops the rest from being read.

#include <systemd/sd-bus.h>

#include <string_view>

#include "mpris/player.h"

namespace kel::mpris {

// Which of a player's properties a message set.
struct PropertyChanges {
  bool status = false;
  bool rate = false;
  bool metadata = false;
  bool position = false;
  bool desktopEntry = false;
};

// Reads an a{sv} of properties of the Player interface (playerInterface true) or of
// the root interface into player. Returns false when the message is not shaped so.
bool readProperties(sd_bus_message* message, bool playerInterface, Players& players, Player& player,
                    PropertyChanges& changes);

// Reads a Get answer: one variant holding the property called name.
bool readProperty(sd_bus_message* message, std::string_view name, bool playerInterface, Players& players,
                  Player& player, PropertyChanges& changes);

// Reads a Seeked signal's position (microseconds) into player.
bool readSeeked(sd_bus_message* message, Player& player);

}  // namespace kel::mpris
