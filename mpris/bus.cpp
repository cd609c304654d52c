// The bus thread: an sd-event loop that serves the session bus connection and an
// eventfd through which the entry points hand over work. When nothing happens on
// the bus, the loop sleeps without a deadline, so an idle service costs no CPU.
// Method calls go out from here with a timeout, and their handlers run once, here.

#include "mpris/bus.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "mpris/players.h"

namespace kel::mpris {
namespace {

// Written by startService before the thread starts; read-only afterwards.
int wakeFd = -1;

// What the other threads handed over; never destroyed, as they may hand over more
// until the process ends.
struct Inbox {
  std::mutex mutex;
  std::vector<BusTask> tasks;  // guarded by mutex
};

Inbox& inbox() {
  static auto* handed = new Inbox;
  return *handed;
}

// Bus thread only.
sd_event* event = nullptr;
sd_bus* connection = nullptr;

// The callers of whenWritten, and a source that runs after every dispatch (sd-bus
// writes its queue when the socket takes more) while there are any.
std::vector<std::function<void(bool)>>& unwritten() {
  static auto* waiting = new std::vector<std::function<void(bool)>>;
  return *waiting;
}
sd_event_source* writeWatch = nullptr;

void releaseWritten() {
  std::uint64_t queued = 0;
  bool open = connection != nullptr && sd_bus_get_n_queued_write(connection, &queued) >= 0;
  if (open && queued > 0) {
    sd_event_source_set_enabled(writeWatch, SD_EVENT_ON);
    return;
  }
  sd_event_source_set_enabled(writeWatch, SD_EVENT_OFF);
  for (auto& done : std::exchange(unwritten(), {})) done(open);
}

int onDispatched(sd_event_source*, void*) {
  releaseWritten();
  return 0;
}

// Bus thread. Runs what the other threads handed over, in order.
int onWake(sd_event_source*, int fd, std::uint32_t, void*) {
  std::uint64_t count = 0;
  while (read(fd, &count, sizeof count) < 0 && errno == EINTR) {
  }
  std::vector<BusTask> tasks;
  {
    std::lock_guard lock(inbox().mutex);
    tasks.swap(inbox().tasks);
  }
  for (BusTask& task : tasks) task();
  return 0;
}

// Bus thread. Connects to the session bus. Without one, the service goes on with
// no player; sd-bus writes nothing to standard error on the way.
void connect() {
  sd_bus* opened = nullptr;
  if (sd_bus_open_user(&opened) < 0) return;
  // A closed connection must not end the event loop, let alone the process.
  sd_bus_set_exit_on_disconnect(opened, 0);
  if (sd_bus_attach_event(opened, event, SD_EVENT_PRIORITY_NORMAL) < 0) {
    sd_bus_unref(opened);
    return;
  }
  connection = opened;
}

// The bus thread, for as long as the process lives.
void serve() {
  if (sd_event_new(&event) < 0) return;
  sd_event_add_io(event, nullptr, wakeFd, EPOLLIN, onWake, nullptr);
  sd_event_add_post(event, &writeWatch, onDispatched, nullptr);
  sd_event_source_set_enabled(writeWatch, SD_EVENT_OFF);
  connect();
  watchPlayers();
  sd_event_loop(event);
}

}  // namespace

void startService() {
  static std::once_flag started;
  std::call_once(started, [] {
    wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::thread(serve).detach();
  });
}

void runOnBus(BusTask task) {
  {
    std::lock_guard lock(inbox().mutex);
    inbox().tasks.push_back(std::move(task));
  }
  std::uint64_t one = 1;
  while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

sd_bus* sessionBus() {
  return connection;
}

sd_event* busEvent() {
  return event;
}

void dropSessionBus() {
  if (connection == nullptr) return;
  sd_bus_detach_event(connection);
  // Note: the connection is already closed; what it still holds (pending calls'
  // handlers) goes with it.
  sd_bus_flush_close_unref(connection);
  connection = nullptr;
  releaseWritten();
}

void whenWritten(std::function<void(bool)> done) {
  unwritten().push_back(std::move(done));
  releaseWritten();
}

double realtimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}


// Method calls.

namespace {

// Bus thread, when the reply (or sd-bus's own timeout error) arrives.
int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  (*static_cast<ReplyHandler*>(userdata))(reply);
  return 0;
}

// Bus thread, when the call's slot goes: after the reply, or with the connection.
void deleteHandler(void* userdata) {
  delete static_cast<ReplyHandler*>(userdata);
}

}  // namespace

Message newCall(sd_bus* bus, const char* destination, const char* path, const char* interface,
                const char* member) {
  sd_bus_message* call = nullptr;
  if (bus == nullptr || sd_bus_message_new_method_call(bus, &call, destination, path, interface, member) < 0) {
    return nullptr;
  }
  return Message(call);
}

void sendCall(sd_bus* bus, Message call, std::chrono::microseconds timeout, ReplyHandler handler) {
  if (bus == nullptr || call == nullptr) {
    handler(nullptr);
    return;
  }
  auto* owned = new ReplyHandler(std::move(handler));
  sd_bus_slot* slot = nullptr;
  auto usec = static_cast<std::uint64_t>(timeout.count());
  if (sd_bus_call_async(bus, &slot, call.get(), onReply, owned, usec) < 0) {
    ReplyHandler failed = std::move(*owned);
    delete owned;
    failed(nullptr);
    return;
  }
  // From here the bus owns the slot, and the slot the handler.
  sd_bus_slot_set_destroy_callback(slot, deleteHandler);
  sd_bus_slot_set_floating(slot, 1);
  sd_bus_slot_unref(slot);
}

void callBusDaemon(sd_bus* bus, const char* member, const char* argument, std::chrono::microseconds timeout,
                   ReplyHandler handler) {
  Message call = newCall(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member);
  if (call && argument != nullptr && sd_bus_message_append(call.get(), "s", argument) < 0) call.reset();
  sendCall(bus, std::move(call), timeout, std::move(handler));
}

void getProperty(sd_bus* bus, const char* owner, const char* interface, const char* property,
                 std::chrono::microseconds timeout, ReplyHandler handler) {
  Message call = newCall(bus, owner, playerPath, propertiesInterface, "Get");
  if (call && sd_bus_message_append(call.get(), "ss", interface, property) < 0) call.reset();
  sendCall(bus, std::move(call), timeout, std::move(handler));
}

void getAllProperties(sd_bus* bus, const char* owner, const char* interface, std::chrono::microseconds timeout,
                      ReplyHandler handler) {
  Message call = newCall(bus, owner, playerPath, propertiesInterface, "GetAll");
  if (call && sd_bus_message_append(call.get(), "s", interface) < 0) call.reset();
  sendCall(bus, std::move(call), timeout, std::move(handler));
}

bool isAnswer(sd_bus_message* reply) {
  return reply != nullptr && sd_bus_message_is_method_error(reply, nullptr) == 0;
}

}  // namespace kel::mpris
