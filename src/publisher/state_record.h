#pragma once
// Turning the service's answers into the record of one publication: the player
// lookup, the members copied from the info dictionary, and the artwork, which is
// sent once per artwork identity. Everything here runs on queue.
//
// Usage, from the second callback of a publication:
//   writeStateRecord(playing, info);  // writes {"bundle":"com.example","playing":true,...}

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "output/record.h"
#include "platform/info_value.h"
#include "service/service.h"

namespace kel {

// The artwork identity that accompanied the artwork bytes last sent, or none.
// Replaced when artwork is sent and cleared by a no-player record; touched only on
// queue. Tests may clear it between cases.
extern std::optional<std::string> lastArtworkID;

// The bundle identifier of the application that owns the local player, found by
// class and selector names; none when any step of the lookup fails. The text is
// valid as long as both the running task and store.
std::optional<std::string_view> findPlayerBundle(TextStore& store);

// Sets member of record to the string under key when it has at least one
// character; otherwise leaves record unchanged. The record borrows the text.
void copyString(InfoDictionary info, std::string_view key, Record& record, std::string_view member);

// Sets member of record to the number under key, unchanged in kind (an integer
// stays an integer, a boolean stays a boolean), when its value as a double is
// finite; otherwise leaves record unchanged.
void copyNumber(InfoDictionary info, std::string_view key, Record& record, std::string_view member);

// The artwork identity: the identifier when it is a string, of any length;
// otherwise the record's "title", "artist" and "album" joined by vertical bars,
// each "" when the record lacks it. A built identity is kept in the record's texts.
std::string_view artworkIdentity(const InfoValue& identifier, Record& record);

// Whether bytes may be sent as artwork: a byte buffer of 1 to artworkLimit bytes.
bool artworkQualifies(const InfoValue& bytes);

// Adds the artwork members to a state record whose text members are filled: the
// bytes only when their identity differs from lastArtworkID. The record borrows
// the artwork bytes from info.
void addArtwork(InfoDictionary info, Record& record);

// Once record's line is written whole: when it carried the artwork bytes, their
// identity becomes lastArtworkID. A line that never left sent nothing.
void recordArtworkSent(const Record& record);

// Fills the empty record with what one publication writes: the no-player record
// when there is no player or no information, the state record otherwise. A
// no-player record clears lastArtworkID. The record borrows from info and from
// the player lookup, so both must outlive it.
void buildStateRecord(std::uint8_t playing, InfoDictionary info, Record& record);

// Builds the record of one publication and writes it as one line.
void writeStateRecord(std::uint8_t playing, InfoDictionary info);

}  // namespace kel
