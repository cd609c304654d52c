#pragma once
// A record: one JSON object whose members are null, booleans, numbers or strings.
// Records borrow their names and texts; they live only for the task that writes them.
// Texts that nobody else holds as UTF-8 are kept in the record's own store.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "text/text_store.h"

namespace kel {

// Bytes written as their Base64 text (RFC 4648, section 4), encoded straight into
// the line when it is written.
struct Base64Text {
  std::span<const std::uint8_t> bytes;
};

using Value = std::variant<std::nullptr_t, bool, std::int64_t, double, std::string_view, Base64Text>;

struct Member {
  std::string_view name;
  Value value;
};

// At most maxMembers members, in the order they were first set. The members
// allocate nothing; texts only when something is kept in them.
struct Record {
  static constexpr std::size_t maxMembers = 16;
  std::array<Member, maxMembers> members{};
  std::size_t count = 0;
  TextStore texts;

  // Sets the member called name, replacing its value if it is already there.
  void set(std::string_view name, Value value);
  // The member's value, or null when the record has no member called name.
  const Value* find(std::string_view name) const;
  std::span<const Member> view() const { return {members.data(), count}; }
};

}  // namespace kel
