// Classes and selectors by name through the Objective-C runtime. Every message is
// sent through objc_msgSend cast to the exact type of the method, as the runtime
// requires (arm64 passes variadic arguments differently).

#include "platform/class_lookup.h"

#include <CoreFoundation/CoreFoundation.h>
#include <objc/message.h>
#include <objc/runtime.h>

#include <string>

#include "platform/apple/cf_string.h"

namespace kel {
namespace {

// Any thread.
id toId(Object object) {
  return reinterpret_cast<id>(const_cast<ObjectImpl*>(object));
}

// Any thread.
Object toObject(id object) {
  return reinterpret_cast<Object>(object);
}

// Any thread: the runtime's selector table is thread-safe.
SEL selectorNamed(std::string_view name) {
  return sel_registerName(std::string(name).c_str());
}

// Runs on queue. Sends a message that takes no argument and returns an object.
id sendForObject(Object object, std::string_view selector) {
  return reinterpret_cast<id (*)(id, SEL)>(objc_msgSend)(toId(object), selectorNamed(selector));
}

}  // namespace

// Runs on queue.
Object lookupClass(std::string_view name) {
  return toObject(reinterpret_cast<id>(objc_getClass(std::string(name).c_str())));
}

// Runs on queue. For a class object this asks about its class methods.
bool respondsTo(Object object, std::string_view selector) {
  auto send = reinterpret_cast<BOOL (*)(id, SEL, SEL)>(objc_msgSend);
  return send(toId(object), sel_registerName("respondsToSelector:"), selectorNamed(selector));
}

// Runs on queue, inside the task's autorelease pool, which keeps the result alive
// for the rest of the task.
Object callForObject(Object object, std::string_view selector) {
  return toObject(sendForObject(object, selector));
}

// Runs on queue, inside the task's autorelease pool. NSString is toll-free bridged
// to CFString, so its type tells a string from other results.
std::optional<std::string_view> callForString(Object object, std::string_view selector, TextStore& store) {
  id result = sendForObject(object, selector);
  if (result == nil) return std::nullopt;
  auto cf = reinterpret_cast<CFTypeRef>(result);
  if (CFGetTypeID(cf) != CFStringGetTypeID()) return std::nullopt;
  return keepString(static_cast<CFStringRef>(cf), store);
}

}  // namespace kel
