// Answering the bridge's queries. A record must show one player at one moment, and
// the last record the latest state, so:
// - the info answer is for the player, and with the status, that the is-playing
//   answer of the same publication gave (the bridge asks for the info from inside
//   that answer's callback, on its queue);
// - the lookup is pointed at that player on the bridge's queue, just before the
//   callback, so the bundle the bridge finds is the answer's own;
// - info answers are delivered in the order they were asked, each within a
//   deadline: what needs the bus (the position) or a file (the artwork) and is not
//   there by then is left at what is known.

#include "mpris/queries.h"

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "mpris/bus.h"
#include "mpris/players.h"

namespace kel::mpris {
namespace {

// The info dictionary, under MediaRemote's key names.

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

// Bus thread. The dictionary for player, with artwork when there is some; empty
// when the player gave no metadata. The elapsed time and timestamp are the
// player's last known position. The artwork's bytes are shared, not copied.
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

// What the bridge's player lookup finds: a client with the player's
// "bundleIdentifier".

// The lookup registered now, and the identifier it is for; the bridge's queue
// only. A lookup replaced is freed: the walk that could still use it runs on this
// same queue, after presentPlayer.
struct Presented {
  std::string identifier;
  std::unique_ptr<PlayerLookupObjects> lookup;
};

Presented& presentedLookup() {
  static auto* presented = new Presented;
  return *presented;
}

// The bridge's queue, just before an info answer's callback, as the lookup is
// walked there and only there. From now on the lookup finds a client with
// bundleIdentifier, or no class at all when there is no player.
void presentPlayer(const std::optional<std::string>& bundleIdentifier) {
  Presented& current = presentedLookup();
  if (!bundleIdentifier) {
    registerPlayerLookup(nullptr);
    current = {};
    return;
  }
  if (current.lookup != nullptr && current.identifier == *bundleIdentifier) return;
  std::unique_ptr<PlayerLookupObjects> made = makePlayerLookup(textResult(*bundleIdentifier));
  registerPlayerLookup(made.get());
  current = {*bundleIdentifier, std::move(made)};
}

// How long an answer waits for the position it asks the player for.
constexpr std::chrono::microseconds answerDeadline{250'000};

// The player an is-playing answer was about (owner empty: none) and the status it
// gave.
struct Asked {
  std::string owner;
  Status status = Status::unknown;
};

// Set on the bridge's queue while an is-playing callback runs, so that the info
// query asked inside it is about the same player.
thread_local const Asked* answeringIsPlaying = nullptr;

// An info answer being put together on the bus thread.
struct Answer {
  Queue queue = nullptr;
  service_abi::InfoCallback callback = nullptr;
  void* context = nullptr;
  std::optional<Player> player;  // null: no player
  std::shared_ptr<const Artwork> artwork;
  bool positionDone = false;
  bool artworkDone = false;
  bool delivered = false;
  sd_event_source* positionDeadline = nullptr;
  sd_event_source* artworkDeadline = nullptr;
};

// Bus thread only: the answers not yet delivered, in the order asked. Never
// destroyed, as the bus thread may use it until the process ends.
std::deque<std::shared_ptr<Answer>>& answers() {
  static auto* pending = new std::deque<std::shared_ptr<Answer>>;
  return *pending;
}

// Bus thread. Delivers the answers at the front that are ready, in order.
void deliverReady() {
  auto& pending = answers();
  while (!pending.empty() && pending.front()->positionDone && pending.front()->artworkDone) {
    std::shared_ptr<Answer> answer = std::move(pending.front());
    pending.pop_front();
    answer->delivered = true;
    answer->positionDeadline = sd_event_source_unref(answer->positionDeadline);
    answer->artworkDeadline = sd_event_source_unref(answer->artworkDeadline);
    std::shared_ptr<const InfoDictionaryImpl> info;
    std::optional<std::string> bundle;
    if (answer->player) {
      info = buildInfo(*answer->player, answer->artwork);
      bundle = bundleIdentifier(*answer->player);
    }
    // The task holds the dictionary until the callback has returned.
    submit(answer->queue, [callback = answer->callback, context = answer->context, info = std::move(info),
                           bundle = std::move(bundle)] {
      presentPlayer(bundle);
      callback(context, info.get());
    });
  }
}

// Bus thread. Takes the artwork if it has been read; otherwise the answer waits for
// the read, up to artworkWait. A read that ends after the answer went out asks the
// bridge for a new record, which finds the artwork kept.
void takeArtwork(const std::shared_ptr<Answer>& answer) {
  std::shared_ptr<const std::string> url = answer->player ? answer->player->metadata.artUrl : nullptr;
  answer->artwork = keptArtwork(url);
  std::weak_ptr<Answer> waiting = answer;
  auto ended = [waiting, url](bool found) {
    std::shared_ptr<Answer> still = waiting.lock();
    if (still == nullptr || still->delivered) {
      if (found) postNotification(notificationNames[0]);
      return;
    }
    still->artwork = keptArtwork(url);
    still->artworkDone = true;
    deliverReady();
  };
  answer->artworkDone = url == nullptr || answer->artwork != nullptr || !readArtwork(url, ended);
}

// Bus thread, when an answer's deadline for the position (positionDone) or the
// artwork passes: it goes with what is known.
template <bool Answer::*done>
int onDeadline(sd_event_source*, std::uint64_t, void* userdata) {
  static_cast<Answer*>(userdata)->*done = true;
  deliverReady();
  return 0;
}

// Bus thread, once the service is ready.
void answerInfo(std::optional<Asked> asked, Queue queue, service_abi::InfoCallback callback, void* context) {
  auto answer = std::make_shared<Answer>();
  answer->queue = queue;
  answer->callback = callback;
  answer->context = context;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    const Player* player = nullptr;
    if (!asked) {
      player = chosenPlayer(state);
    } else if (auto found = state.players.byOwner.find(asked->owner); found != state.players.byOwner.end()) {
      player = &found->second;
    }
    if (player != nullptr) answer->player = *player;
  }
  if (answer->player && asked) answer->player->status = asked->status;
  answers().push_back(answer);
  takeArtwork(answer);
  if (!answer->player || !answer->player->metadata.present) {
    answer->positionDone = true;
  } else {
    std::weak_ptr<Answer> waiting = answer;
    getProperty(sessionBus(), answer->player->owner.c_str(), playerInterface, "Position", answerDeadline,
                [waiting](sd_bus_message* reply) {
                  std::shared_ptr<Answer> still = waiting.lock();
                  if (still == nullptr || still->delivered) return;
                  if (isAnswer(reply)) {
                    Players scratch;
                    PropertyChanges changes;
                    readProperty(reply, "Position", true, scratch, *still->player, changes);
                  }
                  still->positionDone = true;
                  deliverReady();
                });
  }
  // sd-bus's own timeouts may fire a quarter of a second late; these do not.
  if (!answer->positionDone) {
    sd_event_add_time_relative(busEvent(), &answer->positionDeadline, CLOCK_MONOTONIC, answerDeadline.count(), 1000,
                               onDeadline<&Answer::positionDone>, answer.get());
  }
  if (!answer->artworkDone) {
    sd_event_add_time_relative(busEvent(), &answer->artworkDeadline, CLOCK_MONOTONIC, artworkWait.count(), 1000,
                               onDeadline<&Answer::artworkDone>, answer.get());
  }
  deliverReady();
}

Asked askIsPlaying() {
  ServiceState& state = serviceState();
  std::lock_guard lock(state.mutex);
  const Player* player = chosenPlayer(state);
  return player == nullptr ? Asked{} : Asked{player->owner, player->status};
}

void answerIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context) {
  submit(queue, [callback, context, asked = askIsPlaying()] {
    answeringIsPlaying = &asked;
    callback(context, asked.status == Status::playing ? 1 : 0);
    answeringIsPlaying = nullptr;
  });
}

}  // namespace

void getIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context) {
  startService();
  // Once ready, the answer needs nothing from the bus; before, it waits on the bus
  // thread for the first look at the players.
  whenReady([queue, callback, context] { answerIsPlaying(queue, callback, context); });
}

void getNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context) {
  startService();
  std::optional<Asked> asked;
  if (answeringIsPlaying != nullptr) asked = *answeringIsPlaying;
  runOnBus([asked = std::move(asked), queue, callback, context] {
    whenReady([asked, queue, callback, context] { answerInfo(asked, queue, callback, context); });
  });
}

}  // namespace kel::mpris
