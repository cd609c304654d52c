#include "mpris/bus_calls.h"

#include <cstdint>
#include <utility>

namespace kel::mpris {
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
