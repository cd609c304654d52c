// The Linux platform's default notification centre: one per process, shared
// by the bridge and the simulated service through this library.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/linux_platform.h"
#include "platform/notification_center.h"

namespace kel {
namespace {

struct Observer {
  std::string name;
  std::function<void()> call;
};

std::mutex observersMutex;
std::vector<Observer> observers;

}  // namespace

void addObserver(std::string_view name, std::function<void()> observer) {
  std::lock_guard lock(observersMutex);
  observers.push_back({std::string(name), std::move(observer)});
}

void postNotification(std::string_view name) {
  std::vector<std::function<void()>> matching;
  {
    std::lock_guard lock(observersMutex);
    for (const Observer& observer : observers) {
      if (observer.name == name) matching.push_back(observer.call);
    }
  }
  // Outside the lock: an observer may add observers or post in turn.
  for (const auto& call : matching) call();
}

}  // namespace kel
