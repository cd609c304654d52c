#include "bench_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <random>
#include <string>

namespace kel::bench {

InfoDictionaryImpl makeInfo(std::size_t artworkBytes) {
  InfoDictionaryImpl info;
  auto& entries = info.entries;
  entries.emplace("kMRMediaRemoteNowPlayingInfoTitle", textEntry("Blue in Green"));
  entries.emplace("kMRMediaRemoteNowPlayingInfoArtist", textEntry("Miles Davis"));
  entries.emplace("kMRMediaRemoteNowPlayingInfoAlbum", textEntry("Kind of Blue"));
  entries.emplace("kMRMediaRemoteNowPlayingInfoDuration", realEntry(337.2));
  entries.emplace("kMRMediaRemoteNowPlayingInfoElapsedTime", realEntry(12.5));
  entries.emplace("kMRMediaRemoteNowPlayingInfoPlaybackRate", realEntry(1.0));
  entries.emplace("kMRMediaRemoteNowPlayingInfoTimestamp", realEntry(1733594434.625, InfoKind::date));
  if (artworkBytes > 0) {
    // Cover images are compressed, so their bytes look random; a fixed seed keeps
    // the runs comparable.
    InfoEntry data;
    data.kind = InfoKind::bytes;
    data.bytes.resize(artworkBytes);
    std::mt19937_64 random(20241207);
    for (std::uint8_t& byte : data.bytes) byte = static_cast<std::uint8_t>(random() >> 56);
    entries.emplace("kMRMediaRemoteNowPlayingInfoArtworkData", std::move(data));
    entries.emplace("kMRMediaRemoteNowPlayingInfoArtworkMIMEType", textEntry("image/jpeg"));
    entries.emplace("kMRMediaRemoteNowPlayingInfoArtworkIdentifier", textEntry("7D3F0A2C"));
  }
  return info;
}

void registerPlayer() {
  // The registry keeps pointers: the objects live as long as the process.
  static ObjectImpl client, path, request;
  if (client.selectors.empty()) {
    SelectorResult bundle;
    bundle.kind = SelectorResult::Kind::string;
    bundle.text = "com.example.player";
    client.selectors.emplace("bundleIdentifier", bundle);
    path.selectors.emplace("client", objectResult(&client));
    request.selectors.emplace("localNowPlayingPlayerPath", objectResult(&path));
  }
  registerClass("MRNowPlayingRequest", &request);
}

StdoutToNull::StdoutToNull() {
  std::cout.flush();
  std::fflush(stdout);
  saved = dup(STDOUT_FILENO);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  dup2(null, STDOUT_FILENO);
  close(null);
}

StdoutToNull::~StdoutToNull() {
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

}  // namespace kel::bench
