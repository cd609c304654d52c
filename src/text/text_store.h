#pragma once
// Text that a record borrows but that nobody else holds as UTF-8: strings the
// platform keeps in another form (a Core Foundation string is often UTF-16
// inside), and texts the record's assembly builds. Kept as long as the record.

#include <cstdint>
#include <forward_list>
#include <span>
#include <string>
#include <string_view>

namespace kel {

struct TextStore {
  // A forward list, so that a kept text never moves and an empty store allocates
  // nothing.
  std::forward_list<std::string> texts;

  // Keeps text; the view stays valid as long as the store.
  std::string_view keep(std::string text);

  // Keeps the UTF-8 text of UTF-16 code units (see utf8FromUtf16).
  std::string_view keepUtf16(std::span<const std::uint16_t> units);
};

}  // namespace kel
