#pragma once
// The commands a host sends on standard input, one per line:
//   play, pause, toggle, next, previous   the service's transport commands
//   seek SECONDS                          move to a position
//   refresh                               publish the state again
// Anything else is ignored, and nothing is ever written in answer.

#include <cstdint>
#include <string_view>

namespace kel {

// What one line asks for.
struct Command {
  enum class Kind : std::uint8_t { none, send, seek, refresh };
  Kind kind = Kind::none;
  std::int32_t code = 0;  // For send: the service's command code.
  double seconds = 0;     // For seek: finite, not below zero, never negative zero.
};

// The command in line (UTF-8, line end included or not). Case-sensitive, after
// trimming whitespace and newlines from both ends.
Command interpretCommand(std::string_view line);

// Runs on queue. Carries out the command in line through the service, or asks
// for a publication for "refresh".
void handleCommand(std::string_view line);

}  // namespace kel
