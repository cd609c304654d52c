#include "bench_support.h"
#include "service/service.h"

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
  entries.emplace(infoKey::title, textEntry("Blue in Green"));
  entries.emplace(infoKey::artist, textEntry("Miles Davis"));
  entries.emplace(infoKey::album, textEntry("Kind of Blue"));
  entries.emplace(infoKey::duration, realEntry(337.2));
  entries.emplace(infoKey::elapsedTime, realEntry(12.5));
  entries.emplace(infoKey::playbackRate, realEntry(1.0));
  entries.emplace(infoKey::timestamp, realEntry(1733594434.625, InfoKind::date));
  if (artworkBytes > 0) {
    // Cover images are compressed, so their bytes look random; a fixed seed keeps
    // the runs comparable.
    InfoEntry data;
    data.kind = InfoKind::bytes;
    data.bytes.resize(artworkBytes);
    std::mt19937_64 random(20241207);
    for (std::uint8_t& byte : data.bytes) byte = static_cast<std::uint8_t>(random() >> 56);
    entries.emplace(infoKey::artworkData, std::move(data));
    entries.emplace(infoKey::artworkMIMEType, textEntry("image/jpeg"));
    entries.emplace(infoKey::artworkIdentifier, textEntry("7D3F0A2C"));
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
