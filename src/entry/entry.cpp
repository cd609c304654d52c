#include "kelmediaremote.h"

#include <atomic>
#include <cstdio>

#include "commands/read_commands.h"
#include "entry/entry.h"
#include "output/write_line.h"
#include "platform/io.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "platform/service_calls.h"
#include "publisher/schedule_update.h"
#include "service/service.h"

namespace kel {

Queue queue = nullptr;

namespace {

// Set once start-up has asked for the first publication.
std::atomic_flag startUpDone;

// Set by the first call of the entry.
std::atomic_flag entered;

}  // namespace

void waitForStartUp() {
  startUpDone.wait(false);
}

void endProcess(int status) {
  flockfile(stdout);
  std::fflush(stdout);
  exitNow(status);
}

namespace {

[[noreturn]] void start() {
  // A second call, from any thread, must not start a second reader of the same
  // input or a second set of observers: it starts nothing, and keeps its thread
  // without returning, as the entry promises, while the first call's bridge goes on.
  if (entered.test_and_set()) {
    blockForever();
  }
  if (!bindService()) {
    Record unavailable;
    unavailable.set("error", std::string_view("unavailable"));
    writeLine(unavailable);
    endProcess(2);
  }
  queue = createQueue("com.kel.mediaremote");
  // The observers are in place before registering, so that a notification posted
  // in answer to the registration already asks for an update.
  for (std::string_view name : notificationNames) addObserver(name, scheduleUpdate);
  // The reader starts only after registering, so until then this watch alone sees
  // the input end: a registration that blocks must not keep the process.
  watchForHangUp();
  callRegister(queue);
  readCommands();
  scheduleUpdate();
  // The reader waits for this before it finishes at the end of input, so that input
  // which has already ended cannot end the process before the start-up request.
  startUpDone.test_and_set();
  startUpDone.notify_all();
  runLoop();
  endProcess(0);
}

}  // namespace
}  // namespace kel

extern "C" void kel_mediaremote_run(void) {
  kel::start();
}
