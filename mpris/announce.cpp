#include "mpris/announce.h"

#include <optional>
#include <string>

#include "mpris/service_state.h"
#include "platform/linux/linux_platform.h"
#include "service/service.h"

namespace kel::mpris {
namespace {

constexpr std::string_view infoDidChange = notificationNames[0];
constexpr std::string_view isPlayingDidChange = notificationNames[1];
constexpr std::string_view applicationDidChange = notificationNames[2];

// The bundle identifier of the now-playing player last announced; bus thread
// only, and never destroyed.
std::optional<std::string>& presented() {
  static auto* bundle = new std::optional<std::string>;
  return *bundle;
}

}  // namespace

void announce(std::string_view owner, const PropertyChanges& changes, bool playersChanged) {
  std::optional<std::string> bundle;
  bool isChosen = false;
  bool ready = false;
  bool chosenChanged = false;
  {
    ServiceState& state = serviceState();
    std::lock_guard lock(state.mutex);
    const Player* chosen = choosePlayer(state.players);
    std::string chosenOwner = chosen == nullptr ? std::string() : chosen->owner;
    if (chosen != nullptr) bundle = bundleIdentifier(*chosen);
    chosenChanged = chosenOwner != state.chosen;
    state.chosen = chosenOwner;
    isChosen = chosen != nullptr && chosenOwner == owner;
    ready = state.ready;
  }
  bool bundleChanged = bundle != presented();
  if (bundleChanged) presented() = bundle;
  if (!ready) return;
  // Posted outside the lock: the bridge's observers only enqueue, but nothing here
  // needs the state any more.
  if (chosenChanged || bundleChanged || playersChanged) postNotification(applicationDidChange);
  if (isChosen && changes.status) postNotification(isPlayingDidChange);
  if (isChosen && (changes.metadata || changes.rate || changes.position)) postNotification(infoDidChange);
}

}  // namespace kel::mpris
