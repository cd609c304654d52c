#include "commands/number_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace kel {
namespace {

// Tells zeros of different signs apart.
std::pair<double, bool> withSign(double value) { return {value, std::signbit(value)}; }

TEST(NumberReaderTest, AgreesWithStrtodOnTheFormItReads) {
  // In the C locale (the tests never change it) strtod reads the same form, rounding and range,
  // in text holding nothing it reads beyond the form: other whitespace, "inf", "nan", "0x". First
  // the edges of range and precision, and characters neither whitespace nor digits there.
  const std::string nines(30, '9'), zeros(400, '0');
  std::vector<std::string> texts = {
      "-0", "0.1000000000000000055511151231257827", "4.9e-324", "2.4e-324", "1.7976931348623157e308",
      "1.7976931348623159e308", "1" + zeros, "0." + zeros + "1e50", zeros + "e999", "0.001e310", "-1e-999",
      "1e" + nines, "0.0000001e" + nines, "1e-" + nines, "1000e-" + nines, "0e" + nines, "-1e" + nines,
      "\xC2\xA0" "5", "\xD9\xA1\xD9\xA2", "\xEF\xBC\x91", "1,5", "5e-x",
  };
  // Then random text over the characters of the form.
  const std::string alphabet = "0123456789012345678901234567890123456789..++--eeE \t!";
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(0, 24);
  for (int round = 0; round < 200000; ++round) {
    std::string& text = texts.emplace_back();
    for (std::size_t i = length(random); i > 0; --i) text += alphabet[pick(random)];
  }
  for (const std::string& text : texts) {
    ASSERT_EQ(withSign(readNumber(text)), withSign(std::strtod(text.c_str(), nullptr))) << testing::PrintToString(text);
  }
}

TEST(NumberReaderTest, ReadsAsZeroWhatStrtodReadsBeyondTheForm) {
  // Whitespace other than spaces and tabs, spelled-out infinities and NaN, and
  // hexadecimal (which reads as its leading zero).
  for (const char* text : {"\n5", "\v5", "\r5", "\f5", "inf", "-inf", "infinity", "nan", "NaN", "0x10", "0X1p3"}) {
    EXPECT_EQ(withSign(readNumber(text)), withSign(0.0)) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace kel
