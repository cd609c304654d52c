// Calling MediaRemote's entry points with their own signatures: the queries take
// the queue to answer on and a block.

#include "platform/service_calls.h"

#import <CoreFoundation/CoreFoundation.h>

#include <Block.h>

#include "platform/apple/dispatch_queue.h"
#include "service/service.h"

namespace kel {
namespace {

using RegisterFunction = void (*)(dispatch_queue_t queue);
using IsPlayingFunction = void (*)(dispatch_queue_t queue, void (^callback)(Boolean playing));
using InfoFunction = void (*)(dispatch_queue_t queue, void (^callback)(CFDictionaryRef info));
using SendCommandFunction = Boolean (*)(int command, CFDictionaryRef options);
using SetElapsedTimeFunction = void (*)(double seconds);

// Written once during start-up, before any other thread of ours exists.
RegisterFunction registerEntry;
InfoFunction infoEntry;
IsPlayingFunction isPlayingEntry;
SendCommandFunction sendCommandEntry;
SetElapsedTimeFunction setElapsedTimeEntry;

}  // namespace

bool bindService() {
  auto found = resolveEntryPoints(mediaRemotePath);
  if (!found) return false;
  auto [registerFound, info, isPlaying, send, seek] = *found;
  registerEntry = reinterpret_cast<RegisterFunction>(registerFound);
  infoEntry = reinterpret_cast<InfoFunction>(info);
  isPlayingEntry = reinterpret_cast<IsPlayingFunction>(isPlaying);
  sendCommandEntry = reinterpret_cast<SendCommandFunction>(send);
  setElapsedTimeEntry = reinterpret_cast<SetElapsedTimeFunction>(seek);
  return true;
}

// The start-up thread.
void callRegister(Queue queue) {
  registerEntry(dispatchQueue(queue));
}

// Runs on queue; the block runs on queue when the service answers. The service
// gets a block already on the heap, so that nothing depends on its copying it
// before it returns; our reference goes once the call is made.
void callGetIsPlaying(Queue queue, std::function<void(std::uint8_t)> callback) {
  void (^answer)(Boolean) = Block_copy(^(Boolean playing) {
    @autoreleasepool {
      callback(playing);
    }
  });
  isPlayingEntry(dispatchQueue(queue), answer);
  Block_release(answer);
}

// Runs on queue; the block runs on queue when the service answers, with a
// dictionary borrowed for the block's run.
void callGetNowPlayingInfo(Queue queue, std::function<void(InfoDictionary)> callback) {
  void (^answer)(CFDictionaryRef) = Block_copy(^(CFDictionaryRef info) {
    @autoreleasepool {
      callback(reinterpret_cast<InfoDictionary>(info));
    }
  });
  infoEntry(dispatchQueue(queue), answer);
  Block_release(answer);
}

// Runs on queue.
void callSendCommand(std::int32_t code) {
  sendCommandEntry(code, nullptr);
}

// Runs on queue.
void callSetElapsedTime(double seconds) {
  setElapsedTimeEntry(seconds);
}

}  // namespace kel
