// Any bytes as one command line, taken as the reader takes a line: through
// commandText, then interpretCommand. No line may crash, send a code other than the
// transport commands', or seek to a position that is not a finite number of at least
// zero (and never to negative zero).

#include <cmath>

#include "commands/handle_command.h"
#include "commands/line_reader.h"
#include "read_back.h"
#include "service/service.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  std::optional<std::string_view> text = commandText({reinterpret_cast<const char*>(data), size});
  if (!text) return 0;
  Command command = interpretCommand(*text);
  if (command.kind == Command::Kind::send) {
    fuzz::check(command.code == commandCode::play || command.code == commandCode::pause ||
                    command.code == commandCode::togglePlayPause || command.code == commandCode::nextTrack ||
                    command.code == commandCode::previousTrack,
                "only the transport commands' codes are sent");
  }
  if (command.kind == Command::Kind::seek) {
    fuzz::check(std::isfinite(command.seconds), "a seek only to a finite position");
    fuzz::check(command.seconds >= 0 && !std::signbit(command.seconds), "a seek only to a position of at least zero");
  }
  return 0;
}
