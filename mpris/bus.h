#pragma once
// The bus: the service's own thread, which owns the session bus connection and
// serves an sd-event loop, and the method calls it makes. Other threads hand it
// work through runOnBus, which never waits; a call never waits for its answer.

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <chrono>
#include <functional>
#include <memory>

namespace kel::mpris {

using BusTask = std::function<void()>;

// Any thread; once. Starts the bus thread, which connects to the session bus.
void startService();

// Any thread. Returns at once; task runs on the bus thread, after the tasks handed
// over before it. startService must have been called.
void runOnBus(BusTask task);

// Bus thread. The session bus, or null when there is none (or it went away).
sd_bus* sessionBus();

// Bus thread. The thread's event loop.
sd_event* busEvent();

// Bus thread. Forgets the connection after it closed.
void dropSessionBus();

// Bus thread. Runs done(true) once everything sent so far has left for the bus
// daemon (sd-bus queues what the socket does not take), or done(false) when the
// connection goes first.
void whenWritten(std::function<void(bool written)> done);

// Any thread. Now, in seconds since 1970 (CLOCK_REALTIME).
double realtimeNow();


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
