#pragma once
// The process's default notification centre.

#include <functional>
#include <string_view>

namespace kel {

// Any thread. Adds an observer for the notification called name, from any sender.
// The observer runs synchronously on the thread that posts the notification, and is
// never removed.
void addObserver(std::string_view name, std::function<void()> observer);

}  // namespace kel
