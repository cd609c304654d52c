// Any bytes as one command line, taken as the reader takes a line: through
// commandText, then handleCommand. No line may crash, call the service more than
// once, send a code other than the transport commands', or seek to a position that
// is not a finite number of at least zero.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include <unistd.h>

#include "commands/handle_command.h"
#include "commands/line_reader.h"
#include "entry/entry.h"
#include "fuzz_support.h"
#include "platform/linux/linux_platform.h"
#include "service/service.h"

namespace kel {
namespace {

// What the service was asked during one line; handleCommand calls it on this thread.
int calls = 0;
std::optional<std::int32_t> sentCode;
std::optional<double> soughtSeconds;

bool countSend(std::int32_t code, const void*) {
  ++calls;
  sentCode = code;
  return true;
}

void countSeek(double seconds) {
  ++calls;
  soughtSeconds = seconds;
}

// Runs on queue, a window after a "refresh". The queries are never answered, so no
// record is written; their contexts are kept where no exit destroys them, so that
// nothing leaks.
std::mutex heldMutex;
std::vector<void*>& held = *new std::vector<void*>;

void holdIsPlaying(Queue, service_abi::IsPlayingCallback, void* context) {
  std::lock_guard lock(heldMutex);
  held.push_back(context);
}

void holdInfo(Queue, service_abi::InfoCallback, void* context) {
  std::lock_guard lock(heldMutex);
  held.push_back(context);
}

// At exit the core's state is destroyed while a publication may still be due on
// queue, so first the queue is parked in a task that never ends.
void parkQueue() {
  std::promise<void> parked;
  submit(queue, [&parked] {
    parked.set_value();
    for (;;) pause();
  });
  parked.get_future().wait();
}

bool isTransportCode(std::int32_t code) {
  return code == commandCode::play || code == commandCode::pause || code == commandCode::togglePlayPause ||
         code == commandCode::nextTrack || code == commandCode::previousTrack;
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace kel;
  queue = createQueue("com.kel.fuzz.handle_command");
  serviceEntries.sendCommand = &countSend;
  serviceEntries.setElapsedTime = &countSeek;
  serviceEntries.getIsPlaying = &holdIsPlaying;
  serviceEntries.getNowPlayingInfo = &holdInfo;
  std::atexit(parkQueue);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  using fuzz::check;
  calls = 0;
  sentCode.reset();
  soughtSeconds.reset();
  std::string_view line(reinterpret_cast<const char*>(data), size);
  if (std::optional<std::string_view> text = commandText(line)) handleCommand(*text);
  check(calls <= 1, "at most one service call per line");
  if (sentCode) check(isTransportCode(*sentCode), "only the transport commands' codes are sent");
  if (soughtSeconds) {
    check(std::isfinite(*soughtSeconds), "a seek only to a finite position");
    check(*soughtSeconds >= 0 && !std::signbit(*soughtSeconds), "a seek only to a position of at least zero");
  }
  return 0;
}
