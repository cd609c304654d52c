// The service's entry points: every call is logged first; queries are answered on
// the caller's queue as the answering rules of the moment say; commands go to the
// virtual player, or, in a scenario, are only logged.

#include <thread>
#include <utility>

#include "sim/simulator.h"

namespace kel::sim {
namespace {

// How a query made now is answered.
struct AnswerRule {
  AnswerMode mode = AnswerMode::now;
  std::chrono::milliseconds delay{0};
};

AnswerRule answerRule(const SimState& state) {
  return {state.answers, state.answerDelay};
}

// Submits answer to the caller's queue, never running it inside the query call.
// Even an answer due at once goes through the queue's timers, so that answers run
// in the order in which they fall due, whatever the delays they were made under.
void scheduleAnswer(Queue queue, AnswerRule rule, Task answer) {
  if (rule.mode == AnswerMode::never) return;
  auto delay = rule.mode == AnswerMode::delayed ? rule.delay : std::chrono::milliseconds(0);
  submitAfter(queue, delay, std::move(answer));
}

// In a scenario, a command or a seek only waits as long as the scenario says.
void waitCommandDelay(std::unique_lock<std::mutex>& lock) {
  auto delay = simState().commandDelay;
  lock.unlock();
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
}

}  // namespace

void registerForNowPlayingNotifications(Queue) {
  logCall("register");
  SimState& state = simState();
  std::unique_lock lock(state.mutex);
  if (state.registered) return;
  state.registered = true;
  if (state.mode == Mode::virtualPlayer) startVirtualPlayer();
  else startScenario();
  // Leading steps may make the call post before it returns, as the real service
  // may, and block, as a service that hangs would.
  std::vector<std::string> posts = state.registerPosts;
  auto delay = state.registerDelay;
  lock.unlock();
  for (const std::string& name : posts) postLogged(name);
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
}

void getNowPlayingApplicationIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context) {
  logCall("isPlaying");
  SimState& state = simState();
  std::unique_lock lock(state.mutex);
  AnswerRule rule = answerRule(state);
  std::uint8_t playing = state.playing;
  lock.unlock();
  scheduleAnswer(queue, rule, [callback, context, playing] { callback(context, playing); });
}

void getNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context) {
  logCall("info");
  SimState& state = simState();
  std::unique_lock lock(state.mutex);
  AnswerRule rule = answerRule(state);
  // The answer holds the dictionary until the callback has returned.
  SharedInfo info = state.info;
  lock.unlock();
  scheduleAnswer(queue, rule, [callback, context, info] { callback(context, info.get()); });
}

bool sendCommand(std::int32_t code, const void*) {
  logCommand(code);
  std::unique_lock lock(simState().mutex);
  if (simState().mode == Mode::virtualPlayer) return playerCommand(code);
  waitCommandDelay(lock);
  return true;
}

void setElapsedTime(double seconds) {
  logSeek(seconds);
  std::unique_lock lock(simState().mutex);
  if (simState().mode == Mode::virtualPlayer) {
    playerSeek(seconds);
    return;
  }
  waitCommandDelay(lock);
}

}  // namespace kel::sim
