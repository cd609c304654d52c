// The simulated service's entry points under the names of the real service, for the
// bridge to resolve with dlsym. Compiled once, and linked into libkelsimservice.so,
// which exports all five, and into libkelsimservice-without-NAME.so, which exports
// all but NAME (sim/CMakeLists.txt), so that the host can offer a service that
// lacks one.

#include "platform/linux/linux_platform.h"
#include "sim/simulator.h"

#define KEL_SERVICE_ENTRY extern "C" __attribute__((visibility("default")))

using namespace kel;

// Declared through the bridge's own types, so that a signature that drifts from
// the one it calls by does not compile.
KEL_SERVICE_ENTRY service_abi::RegisterEntry MRMediaRemoteRegisterForNowPlayingNotifications;
void MRMediaRemoteRegisterForNowPlayingNotifications(Queue queue) {
  sim::registerForNowPlayingNotifications(queue);
}

KEL_SERVICE_ENTRY service_abi::GetNowPlayingInfoEntry MRMediaRemoteGetNowPlayingInfo;
void MRMediaRemoteGetNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context) {
  sim::getNowPlayingInfo(queue, callback, context);
}

KEL_SERVICE_ENTRY service_abi::GetIsPlayingEntry MRMediaRemoteGetNowPlayingApplicationIsPlaying;
void MRMediaRemoteGetNowPlayingApplicationIsPlaying(Queue queue, service_abi::IsPlayingCallback callback,
                                                    void* context) {
  sim::getNowPlayingApplicationIsPlaying(queue, callback, context);
}

KEL_SERVICE_ENTRY service_abi::SendCommandEntry MRMediaRemoteSendCommand;
bool MRMediaRemoteSendCommand(std::int32_t code, const void* options) {
  return sim::sendCommand(code, options);
}

KEL_SERVICE_ENTRY service_abi::SetElapsedTimeEntry MRMediaRemoteSetElapsedTime;
void MRMediaRemoteSetElapsedTime(double seconds) {
  sim::setElapsedTime(seconds);
}
