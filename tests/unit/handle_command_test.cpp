#include "commands/handle_command.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kel {
namespace {

using Kind = Command::Kind;

TEST(HandleCommandTest, InterpretsTheTableCaseSensitivelyAfterTrimming) {
  struct Case {
    std::string line;
    Kind kind;
    std::int32_t code;
  };
  const std::vector<Case> cases = {
      {"play", Kind::send, 0},
      {"pause", Kind::send, 1},
      {"toggle", Kind::send, 2},
      {"next", Kind::send, 4},
      {"previous", Kind::send, 5},
      {"refresh", Kind::refresh, 0},
      {"  play \r\n", Kind::send, 0},
      {"\xE3\x80\x80next\xE2\x80\xA8", Kind::send, 4},
      {"\t\tprevious\n", Kind::send, 5},
      {"Play", Kind::none, 0},
      {"PAUSE", Kind::none, 0},
      {"Refresh", Kind::none, 0},
      {"stop", Kind::none, 0},
      {"", Kind::none, 0},
      {"\n", Kind::none, 0},
      {"playx", Kind::none, 0},
      {"play play", Kind::none, 0},
      {"refresh now", Kind::none, 0},
      {"\xE2\x80\x8Bnext", Kind::none, 0},  // A zero-width space is not whitespace.
      {"seek", Kind::none, 0},
      {"seek ", Kind::none, 0},
      {"seek\t12", Kind::none, 0},
      {"Seek 5", Kind::none, 0},
      {"seeking 5", Kind::none, 0},
  };
  for (const Case& c : cases) {
    Command command = interpretCommand(c.line);
    EXPECT_EQ(command.kind, c.kind) << testing::PrintToString(c.line);
    EXPECT_EQ(command.code, c.code) << testing::PrintToString(c.line);
  }
}

TEST(HandleCommandTest, SeeksOnlyToFinitePositionsNotBelowZero) {
  struct Case {
    std::string line;
    bool seeks;
    double seconds;
  };
  const std::vector<Case> cases = {
      {"seek 12.5", true, 12.5},
      {"seek   12.5", true, 12.5},
      {"seek 12abc", true, 12},
      {"seek abc", true, 0},
      {"seek .5", true, 0.5},
      {"seek 5.", true, 5},
      {"seek 5 \n", true, 5},
      {"seek \t12", true, 12},
      {"seek \xC2\xA0" "5", true, 0},  // Only spaces and tabs come before the number.
      {"seek -0", true, 0},
      {"seek 1e-999", true, 0},
      {"seek -1e-999", true, 0},
      {"seek inf", true, 0},
      {"seek 0x10", true, 0},
      {"seek -1", false, 0},
      {"seek -0.001", false, 0},
      {"seek 1e999", false, 0},
      {"seek -1e999", false, 0},
  };
  for (const Case& c : cases) {
    Command command = interpretCommand(c.line);
    if (!c.seeks) {
      EXPECT_EQ(command.kind, Kind::none) << c.line;
      continue;
    }
    EXPECT_EQ(command.kind, Kind::seek) << c.line;
    EXPECT_EQ(command.seconds, c.seconds) << c.line;
    EXPECT_FALSE(std::signbit(command.seconds)) << c.line;
  }
}

}  // namespace
}  // namespace kel
