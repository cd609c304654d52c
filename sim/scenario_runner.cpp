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
    case StepKind::registerDelay:
      state.registerDelay = step.duration;
      break;
    case StepKind::registerPost:
      state.registerPosts.push_back(step.name);
      break;
    case StepKind::post:
    case StepKind::sleep:
      break;
  }
}

// Runs on the scenario's own thread.
void runSteps(std::vector<Step> steps) {
  for (const Step& step : steps) runStep(step);
}

}  // namespace

void startScenario() {
  SimState& state = simState();
  // The leading steps are in place before the registration call returns, so that
  // the bridge's first publication shows them whatever the machine's speed.
  auto first = state.steps.begin();
  while (first != state.steps.end() && changesStateOnly(*first)) applyLocked(*first++);
  if (first == state.steps.end()) return;
  std::thread(runSteps, std::vector<Step>(first, state.steps.end())).detach();
}

void runStep(const Step& step) {
  if (step.kind == StepKind::sleep) {
    std::this_thread::sleep_for(step.duration);
  } else if (step.kind == StepKind::post) {
    postLogged(step.name);
  } else {
    std::lock_guard lock(simState().mutex);
    applyLocked(step);
  }
}

}  // namespace kel::sim
