#include "commands/handle_command.h"

#include <array>
#include <cmath>

#include "commands/number_reader.h"
#include "commands/trim.h"
#include "platform/service_calls.h"
#include "publisher/schedule_update.h"
#include "service/service.h"

namespace kel {

namespace {

struct TransportCommand {
  std::string_view name;
  std::int32_t code;
};

constexpr std::array<TransportCommand, 5> transportCommands = {{
    {"play", commandCode::play},
    {"pause", commandCode::pause},
    {"toggle", commandCode::togglePlayPause},
    {"next", commandCode::nextTrack},
    {"previous", commandCode::previousTrack},
}};

constexpr std::string_view seekPrefix = "seek ";

}  // namespace

Command interpretCommand(std::string_view line) {
  std::string_view text = trimWhitespace(line);
  for (const TransportCommand& command : transportCommands) {
    if (text == command.name) return {Command::Kind::send, command.code, 0};
  }
  if (text.starts_with(seekPrefix)) {
    double seconds = readNumber(text.substr(seekPrefix.size()));
    // Negative zero is not below zero: it seeks to the start, and is sent as zero.
    if (!std::isfinite(seconds) || seconds < 0) return {};
    return {Command::Kind::seek, 0, seconds == 0 ? 0.0 : seconds};
  }
  if (text == "refresh") return {Command::Kind::refresh, 0, 0};
  return {};
}

void handleCommand(std::string_view line) {
  Command command = interpretCommand(line);
  switch (command.kind) {
    case Command::Kind::none:
      break;
    case Command::Kind::send:
      callSendCommand(command.code);
      break;
    case Command::Kind::seek:
      callSetElapsedTime(command.seconds);
      break;
    case Command::Kind::refresh:
      scheduleUpdate();
      break;
  }
}

}  // namespace kel
