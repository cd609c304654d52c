// The artwork of a state record. Cover images are large and change rarely, so the
// bytes are sent only when the artwork identity changes; later records carry the
// identity alone, and the host keeps the image it already has.

#include "publisher/state_record.h"

#include <utility>

namespace kel {

std::optional<std::string> lastArtworkID;

namespace {

// The record's text member called name, or "" when it has none.
std::string_view textMember(const Record& record, std::string_view name) {
  const Value* value = record.find(name);
  if (value == nullptr) return {};
  const auto* text = std::get_if<std::string_view>(value);
  return text == nullptr ? std::string_view() : *text;
}

}  // namespace

std::string_view artworkIdentity(const InfoValue& identifier, Record& record) {
  // Note: an empty identifier is still the service's own identity for the image,
  // so it is used as it is rather than replaced by the track's texts.
  if (identifier.kind == InfoKind::string) return identifier.text;
  std::string_view title = textMember(record, "title");
  std::string_view artist = textMember(record, "artist");
  std::string_view album = textMember(record, "album");
  std::string identity;
  identity.reserve(title.size() + artist.size() + album.size() + 2);
  identity.append(title).append(1, '|').append(artist).append(1, '|').append(album);
  return record.texts.keep(std::move(identity));
}

bool artworkQualifies(const InfoValue& bytes) {
  return bytes.kind == InfoKind::bytes && !bytes.bytes.empty() && bytes.bytes.size() <= artworkLimit;
}

void addArtwork(InfoDictionary info, Record& record) {
  InfoValue bytes = readInfo(info, infoKey::artworkData, record.texts);
  // Missing or oversized artwork leaves lastArtworkID alone: artwork that vanishes
  // for a moment and comes back under the same identity is not sent again.
  if (!artworkQualifies(bytes)) return;
  std::string_view identity = artworkIdentity(readInfo(info, infoKey::artworkIdentifier, record.texts), record);
  record.set("artworkID", identity);
  if (lastArtworkID && *lastArtworkID == identity) return;
  // The bytes stay in the service's buffer; the writer encodes them into the line.
  record.set("artwork", Base64Text{bytes.bytes});
  copyString(info, infoKey::artworkMIMEType, record, "artworkMIME");
}

void recordArtworkSent(const Record& record) {
  if (record.find("artwork") != nullptr) lastArtworkID.emplace(textMember(record, "artworkID"));
}

}  // namespace kel
