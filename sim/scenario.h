#pragma once
// The scenario language: JSON Lines of steps that set the service's state, post
// notifications, wait, and change how queries and commands are served.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_platform.h"

namespace kel::sim {

// How far the player lookup gets. Each stage but the last ends the lookup with no
// player: the class "MRNowPlayingRequest" is absent, it does not respond to
// "localNowPlayingPlayerPath", the path is nil, the path does not respond to
// "client", the client is nil.
enum class LookupStage : std::uint8_t { noClass, noPathSelector, nilPath, noClientSelector, nilClient, client };

struct PlayerLookup {
  LookupStage stage = LookupStage::noClass;
  // For stage client: what each selector returns; nothing when the client does not respond to it.
  std::optional<SelectorResult> parentApplicationBundleIdentifier;
  std::optional<SelectorResult> bundleIdentifier;
};

// An info dictionary as the service hands it out; null stands for no dictionary.
using SharedInfo = std::shared_ptr<const InfoDictionaryImpl>;

// The parts of the service's state that one state step replaces; a part it does not
// name stays as it is.
struct StateChange {
  std::optional<std::uint8_t> playing;
  std::optional<PlayerLookup> player;
  bool setsInfo = false;
  SharedInfo info;
};

enum class StepKind : std::uint8_t { state, post, sleep, answers, commandDelay, registerDelay, registerPost };
enum class AnswerMode : std::uint8_t { now, never, delayed };

// One step; only the members that belong to kind are meaningful.
struct Step {
  StepKind kind = StepKind::sleep;
  int line = 0;
  StateChange state;
  std::string name;                        // post, registerPost
  AnswerMode answers = AnswerMode::now;    // answers
  std::chrono::milliseconds duration{0};   // sleep, answers (delayed), commandDelay, registerDelay
};

struct Scenario {
  std::vector<Step> steps;
  // Empty when the text is a valid scenario; otherwise "<fileName>:<line>: <what is wrong>".
  std::string error;
};

// Reads a whole scenario. Blank lines are skipped but counted.
Scenario readScenario(std::string_view text, std::string_view fileName);

// The largest byte buffer that {"bytes": N} makes, so that a slip of the finger
// does not take the machine's memory.
inline constexpr std::int64_t maxGeneratedBytes = 64 * 1024 * 1024;

}  // namespace kel::sim
