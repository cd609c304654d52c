#pragma once
// The inside of the simulated now-playing service: its state, the calls log, the
// scenario runner and the virtual player. The host needs only sim.h; the service
// libraries and the unit tests use this.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/queue.h"
#include "sim/scenario.h"

namespace kel::sim {

// The service's entry points, with the signatures the bridge calls them by
// (service_abi). libkelsimservice.so exports them under the service's names.
void registerForNowPlayingNotifications(Queue queue);
void getNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context);
void getNowPlayingApplicationIsPlaying(Queue queue, service_abi::IsPlayingCallback callback, void* context);
bool sendCommand(std::int32_t code, const void* options);
void setElapsedTime(double seconds);

enum class Mode : std::uint8_t { scenario, virtualPlayer };

// Everything the simulator knows, behind one mutex. Until configure runs it is the
// quiet service of an empty scenario.
struct SimState {
  std::mutex mutex;
  // Wakes the virtual player's thread when its state changes.
  std::condition_variable wake;
  Mode mode = Mode::scenario;
  std::vector<Step> steps;
  bool registered = false;
  std::uint8_t playing = 0;
  SharedInfo info;
  AnswerMode answers = AnswerMode::now;
  std::chrono::milliseconds answerDelay{0};
  std::chrono::milliseconds commandDelay{0};
  // How long a registration call blocks before it returns.
  std::chrono::milliseconds registerDelay{0};
  // What a registration call posts before it returns.
  std::vector<std::string> registerPosts;
};

// The process's one state. Note: it is never destroyed, because the bridge's
// queue may call into the service while the process exits.
SimState& simState();

// Replaces the parts of the state that change names, and installs its player
// lookup. Call with simState().mutex held.
void applyStateChange(const StateChange& change);

// Makes lookupClass("MRNowPlayingRequest") find what lookup describes. Builds new
// objects every time and keeps every one until the process ends.
void installPlayerLookup(const PlayerLookup& lookup);

// The calls log. Each line is written and flushed at once, under a lock of its own,
// with "t": seconds on the monotonic clock since the clock was started.
void startClock();
double secondsSinceStart();
// Creates or truncates the log at path (empty: no log). Empty string on success.
std::string openCallsLog(std::string_view path);
void logCall(std::string_view call);
void logCommand(std::int32_t code);
void logSeek(double seconds);
// Logs {"post":name} and then posts the notification, on the calling thread.
void postLogged(std::string_view name);

// Scenario mode. Runs, on the calling thread, the leading steps that neither post
// nor sleep, then the rest on a thread of its own. Call with simState().mutex held.
void startScenario();
// Carries out one step at once, on the calling thread; a sleep waits. Call without
// the mutex held.
void runStep(const Step& step);

// The virtual player. Call with simState().mutex held.
void startVirtualPlayer();
// The PNG file of the virtual player's cover number 1 to 4 (sim/covers), compiled in.
std::span<const std::uint8_t> virtualCover(int number);
// False for a code the player does not know.
bool playerCommand(std::int32_t code);
void playerSeek(double seconds);

}  // namespace kel::sim
