// Update scheduling: requests that come close together become one publication,
// which asks the service whether the player is playing, then for the now-playing
// information, and writes the record. Everything but scheduleUpdate itself runs on
// queue, so the state below needs no lock.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <utility>
#include <vector>

#include "entry/entry.h"
#include "platform/queue.h"
#include "platform/service_calls.h"
#include "publisher/schedule_update.h"
#include "publisher/state_record.h"
#include "service/service.h"

namespace kel {
namespace {

// Several notifications usually announce one change; waiting this long after the
// first gathers them into one line.
constexpr std::chrono::nanoseconds updateWindow{150'000'000};

// True from the moment a publication is scheduled until its publish task starts.
bool updateScheduled = false;

// True from the moment a gate task is submitted until it starts. The only state
// that other threads touch: it keeps a storm of requests from piling up tasks.
std::atomic<bool> gateQueued = false;

// Publications are numbered in the order their windows open. A publication is
// unfinished from then until its record, or a later publication's, is written: a
// query never answered would otherwise keep it unfinished for good.
std::uint64_t lastOpened = 0;
std::set<std::uint64_t> unfinished;

// A caller of whenPublished, waiting for every publication up to upTo.
struct Waiter {
  std::uint64_t upTo;
  std::function<void()> done;
};
std::vector<Waiter> waiters;

// Runs on queue, after a publication has written its record.
void finishPublication(std::uint64_t publication) {
  // A later record shows the state that an earlier, still unanswered one would
  // have shown, so the earlier ones are done with too.
  unfinished.erase(unfinished.begin(), unfinished.upper_bound(publication));
  std::uint64_t oldest = unfinished.empty() ? std::numeric_limits<std::uint64_t>::max() : *unfinished.begin();
  // Taken out of the list before any runs, as a done may wait again.
  std::vector<std::function<void()>> ready;
  std::erase_if(waiters, [&](Waiter& waiter) {
    if (waiter.upTo >= oldest) return false;
    ready.push_back(std::move(waiter.done));
    return true;
  });
  for (auto& done : ready) done();
}

// Runs on queue. The two queries are asked one after the other, each answered on
// queue; the playing byte travels with the second callback.
void publishState(std::uint64_t publication) {
  callGetIsPlaying(queue, [publication](std::uint8_t playing) {
    callGetNowPlayingInfo(queue, [publication, playing](InfoDictionary info) {
      writeStateRecord(playing, info);
      finishPublication(publication);
    });
  });
}

// Runs on queue. The first request opens the window; later ones fall into it and
// do not extend it.
void gate() {
  gateQueued = false;
  if (updateScheduled) return;
  updateScheduled = true;
  std::uint64_t publication = ++lastOpened;
  unfinished.insert(publication);
  submitAfter(queue, updateWindow, [publication] {
    // Cleared before querying, so a request that arrives while the answers are
    // pending opens a new window.
    updateScheduled = false;
    publishState(publication);
  });
}

}  // namespace

void scheduleUpdate() {
  // A gate that is queued and has not started yet answers this request too: it
  // opens a window, or finds one open, no earlier than now.
  if (gateQueued.exchange(true)) return;
  submit(queue, gate);
}

void whenPublished(std::function<void()> done) {
  if (unfinished.empty()) {
    done();
    return;
  }
  waiters.push_back({lastOpened, std::move(done)});
}

}  // namespace kel
