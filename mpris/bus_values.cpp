// Decoding D-Bus values into a Player. Every read peeks at the variant's signature
// first and skips a value of an unexpected type, so that a player's mistake costs
// only that value.

#include "mpris/players.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mpris/bus.h"

namespace kel::mpris {
namespace {

// The signature inside the variant at the read position, or "" when there is none.
std::string_view variantContents(sd_bus_message* message) {
  char type = 0;
  const char* contents = nullptr;
  if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v' || contents == nullptr) return {};
  return contents;
}

// Moves past a value of any type; false when the message cannot be read on.
bool skipValue(sd_bus_message* message) {
  return sd_bus_message_skip(message, nullptr) >= 0;
}

// Reads a variant holding a basic value of type into value, or skips the variant.
// Returns false only when the message cannot be read on.
template <typename T>
bool readVariantBasic(sd_bus_message* message, char type, std::optional<T>& value) {
  value.reset();
  char signature[2] = {type, '\0'};
  if (variantContents(message) != signature) return skipValue(message);
  if (sd_bus_message_enter_container(message, 'v', signature) <= 0) return false;
  T read{};
  if (sd_bus_message_read_basic(message, type, &read) <= 0) return false;
  value = read;
  return sd_bus_message_exit_container(message) >= 0;
}

bool readVariantText(sd_bus_message* message, char type, std::optional<std::string>& text) {
  std::optional<const char*> read;
  if (!readVariantBasic(message, type, read)) return false;
  text = read ? std::optional<std::string>(*read) : std::nullopt;
  return true;
}

bool readVariantTexts(sd_bus_message* message, std::optional<std::vector<std::string>>& texts) {
  texts.reset();
  if (variantContents(message) != "as") return skipValue(message);
  if (sd_bus_message_enter_container(message, 'v', "as") <= 0) return false;
  std::vector<std::string> read;
  if (sd_bus_message_enter_container(message, 'a', "s") <= 0) return false;
  const char* text = nullptr;
  int result = 0;
  while ((result = sd_bus_message_read_basic(message, 's', &text)) > 0) read.emplace_back(text);
  if (result < 0 || sd_bus_message_exit_container(message) < 0) return false;
  texts = std::move(read);
  return sd_bus_message_exit_container(message) >= 0;
}

// MPRIS gives lengths as int64; some players send uint64. A negative length is
// not a length.
bool readVariantMicroseconds(sd_bus_message* message, std::optional<double>& seconds) {
  seconds.reset();
  std::string_view contents = variantContents(message);
  if (contents == "x") {
    std::optional<std::int64_t> value;
    if (!readVariantBasic(message, 'x', value)) return false;
    if (value && *value >= 0) seconds = static_cast<double>(*value) / 1e6;
    return true;
  }
  if (contents == "t") {
    std::optional<std::uint64_t> value;
    if (!readVariantBasic(message, 't', value)) return false;
    if (value) seconds = static_cast<double>(*value) / 1e6;
    return true;
  }
  return skipValue(message);
}

// Reads an a{sv}, calling readEntry(key) with the read position at each variant;
// readEntry must read or skip it.
template <typename ReadEntry>
bool readDictionary(sd_bus_message* message, ReadEntry readEntry) {
  if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0) return false;
  int result = 0;
  while ((result = sd_bus_message_enter_container(message, 'e', "sv")) > 0) {
    const char* key = nullptr;
    if (sd_bus_message_read_basic(message, 's', &key) <= 0) return false;
    if (!readEntry(std::string_view(key))) return false;
    if (sd_bus_message_exit_container(message) < 0) return false;
  }
  return result == 0 && sd_bus_message_exit_container(message) >= 0;
}

bool readMetadataEntry(sd_bus_message* message, std::string_view key, Metadata& metadata) {
  metadata.present = true;
  if (key == "xesam:title") return readVariantText(message, 's', metadata.title);
  if (key == "xesam:album") return readVariantText(message, 's', metadata.album);
  if (key == "xesam:artist") return readVariantTexts(message, metadata.artists);
  if (key == "mpris:length") return readVariantMicroseconds(message, metadata.lengthSeconds);
  if (key == "mpris:trackid") return readVariantText(message, 'o', metadata.trackId);
  if (key == "mpris:artUrl") {
    std::optional<std::string> url;
    if (!readVariantText(message, 's', url)) return false;
    metadata.artUrl = url ? std::make_shared<const std::string>(std::move(*url)) : nullptr;
    return true;
  }
  return skipValue(message);
}

bool readMetadata(sd_bus_message* message, Metadata& metadata) {
  metadata = Metadata{};
  if (variantContents(message) != "a{sv}") return skipValue(message);
  if (sd_bus_message_enter_container(message, 'v', "a{sv}") <= 0) return false;
  Metadata read;
  if (!readDictionary(message, [&](std::string_view key) { return readMetadataEntry(message, key, read); })) {
    return false;
  }
  metadata = std::move(read);
  return sd_bus_message_exit_container(message) >= 0;
}

Status statusFromText(const std::optional<std::string>& text) {
  if (!text) return Status::unknown;
  if (*text == "Playing") return Status::playing;
  if (*text == "Paused") return Status::paused;
  if (*text == "Stopped") return Status::stopped;
  return Status::unknown;
}

bool readPosition(sd_bus_message* message, Player& player) {
  std::optional<std::int64_t> microseconds;
  if (!readVariantBasic(message, 'x', microseconds)) return false;
  if (microseconds) player.position = Position{static_cast<double>(*microseconds) / 1e6, realtimeNow()};
  return true;
}

bool readEntry(sd_bus_message* message, std::string_view key, bool isPlayer, Players& players,
               Player& player, PropertyChanges& changes) {
  if (!isPlayer) {
    if (key != "DesktopEntry") return skipValue(message);
    changes.desktopEntry = true;
    return readVariantText(message, 's', player.desktopEntry);
  }
  if (key == "PlaybackStatus") {
    std::optional<std::string> text;
    if (!readVariantText(message, 's', text)) return false;
    setStatus(players, player, statusFromText(text));
    changes.status = true;
    return true;
  }
  if (key == "Rate") {
    changes.rate = true;
    return readVariantBasic(message, 'd', player.rate);
  }
  if (key == "Metadata") {
    changes.metadata = true;
    return readMetadata(message, player.metadata);
  }
  if (key == "Position") {
    changes.position = true;
    return readPosition(message, player);
  }
  return skipValue(message);
}

}  // namespace

bool readProperties(sd_bus_message* message, bool isPlayer, Players& players, Player& player,
                    PropertyChanges& changes) {
  return readDictionary(message, [&](std::string_view key) {
    return readEntry(message, key, isPlayer, players, player, changes);
  });
}

bool readProperty(sd_bus_message* message, std::string_view name, bool isPlayer, Players& players,
                  Player& player, PropertyChanges& changes) {
  return readEntry(message, name, isPlayer, players, player, changes);
}

bool readSeeked(sd_bus_message* message, Player& player) {
  std::int64_t microseconds = 0;
  if (sd_bus_message_read_basic(message, 'x', &microseconds) <= 0) return false;
  player.position = Position{static_cast<double>(microseconds) / 1e6, realtimeNow()};
  return true;
}

}  // namespace kel::mpris
