// kel-mediaremote-sim: the same host as kel-mediaremote, except that the bridge
// finds the simulated now-playing service at the service's path. The bridge
// library is the shipped build: this program answers the dynamic loader's open of
// the service path itself, by defining dlopen, which the library's call resolves
// to before the C library's.

#include <dlfcn.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "host.h"
#include "service/service.h"
#include "sim/sim.h"

namespace {

constexpr std::string_view program = "kel-mediaremote-sim";

constexpr const char* help = R"(Usage: kel-mediaremote-sim [--absent | --without NAME] [--scenario FILE]
                           [--calls FILE] [--once] [--library PATH]

Runs the bridge against a simulated now-playing service: a small virtual player,
or, with --scenario, a scripted service for tests. Standard input and output are
the bridge's, as with kel-mediaremote.

Options:
  --absent         the service library cannot be opened
  --without NAME   the service opens but lacks the entry point NAME, one of
                   MRMediaRemoteRegisterForNowPlayingNotifications,
                   MRMediaRemoteGetNowPlayingInfo,
                   MRMediaRemoteGetNowPlayingApplicationIsPlaying,
                   MRMediaRemoteSendCommand, MRMediaRemoteSetElapsedTime
  --scenario FILE  run the steps of FILE (JSON Lines) instead of the virtual player
  --calls FILE     log every call the bridge makes into the service to FILE
  --once           print the current state once and exit, as with standard
                   input closed
  --library PATH   load the bridge library from PATH
  --help           show this text and exit
  --version        show the version and exit

Exit status: the bridge's (0 at the end of standard input, 2 when the service is
unavailable); 1 when the library cannot be loaded; 64 for bad options or a bad
scenario, before the library is loaded.
)";

// What the bridge gets when it opens the service path; null stands for absent.
void* serviceHandle = nullptr;

using OpenFunction = void* (*)(const char*, int);

OpenFunction realOpen() {
  static OpenFunction real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "dlopen"));
  return real;
}

}  // namespace

// Any thread. Every dlopen of the process comes here first.
extern "C" __attribute__((visibility("default"))) void* dlopen(const char* path, int mode) {
  if (path != nullptr && kel::host::isServicePath(path)) return serviceHandle;
  return realOpen()(path, mode);
}

int main(int argc, char** argv) {
  std::string library, scenario, calls, without;
  bool absent = false, once = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    kel::host::answerHelpOrVersion(program, arg, help);
    if (arg == "--absent") {
      absent = true;
    } else if (arg == "--once") {
      once = true;
    } else if (!kel::host::takeValue(program, argc, argv, i, "--library", library) &&
               !kel::host::takeValue(program, argc, argv, i, "--scenario", scenario) &&
               !kel::host::takeValue(program, argc, argv, i, "--calls", calls) &&
               !kel::host::takeValue(program, argc, argv, i, "--without", without)) {
      kel::host::usageError(program, "unknown option " + std::string(arg));
    }
  }
  if (absent && !without.empty()) kel::host::usageError(program, "--absent and --without exclude each other");
  std::string serviceFile = "libkelsimservice.so";
  if (!without.empty()) {
    bool known = false;
    for (const char* name : kel::entryPointNames) known = known || without == name;
    if (!known) kel::host::usageError(program, "--without: " + without + " is not an entry point of the service");
    serviceFile = "libkelsimservice-without-" + without + ".so";
  }
  if (std::string error = kel::sim::configure(scenario, calls); !error.empty()) {
    std::fprintf(stderr, "%s: %s\n", program.data(), error.c_str());
    return kel::host::exitUsage;
  }
  if (!absent) {
    std::string path = kel::host::findBeside(serviceFile);
    if (path.empty()) {
      std::fprintf(stderr, "%s: cannot find the simulated service %s in %s\n", program.data(), serviceFile.c_str(),
                   kel::host::searchedFolders().c_str());
      return kel::host::exitCannotLoad;
    }
    serviceHandle = realOpen()(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (serviceHandle == nullptr) {
      std::fprintf(stderr, "%s: cannot load the simulated service: %s\n", program.data(), dlerror());
      return kel::host::exitCannotLoad;
    }
  }
  if (once) kel::host::closeInput(program);
  kel::host::runBridge(program, library);
}
