#pragma once
// What the fuzz targets share: reading an input front to back, failing a check, and
// reading a record's JSON text back with an independent parser (nlohmann::json).

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "output/json_text.h"
#include "output/record.h"

namespace kel::fuzz {

// Ends the run as a crash, which libFuzzer reports with the input that caused it.
inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

// The fuzzer's input, read from the front. Past its end every read gives zeros or
// nothing, so that any input decodes to something.
struct FuzzInput {
  const std::uint8_t* data;
  std::size_t size;

  bool empty() const { return size == 0; }

  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }

  // count bytes (at most 8), the first one lowest.
  std::uint64_t bits(int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value |= std::uint64_t{byte()} << (8 * i);
    return value;
  }

  // A length: one byte below 255, or 255 and then two bytes.
  std::size_t length() {
    std::size_t first = byte();
    return first < 255 ? first : static_cast<std::size_t>(bits(2));
  }

  std::vector<std::uint8_t> bytes(std::size_t count) {
    count = std::min(count, size);
    std::vector<std::uint8_t> taken(data, data + count);
    data += count;
    size -= count;
    return taken;
  }

  // A text of any bytes, its length first.
  std::string text() {
    std::vector<std::uint8_t> taken = bytes(length());
    return {taken.begin(), taken.end()};
  }
};

// Whether bytes are one well-formed UTF-8 sequence, decoded from the bit patterns
// of RFC 3629 rather than from a table of byte ranges.
inline bool isWellFormed(std::string_view bytes) {
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t length = bytes.size();
  unsigned lead = at(0);
  std::size_t expected = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (expected != length) return false;
  char32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((at(i) & 0xC0) != 0x80) return false;
    codePoint = codePoint << 6 | (at(i) & 0x3Fu);
  }
  constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
  return codePoint >= smallest[length] && codePoint <= 0x10FFFF && !surrogate;
}

// text with each ill-formed UTF-8 sequence replaced by U+FFFD: at each position the
// well-formed sequence there, or else the maximal subpart of one (the longest start
// of some well-formed sequence, at least one byte), which is replaced.
inline std::string replaceIllFormed(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t rest = text.size() - at;
    std::size_t taken = 0;
    for (std::size_t length = 1; length <= std::min<std::size_t>(4, rest) && taken == 0; ++length) {
      if (isWellFormed(text.substr(at, length))) taken = length;
    }
    if (taken != 0) {
      out.append(text.substr(at, taken));
      at += taken;
      continue;
    }
    // Later bytes of a sequence only need to be continuation bytes, so 0x80 stands
    // for any of them when completing a start.
    std::size_t subpart = 1;
    for (std::size_t length = 2; length <= std::min<std::size_t>(3, rest); ++length) {
      for (std::size_t full = length + 1; full <= 4; ++full) {
        std::string completed(text.substr(at, length));
        completed.append(full - length, '\x80');
        if (isWellFormed(completed)) subpart = length;
      }
    }
    out.append("\xEF\xBF\xBD");
    at += subpart;
  }
  return out;
}

// Whether the escapes in a JSON text are those the writer documents: "\/" for every
// "/", the two-character escapes, and "\u00XX" only for the other controls.
// Outside strings a record's text has neither "/" nor "\".
inline bool escapesAreDocumented(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '/') return false;
    if (text[i] != '\\') continue;
    if (++i == text.size()) return false;
    if (std::string_view("\"\\/bfnrt").find(text[i]) != std::string_view::npos) continue;
    if (text[i] != 'u' || text.size() - i < 5) return false;
    unsigned code = 0;
    auto result = std::from_chars(text.data() + i + 1, text.data() + i + 5, code, 16);
    if (result.ptr != text.data() + i + 5 || code >= 0x20) return false;
    if (code == '\b' || code == '\f' || code == '\n' || code == '\r' || code == '\t') return false;
    i += 4;
  }
  return true;
}

// The bytes of Base64 text (RFC 4648, section 4), or nothing when the text is not
// in its canonical form: whole groups of four, "=" only at the end, padded bits zero.
inline std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text) {
  constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  // Each byte's sextet, or 64 when the byte is not in the alphabet.
  static const std::array<std::uint8_t, 256> sextets = [&] {
    std::array<std::uint8_t, 256> table;
    table.fill(64);
    for (std::size_t i = 0; i < alphabet.size(); ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
    return table;
  }();
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t group = 0; group < text.size(); group += 4) {
    bool last = group + 4 == text.size();
    std::uint32_t bits = 0;
    int padding = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      char c = text[group + i];
      bits <<= 6;
      if (c == '=' && last && i >= 2) {
        ++padding;
        continue;
      }
      std::uint8_t sextet = sextets[static_cast<unsigned char>(c)];
      if (padding != 0 || sextet == 64) return std::nullopt;
      bits |= sextet;
    }
    if ((padding == 1 && (bits & 0xFF) != 0) || (padding == 2 && (bits & 0xFFFF) != 0)) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
    if (padding < 2) bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
    if (padding < 1) bytes.push_back(static_cast<std::uint8_t>(bits));
  }
  return bytes;
}

// The members of a JSON object in the order of the text, duplicates included.
using ParsedMembers = std::vector<std::pair<std::string, nlohmann::json>>;

// Checks that record has a JSON text of the size computed for it, on one line, with
// the documented escapes, and returns its members as the independent parser reads
// them; checks that it parses as one object.
inline ParsedMembers readBack(const Record& record) {
  std::optional<std::size_t> size = jsonTextSize(record);
  check(size.has_value(), "the record has a JSON text");
  // Exactly the computed size, so that a write past it is caught by the sanitizer.
  std::vector<char> buffer(*size);
  check(formatJsonText(record, buffer.data()) == buffer.data() + buffer.size(),
        "the written size equals the computed size");
  std::string_view text(buffer.data(), buffer.size());
  check(text.find('\n') == std::string_view::npos, "no raw line feed in the text");
  check(escapesAreDocumented(text), "every \"/\" escaped, every escape a documented one");

  using Json = nlohmann::json;
  ParsedMembers members;
  Json::parser_callback_t collect = [&](int depth, Json::parse_event_t event, Json& parsed) {
    if (depth == 1 && event == Json::parse_event_t::key) {
      members.emplace_back(parsed.get<std::string>(), nullptr);
    } else if (depth == 1 && event != Json::parse_event_t::object_start &&
               event != Json::parse_event_t::array_start && !members.empty()) {
      members.back().second = parsed;
    }
    return true;
  };
  Json whole = Json::parse(text.begin(), text.end(), collect, false);
  check(!whole.is_discarded() && whole.is_object(), "the text is one JSON object");
  return members;
}

// Whether the parser's value is the value put in: strings after the replacement of
// ill-formed UTF-8, integers as integers, doubles equal as doubles (their text may
// read as an integer: 1.0 is written "1"), Base64 text as its bytes.
inline bool readsBackAs(const nlohmann::json& parsed, const Value& put) {
  return std::visit(
      [&](const auto& item) -> bool {
        using Item = std::decay_t<decltype(item)>;
        if constexpr (std::is_same_v<Item, std::nullptr_t>) {
          return parsed.is_null();
        } else if constexpr (std::is_same_v<Item, bool>) {
          return parsed.is_boolean() && parsed.get<bool>() == item;
        } else if constexpr (std::is_same_v<Item, std::int64_t>) {
          if (parsed.is_number_unsigned()) return item >= 0 && parsed.get<std::uint64_t>() == static_cast<std::uint64_t>(item);
          return parsed.is_number_integer() && parsed.get<std::int64_t>() == item;
        } else if constexpr (std::is_same_v<Item, double>) {
          return parsed.is_number() && parsed.get<double>() == item;
        } else if constexpr (std::is_same_v<Item, std::string_view>) {
          return parsed.is_string() && parsed.get_ref<const std::string&>() == replaceIllFormed(item);
        } else {
          if (!parsed.is_string()) return false;
          std::optional<std::vector<std::uint8_t>> bytes = decodeBase64(parsed.get_ref<const std::string&>());
          return bytes && std::equal(bytes->begin(), bytes->end(), item.bytes.begin(), item.bytes.end());
        }
      },
      put);
}

}  // namespace kel::fuzz
