// The state record: who owns the player, and the members read from the info
// dictionary. Values are read one key at a time and borrowed, never copied.

#include "publisher/state_record.h"

#include <cmath>

#include "output/write_line.h"
#include "platform/class_lookup.h"

namespace kel {
namespace {

// A string result of at least one character, the only kind of identifier we accept.
std::optional<std::string_view> nonEmptyString(Object object, std::string_view selector,
                                               TextStore& store) {
  if (!respondsTo(object, selector)) return std::nullopt;
  std::optional<std::string_view> text = callForString(object, selector, store);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

void buildNoPlayerRecord(Record& record) {
  // The player is gone, so artwork that comes back later is news again.
  lastArtworkID.reset();
  record.set("bundle", nullptr);
}

}  // namespace

std::optional<std::string_view> findPlayerBundle(TextStore& store) {
  // Note: every call is guarded by respondsTo, as a selector the system lacks
  // would otherwise end the process.
  Object request = lookupClass("MRNowPlayingRequest");
  if (request == nullptr || !respondsTo(request, "localNowPlayingPlayerPath")) return std::nullopt;
  Object path = callForObject(request, "localNowPlayingPlayerPath");
  if (path == nullptr || !respondsTo(path, "client")) return std::nullopt;
  Object client = callForObject(path, "client");
  if (client == nullptr) return std::nullopt;
  // An application's helper process reports the application that owns it as its
  // parent; that is the identifier a user recognises.
  if (auto parent = nonEmptyString(client, "parentApplicationBundleIdentifier", store)) return parent;
  return nonEmptyString(client, "bundleIdentifier", store);
}

void copyString(InfoDictionary info, std::string_view key, Record& record, std::string_view member) {
  InfoValue value = readInfo(info, key, record.texts);
  if (value.kind == InfoKind::string && !value.text.empty()) record.set(member, value.text);
}

void copyNumber(InfoDictionary info, std::string_view key, Record& record, std::string_view member) {
  InfoValue value = readInfo(info, key, record.texts);
  switch (value.kind) {
    case InfoKind::integer:
      record.set(member, value.integer);
      break;
    case InfoKind::real:
      if (std::isfinite(value.real)) record.set(member, value.real);
      break;
    case InfoKind::boolean:
      record.set(member, value.boolean);
      break;
    default:
      break;
  }
}

void buildStateRecord(std::uint8_t playing, InfoDictionary info, Record& record) {
  std::optional<std::string_view> bundle = findPlayerBundle(record.texts);
  if (!bundle || infoIsEmpty(info)) {
    buildNoPlayerRecord(record);
    return;
  }
  record.set("bundle", *bundle);
  record.set("playing", playing != 0);
  copyString(info, infoKey::title, record, "title");
  copyString(info, infoKey::artist, record, "artist");
  copyString(info, infoKey::album, record, "album");
  copyNumber(info, infoKey::duration, record, "duration");
  copyNumber(info, infoKey::elapsedTime, record, "elapsed");
  copyNumber(info, infoKey::playbackRate, record, "rate");
  // A date that is not a finite instant is left out like any other malformed
  // value, so that it cannot cost the rest of the record its line.
  if (InfoValue timestamp = readInfo(info, infoKey::timestamp, record.texts);
      timestamp.kind == InfoKind::date && std::isfinite(timestamp.real)) {
    record.set("timestamp", timestamp.real);
  }
  addArtwork(info, record);
}

void writeStateRecord(std::uint8_t playing, InfoDictionary info) {
  Record record;
  buildStateRecord(playing, info, record);
  if (writeLine(record)) recordArtworkSent(record);
}

}  // namespace kel
