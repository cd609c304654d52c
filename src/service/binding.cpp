#include "service/service.h"

#include <dlfcn.h>

namespace kel {

#if defined(__APPLE__)
std::string servicePath() {
  return mediaRemotePath;
}

#else
std::string servicePath() {
  Dl_info library;
  std::string folder = ".";
  if (dladdr(reinterpret_cast<void*>(&bindService), &library) != 0 && library.dli_fname != nullptr) {
    std::string_view file = library.dli_fname;
    std::size_t slash = file.rfind('/');
    if (slash != std::string_view::npos) folder = file.substr(0, slash);
  }
  return folder + "/" + std::string(linuxServiceFile);
}

#endif

void* getNowPlayingInfo = nullptr;
void* getIsPlaying = nullptr;
void* sendCommand = nullptr;
void* setElapsedTime = nullptr;

void* bindService() {
  // The handle is never closed: the entry points are used until the process ends.
  void* library = dlopen(servicePath().c_str(), RTLD_LAZY);
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
