// Preloaded into perl (LD_PRELOAD) by perl_host_test.py, so that the Perl host runs
// the shipped bridge library against the simulated service, as kel-mediaremote-sim
// does for the compiled host: this library's dlopen answers the service path with
// the simulated service and forwards every other path to the C library's.
// KEL_SIM_SCENARIO and KEL_SIM_CALLS name the scenario and the calls log (either
// may be unset: the virtual player, no log). KEL_SIM_EXIT_DELAY_MS holds the
// process that long in _exit, as if the exiting thread were descheduled there, so
// that a line the exit fails to hold back gets time to begin.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host.h"
#include "sim/sim.h"

namespace {

using OpenFunction = void* (*)(const char*, int);

OpenFunction realOpen() {
  static OpenFunction real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "dlopen"));
  return real;
}

const char* environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? "" : value;
}

// Runs as perl starts, long before the script loads the bridge.
__attribute__((constructor)) void configureSimulator() {
  std::string error = kel::sim::configure(environmentValue("KEL_SIM_SCENARIO"), environmentValue("KEL_SIM_CALLS"));
  if (!error.empty()) {
    std::fprintf(stderr, "kelsimpreload: %s\n", error.c_str());
    std::_Exit(64);
  }
}

}  // namespace

// Any thread. Every dlopen of the process, perl's own included, comes here first.
extern "C" __attribute__((visibility("default"))) void* dlopen(const char* path, int mode) {
  if (path != nullptr && kel::host::isServicePath(path)) {
    static void* service = realOpen()(KEL_SIM_SERVICE_FILE, RTLD_NOW | RTLD_LOCAL);
    return service;
  }
  return realOpen()(path, mode);
}

extern "C" __attribute__((visibility("default"), noreturn)) void _exit(int status) {
  if (const char* delay = std::getenv("KEL_SIM_EXIT_DELAY_MS")) usleep(static_cast<useconds_t>(std::atoi(delay)) * 1000);
  reinterpret_cast<void (*)(int)>(dlsym(RTLD_NEXT, "_exit"))(status);
  __builtin_unreachable();
}
