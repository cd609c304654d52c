// The bridge's Linux edge to a now-playing service: each query takes a plain
// function and a context, and calls the function once, on the queue it was given.

#include "platform/service_calls.h"

#include <dlfcn.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/linux/linux_platform.h"
#include "service/service.h"

namespace kel {
namespace {

std::string servicePath() {
  Dl_info library;
  std::string folder = ".";
  if (dladdr(reinterpret_cast<void*>(&servicePath), &library) != 0 && library.dli_fname != nullptr) {
    std::string_view file = library.dli_fname;
    std::size_t slash = file.rfind('/');
    if (slash != std::string_view::npos) folder = file.substr(0, slash);
  }
  return folder + "/" + std::string(linuxServiceFile);
}

}  // namespace

ServiceEntries serviceEntries;

bool bindService() {
  auto found = resolveEntryPoints(servicePath().c_str());
  if (!found) return false;
  auto [registerEntry, info, isPlaying, send, seek] = *found;
  serviceEntries = {reinterpret_cast<service_abi::RegisterEntry*>(registerEntry),
                    reinterpret_cast<service_abi::GetNowPlayingInfoEntry*>(info),
                    reinterpret_cast<service_abi::GetIsPlayingEntry*>(isPlaying),
                    reinterpret_cast<service_abi::SendCommandEntry*>(send),
                    reinterpret_cast<service_abi::SetElapsedTimeEntry*>(seek)};
  return true;
}

void callRegister(Queue queue) {
  serviceEntries.registerForNotifications(queue);
}

void callGetIsPlaying(Queue queue, std::function<void(std::uint8_t)> callback) {
  using Callback = std::function<void(std::uint8_t)>;
  // Runs on queue. The service calls it once; a query never answered keeps its context.
  auto answer = [](void* context, std::uint8_t playing) {
    std::unique_ptr<Callback> owned(static_cast<Callback*>(context));
    (*owned)(playing);
  };
  serviceEntries.getIsPlaying(queue, answer, new Callback(std::move(callback)));
}

void callGetNowPlayingInfo(Queue queue, std::function<void(InfoDictionary)> callback) {
  using Callback = std::function<void(InfoDictionary)>;
  // Runs on queue. The service calls it once; a query never answered keeps its context.
  auto answer = [](void* context, InfoDictionary info) {
    std::unique_ptr<Callback> owned(static_cast<Callback*>(context));
    (*owned)(info);
  };
  serviceEntries.getNowPlayingInfo(queue, answer, new Callback(std::move(callback)));
}

void callSendCommand(std::int32_t code) {
  serviceEntries.sendCommand(code, nullptr);
}

void callSetElapsedTime(double seconds) {
  serviceEntries.setElapsedTime(seconds);
}

}  // namespace kel
