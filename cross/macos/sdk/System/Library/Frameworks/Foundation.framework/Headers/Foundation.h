/* Foundation for the macOS cross build: only the classes and methods that the
   Apple edge uses, declared as Apple's macOS 14 SDK declares them
   (NSNotification.h, NSString.h, NSOperation.h). The classes the edge sends
   messages to have their symbols in ../Foundation.tbd; add both together, and
   only for what macOS 14 has. NSObject comes from the Objective-C runtime's own
   objc/NSObject.h, as on the Mac. */

#ifndef KEL_CROSS_FOUNDATION_H
#define KEL_CROSS_FOUNDATION_H

#include <CoreFoundation/CoreFoundation.h>

#if !defined(__OBJC__)
/* The real header does not compile as C or C++ either. */
#error "Foundation/Foundation.h needs Objective-C: include it from a .mm file"
#endif

#import <objc/NSObject.h>

#pragma clang assume_nonnull begin

@class NSString, NSNotification, NSOperationQueue;

/* NSNotification.h; the SDK adds NS_TYPED_EXTENSIBLE_ENUM, which only Swift reads. */
typedef NSString *NSNotificationName;

/* NSString.h: toll-free bridged with CFStringRef. */
@interface NSString : NSObject
@end

@interface NSNotification : NSObject
@end

/* NSOperation.h */
@interface NSOperationQueue : NSObject
@end

@interface NSNotificationCenter : NSObject

@property (class, readonly, strong) NSNotificationCenter *defaultCenter;

/* With a nil queue the block runs synchronously on the posting thread. The
   center copies the block and keeps it until the returned observer is removed. */
- (id<NSObject>)addObserverForName:(nullable NSNotificationName)name
                            object:(nullable id)obj
                             queue:(nullable NSOperationQueue *)queue
                        usingBlock:(void (^)(NSNotification *notification))block;

- (void)postNotificationName:(NSNotificationName)aName object:(nullable id)anObject;

@end

#pragma clang assume_nonnull end

#endif
