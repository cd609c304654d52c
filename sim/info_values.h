#pragma once
// The values of the scenario language: what an info dictionary holds under a key,
// and what a client's selector returns.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/linux_platform.h"
#include "sim/scenario.h"

namespace kel::sim {

// Each reader returns an empty string when the JSON is valid and fills its result;
// otherwise it returns what is wrong, as a phrase for the scenario's error line.

// A value: a string, a boolean, an integer literal within 64 bits (signed), any
// other number as a real, or one of the typed forms {"real": X}, {"date": X},
// {"bytes": N}, {"base64": "..."}, {"file": "PATH"} and {"other": true}. null is
// not a value.
std::string readInfoEntry(const nlohmann::json& json, InfoEntry& entry);

// null (no dictionary) or an object from keys to values.
std::string readInfoDictionary(const nlohmann::json& json, SharedInfo& info);

// What a selector returns: null gives nil, a string gives that string, and any
// other value gives a value of another kind.
std::string readSelectorValue(const nlohmann::json& json, SelectorResult& result);

// count bytes whose byte i is i mod 251, a pattern that no power-of-two block repeats.
std::vector<std::uint8_t> generatedBytes(std::size_t count);

}  // namespace kel::sim
