// The simulated service's scenario reader: its typed values, and the errors that
// name the line.

#include <gtest/gtest.h>

#include <array>
#include <charconv>

#include "platform/info_value.h"
#include "sim/scenario.h"
#include "support.h"

namespace kel::sim {
namespace {

// A state step that sets the info key "k" to value, and a typed value of Base64 text.
std::string infoLine(const std::string& value) { return R"({"state": {"info": {"k": )" + value + "}}}"; }
std::string base64(const std::string& text) { return R"({"base64": ")" + text + "\"}"; }

// The entry that a state step setting "k" to value gives, as its kind and its value.
std::string readValue(const std::string& value) {
  Scenario scenario = readScenario(infoLine(value), "v.jsonl");
  EXPECT_EQ(scenario.error, "") << value;
  const InfoEntry& entry = scenario.steps.at(0).state.info->entries.at("k");
  std::array<char, 40> real{};
  std::to_chars(real.data(), real.data() + real.size(), entry.real);
  const char* kinds[] = {"absent", "string", "integer", "real", "boolean", "date", "bytes", "other"};
  std::string shown = entry.kind == InfoKind::integer ? std::to_string(entry.integer)
                      : entry.kind == InfoKind::bytes ? std::string(entry.bytes.begin(), entry.bytes.end()) : real.data();
  return kinds[int(entry.kind)] + (entry.kind == InfoKind::other ? "" : " " + shown);
}

TEST(ScenarioReaderTest, ReadsTypedValues) {
  const std::vector<std::uint8_t> bytes = test::pattern(1000);  // What {"bytes": 1000} stands for.
  const std::string generated(bytes.begin(), bytes.end());
  // An integer literal within 64 bits is an integer; any other number is a real.
  const std::pair<std::string, std::string> cases[] = {
      {"-42", "integer -42"}, {"9223372036854775807", "integer 9223372036854775807"},
      {"-9223372036854775808", "integer -9223372036854775808"}, {"9223372036854775808", "real 9223372036854775808"},
      {"3.0", "real 3"}, {"1E-2", "real 0.01"}, {R"({"real": 3})", "real 3"}, {R"({"real": "-inf"})", "real -inf"},
      {R"({"real": "nan"})", "real nan"}, {R"({"date": 1700000000.25})", "date 1700000000.25"},
      {R"({"date": "inf"})", "date inf"}, {R"({"date": "nan"})", "date nan"}, {R"({"other": true})", "other"},
      {R"({"bytes": 0})", "bytes "}, {R"({"bytes": 1000})", "bytes " + generated},
      // The test vectors of RFC 4648, and the two digits beyond letters and numbers.
      {base64(""), "bytes "}, {base64("Zg=="), "bytes f"}, {base64("Zm8="), "bytes fo"}, {base64("Zm9v"), "bytes foo"},
      {base64("Zm9vYg=="), "bytes foob"}, {base64("Zm9vYmE="), "bytes fooba"}, {base64("Zm9vYmFy"), "bytes foobar"},
      {base64("+/+/"), "bytes \xfb\xff\xbf"},
  };
  for (const auto& [json, expected] : cases) EXPECT_EQ(readValue(json), expected) << json;
}

TEST(ScenarioReaderTest, RejectsMalformedLinesNamingTheLine) {
  auto player = [](const std::string& lookup) { return R"({"state": {"player": )" + lookup + "}}"; };
  // A line, and a part of the message it must give: one case for each kind of mistake.
  std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"sleep": 10)", "not a JSON value"}, {"{\"post\": \"\xff\"}", "not a JSON value"},
      {infoLine("1e999"), "not a JSON value"}, {R"({"sleep": 1, "post": "x"})", "exactly one member"},
      {R"({"sleep": 1, "sleep": 2})", "\"sleep\" is repeated"}, {R"({"Sleep": 1})", "unknown step \"Sleep\""},
      {R"({"sleep": 10.0})", "\"sleep\" takes whole milliseconds"}, {R"({"answers": "Now"})", "\"answers\" takes"},
      {R"({"post": ""})", "\"post\" takes the name"}, {R"({"state": {"volume": 3}})", "no part \"volume\""},
      {R"({"state": {"playing": 256}})", "\"playing\" takes"}, {player(R"({"path": "x"})"), "\"path\" takes"},
      {player(R"({"client": {"name": "a"}})"), "selector \"name\""}, {infoLine("null"), "info \"k\": null is not a value"},
      {infoLine(R"({"real": 1, "date": 2})"), "a typed value is an object of one member"},
      {infoLine(R"({"integer": 1})"), "unknown typed value \"integer\""},
      {infoLine(R"({"bytes": 67108865})"), "\"bytes\" takes a count"},
      {infoLine(R"({"file": "/nonexistent/cover.jpg"})"), "\"file\" takes the path of a readable file"},
  };
  // Base64 with a pad missing, misplaced or hiding set bits, whitespace, or the URL-safe digits.
  for (const char* text : {"abc", "ab=c", "a b=", "TR==", "TWF=", "TQ==TQ==", "TW-A", "TW_A"})
    cases.push_back({infoLine(base64(text)), "\"base64\" takes"});
  for (const auto& [line, problem] : cases) {
    // Two good lines and a blank one first, so that the number counts every line.
    Scenario scenario = readScenario("{\"sleep\": 1}\n\n" + line + "\n{\"sleep\": 2}\n", "bad.jsonl");
    const std::string& error = scenario.error;
    EXPECT_TRUE(scenario.steps.empty() && error.rfind("bad.jsonl:3: ", 0) == 0 &&
                error.find(problem) != std::string::npos && error.find('\n') == std::string::npos)
        << line << "\n  gave: " << error;
  }
}

}  // namespace
}  // namespace kel::sim
