// The JSON text of a record whose members hold any values: names and strings of any
// bytes, any int64, any double bit pattern, booleans, null and Base64 bytes. A record
// has a text exactly when its doubles are finite; then the independent parser reads
// back every member, in order, with the value put in.

#include <fuzzer/FuzzedDataProvider.h>

#include <bit>
#include <cmath>
#include <deque>

#include "platform/linux/linux_platform.h"
#include "read_back.h"
#include "text/utf8.h"

namespace kel {
namespace {

// Whether the parser's value is the value put in: valid UTF-8 as it is (other text is
// replaced, as the unit tests check), numbers equal as numbers, Base64 text as its bytes.
bool readsBackAs(const nlohmann::json& parsed, const Value& put) {
  if (std::holds_alternative<std::nullptr_t>(put)) return parsed.is_null();
  if (const bool* b = std::get_if<bool>(&put)) return parsed.is_boolean() && parsed.get<bool>() == *b;
  if (const std::int64_t* i = std::get_if<std::int64_t>(&put)) {
    if (parsed.is_number_unsigned()) return *i >= 0 && parsed.get<std::uint64_t>() == std::uint64_t(*i);
    return parsed.is_number_integer() && parsed.get<std::int64_t>() == *i;
  }
  if (const double* d = std::get_if<double>(&put)) return parsed.is_number() && parsed.get<double>() == *d;
  if (!parsed.is_string()) return false;
  const std::string& text = parsed.get_ref<const std::string&>();
  if (const std::string_view* s = std::get_if<std::string_view>(&put)) return !isValidUtf8(*s) || text == *s;
  const auto& bytes = std::get<Base64Text>(put).bytes;
  auto decoded = decodeBase64(text, Base64Form::strict);
  return decoded && std::equal(decoded->begin(), decoded->end(), bytes.begin(), bytes.end());
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  FuzzedDataProvider input(data, size);
  // The record borrows its names and texts; a deque never moves what it holds.
  std::deque<std::string> texts;
  std::deque<std::vector<std::uint8_t>> blobs;
  Record record;
  bool finite = true;
  while (input.remaining_bytes() > 0 && record.count < Record::maxMembers) {
    std::string_view name = texts.emplace_back(input.ConsumeRandomLengthString());
    Value value;
    switch (input.ConsumeIntegralInRange(0, 5)) {
      case 0: value = nullptr; break;
      case 1: value = input.ConsumeBool(); break;
      case 2: value = input.ConsumeIntegral<std::int64_t>(); break;
      case 3: value = std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>()); break;
      case 4: value = std::string_view(texts.emplace_back(input.ConsumeRandomLengthString())); break;
      default: value = Base64Text{blobs.emplace_back(input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegral<std::uint16_t>()))};
    }
    record.set(name, value);
  }
  for (const Member& member : record.view())
    if (const auto* real = std::get_if<double>(&member.value)) finite = finite && std::isfinite(*real);
  fuzz::check(jsonTextRoom(record).has_value() == finite, "a text exactly when every double is finite");
  if (!finite) return 0;
  fuzz::check(*jsonTextRoom(record) >= *jsonTextSize(record), "the room a line is built in holds its text");
  auto parsed = fuzz::readBack(record);
  fuzz::check(parsed.size() == record.count, "one parsed member for each member");
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    const Member& member = record.members[i];
    fuzz::check(!isValidUtf8(member.name) || parsed[i].first == member.name, "each name reads back, in order");
    fuzz::check(readsBackAs(parsed[i].second, member.value), "each value reads back");
  }
  return 0;
}
