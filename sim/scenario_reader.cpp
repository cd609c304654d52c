// Reading a scenario: one step per line, each checked completely before the
// simulator starts, so that a faulty scenario stops the host before the bridge runs.

#include <set>
#include <utility>

#include <nlohmann/json.hpp>

#include "sim/info_values.h"
#include "sim/scenario.h"

namespace kel::sim {
namespace {

using Json = nlohmann::json;

// The longest wait a step may ask for, in milliseconds (almost 25 days).
constexpr std::int64_t maxMilliseconds = 2147483647;

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

// The value of an integer literal within 64 bits (signed), or nothing.
std::optional<std::int64_t> integerOf(const Json& json) {
  if (json.is_number_unsigned()) {
    auto value = json.get<std::uint64_t>();
    if (value > std::uint64_t(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return std::int64_t(value);
  }
  if (json.is_number_integer()) return json.get<std::int64_t>();
  return std::nullopt;
}

std::string readMilliseconds(const Json& json, std::string_view step, std::chrono::milliseconds& duration) {
  auto value = integerOf(json);
  if (!value || *value < 0 || *value > maxMilliseconds) {
    // Appended, not prepended: g++ 12 at -O3 takes `"..." + std::string` for an
    // overlapping copy (-Wrestrict, its bug 105329).
    std::string message(1, '"');
    message.append(step).append("\" takes whole milliseconds from 0 to ").append(std::to_string(maxMilliseconds));
    return message;
  }
  duration = std::chrono::milliseconds(*value);
  return {};
}

std::string readPlaying(const Json& json, std::uint8_t& playing) {
  if (json.is_boolean()) {
    playing = json.get<bool>() ? 1 : 0;
    return {};
  }
  auto value = integerOf(json);
  if (!value || *value < 0 || *value > 255) return "\"playing\" takes true, false or a byte value from 0 to 255";
  playing = static_cast<std::uint8_t>(*value);
  return {};
}

std::string readClient(const Json& json, PlayerLookup& lookup) {
  if (json == "unsupported") {
    lookup.stage = LookupStage::noClientSelector;
    return {};
  }
  if (json.is_null()) {
    lookup.stage = LookupStage::nilClient;
    return {};
  }
  if (!json.is_object()) return "\"client\" takes \"unsupported\", null or an object";
  lookup.stage = LookupStage::client;
  for (const auto& [selector, value] : json.items()) {
    std::optional<SelectorResult>* slot = nullptr;
    if (selector == "parentApplicationBundleIdentifier") slot = &lookup.parentApplicationBundleIdentifier;
    else if (selector == "bundleIdentifier") slot = &lookup.bundleIdentifier;
    else return "the client has no selector \"" + selector + "\"";
    SelectorResult result;
    if (std::string problem = readSelectorValue(value, result); !problem.empty()) {
      return "\"" + selector + "\": " + problem;
    }
    *slot = std::move(result);
  }
  return {};
}

std::string readPlayer(const Json& json, PlayerLookup& lookup) {
  lookup = PlayerLookup{};
  if (json.is_null()) return {};
  if (!json.is_object() || json.size() != 1) {
    return "\"player\" takes null, {\"path\": ...} or {\"client\": ...}";
  }
  const std::string& stage = json.begin().key();
  const Json& value = json.begin().value();
  if (stage == "path") {
    if (value == "unsupported") lookup.stage = LookupStage::noPathSelector;
    else if (value.is_null()) lookup.stage = LookupStage::nilPath;
    else return "\"path\" takes \"unsupported\" or null";
    return {};
  }
  if (stage == "client") return readClient(value, lookup);
  return "\"player\" takes null, {\"path\": ...} or {\"client\": ...}";
}

std::string readState(const Json& json, StateChange& change) {
  if (!json.is_object()) return "\"state\" takes an object";
  for (const auto& [part, value] : json.items()) {
    if (part == "playing") {
      std::uint8_t playing = 0;
      if (std::string problem = readPlaying(value, playing); !problem.empty()) return problem;
      change.playing = playing;
    } else if (part == "player") {
      PlayerLookup lookup;
      if (std::string problem = readPlayer(value, lookup); !problem.empty()) return problem;
      change.player = std::move(lookup);
    } else if (part == "info") {
      if (std::string problem = readInfoDictionary(value, change.info); !problem.empty()) return problem;
      change.setsInfo = true;
    } else {
      return "\"state\" has no part \"" + part + "\" (only \"playing\", \"player\" and \"info\")";
    }
  }
  return {};
}

std::string readAnswers(const Json& json, Step& step) {
  if (json == "now") {
    step.answers = AnswerMode::now;
  } else if (json == "never") {
    step.answers = AnswerMode::never;
  } else if (json.is_number()) {
    step.answers = AnswerMode::delayed;
    return readMilliseconds(json, "answers", step.duration);
  } else {
    return "\"answers\" takes \"now\", \"never\" or whole milliseconds";
  }
  return {};
}

std::string readStep(const Json& json, Step& step) {
  if (!json.is_object() || json.size() != 1) {
    return "a step is an object of exactly one member";
  }
  const std::string& kind = json.begin().key();
  const Json& value = json.begin().value();
  if (kind == "state") {
    step.kind = StepKind::state;
    return readState(value, step.state);
  }
  if (kind == "post" || kind == "registerPost") {
    step.kind = kind == "post" ? StepKind::post : StepKind::registerPost;
    if (!value.is_string() || value.get_ref<const std::string&>().empty()) {
      return "\"" + kind + "\" takes the name of a notification";
    }
    step.name = value.get<std::string>();
    return {};
  }
  if (kind == "sleep") {
    step.kind = StepKind::sleep;
    return readMilliseconds(value, "sleep", step.duration);
  }
  if (kind == "answers") {
    step.kind = StepKind::answers;
    return readAnswers(value, step);
  }
  if (kind == "commandDelay") {
    step.kind = StepKind::commandDelay;
    return readMilliseconds(value, "commandDelay", step.duration);
  }
  if (kind == "registerDelay") {
    step.kind = StepKind::registerDelay;
    return readMilliseconds(value, "registerDelay", step.duration);
  }
  return "unknown step \"" + kind + "\"";
}

// Parses one line as JSON. The parser keeps the last of repeated keys; a scenario
// with repeated keys is a mistake, so they are caught on the way.
std::string parseLine(std::string_view line, Json& parsed) {
  std::vector<std::set<std::string>> keysByDepth;
  std::string repeated;
  auto watch = [&](int, Json::parse_event_t event, Json& value) {
    if (event == Json::parse_event_t::object_start) {
      keysByDepth.emplace_back();
    } else if (event == Json::parse_event_t::object_end) {
      keysByDepth.pop_back();
    } else if (event == Json::parse_event_t::key && !keysByDepth.empty()) {
      if (!keysByDepth.back().insert(value.get<std::string>()).second && repeated.empty()) {
        repeated = value.get<std::string>();
      }
    }
    return true;
  };
  parsed = Json::parse(line.begin(), line.end(), watch, false);
  if (parsed.is_discarded()) return "not a JSON value";
  if (!repeated.empty()) return "the member \"" + repeated + "\" is repeated";
  return {};
}

}  // namespace

Scenario readScenario(std::string_view text, std::string_view fileName) {
  Scenario scenario;
  int lineNumber = 0;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (isBlank(line)) continue;
    Json parsed;
    Step step;
    step.line = lineNumber;
    std::string problem = parseLine(line, parsed);
    if (problem.empty()) problem = readStep(parsed, step);
    if (!problem.empty()) {
      scenario.steps.clear();
      scenario.error = std::string(fileName) + ":" + std::to_string(lineNumber) + ": " + problem;
      return scenario;
    }
    scenario.steps.push_back(std::move(step));
  }
  return scenario;
}

}  // namespace kel::sim
