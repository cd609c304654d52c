// kel-mediaremote: the program a user runs. Loads the bridge library and hands it
// the main thread; from then on the library owns standard input and output.

#include <cstdio>
#include <string>
#include <string_view>

#include "host.h"

namespace {

constexpr std::string_view program = "kel-mediaremote";

constexpr const char* help = R"(Usage: kel-mediaremote [--once] [--library PATH]

Publishes the system's now-playing state as one JSON object per line on standard
output, and carries out the commands read as lines from standard input:
  play, pause, toggle, next, previous, seek SECONDS, refresh
The end of standard input ends the program.

Options:
  --once          print the current state once and exit, as with standard input
                  closed: kel-mediaremote --once | jq -r .title
  --library PATH  load the bridge library from PATH instead of the one installed
                  beside this program (or in )" KEL_LIBRARY_DIR R"()
  --help          show this text and exit
  --version       show the version and exit

Exit status: 0 at the end of standard input; 2 when the now-playing service is
unavailable (after the line {"error":"unavailable"}); 1 when the library cannot be
loaded; 64 for bad options.
)";

}  // namespace

int main(int argc, char** argv) {
  std::string library;
  bool once = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    kel::host::answerHelpOrVersion(program, arg, help);
    if (arg == "--once") {
      once = true;
    } else if (!kel::host::takeValue(program, argc, argv, i, "--library", library)) {
      kel::host::usageError(program, "unknown option " + std::string(arg));
    }
  }
  // The library ends at the end of its input, so --once is no more than an input
  // that has already ended; the bridge is the same in both uses.
  if (once) kel::host::closeInput(program);
  kel::host::runBridge(program, library);
}
