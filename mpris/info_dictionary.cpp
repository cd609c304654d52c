#include "mpris/info_dictionary.h"

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
  info.entries.emplace("kMRMediaRemoteNowPlayingInfoArtworkData", std::move(data));
  info.entries.emplace("kMRMediaRemoteNowPlayingInfoArtworkIdentifier", textEntry(artwork->identity));
  if (!artwork->mime.empty()) {
    info.entries.emplace("kMRMediaRemoteNowPlayingInfoArtworkMIMEType", textEntry(std::string(artwork->mime)));
  }
}

}  // namespace

std::shared_ptr<const InfoDictionaryImpl> buildInfo(const Player& player, std::shared_ptr<const Artwork> artwork) {
  auto info = std::make_shared<InfoDictionaryImpl>();
  const Metadata& metadata = player.metadata;
  if (!metadata.present) return info;
  auto& entries = info->entries;
  if (metadata.title) entries.emplace("kMRMediaRemoteNowPlayingInfoTitle", textEntry(*metadata.title));
  if (metadata.artists) entries.emplace("kMRMediaRemoteNowPlayingInfoArtist", textEntry(joinArtists(*metadata.artists)));
  if (metadata.album) entries.emplace("kMRMediaRemoteNowPlayingInfoAlbum", textEntry(*metadata.album));
  if (metadata.lengthSeconds) entries.emplace("kMRMediaRemoteNowPlayingInfoDuration", realEntry(*metadata.lengthSeconds));
  if (player.position) {
    entries.emplace("kMRMediaRemoteNowPlayingInfoElapsedTime", realEntry(player.position->seconds));
    entries.emplace("kMRMediaRemoteNowPlayingInfoTimestamp", realEntry(player.position->at, InfoKind::date));
  }
  // MediaRemote's rate is the speed the position moves at: 0 unless playing.
  if (player.status != Status::playing) {
    entries.emplace("kMRMediaRemoteNowPlayingInfoPlaybackRate", realEntry(0));
  } else if (player.rate) {
    entries.emplace("kMRMediaRemoteNowPlayingInfoPlaybackRate", realEntry(*player.rate));
  }
  if (artwork != nullptr) addArtwork(std::move(artwork), *info);
  return info;
}

}  // namespace kel::mpris
