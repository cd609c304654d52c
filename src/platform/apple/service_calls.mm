// Calling MediaRemote's entry points with their own signatures: the queries take
// the queue to answer on and a block.

#include "platform/service_calls.h"

#import <CoreFoundation/CoreFoundation.h>

#include <Block.h>

#include "platform/apple/dispatch_queue.h"
#include "service/service.h"

namespace kel {

std::string servicePath() {
  return mediaRemotePath;
}
namespace {

using RegisterFunction = void (*)(dispatch_queue_t queue);
using IsPlayingFunction = void (*)(dispatch_queue_t queue, void (^callback)(Boolean playing));
using InfoFunction = void (*)(dispatch_queue_t queue, void (^callback)(CFDictionaryRef info));
using SendCommandFunction = Boolean (*)(int command, CFDictionaryRef options);
using SetElapsedTimeFunction = void (*)(double seconds);

}  // namespace

// The start-up thread.
void callRegister(void* entry, Queue queue) {
  reinterpret_cast<RegisterFunction>(entry)(dispatchQueue(queue));
}

// Runs on queue; the block runs on queue when the service answers. The service
// gets a block already on the heap, so that nothing depends on its copying it
// before it returns; our reference goes once the call is made.
void callGetIsPlaying(void* entry, Queue queue, std::function<void(std::uint8_t)> callback) {
  void (^answer)(Boolean) = Block_copy(^(Boolean playing) {
    @autoreleasepool {
      callback(playing);
    }
  });
  reinterpret_cast<IsPlayingFunction>(entry)(dispatchQueue(queue), answer);
  Block_release(answer);
}

// Runs on queue; the block runs on queue when the service answers, with a
// dictionary borrowed for the block's run.
void callGetNowPlayingInfo(void* entry, Queue queue, std::function<void(InfoDictionary)> callback) {
  void (^answer)(CFDictionaryRef) = Block_copy(^(CFDictionaryRef info) {
    @autoreleasepool {
      callback(reinterpret_cast<InfoDictionary>(info));
    }
  });
  reinterpret_cast<InfoFunction>(entry)(dispatchQueue(queue), answer);
  Block_release(answer);
}

// Runs on queue.
void callSendCommand(void* entry, std::int32_t code) {
  reinterpret_cast<SendCommandFunction>(entry)(code, nullptr);
}

// Runs on queue.
void callSetElapsedTime(void* entry, double seconds) {
  reinterpret_cast<SetElapsedTimeFunction>(entry)(seconds);
}

}  // namespace kel
