#include "sim/info_values.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <optional>
#include <utility>

namespace kel::sim {
namespace {

using Json = nlohmann::json;

// The one member of a typed form such as {"real": 1}, or null when json is not an
// object of exactly one member.
const Json::object_t::value_type* onlyMember(const Json& json) {
  if (!json.is_object() || json.size() != 1) return nullptr;
  return &*json.get_ref<const Json::object_t&>().begin();
}

// A number, or one of the names of the values that JSON cannot write.
std::string readReal(const Json& json, double& real) {
  if (json.is_number()) {
    real = json.get<double>();
    return {};
  }
  if (json.is_string()) {
    const auto& text = json.get_ref<const std::string&>();
    if (text == "nan") real = std::numeric_limits<double>::quiet_NaN();
    else if (text == "inf") real = std::numeric_limits<double>::infinity();
    else if (text == "-inf") real = -std::numeric_limits<double>::infinity();
    else return "takes a number or \"nan\", \"inf\" or \"-inf\", not \"" + text + "\"";
    return {};
  }
  return "takes a number or \"nan\", \"inf\" or \"-inf\"";
}

// The whole content of the file at path, within the size that {"bytes": N} allows.
// Real cover images are megabytes of incompressible bytes, which a scenario line
// cannot carry in bulk.
bool readFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return false;
  std::streamoff size = file.tellg();
  if (size < 0 || size > maxGeneratedBytes) return false;
  bytes.resize(static_cast<std::size_t>(size));
  file.seekg(0);
  return bool(file.read(reinterpret_cast<char*>(bytes.data()), size));
}

std::string readTypedForm(const Json& json, InfoEntry& entry) {
  const auto* member = onlyMember(json);
  if (member == nullptr) {
    return "a typed value is an object of one member: \"real\", \"date\", \"bytes\", \"base64\", \"file\" or "
           "\"other\"";
  }
  const auto& [form, value] = *member;
  if (form == "real" || form == "date") {
    entry.kind = form == "real" ? InfoKind::real : InfoKind::date;
    std::string problem = readReal(value, entry.real);
    return problem.empty() ? problem : "\"" + form + "\" " + problem;
  }
  if (form == "bytes") {
    // Non-negative literals arrive unsigned; of the signed ones only -0 is a count.
    bool isCount = value.is_number_unsigned()
                       ? value.get<std::uint64_t>() <= std::uint64_t(maxGeneratedBytes)
                       : value.is_number_integer() && value.get<std::int64_t>() == 0;
    if (!isCount) {
      return "\"bytes\" takes a count from 0 to " + std::to_string(maxGeneratedBytes);
    }
    entry.kind = InfoKind::bytes;
    entry.bytes = generatedBytes(value.get<std::size_t>());
    return {};
  }
  if (form == "base64") {
    std::optional<std::vector<std::uint8_t>> bytes;
    if (value.is_string()) bytes = decodeBase64(value.get_ref<const std::string&>(), Base64Form::strict);
    if (!bytes) return "\"base64\" takes a string of Base64 text";
    entry.kind = InfoKind::bytes;
    entry.bytes = std::move(*bytes);
    return {};
  }
  if (form == "file") {
    if (!value.is_string() || !readFileBytes(value.get_ref<const std::string&>(), entry.bytes)) {
      return "\"file\" takes the path of a readable file of at most " + std::to_string(maxGeneratedBytes) +
             " bytes";
    }
    entry.kind = InfoKind::bytes;
    return {};
  }
  if (form == "other") {
    if (value != true) return "\"other\" takes true";
    entry.kind = InfoKind::other;
    return {};
  }
  return "unknown typed value \"" + form + "\"";
}

}  // namespace

std::string readInfoEntry(const Json& json, InfoEntry& entry) {
  entry = InfoEntry{};
  switch (json.type()) {
    case Json::value_t::string:
      entry.kind = InfoKind::string;
      entry.text = json.get<std::string>();
      return {};
    case Json::value_t::boolean:
      entry.kind = InfoKind::boolean;
      entry.boolean = json.get<bool>();
      return {};
    case Json::value_t::number_integer:
      entry.kind = InfoKind::integer;
      entry.integer = json.get<std::int64_t>();
      return {};
    case Json::value_t::number_unsigned:
      // Non-negative literals arrive unsigned; those beyond the signed range are reals.
      if (json.get<std::uint64_t>() <= std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
        entry.kind = InfoKind::integer;
        entry.integer = json.get<std::int64_t>();
      } else {
        entry.kind = InfoKind::real;
        entry.real = json.get<double>();
      }
      return {};
    case Json::value_t::number_float:
      entry.kind = InfoKind::real;
      entry.real = json.get<double>();
      return {};
    case Json::value_t::object:
      return readTypedForm(json, entry);
    case Json::value_t::null:
      return "null is not a value";
    default:
      return "an array is not a value";
  }
}

std::string readInfoDictionary(const Json& json, SharedInfo& info) {
  if (json.is_null()) {
    info = nullptr;
    return {};
  }
  if (!json.is_object()) return "\"info\" takes null or an object";
  auto dictionary = std::make_shared<InfoDictionaryImpl>();
  for (const auto& [key, value] : json.items()) {
    InfoEntry entry;
    if (std::string problem = readInfoEntry(value, entry); !problem.empty()) {
      return "info \"" + key + "\": " + problem;
    }
    dictionary->entries.emplace(key, std::move(entry));
  }
  info = std::move(dictionary);
  return {};
}

std::string readSelectorValue(const Json& json, SelectorResult& result) {
  result = SelectorResult{};
  if (json.is_null()) return {};
  InfoEntry entry;
  if (std::string problem = readInfoEntry(json, entry); !problem.empty()) return problem;
  if (entry.kind == InfoKind::string) {
    result.kind = SelectorResult::Kind::string;
    result.text = std::move(entry.text);
  } else {
    result.kind = SelectorResult::Kind::other;
  }
  return {};
}

std::vector<std::uint8_t> generatedBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

}  // namespace kel::sim
