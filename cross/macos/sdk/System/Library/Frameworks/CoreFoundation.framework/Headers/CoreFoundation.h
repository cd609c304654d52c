/* CoreFoundation for the macOS cross build: only the types, functions and
   constants that the Apple edge uses, declared as Apple's macOS 14 SDK declares
   them (CFBase.h, CFString.h, CFDictionary.h, CFNumber.h, CFDate.h, CFData.h,
   CFRunLoop.h). Every function and constant here has its symbol in
   ../CoreFoundation.tbd; add both together, and only for what macOS 14 has.
   Note: the real header also pulls in much of the C library; this one pulls in
   only MacTypes.h, as CFBase.h does, so that a missing include shows up here
   rather than on the Mac. */

#ifndef KEL_CROSS_COREFOUNDATION_H
#define KEL_CROSS_COREFOUNDATION_H

#include <MacTypes.h>

#if defined(__cplusplus)
#define CF_EXTERN_C_BEGIN extern "C" {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

#define CF_EXPORT extern __attribute__((visibility("default")))

/* As CFAvailability.h: an enumeration with a fixed underlying type that is also
   the name of the type. */
#define CF_ENUM(_type, _name) \
  enum __attribute__((enum_extensibility(open))) _name : _type _name; \
  enum _name : _type

/* As CFBase.h: the Objective-C class that each reference type is bridged to. */
#if __has_attribute(objc_bridge)
#define CF_BRIDGED_TYPE(T) __attribute__((objc_bridge(T)))
#else
#define CF_BRIDGED_TYPE(T)
#endif

CF_EXTERN_C_BEGIN

/* CFBase.h (LP64) */
typedef const void *CFTypeRef;
typedef unsigned long CFTypeID;
typedef signed long CFIndex;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

/* NULL means the default allocator. */
typedef const struct CF_BRIDGED_TYPE(id) __CFAllocator *CFAllocatorRef;
typedef const struct CF_BRIDGED_TYPE(NSString) __CFString *CFStringRef;

CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf);
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
CF_EXPORT void CFRelease(CFTypeRef cf);

/* CFDate.h */
typedef double CFTimeInterval;
typedef CFTimeInterval CFAbsoluteTime; /* seconds since 2001-01-01 00:00:00 UTC */
typedef const struct CF_BRIDGED_TYPE(NSDate) __CFDate *CFDateRef;

CF_EXPORT const CFTimeInterval kCFAbsoluteTimeIntervalSince1970; /* 978307200.0 */
CF_EXPORT CFTypeID CFDateGetTypeID(void);
CF_EXPORT CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate);

/* CFDictionary.h */
typedef const struct CF_BRIDGED_TYPE(NSDictionary) __CFDictionary *CFDictionaryRef;

CF_EXPORT CFTypeID CFDictionaryGetTypeID(void);
CF_EXPORT CFIndex CFDictionaryGetCount(CFDictionaryRef theDict);
CF_EXPORT const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key);

/* CFString.h */
typedef UInt32 CFStringEncoding;

typedef CF_ENUM(CFStringEncoding, CFStringBuiltInEncodings) {
  kCFStringEncodingUTF8 = 0x08000100, /* kTextEncodingUnicodeDefault + kUnicodeUTF8Format */
};

/* clang builds a constant string in the image; it needs the symbol
   ___CFConstantStringClassReference at link time. */
#define CFSTR(cStr) ((CFStringRef)__builtin___CFStringMakeConstantString("" cStr ""))

CF_EXPORT CFTypeID CFStringGetTypeID(void);
CF_EXPORT CFIndex CFStringGetLength(CFStringRef theString); /* in UTF-16 code units */
CF_EXPORT const UniChar *CFStringGetCharactersPtr(CFStringRef theString); /* may be NULL */
CF_EXPORT void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer);
CF_EXPORT const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding); /* may be NULL */
CF_EXPORT CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                              CFStringEncoding encoding, Boolean isExternalRepresentation);

/* CFNumber.h */
typedef const struct CF_BRIDGED_TYPE(NSNumber) __CFBoolean *CFBooleanRef;
typedef const struct CF_BRIDGED_TYPE(NSNumber) __CFNumber *CFNumberRef;

typedef CF_ENUM(CFIndex, CFNumberType) {
  kCFNumberSInt64Type = 4,
  kCFNumberDoubleType = 13,
};

CF_EXPORT CFTypeID CFBooleanGetTypeID(void);
CF_EXPORT Boolean CFBooleanGetValue(CFBooleanRef boolean);

CF_EXPORT CFTypeID CFNumberGetTypeID(void);
CF_EXPORT Boolean CFNumberIsFloatType(CFNumberRef number);
/* False when the conversion to theType was lossy or out of range. */
CF_EXPORT Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void *valuePtr);

/* CFData.h */
typedef const struct CF_BRIDGED_TYPE(NSData) __CFData *CFDataRef;

CF_EXPORT CFTypeID CFDataGetTypeID(void);
CF_EXPORT CFIndex CFDataGetLength(CFDataRef theData);
CF_EXPORT const UInt8 *CFDataGetBytePtr(CFDataRef theData);

/* CFRunLoop.h */
CF_EXPORT void CFRunLoopRun(void);

CF_EXTERN_C_END

#endif
