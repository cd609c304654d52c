#include "service/service.h"

#include "platform/io.h"
#include "platform/service_calls.h"

namespace kel {

void* getNowPlayingInfo = nullptr;
void* getIsPlaying = nullptr;
void* sendCommand = nullptr;
void* setElapsedTime = nullptr;

void* bindService() {
  // The handle is never closed: the entry points are used until the process ends.
  void* library = openLibrary(servicePath().c_str());
  if (library == nullptr) return nullptr;
  void* registerEntry = findSymbol(library, entryPointNames[0]);
  getNowPlayingInfo = findSymbol(library, entryPointNames[1]);
  getIsPlaying = findSymbol(library, entryPointNames[2]);
  sendCommand = findSymbol(library, entryPointNames[3]);
  setElapsedTime = findSymbol(library, entryPointNames[4]);
  bool complete = registerEntry && getNowPlayingInfo && getIsPlaying && sendCommand && setElapsedTime;
  return complete ? registerEntry : nullptr;
}

}  // namespace kel
