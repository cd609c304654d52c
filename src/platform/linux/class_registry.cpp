// The Linux platform's counterpart of the Objective-C runtime's classes: a registry by name,
// filled by the simulated service.

#include <mutex>
#include <string>

#include "platform/class_lookup.h"
#include "platform/linux/linux_platform.h"

namespace kel {
namespace {

std::mutex classesMutex;
std::map<std::string, Object, std::less<>> classes;

const SelectorResult* findSelector(Object object, std::string_view selector) {
  auto found = object->selectors.find(selector);
  return found == object->selectors.end() ? nullptr : &found->second;
}

}  // namespace

void registerClass(std::string_view name, Object cls) {
  std::lock_guard lock(classesMutex);
  if (cls == nullptr) {
    if (auto found = classes.find(name); found != classes.end()) classes.erase(found);
  } else {
    classes.insert_or_assign(std::string(name), cls);
  }
}

Object lookupClass(std::string_view name) {
  std::lock_guard lock(classesMutex);
  auto found = classes.find(name);
  return found == classes.end() ? nullptr : found->second;
}

bool respondsTo(Object object, std::string_view selector) {
  return findSelector(object, selector) != nullptr;
}

Object callForObject(Object object, std::string_view selector) {
  const SelectorResult* result = findSelector(object, selector);
  if (result == nullptr || result->kind != SelectorResult::Kind::object) return nullptr;
  return result->object;
}

// The registry holds its texts as UTF-8 already, so the store is not needed.
std::optional<std::string_view> callForString(Object object, std::string_view selector, TextStore&) {
  const SelectorResult* result = findSelector(object, selector);
  if (result == nullptr || result->kind != SelectorResult::Kind::string) return std::nullopt;
  return std::string_view(result->text);
}

}  // namespace kel
