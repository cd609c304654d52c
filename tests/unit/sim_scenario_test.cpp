// The scenario reader: every kind of step, the typed values of the info dictionary,
// the player lookups, and every kind of malformed line, with its line number.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/scenario.h"

namespace kel::sim {
namespace {

using std::chrono::milliseconds;

// Reads a scenario of one state step that sets the info key "k" to valueJson.
InfoEntry readValue(const std::string& valueJson) {
  Scenario scenario = readScenario(R"({"state": {"info": {"k": )" + valueJson + "}}}", "v.jsonl");
  EXPECT_EQ(scenario.error, "") << valueJson;
  if (scenario.steps.size() != 1 || !scenario.steps[0].state.info) return {};
  return scenario.steps[0].state.info->entries.at("k");
}

TEST(ScenarioReaderTest, ReadsEveryKindOfStepWithItsLineNumber) {
  const char* text =
      "{\"state\": {\"playing\": true}}\n"
      "\n"
      "   \t\n"
      "{\"post\": \"kMRMediaRemoteNowPlayingInfoDidChangeNotification\"}\r\n"
      "{\"sleep\": 250}\n"
      "{\"answers\": \"now\"}\n"
      "{\"answers\": \"never\"}\n"
      "{\"answers\": 400}\n"
      "{\"answers\": 0}\n"
      "{\"commandDelay\": 75}\n"
      "{\"post\": \"anyNameAtAll\"}";  // The last line needs no line feed.
  Scenario scenario = readScenario(text, "s.jsonl");
  ASSERT_EQ(scenario.error, "");
  ASSERT_EQ(scenario.steps.size(), 9u);
  const auto& s = scenario.steps;
  EXPECT_EQ(s[0].kind, StepKind::state);
  EXPECT_EQ(s[0].line, 1);
  EXPECT_EQ(s[1].kind, StepKind::post);
  EXPECT_EQ(s[1].line, 4);
  EXPECT_EQ(s[1].name, "kMRMediaRemoteNowPlayingInfoDidChangeNotification");
  EXPECT_EQ(s[2].kind, StepKind::sleep);
  EXPECT_EQ(s[2].duration, milliseconds(250));
  EXPECT_EQ(s[3].kind, StepKind::answers);
  EXPECT_EQ(s[3].answers, AnswerMode::now);
  EXPECT_EQ(s[4].answers, AnswerMode::never);
  EXPECT_EQ(s[5].answers, AnswerMode::delayed);
  EXPECT_EQ(s[5].duration, milliseconds(400));
  EXPECT_EQ(s[6].answers, AnswerMode::delayed);
  EXPECT_EQ(s[6].duration, milliseconds(0));
  EXPECT_EQ(s[7].kind, StepKind::commandDelay);
  EXPECT_EQ(s[7].duration, milliseconds(75));
  EXPECT_EQ(s[8].name, "anyNameAtAll");
  EXPECT_EQ(s[8].line, 11);
}

TEST(ScenarioReaderTest, EmptyTextIsAnEmptyScenario) {
  for (const char* text : {"", "\n", "\n\n  \n\r\n"}) {
    Scenario scenario = readScenario(text, "e.jsonl");
    EXPECT_EQ(scenario.error, "") << text;
    EXPECT_TRUE(scenario.steps.empty()) << text;
  }
}

TEST(ScenarioReaderTest, StateStepReplacesOnlyTheNamedParts) {
  Scenario scenario = readScenario(
      "{\"state\": {\"playing\": false}}\n"
      "{\"state\": {\"info\": null}}\n"
      "{\"state\": {\"info\": {}}}\n"
      "{\"state\": {}}\n"
      "{\"state\": {\"playing\": 7, \"player\": null, \"info\": {\"a\": 1}}}\n",
      "p.jsonl");
  ASSERT_EQ(scenario.error, "");
  ASSERT_EQ(scenario.steps.size(), 5u);
  const auto& s = scenario.steps;
  EXPECT_EQ(s[0].state.playing, std::optional<std::uint8_t>(0));
  EXPECT_FALSE(s[0].state.player);
  EXPECT_FALSE(s[0].state.setsInfo);
  EXPECT_FALSE(s[1].state.playing);
  EXPECT_TRUE(s[1].state.setsInfo);
  EXPECT_EQ(s[1].state.info, nullptr);
  ASSERT_NE(s[2].state.info, nullptr);
  EXPECT_TRUE(s[2].state.info->entries.empty());
  EXPECT_FALSE(s[3].state.playing || s[3].state.player || s[3].state.setsInfo);
  EXPECT_EQ(s[4].state.playing, std::optional<std::uint8_t>(7));
  ASSERT_TRUE(s[4].state.player);
  EXPECT_EQ(s[4].state.player->stage, LookupStage::noClass);
  ASSERT_NE(s[4].state.info, nullptr);
  EXPECT_EQ(s[4].state.info->entries.size(), 1u);
}

TEST(ScenarioReaderTest, ReadsPlayingAsTrueFalseOrAByte) {
  const struct {
    const char* json;
    std::uint8_t playing;
  } cases[] = {{"true", 1}, {"false", 0}, {"0", 0}, {"-0", 0}, {"1", 1}, {"2", 2}, {"255", 255}};
  for (const auto& c : cases) {
    Scenario scenario = readScenario(std::string(R"({"state": {"playing": )") + c.json + "}}", "p.jsonl");
    ASSERT_EQ(scenario.error, "") << c.json;
    EXPECT_EQ(scenario.steps.at(0).state.playing, std::optional<std::uint8_t>(c.playing)) << c.json;
  }
}

TEST(ScenarioReaderTest, ReadsScalarValuesByTheirLiterals) {
  const struct {
    const char* json;
    InfoKind kind;
    std::int64_t integer;
    double real;
  } cases[] = {
      {"0", InfoKind::integer, 0, 0},
      {"-0", InfoKind::integer, 0, 0},
      {"3", InfoKind::integer, 3, 0},
      {"-42", InfoKind::integer, -42, 0},
      {"9223372036854775807", InfoKind::integer, std::numeric_limits<std::int64_t>::max(), 0},
      {"-9223372036854775808", InfoKind::integer, std::numeric_limits<std::int64_t>::min(), 0},
      // Beyond 64 bits, or with a fraction or an exponent, a number is a real.
      {"9223372036854775808", InfoKind::real, 0, 9223372036854775808.0},
      {"-9223372036854775809", InfoKind::real, 0, -9223372036854775809.0},
      {"3.0", InfoKind::real, 0, 3.0},
      {"1e2", InfoKind::real, 0, 100.0},
      {"1E-2", InfoKind::real, 0, 0.01},
      {"2.5", InfoKind::real, 0, 2.5},
      {"-0.125", InfoKind::real, 0, -0.125},
      {"0.1", InfoKind::real, 0, 0.1},
  };
  for (const auto& c : cases) {
    InfoEntry entry = readValue(c.json);
    EXPECT_EQ(entry.kind, c.kind) << c.json;
    if (c.kind == InfoKind::integer) {
      EXPECT_EQ(entry.integer, c.integer) << c.json;
    } else {
      EXPECT_EQ(entry.real, c.real) << c.json;
    }
  }
  EXPECT_TRUE(std::signbit(readValue("-0.0").real));

  InfoEntry text = readValue(R"("caf\u00e9 \/ \"x\"")");
  EXPECT_EQ(text.kind, InfoKind::string);
  EXPECT_EQ(text.text, "caf\xc3\xa9 / \"x\"");
  EXPECT_EQ(readValue(R"("")").kind, InfoKind::string);
  EXPECT_EQ(readValue(R"("")").text, "");
  EXPECT_EQ(readValue("true").kind, InfoKind::boolean);
  EXPECT_TRUE(readValue("true").boolean);
  EXPECT_EQ(readValue("false").kind, InfoKind::boolean);
  EXPECT_FALSE(readValue("false").boolean);
}

TEST(ScenarioReaderTest, ReadsTypedRealsAndDates) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* json;
    InfoKind kind;
    double real;
  } cases[] = {
      {R"({"real": 3})", InfoKind::real, 3.0},
      {R"({"real": -1.5})", InfoKind::real, -1.5},
      {R"({"real": "inf"})", InfoKind::real, inf},
      {R"({"real": "-inf"})", InfoKind::real, -inf},
      {R"({"date": 1700000000.25})", InfoKind::date, 1700000000.25},
      {R"({"date": 0})", InfoKind::date, 0.0},
      {R"({"date": -86400})", InfoKind::date, -86400.0},
      {R"({"date": "inf"})", InfoKind::date, inf},
      {R"({"date": "-inf"})", InfoKind::date, -inf},
  };
  for (const auto& c : cases) {
    InfoEntry entry = readValue(c.json);
    EXPECT_EQ(entry.kind, c.kind) << c.json;
    EXPECT_EQ(entry.real, c.real) << c.json;
  }
  for (const char* json : {R"({"real": "nan"})", R"({"date": "nan"})"}) {
    EXPECT_TRUE(std::isnan(readValue(json).real)) << json;
  }
  EXPECT_EQ(readValue(R"({"other": true})").kind, InfoKind::other);
}

TEST(ScenarioReaderTest, GeneratedBytesRunModulo251) {
  for (std::size_t count : {0u, 1u, 250u, 251u, 252u, 1000u, 4194305u}) {
    InfoEntry entry = readValue(R"({"bytes": )" + std::to_string(count) + "}");
    ASSERT_EQ(entry.kind, InfoKind::bytes);
    ASSERT_EQ(entry.bytes.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(entry.bytes[i], i % 251) << "byte " << i << " of " << count;
    }
  }
}

TEST(ScenarioReaderTest, DecodesBase64) {
  const struct {
    const char* text;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"", {}},
      {"TQ==", {'M'}},
      {"TWE=", {'M', 'a'}},
      {"TWFu", {'M', 'a', 'n'}},
      {"AAEC/w==", {0, 1, 2, 255}},
      {"+/+/", {0xFB, 0xFF, 0xBF}},
      {"////", {0xFF, 0xFF, 0xFF}},
      {"iVBORw0KGgo=", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}},
  };
  for (const auto& c : cases) {
    InfoEntry entry = readValue(std::string(R"({"base64": ")") + c.text + "\"}");
    EXPECT_EQ(entry.kind, InfoKind::bytes) << c.text;
    EXPECT_EQ(entry.bytes, c.bytes) << c.text;
  }
}

TEST(ScenarioReaderTest, ReadsEveryPlayerLookup) {
  using Kind = SelectorResult::Kind;
  const struct {
    const char* json;
    LookupStage stage;
    std::optional<Kind> parent;
    std::string parentText;
    std::optional<Kind> bundle;
    std::string bundleText;
  } cases[] = {
      {"null", LookupStage::noClass, {}, "", {}, ""},
      {R"({"path": "unsupported"})", LookupStage::noPathSelector, {}, "", {}, ""},
      {R"({"path": null})", LookupStage::nilPath, {}, "", {}, ""},
      {R"({"client": "unsupported"})", LookupStage::noClientSelector, {}, "", {}, ""},
      {R"({"client": null})", LookupStage::nilClient, {}, "", {}, ""},
      {R"({"client": {}})", LookupStage::client, {}, "", {}, ""},
      {R"({"client": {"bundleIdentifier": "com.example.B"}})", LookupStage::client, {}, "", Kind::string,
       "com.example.B"},
      {R"({"client": {"parentApplicationBundleIdentifier": "com.example.P", "bundleIdentifier": null}})",
       LookupStage::client, Kind::string, "com.example.P", Kind::nil, ""},
      {R"({"client": {"parentApplicationBundleIdentifier": "", "bundleIdentifier": 5}})", LookupStage::client,
       Kind::string, "", Kind::other, ""},
      {R"({"client": {"parentApplicationBundleIdentifier": {"other": true}, "bundleIdentifier": {"bytes": 3}}})",
       LookupStage::client, Kind::other, "", Kind::other, ""},
      {R"({"client": {"parentApplicationBundleIdentifier": true}})", LookupStage::client, Kind::other, "", {}, ""},
  };
  for (const auto& c : cases) {
    Scenario scenario = readScenario(std::string(R"({"state": {"player": )") + c.json + "}}", "l.jsonl");
    ASSERT_EQ(scenario.error, "") << c.json;
    const PlayerLookup& lookup = *scenario.steps.at(0).state.player;
    EXPECT_EQ(lookup.stage, c.stage) << c.json;
    ASSERT_EQ(lookup.parentApplicationBundleIdentifier.has_value(), c.parent.has_value()) << c.json;
    if (c.parent) {
      EXPECT_EQ(lookup.parentApplicationBundleIdentifier->kind, *c.parent) << c.json;
      EXPECT_EQ(lookup.parentApplicationBundleIdentifier->text, c.parentText) << c.json;
    }
    ASSERT_EQ(lookup.bundleIdentifier.has_value(), c.bundle.has_value()) << c.json;
    if (c.bundle) {
      EXPECT_EQ(lookup.bundleIdentifier->kind, *c.bundle) << c.json;
      EXPECT_EQ(lookup.bundleIdentifier->text, c.bundleText) << c.json;
    }
  }
}

TEST(ScenarioReaderTest, RejectsMalformedLinesNamingTheLine) {
  const struct {
    std::string line;
    const char* problem;  // A part of the message.
  } cases[] = {
      {R"({"sleep": 10)", "not a JSON value"},
      {"sleep 10", "not a JSON value"},
      {R"({"sleep": 10} {"sleep": 10})", "not a JSON value"},
      {"{\"post\": \"\xff\"}", "not a JSON value"},
      {R"({"state": {"info": {"k": 1e999}}})", "not a JSON value"},
      {"[]", "exactly one member"},
      {"3", "exactly one member"},
      {"null", "exactly one member"},
      {"{}", "exactly one member"},
      {R"({"sleep": 1, "post": "x"})", "exactly one member"},
      {R"({"sleep": 1, "sleep": 2})", "\"sleep\" is repeated"},
      {R"({"state": {"info": {"a": 1, "a": 2}}})", "\"a\" is repeated"},
      {R"({"jump": 1})", "unknown step \"jump\""},
      {R"({"Sleep": 1})", "unknown step \"Sleep\""},
      {R"({"sleep": -1})", "\"sleep\" takes whole milliseconds"},
      {R"({"sleep": 1.5})", "\"sleep\" takes whole milliseconds"},
      {R"({"sleep": 10.0})", "\"sleep\" takes whole milliseconds"},
      {R"({"sleep": "10"})", "\"sleep\" takes whole milliseconds"},
      {R"({"sleep": 2147483648})", "\"sleep\" takes whole milliseconds"},
      {R"({"sleep": null})", "\"sleep\" takes whole milliseconds"},
      {R"({"answers": "later"})", "\"answers\" takes"},
      {R"({"answers": "Now"})", "\"answers\" takes"},
      {R"({"answers": -5})", "\"answers\" takes whole milliseconds"},
      {R"({"answers": 2.5})", "\"answers\" takes whole milliseconds"},
      {R"({"answers": null})", "\"answers\" takes"},
      {R"({"commandDelay": true})", "\"commandDelay\" takes whole milliseconds"},
      {R"({"commandDelay": -3})", "\"commandDelay\" takes whole milliseconds"},
      {R"({"post": 3})", "\"post\" takes the name"},
      {R"({"post": ""})", "\"post\" takes the name"},
      {R"({"post": null})", "\"post\" takes the name"},
      {R"({"state": 1})", "\"state\" takes an object"},
      {R"({"state": null})", "\"state\" takes an object"},
      {R"({"state": {"volume": 3}})", "no part \"volume\""},
      {R"({"state": {"playing": 256}})", "\"playing\" takes"},
      {R"({"state": {"playing": -1}})", "\"playing\" takes"},
      {R"({"state": {"playing": 1.0}})", "\"playing\" takes"},
      {R"({"state": {"playing": "yes"}})", "\"playing\" takes"},
      {R"({"state": {"playing": null}})", "\"playing\" takes"},
      {R"({"state": {"player": "x"}})", "\"player\" takes"},
      {R"({"state": {"player": {}}})", "\"player\" takes"},
      {R"({"state": {"player": {"path": null, "client": null}}})", "\"player\" takes"},
      {R"({"state": {"player": {"class": null}}})", "\"player\" takes"},
      {R"({"state": {"player": {"path": "x"}}})", "\"path\" takes"},
      {R"({"state": {"player": {"path": {}}}})", "\"path\" takes"},
      {R"({"state": {"player": {"client": "x"}}})", "\"client\" takes"},
      {R"({"state": {"player": {"client": 1}}})", "\"client\" takes"},
      {R"({"state": {"player": {"client": {"name": "a"}}}})", "no selector \"name\""},
      {R"({"state": {"player": {"client": {"bundleIdentifier": [1]}}}})", "\"bundleIdentifier\": an array"},
      {R"({"state": {"player": {"client": {"bundleIdentifier": {"real": "x"}}}}})", "\"bundleIdentifier\": \"real\""},
      {R"({"state": {"info": 3}})", "\"info\" takes null or an object"},
      {R"({"state": {"info": []}})", "\"info\" takes null or an object"},
      {R"({"state": {"info": {"k": null}}})", "info \"k\": null is not a value"},
      {R"({"state": {"info": {"k": [1]}}})", "info \"k\": an array is not a value"},
      {R"({"state": {"info": {"k": {}}}})", "info \"k\": a typed value is an object of one member"},
      {R"({"state": {"info": {"k": {"real": 1, "date": 2}}}})", "a typed value is an object of one member"},
      {R"({"state": {"info": {"k": {"integer": 1}}}})", "unknown typed value \"integer\""},
      {R"({"state": {"info": {"k": {"real": "NaN"}}}})", "\"real\" takes a number or"},
      {R"({"state": {"info": {"k": {"real": null}}}})", "\"real\" takes a number or"},
      {R"({"state": {"info": {"k": {"date": true}}}})", "\"date\" takes a number or"},
      {R"({"state": {"info": {"k": {"date": "Infinity"}}}})", "\"date\" takes a number or"},
      {R"({"state": {"info": {"k": {"bytes": -1}}}})", "\"bytes\" takes a count"},
      {R"({"state": {"info": {"k": {"bytes": 1.5}}}})", "\"bytes\" takes a count"},
      {R"({"state": {"info": {"k": {"bytes": "4"}}}})", "\"bytes\" takes a count"},
      {R"({"state": {"info": {"k": {"bytes": 67108865}}}})", "\"bytes\" takes a count"},
      {R"({"state": {"info": {"k": {"base64": 5}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "abc"}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "ab=c"}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "a b="}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "TQ=\n"}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "TR=="}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "TWF="}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "T==="}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "TQ==TQ=="}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"base64": "TW-_"}}}})", "\"base64\" takes"},
      {R"({"state": {"info": {"k": {"other": false}}}})", "\"other\" takes true"},
      {R"({"state": {"info": {"k": {"other": 1}}}})", "\"other\" takes true"},
  };
  for (const auto& c : cases) {
    // Two good lines and a blank one first, so that the number counts every line.
    std::string text = "{\"sleep\": 1}\n\n" + c.line + "\n{\"sleep\": 2}\n";
    Scenario scenario = readScenario(text, "bad.jsonl");
    EXPECT_TRUE(scenario.steps.empty()) << c.line;
    EXPECT_EQ(scenario.error.rfind("bad.jsonl:3: ", 0), 0u) << c.line << "\n  gave: " << scenario.error;
    EXPECT_NE(scenario.error.find(c.problem), std::string::npos) << c.line << "\n  gave: " << scenario.error;
    EXPECT_EQ(scenario.error.find('\n'), std::string::npos) << c.line;
  }
}

}  // namespace
}  // namespace kel::sim
