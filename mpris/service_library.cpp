// The MPRIS service's entry points under the names of MediaRemote's, for the bridge
// to resolve with dlsym: libkelmprisservice.so exports these five and nothing else.

#include "mpris/bus.h"
#include "mpris/commands.h"
#include "mpris/queries.h"
#include "platform/linux/linux_platform.h"

#define KEL_SERVICE_ENTRY extern "C" __attribute__((visibility("default")))

using namespace kel;

// Declared through the bridge's own types, so that a signature that drifts from
// the one it calls by does not compile.
KEL_SERVICE_ENTRY service_abi::RegisterEntry MRMediaRemoteRegisterForNowPlayingNotifications;
// The notifications go to the process's notification centre; answers go to the
// queue each query names, so the queue given here is not needed.
void MRMediaRemoteRegisterForNowPlayingNotifications(Queue) {
  mpris::startService();
}

KEL_SERVICE_ENTRY service_abi::GetNowPlayingInfoEntry MRMediaRemoteGetNowPlayingInfo;
void MRMediaRemoteGetNowPlayingInfo(Queue queue, service_abi::InfoCallback callback, void* context) {
  mpris::getNowPlayingInfo(queue, callback, context);
}

KEL_SERVICE_ENTRY service_abi::GetIsPlayingEntry MRMediaRemoteGetNowPlayingApplicationIsPlaying;
void MRMediaRemoteGetNowPlayingApplicationIsPlaying(Queue queue, service_abi::IsPlayingCallback callback,
                                                    void* context) {
  mpris::getIsPlaying(queue, callback, context);
}

KEL_SERVICE_ENTRY service_abi::SendCommandEntry MRMediaRemoteSendCommand;
bool MRMediaRemoteSendCommand(std::int32_t code, const void*) {
  return mpris::sendCommand(code);
}

KEL_SERVICE_ENTRY service_abi::SetElapsedTimeEntry MRMediaRemoteSetElapsedTime;
void MRMediaRemoteSetElapsedTime(double seconds) {
  mpris::setElapsedTime(seconds);
}
