// Test-only, never installed. Preloaded (LD_PRELOAD) into a host by mpris_test.py,
// so that the shipped bridge library opens the MPRIS service where it opens the
// service's path: this library's dlopen answers that path with
// libkelmprisservice.so (the build's, or the one KEL_MPRIS_SERVICE names) and
// forwards every other path to the C library's.

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "service/service.h"

namespace {

using OpenFunction = void* (*)(const char*, int);

OpenFunction realOpen() {
  static OpenFunction real = reinterpret_cast<OpenFunction>(dlsym(RTLD_NEXT, "dlopen"));
  return real;
}

}  // namespace

// Any thread. Every dlopen of the process comes here first.
extern "C" __attribute__((visibility("default"))) void* dlopen(const char* path, int mode) {
  if (path != nullptr && std::strcmp(path, kel::servicePath) == 0) {
    const char* service = std::getenv("KEL_MPRIS_SERVICE");
    return realOpen()(service != nullptr ? service : KEL_MPRIS_SERVICE_FILE, RTLD_NOW | RTLD_LOCAL);
  }
  return realOpen()(path, mode);
}
