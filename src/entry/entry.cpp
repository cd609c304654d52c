#include "kelmediaremote.h"

#include <cstdio>
#include <unistd.h>

#include "commands/commands.h"
#include "entry/entry.h"
#include "output/write_line.h"
#include "platform/notification_center.h"
#include "platform/run_loop.h"
#include "platform/service_calls.h"
#include "publisher/publisher.h"
#include "service/service.h"

namespace kel {

Queue queue = nullptr;

void endProcess(int status) {
  flockfile(stdout);
  std::fflush(stdout);
  _exit(status);
}

namespace {

[[noreturn]] void start() {
  void* registerEntry = bindService();
  if (registerEntry == nullptr) {
    Record unavailable;
    unavailable.set("error", std::string_view("unavailable"));
    writeLine(unavailable);
    endProcess(2);
  }
  queue = createQueue("com.kel.mediaremote");
  // The observers are in place before registering, so that a notification posted
  // in answer to the registration already asks for an update.
  for (std::string_view name : notificationNames) addObserver(name, scheduleUpdate);
  callRegister(registerEntry, queue);
  // Note: the first publication is requested before the reader starts. Input that
  // has already ended would otherwise let the reader finish and exit before this
  // request is made, and the start-up record would be lost.
  scheduleUpdate();
  readCommands();
  runLoop();
  endProcess(0);
}

}  // namespace
}  // namespace kel

extern "C" void kel_mediaremote_run(void) {
  kel::start();
}
