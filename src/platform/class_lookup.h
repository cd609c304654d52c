#pragma once
// Looking up a class and calling its selectors by name: the Objective-C runtime on
// macOS, a registry filled by the simulated service on Linux.

#include <optional>
#include <string_view>

#include "text/text_store.h"

namespace kel {

struct ObjectImpl;
// A class or an instance; null stands for nil.
using Object = const ObjectImpl*;

// The class called name, or null when there is none.
Object lookupClass(std::string_view name);

// Whether object (not null) responds to selector.
bool respondsTo(Object object, std::string_view selector);

// Calls a selector that returns an object; null when it returns nil.
Object callForObject(Object object, std::string_view selector);

// Calls a selector; its result when that is a string, nothing when it is nil or
// of another kind. The text stays valid as long as both the task and store.
std::optional<std::string_view> callForString(Object object, std::string_view selector, TextStore& store);

}  // namespace kel
