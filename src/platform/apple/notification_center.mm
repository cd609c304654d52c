// Observers on Foundation's default notification centre.

#include "platform/notification_center.h"

#import <Foundation/Foundation.h>

#include "platform/apple/cf_string.h"

namespace kel {

// The start-up thread; the observer's block runs on whatever thread posts the
// notification. No object and no queue: any sender, delivered synchronously.
void addObserver(std::string_view name, std::function<void()> observer) {
  // The token the centre returns may be autoreleased, and the start-up thread has
  // no pool of its own.
  @autoreleasepool {
    CFStringRef notificationName = createString(name);
    // The centre copies the block, with its copy of observer, and keeps it for
    // good: the observer is never removed, so the token is not kept.
    [[NSNotificationCenter defaultCenter] addObserverForName:(__bridge NSString*)notificationName
                                                      object:nil
                                                       queue:nil
                                                  usingBlock:^(NSNotification*) {
                                                    @autoreleasepool {
                                                      observer();
                                                    }
                                                  }];
    // The centre holds the name itself.
    CFRelease(notificationName);
  }
}

}  // namespace kel
