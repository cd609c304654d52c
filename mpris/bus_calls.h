#pragma once
// Calling methods on the bus from the bus thread, without ever waiting for the
// answer: each call has a timeout, and its handler runs once, on the bus thread.

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <memory>

namespace kel::mpris {

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// Runs once with the reply, which may be an error (a timeout included), or with
// null when the call could not be sent at all.
using ReplyHandler = std::function<void(sd_bus_message* reply)>;

inline constexpr const char* playerPath = "/org/mpris/MediaPlayer2";
inline constexpr const char* rootInterface = "org.mpris.MediaPlayer2";
inline constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";

// Bus thread. A method call to write arguments into; null when bus is null.
Message newCall(sd_bus* bus, const char* destination, const char* path, const char* interface,
                const char* member);

// Bus thread. Sends call (null is allowed and fails) and returns at once. When it
// cannot be sent, handler runs before this returns, with null.
void sendCall(sd_bus* bus, Message call, std::chrono::microseconds timeout, ReplyHandler handler);

// Bus thread. The bus daemon's methods, and the properties of a player's object.
void callBusDaemon(sd_bus* bus, const char* member, const char* argument, std::chrono::microseconds timeout,
                   ReplyHandler handler);
void getProperty(sd_bus* bus, const char* owner, const char* interface, const char* property,
                 std::chrono::microseconds timeout, ReplyHandler handler);
void getAllProperties(sd_bus* bus, const char* owner, const char* interface, std::chrono::microseconds timeout,
                      ReplyHandler handler);

// Whether reply is a usable answer: not null and not an error.
bool isAnswer(sd_bus_message* reply);

}  // namespace kel::mpris
