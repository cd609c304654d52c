#include "output/json_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <type_traits>
#include <variant>

#include "output/base64.h"
#include "text/utf8.h"

namespace kel {
namespace {

// The text of each ASCII byte inside a JSON string: itself, a two-character
// escape, or empty for the control characters written as "\u00XX".
constexpr std::array<std::string_view, 128> asciiEscapes = [] {
  std::array<std::string_view, 128> escapes{};
  escapes['"'] = "\\\"";
  escapes['\\'] = "\\\\";
  escapes['/'] = "\\/";
  escapes['\b'] = "\\b";
  escapes['\f'] = "\\f";
  escapes['\n'] = "\\n";
  escapes['\r'] = "\\r";
  escapes['\t'] = "\\t";
  return escapes;
}();

// Bytes of an ASCII character's text inside a JSON string.
constexpr std::array<std::uint8_t, 128> asciiSizes = [] {
  std::array<std::uint8_t, 128> sizes{};
  for (std::size_t c = 0; c < 128; ++c) {
    if (!asciiEscapes[c].empty()) {
      sizes[c] = static_cast<std::uint8_t>(asciiEscapes[c].size());
    } else {
      sizes[c] = c < 0x20 ? 6 : 1;
    }
  }
  return sizes;
}();

constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8.

std::size_t stringSize(std::string_view text) {
  auto p = reinterpret_cast<const unsigned char*>(text.data());
  auto end = p + text.size();
  std::size_t size = 2;  // The quotation marks.
  while (p != end) {
    if (*p < 0x80) {
      size += asciiSizes[*p++];
      continue;
    }
    Utf8Sequence sequence = nextUtf8Sequence({reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p)});
    size += sequence.valid ? sequence.length : replacement.size();
    p += sequence.length;
  }
  return size;
}

char* writeString(std::string_view text, char* out) {
  constexpr char hexDigits[] = "0123456789abcdef";
  auto p = reinterpret_cast<const unsigned char*>(text.data());
  auto end = p + text.size();
  *out++ = '"';
  while (p != end) {
    if (*p < 0x80) {
      unsigned c = *p++;
      if (asciiSizes[c] == 1) {
        *out++ = static_cast<char>(c);
      } else if (!asciiEscapes[c].empty()) {
        out = std::copy(asciiEscapes[c].begin(), asciiEscapes[c].end(), out);
      } else {
        out = std::copy_n("\\u00", 4, out);
        *out++ = hexDigits[c >> 4];
        *out++ = hexDigits[c & 15];
      }
      continue;
    }
    Utf8Sequence sequence = nextUtf8Sequence({reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p)});
    if (sequence.valid) {
      out = std::copy_n(reinterpret_cast<const char*>(p), sequence.length, out);
    } else {
      out = std::copy(replacement.begin(), replacement.end(), out);
    }
    p += sequence.length;
  }
  *out++ = '"';
  return out;
}

// Room for any int64 or the shortest text of any finite double.
using NumberBuffer = std::array<char, 32>;

std::string_view scalarText(std::nullptr_t, NumberBuffer&) {
  return "null";
}
std::string_view scalarText(bool value, NumberBuffer&) {
  return value ? "true" : "false";
}

// Integers have no fraction. A double gets the shortest digits that read back as
// the same double; std::to_chars writes them ("-0", "5e-324", "1.5e+300") as a
// valid JSON number whenever the double is finite.
template <typename Number>
std::string_view scalarText(Number value, NumberBuffer& buffer) {
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return {buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())};
}

// bound: Base64 text counted as if every char were an escaped "/", which needs
// no pass over its bytes.
std::size_t valueSize(const Value& value, bool bound) {
  return std::visit(
      [bound](const auto& item) -> std::size_t {
        using Item = std::decay_t<decltype(item)>;
        if constexpr (std::is_same_v<Item, std::string_view>) {
          return stringSize(item);
        } else if constexpr (std::is_same_v<Item, Base64Text>) {
          return 2 + (bound ? 2 * base64Size(item.bytes.size()) : base64EscapedSize(item.bytes));
        } else {
          NumberBuffer buffer;
          return scalarText(item, buffer).size();
        }
      },
      value);
}

char* writeValue(const Value& value, char* out) {
  return std::visit(
      [out](const auto& item) mutable {
        using Item = std::decay_t<decltype(item)>;
        if constexpr (std::is_same_v<Item, std::string_view>) {
          return writeString(item, out);
        } else if constexpr (std::is_same_v<Item, Base64Text>) {
          *out++ = '"';
          out = encodeBase64Escaped(item.bytes, out);
          *out++ = '"';
          return out;
        } else {
          NumberBuffer buffer;
          std::string_view text = scalarText(item, buffer);
          return std::copy(text.begin(), text.end(), out);
        }
      },
      value);
}

}  // namespace

namespace {

std::optional<std::size_t> textSize(const Record& record, bool bound) {
  std::span<const Member> members = record.view();
  std::size_t size = 2;  // The braces.
  for (const Member& member : members) {
    if (auto real = std::get_if<double>(&member.value); real && !std::isfinite(*real)) {
      return std::nullopt;
    }
    size += stringSize(member.name) + 1 + valueSize(member.value, bound);
  }
  if (!members.empty()) size += members.size() - 1;  // The commas.
  return size;
}

}  // namespace

std::optional<std::size_t> jsonTextSize(const Record& record) {
  return textSize(record, false);
}

std::optional<std::size_t> jsonTextRoom(const Record& record) {
  return textSize(record, true);
}

char* formatJsonText(const Record& record, char* out) {
  *out++ = '{';
  bool first = true;
  for (const Member& member : record.view()) {
    if (!first) *out++ = ',';
    first = false;
    out = writeString(member.name, out);
    *out++ = ':';
    out = writeValue(member.value, out);
  }
  *out++ = '}';
  return out;
}

std::optional<std::string> jsonText(const Record& record) {
  std::optional<std::size_t> size = jsonTextSize(record);
  if (!size) return std::nullopt;
  std::string text(*size, '\0');
  formatJsonText(record, text.data());
  return text;
}

}  // namespace kel
