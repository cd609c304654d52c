#include "commands/number_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace kel {
namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

// Equal, and zeros of the same sign.
void expectSame(double actual, double expected, const std::string& text) {
  EXPECT_EQ(actual, expected) << testing::PrintToString(text);
  EXPECT_EQ(std::signbit(actual), std::signbit(expected)) << testing::PrintToString(text);
}

TEST(NumberReaderTest, ReadsTheLongestNumberAtTheStart) {
  struct Case {
    std::string text;
    double value;
  };
  const std::vector<Case> cases = {
      {"12.5", 12.5},
      {"  12.5", 12.5},
      {"\t \t7", 7},
      {"12abc", 12},
      {"12 34", 12},
      {"1,5", 1},
      {"1.2.3", 1.2},
      {"1..2", 1},
      {".5", 0.5},
      {"5.", 5},
      {"+5", 5},
      {" +.5", 0.5},
      {"-1", -1},
      {"-.5", -0.5},
      {"0005", 5},
      {"1e5", 1e5},
      {"1E5", 1e5},
      {"1e+2", 100},
      {"1.5e-1", 0.15},
      {"0.001e3", 1},
      {"1e5.5", 1e5},
      {"5e", 5},
      {"5E+", 5},
      {"5e-x", 5},
      {"5e 3", 5},
      {"0.1000000000000000055511151231257827", 0.1},
      {"4.9e-324", std::numeric_limits<double>::denorm_min()},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
  };
  for (const Case& c : cases) expectSame(readNumber(c.text), c.value, c.text);
}

TEST(NumberReaderTest, TextThatDoesNotStartWithANumberReadsAsZero) {
  // Among them the forms left out on purpose: other leading whitespace, digits of
  // other scripts, spelled-out infinities and NaN, and hexadecimal (which reads
  // as its leading zero).
  const std::vector<std::string> cases = {
      "",    "abc", ".",      "-",         "+",         "+-5",  "- 5",  ".e5",        "e5",
      "\n5", "\v5", "\r5",    "\xC2\xA0" "5", "inf",   "-inf", "infinity", "nan", "NaN",
      "0x10", "0X1p3", "\xD9\xA1\xD9\xA2", "\xEF\xBC\x91\xEF\xBC\x92",
  };
  for (const std::string& text : cases) expectSame(readNumber(text), 0.0, text);
}

TEST(NumberReaderTest, OverflowGivesInfinityAndUnderflowZeroOfTheSameSign) {
  const std::string nines(30, '9');
  struct Case {
    std::string text;
    double value;
  };
  const std::vector<Case> cases = {
      {"1e999", infinity},
      {"-1e999", -infinity},
      {"1.7976931348623159e308", infinity},
      {"1" + std::string(400, '0'), infinity},
      {"1e" + nines, infinity},
      {"0.0000001e" + nines, infinity},
      {"0.001e310", 1e307},
      {"1e-999", 0.0},
      {"-1e-999", -0.0},
      {"-0", -0.0},
      {"2.4e-324", 0.0},
      {"0." + std::string(400, '0') + "1", 0.0},
      {"1e-" + nines, 0.0},
      {"1000e-" + nines, 0.0},
      {"0e" + nines, 0.0},
      {std::string(400, '0') + "e999", 0.0},
  };
  for (const Case& c : cases) expectSame(readNumber(c.text), c.value, c.text);
}

TEST(NumberReaderTest, AgreesWithStrtodOverRandomNumberLikeText) {
  // strtod in the C locale reads the same form when the text holds nothing it
  // reads beyond it (other whitespace, "inf", "nan", "0x").
  const char alphabet[] = "0123456789012345678901234567890123456789..++--eeE \t!";
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, std::strlen(alphabet) - 1);
  std::uniform_int_distribution<std::size_t> length(0, 24);
  std::string text;
  for (int round = 0; round < 200000; ++round) {
    text.clear();
    for (std::size_t i = length(random); i > 0; --i) text += alphabet[pick(random)];
    double expected = std::strtod(text.c_str(), nullptr);
    expectSame(readNumber(text), expected, text);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace kel
