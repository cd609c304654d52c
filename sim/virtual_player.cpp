// The virtual player: a small playlist that plays when nobody gives a scenario, for
// the demo and for developers of hosts who have no Mac. It keeps its position as
// the real service does, as the elapsed time at a moment plus a rate, and posts the
// service's notifications on every change.

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>

#include "service/service.h"
#include "sim/simulator.h"

namespace kel::sim {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

struct Track {
  std::string title;
  std::string artist;
  std::string album;
  double duration = 0;
  std::string artworkID;
  std::vector<std::uint8_t> artwork;
};

// Everything is guarded by simState().mutex.
struct Player {
  std::vector<Track> tracks;
  std::size_t index = 0;
  bool playing = false;
  double elapsedAtStamp = 0;
  Clock::time_point stamp;
  std::chrono::system_clock::time_point wallStamp;
  // Notifications to post, in order and each once, on the player's thread.
  std::vector<std::string_view> pendingPosts;
};

Player& player() {
  static Player& player = *new Player;
  return player;
}

constexpr std::string_view infoDidChange = notificationNames[0];
constexpr std::string_view isPlayingDidChange = notificationNames[1];
constexpr std::string_view applicationDidChange = notificationNames[2];
constexpr std::string_view queueDidChange = notificationNames[3];

// Like a real player, "previous" restarts the track once it has played this long.
constexpr double restartAfterSeconds = 3;

std::vector<Track> makePlaylist() {
  struct Entry {
    const char* title;
    const char* artist;
    const char* album;
    double duration;
  };
  const Entry entries[] = {
      {"Harbour Lights", "The Lanterns", "Night Ferries", 34.5},
      {"Paper Kites", "Mira Okafor", "Small Weather", 41},
      {"Slow Signal", "Northbound Static", "Relay", 28.25},
      {"Copper Fields", "The Lanterns", "Night Ferries", 47},
  };
  std::vector<Track> tracks;
  int number = 0;
  for (const Entry& entry : entries) {
    ++number;
    std::span<const std::uint8_t> cover = virtualCover(number);
    tracks.push_back({entry.title, entry.artist, entry.album, entry.duration,
                      "kel-virtual-cover-" + std::to_string(number), {cover.begin(), cover.end()}});
  }
  return tracks;
}

double elapsedNow(const Player& p) {
  double elapsed = p.elapsedAtStamp;
  if (p.playing) elapsed += Seconds(Clock::now() - p.stamp).count();
  return std::min(elapsed, p.tracks[p.index].duration);
}

Clock::time_point trackEnd(const Player& p) {
  Seconds left(p.tracks[p.index].duration - p.elapsedAtStamp);
  return p.stamp + std::chrono::duration_cast<Clock::duration>(left);
}

void post(Player& p, std::string_view name) {
  if (std::find(p.pendingPosts.begin(), p.pendingPosts.end(), name) == p.pendingPosts.end()) {
    p.pendingPosts.push_back(name);
  }
}

// Sets the position to elapsed as of now, hands the service a new info dictionary,
// and wakes the player's thread to post and to wait for the new end of the track.
void restamp(Player& p, double elapsed) {
  p.elapsedAtStamp = elapsed;
  p.stamp = Clock::now();
  p.wallStamp = std::chrono::system_clock::now();

  const Track& track = p.tracks[p.index];
  auto info = std::make_shared<InfoDictionaryImpl>();
  auto& entries = info->entries;
  entries[std::string(infoKey::title)] = textEntry(track.title);
  entries[std::string(infoKey::artist)] = textEntry(track.artist);
  entries[std::string(infoKey::album)] = textEntry(track.album);
  entries[std::string(infoKey::duration)] = realEntry(track.duration);
  entries[std::string(infoKey::elapsedTime)] = realEntry(elapsed);
  entries[std::string(infoKey::playbackRate)] = realEntry(p.playing ? 1.0 : 0.0);
  entries[std::string(infoKey::timestamp)] =
      realEntry(Seconds(p.wallStamp.time_since_epoch()).count(), InfoKind::date);
  InfoEntry artwork;
  artwork.kind = InfoKind::bytes;
  artwork.bytes = track.artwork;
  entries[std::string(infoKey::artworkData)] = std::move(artwork);
  entries[std::string(infoKey::artworkIdentifier)] = textEntry(track.artworkID);
  entries[std::string(infoKey::artworkMIMEType)] = textEntry("image/png");

  SimState& state = simState();
  state.info = std::move(info);
  state.playing = p.playing ? 1 : 0;
  post(p, infoDidChange);
  state.wake.notify_all();
}

void changeTrack(Player& p, std::size_t index) {
  p.index = index;
  restamp(p, 0);
  post(p, queueDidChange);
}

void setPlaying(Player& p, bool playing) {
  if (p.playing == playing) return;
  double elapsed = elapsedNow(p);
  p.playing = playing;
  restamp(p, elapsed);
  post(p, isPlayingDidChange);
}

// Runs on the player's own thread for as long as the process lives. It sleeps
// until the current track ends or something changes: never a poll.
void runPlayer() {
  SimState& state = simState();
  Player& p = player();
  std::unique_lock lock(state.mutex);
  for (;;) {
    if (!p.pendingPosts.empty()) {
      std::vector<std::string_view> names = std::exchange(p.pendingPosts, {});
      lock.unlock();
      for (std::string_view name : names) postLogged(name);
      lock.lock();
    } else if (!p.playing) {
      state.wake.wait(lock);
    } else if (Clock::now() >= trackEnd(p)) {
      changeTrack(p, (p.index + 1) % p.tracks.size());
    } else {
      state.wake.wait_until(lock, trackEnd(p));
    }
  }
}

}  // namespace

void startVirtualPlayer() {
  Player& p = player();
  if (p.tracks.empty()) p.tracks = makePlaylist();
  PlayerLookup lookup;
  lookup.stage = LookupStage::client;
  lookup.parentApplicationBundleIdentifier = SelectorResult{};
  SelectorResult bundle;
  bundle.kind = SelectorResult::Kind::string;
  bundle.text = "com.kel.VirtualPlayer";
  lookup.bundleIdentifier = bundle;
  installPlayerLookup(lookup);

  p.index = 0;
  p.playing = true;
  restamp(p, 0);
  post(p, applicationDidChange);
  post(p, isPlayingDidChange);
  post(p, queueDidChange);
  std::thread(runPlayer).detach();
}

bool playerCommand(std::int32_t code) {
  Player& p = player();
  if (p.tracks.empty()) return false;
  switch (code) {
    case commandCode::play:
      setPlaying(p, true);
      return true;
    case commandCode::pause:
      setPlaying(p, false);
      return true;
    case commandCode::togglePlayPause:
      setPlaying(p, !p.playing);
      return true;
    case commandCode::nextTrack:
      changeTrack(p, (p.index + 1) % p.tracks.size());
      return true;
    case commandCode::previousTrack:
      if (elapsedNow(p) > restartAfterSeconds) restamp(p, 0);
      else changeTrack(p, (p.index + p.tracks.size() - 1) % p.tracks.size());
      return true;
    default:
      return false;
  }
}

void playerSeek(double seconds) {
  Player& p = player();
  if (p.tracks.empty() || std::isnan(seconds)) return;
  restamp(p, std::clamp(seconds, 0.0, p.tracks[p.index].duration));
}

}  // namespace kel::sim
