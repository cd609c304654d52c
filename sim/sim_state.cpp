// The simulator's state, with the player lookup it installs, and its set-up by
// the host.

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <memory>
#include <utility>

#include "sim/sim.h"
#include "sim/simulator.h"

namespace kel::sim {
namespace {

// Reads the whole file; false, with errno set, when it cannot be read.
bool readFile(const std::string& path, std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  bool failed = std::ferror(file) != 0;
  int error = errno;
  std::fclose(file);
  errno = error;
  return !failed;
}

// Note: the bridge may hold an object of an earlier lookup while a scenario
// replaces it, as it may hold an Objective-C object, so no lookup is ever freed.
// The list itself is never destroyed either.
const PlayerLookupObjects* keep(std::unique_ptr<PlayerLookupObjects> lookup) {
  static std::mutex& mutex = *new std::mutex;
  static auto& kept = *new std::vector<std::unique_ptr<PlayerLookupObjects>>;
  std::lock_guard lock(mutex);
  kept.push_back(std::move(lookup));
  return kept.back().get();
}

}  // namespace

SimState& simState() {
  static SimState& state = *new SimState;
  return state;
}

void applyStateChange(const StateChange& change) {
  SimState& state = simState();
  if (change.playing) state.playing = *change.playing;
  if (change.setsInfo) state.info = change.info;
  if (change.player) installPlayerLookup(*change.player);
}

void installPlayerLookup(const PlayerLookup& lookup) {
  if (lookup.stage == LookupStage::noClass) {
    registerPlayerLookup(nullptr);
    return;
  }
  // A whole lookup, cut short at the stage the scenario names before anyone sees it.
  auto made = makePlayerLookup(lookup.bundleIdentifier, lookup.parentApplicationBundleIdentifier);
  if (lookup.stage == LookupStage::noPathSelector) made->request.selectors.clear();
  if (lookup.stage == LookupStage::nilPath) made->request.selectors["localNowPlayingPlayerPath"] = SelectorResult{};
  if (lookup.stage == LookupStage::noClientSelector) made->path.selectors.clear();
  if (lookup.stage == LookupStage::nilClient) made->path.selectors["client"] = SelectorResult{};
  registerPlayerLookup(keep(std::move(made)));
}


std::string configure(std::string_view scenarioPath, std::string_view callsPath) {
  startClock();
  Scenario scenario;
  if (!scenarioPath.empty()) {
    std::string path(scenarioPath);
    std::string text;
    if (!readFile(path, text)) return "cannot read the scenario " + path + ": " + std::strerror(errno);
    scenario = readScenario(text, path);
    if (!scenario.error.empty()) return scenario.error;
  }
  if (std::string problem = openCallsLog(callsPath); !problem.empty()) return problem;

  SimState& state = simState();
  std::lock_guard lock(state.mutex);
  state.mode = scenarioPath.empty() ? Mode::virtualPlayer : Mode::scenario;
  state.steps = std::move(scenario.steps);
  return {};
}

}  // namespace kel::sim
