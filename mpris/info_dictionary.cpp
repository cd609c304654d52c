#include "mpris/info_dictionary.h"
#include "service/service.h"

#include <string>
#include <string_view>
#include <utility>

#include "mpris/artwork.h"

namespace kel::mpris {
namespace {

std::string joinArtists(const std::vector<std::string>& artists) {
  std::string joined;
  for (const std::string& artist : artists) {
    if (!joined.empty()) joined += ", ";
    joined += artist;
  }
  return joined;
}

void addArtwork(std::shared_ptr<const Artwork> artwork, InfoDictionaryImpl& info) {
  InfoEntry data;
  data.kind = InfoKind::bytes;
  data.sharedBytes = std::shared_ptr<const Bytes>(artwork, &artwork->bytes);
  info.entries.emplace(infoKey::artworkData, std::move(data));
  info.entries.emplace(infoKey::artworkIdentifier, textEntry(artwork->identity));
  if (!artwork->mime.empty()) {
    info.entries.emplace(infoKey::artworkMIMEType, textEntry(std::string(artwork->mime)));
  }
}

}  // namespace

std::shared_ptr<const InfoDictionaryImpl> buildInfo(const Player& player, std::shared_ptr<const Artwork> artwork) {
  auto info = std::make_shared<InfoDictionaryImpl>();
  const Metadata& metadata = player.metadata;
  if (!metadata.present) return info;
  auto& entries = info->entries;
  if (metadata.title) entries.emplace(infoKey::title, textEntry(*metadata.title));
  if (metadata.artists) entries.emplace(infoKey::artist, textEntry(joinArtists(*metadata.artists)));
  if (metadata.album) entries.emplace(infoKey::album, textEntry(*metadata.album));
  if (metadata.lengthSeconds) entries.emplace(infoKey::duration, realEntry(*metadata.lengthSeconds));
  if (player.position) {
    entries.emplace(infoKey::elapsedTime, realEntry(player.position->seconds));
    entries.emplace(infoKey::timestamp, realEntry(player.position->at, InfoKind::date));
  }
  // MediaRemote's rate is the speed the position moves at: 0 unless playing.
  if (player.status != Status::playing) {
    entries.emplace(infoKey::playbackRate, realEntry(0));
  } else if (player.rate) {
    entries.emplace(infoKey::playbackRate, realEntry(*player.rate));
  }
  if (artwork != nullptr) addArtwork(std::move(artwork), *info);
  return info;
}

}  // namespace kel::mpris
