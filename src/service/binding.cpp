#include "service/service.h"

#include <dlfcn.h>

namespace kel {

void* getNowPlayingInfo = nullptr;
void* getIsPlaying = nullptr;
void* sendCommand = nullptr;
void* setElapsedTime = nullptr;

void* bindService() {
  // The handle is never closed: the entry points are used until the process ends.
  void* library = dlopen(servicePath, RTLD_LAZY);
  if (library == nullptr) return nullptr;
  void* registerEntry = dlsym(library, entryPointNames[0]);
  getNowPlayingInfo = dlsym(library, entryPointNames[1]);
  getIsPlaying = dlsym(library, entryPointNames[2]);
  sendCommand = dlsym(library, entryPointNames[3]);
  setElapsedTime = dlsym(library, entryPointNames[4]);
  bool complete = registerEntry && getNowPlayingInfo && getIsPlaying && sendCommand && setElapsedTime;
  return complete ? registerEntry : nullptr;
}

}  // namespace kel
