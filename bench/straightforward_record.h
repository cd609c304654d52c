#pragma once
// The straightforward way to a state record's line, which the core is measured
// against: Base64 by a loop over 3-byte groups appending to a std::string, the
// record as an nlohmann::json object, and its dump().

#include <cstdint>
#include <span>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/info_value.h"

namespace kel::bench {

std::string straightforwardBase64(std::span<const std::uint8_t> bytes);

// The record with artwork that writeStateRecord makes of info, as a JSON object.
nlohmann::json straightforwardRecord(std::uint8_t playing, InfoDictionary info);

}  // namespace kel::bench
