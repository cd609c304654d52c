// The info dictionary on macOS: a CFDictionary keyed by CFStrings, read one key at
// a time and turned into the seam's kinds of value.

#include "platform/info_value.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <cstdint>

#include "platform/apple/cf_string.h"

namespace kel {
namespace {

// Any thread. The dictionary, or null when info is not one.
CFDictionaryRef dictionary(InfoDictionary info) {
  auto cf = reinterpret_cast<CFDictionaryRef>(info);
  return cf != nullptr && CFGetTypeID(cf) == CFDictionaryGetTypeID() ? cf : nullptr;
}

// Any thread. A CFNumber stays an integer unless it holds a floating-point type;
// an integer too wide for 64 bits is read as a double, which keeps its size.
void readNumber(CFNumberRef number, InfoValue& value) {
  if (!CFNumberIsFloatType(number) && CFNumberGetValue(number, kCFNumberSInt64Type, &value.integer)) {
    value.kind = InfoKind::integer;
    return;
  }
  CFNumberGetValue(number, kCFNumberDoubleType, &value.real);
  value.kind = InfoKind::real;
}

}  // namespace

// Runs on queue, in the info query's callback.
bool infoIsEmpty(InfoDictionary info) {
  CFDictionaryRef cf = dictionary(info);
  return cf == nullptr || CFDictionaryGetCount(cf) == 0;
}

// Runs on queue, in the info query's callback. The dictionary is borrowed for the
// callback, and so are the bytes of a CFData in it.
InfoValue readInfo(InfoDictionary info, std::string_view key, TextStore& store) {
  InfoValue value;
  CFDictionaryRef cf = dictionary(info);
  if (cf == nullptr) return value;
  CFStringRef cfKey = createString(key);
  CFTypeRef found = cfKey == nullptr ? nullptr : CFDictionaryGetValue(cf, cfKey);
  if (cfKey != nullptr) CFRelease(cfKey);
  if (found == nullptr) return value;

  CFTypeID type = CFGetTypeID(found);
  value.kind = InfoKind::other;
  if (type == CFStringGetTypeID()) {
    value.kind = InfoKind::string;
    value.text = keepString(static_cast<CFStringRef>(found), store);
  } else if (type == CFBooleanGetTypeID()) {
    // Booleans have a type of their own, apart from numbers.
    value.kind = InfoKind::boolean;
    value.boolean = CFBooleanGetValue(static_cast<CFBooleanRef>(found)) != 0;
  } else if (type == CFNumberGetTypeID()) {
    readNumber(static_cast<CFNumberRef>(found), value);
  } else if (type == CFDateGetTypeID()) {
    value.kind = InfoKind::date;
    value.real = CFDateGetAbsoluteTime(static_cast<CFDateRef>(found)) + kCFAbsoluteTimeIntervalSince1970;
  } else if (type == CFDataGetTypeID()) {
    auto data = static_cast<CFDataRef>(found);
    value.kind = InfoKind::bytes;
    value.bytes = {CFDataGetBytePtr(data), static_cast<std::size_t>(CFDataGetLength(data))};
  }
  return value;
}

}  // namespace kel
