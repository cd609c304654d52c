// Running a scenario: its leading steps inside the registration call, the rest in
// order on a thread of the simulator's.

#include <thread>
#include <utility>

#include "sim/simulator.h"

namespace kel::sim {
namespace {

bool changesStateOnly(const Step& step) {
  return step.kind != StepKind::post && step.kind != StepKind::sleep;
}

// Carries out a step that neither posts nor sleeps. Call with the mutex held.
void applyLocked(const Step& step) {
  SimState& state = simState();
  switch (step.kind) {
    case StepKind::state:
      applyStateChange(step.state);
      break;
    case StepKind::answers:
      state.answers = step.answers;
      state.answerDelay = step.duration;
      break;
    case StepKind::commandDelay:
      state.commandDelay = step.duration;
      break;
    case StepKind::post:
    case StepKind::sleep:
      break;
  }
}

// Carries out one step for the set-up of generation. False when configure has
// started another set-up since, and the scenario must stop.
bool runStepOf(const Step& step, std::uint64_t generation) {
  SimState& state = simState();
  std::unique_lock lock(state.mutex);
  if (state.generation != generation) return false;
  if (step.kind == StepKind::sleep) {
    auto due = std::chrono::steady_clock::now() + step.duration;
    return !state.wake.wait_until(lock, due, [&] { return state.generation != generation; });
  }
  if (step.kind == StepKind::post) {
    lock.unlock();
    postLogged(step.name);
    return true;
  }
  applyLocked(step);
  return true;
}

// Runs on the scenario's own thread.
void runSteps(std::vector<Step> steps, std::uint64_t generation) {
  for (const Step& step : steps) {
    if (!runStepOf(step, generation)) return;
  }
}

}  // namespace

void startScenario() {
  SimState& state = simState();
  // The leading steps are in place before the registration call returns, so that
  // the bridge's first publication shows them whatever the machine's speed.
  auto first = state.steps.begin();
  while (first != state.steps.end() && changesStateOnly(*first)) applyLocked(*first++);
  if (first == state.steps.end()) return;
  std::thread(runSteps, std::vector<Step>(first, state.steps.end()), state.generation).detach();
}

void runStep(const Step& step) {
  std::uint64_t generation = 0;
  {
    std::lock_guard lock(simState().mutex);
    generation = simState().generation;
  }
  runStepOf(step, generation);
}

}  // namespace kel::sim
