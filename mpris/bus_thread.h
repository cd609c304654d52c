#pragma once
// The service's own thread: it owns the session bus connection and serves an
// sd-event loop. Other threads hand it work through runOnBus, which never waits.

#include <functional>

struct sd_bus;
struct sd_event;

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

}  // namespace kel::mpris
