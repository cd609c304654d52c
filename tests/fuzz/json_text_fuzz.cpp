// The JSON text of a record whose members hold any values: names and strings of any
// bytes, any int64, any double bit pattern, booleans, null and Base64 bytes. A record
// has a text exactly when its doubles are finite; then the text is as long as
// computed, and the independent parser reads back every member, in order, with the
// value put in.

#include <bit>
#include <cmath>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "output/json_text.h"
#include "output/record.h"

// Each member: its name (a text), a kind byte, then the value for that kind.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  using fuzz::check;
  fuzz::FuzzInput input{data, size};
  // The record borrows its names and texts; a deque never moves what it holds.
  std::deque<std::string> texts;
  std::deque<std::vector<std::uint8_t>> blobs;
  Record record;
  while (!input.empty() && record.count < Record::maxMembers) {
    std::string_view name = texts.emplace_back(input.text());
    Value value;
    switch (input.byte() % 6) {
      case 0: value = nullptr; break;
      case 1: value = (input.byte() & 1) != 0; break;
      case 2: value = static_cast<std::int64_t>(input.bits(8)); break;
      case 3: value = std::bit_cast<double>(input.bits(8)); break;
      case 4: value = std::string_view(texts.emplace_back(input.text())); break;
      default: value = Base64Text{blobs.emplace_back(input.bytes(input.length()))}; break;
    }
    record.set(name, value);
  }

  bool finite = true;
  for (const Member& member : record.view()) {
    if (const auto* real = std::get_if<double>(&member.value)) finite = finite && std::isfinite(*real);
  }
  check(jsonTextSize(record).has_value() == finite, "a text exactly when every double is finite");
  check(jsonTextRoom(record).has_value() == finite, "room exactly when there is a text");
  if (!finite) return 0;
  check(*jsonTextRoom(record) >= *jsonTextSize(record), "the room a line is built in holds its text");

  fuzz::ParsedMembers parsed = fuzz::readBack(record);
  check(parsed.size() == record.count, "one parsed member for each member");
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const Member& member = record.members[i];
    check(parsed[i].first == fuzz::replaceIllFormed(member.name), "each name reads back, in order");
    check(fuzz::readsBackAs(parsed[i].second, member.value), "each value reads back");
  }
  return 0;
}
