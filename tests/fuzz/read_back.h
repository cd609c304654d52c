#pragma once
// What the fuzz targets share: failing a check, and reading a record's JSON text back
// with an independent parser (nlohmann::json).

#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "output/json_text.h"

namespace kel::fuzz {

// Ends the run as a crash, which libFuzzer reports with the input that caused it.
inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

// The members of record's text in their order, duplicates included, once the text is
// checked to be one line of exactly its computed size, every "/" escaped, and one
// JSON object to a parser that also rejects invalid UTF-8.
inline std::vector<std::pair<std::string, nlohmann::json>> readBack(const Record& record) {
  std::optional<std::size_t> size = jsonTextSize(record);
  check(size.has_value(), "the record has a JSON text");
  std::vector<char> buffer(*size);  // Exactly the size, so that a write past it is caught.
  check(formatJsonText(record, buffer.data()) == buffer.data() + buffer.size(), "the text fills its computed size");
  std::string_view text(buffer.data(), buffer.size());
  check(text.find('\n') == text.npos, "no raw line feed in the text");
  for (std::size_t at = text.find('/'); at != text.npos; at = text.find('/', at + 1)) {
    std::size_t backslashes = 0;
    while (backslashes < at && text[at - 1 - backslashes] == '\\') ++backslashes;
    check(backslashes % 2 == 1, "every \"/\" escaped");
  }
  using Json = nlohmann::json;
  std::vector<std::pair<std::string, Json>> members;
  Json::parser_callback_t collect = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth == 1 && event == Json::parse_event_t::key) members.emplace_back(parsed.get<std::string>(), nullptr);
    else if (depth == 1 && event == Json::parse_event_t::value && !members.empty()) members.back().second = parsed;
    return true;
  };
  Json whole = Json::parse(text.begin(), text.end(), collect, false);
  check(!whole.is_discarded() && whole.is_object(), "the text is one JSON object");
  return members;
}

}  // namespace kel::fuzz
