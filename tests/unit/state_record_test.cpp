#include "publisher/state_record.h"
#include "service/service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/linux_platform.h"

namespace kel {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// An info dictionary entry of kind whose value is in member.
template <typename Member, typename Held>
InfoEntry entry(InfoKind kind, Member InfoEntry::*member, Held value) {
  InfoEntry made;
  made.kind = kind;
  made.*member = std::move(value);
  return made;
}

InfoEntry text(std::string value) { return entry(InfoKind::string, &InfoEntry::text, std::move(value)); }
InfoEntry integer(std::int64_t value) { return entry(InfoKind::integer, &InfoEntry::integer, value); }
InfoEntry boolean(bool value) { return entry(InfoKind::boolean, &InfoEntry::boolean, value); }
InfoEntry real(double value, InfoKind kind = InfoKind::real) { return entry(kind, &InfoEntry::real, value); }

InfoEntry bytes(std::size_t size) {
  std::vector<std::uint8_t> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i % 251);
  return entry(InfoKind::bytes, &InfoEntry::bytes, std::move(data));
}

// A dictionary holding value under "key"; it lives on, as what is read from it
// borrows from it.
InfoDictionaryImpl& holding(InfoEntry value) {
  static std::deque<InfoDictionaryImpl> dictionaries;
  dictionaries.emplace_back().entries.emplace("key", std::move(value));
  return dictionaries.back();
}

// The member as kind:value, so that int:240 and real:240 differ; "" when absent.
std::string member(const Record& record, std::string_view name) {
  const Value* value = record.find(name);
  if (value == nullptr) return "";
  char out[40] = "other";
  if (const auto* s = std::get_if<std::string_view>(value)) return "text:" + std::string(*s);
  if (const auto* b = std::get_if<bool>(value)) return *b ? "true" : "false";
  if (const auto* i = std::get_if<std::int64_t>(value)) return "int:" + std::to_string(*i);
  if (const auto* d = std::get_if<double>(value)) std::snprintf(out, sizeof out, "real:%.17g", *d);
  return out;
}

TEST(CopyTest, EachCopyTakesOnlyItsOwnKindsOfValue) {
  struct Case {
    const char* name;
    InfoEntry value;
    std::string asText;    // What copyString sets; "" for nothing.
    std::string asNumber;  // What copyNumber sets; "" for nothing.
  };
  const Case cases[] = {
      {"one character", text("x"), "text:x", ""},
      {"empty text", text(""), "", ""},
      {"text kept as it is", text("caf\xc3\xa9 \"/\n"), "text:caf\xc3\xa9 \"/\n", ""},
      {"integer stays an integer", integer(240), "", "int:240"},
      {"largest integer", integer(std::numeric_limits<std::int64_t>::max()), "", "int:9223372036854775807"},
      {"real keeps its fraction", real(-12.25), "", "real:-12.25"},
      {"real holding an integer stays a real", real(240.0), "", "real:240"},
      {"true stays a boolean", boolean(true), "", "true"},
      {"false stays a boolean", boolean(false), "", "false"},
      {"NaN", real(nan), "", ""},
      {"infinity", real(inf), "", ""},
      {"date", real(5.0, InfoKind::date), "", ""},
      {"bytes", bytes(3), "", ""},
      {"other", InfoEntry{}, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InfoDictionaryImpl& info = holding(c.value);
    Record record;
    copyString(&info, "key", record, "text");
    copyNumber(&info, "key", record, "number");
    EXPECT_EQ(member(record, "text"), c.asText);
    EXPECT_EQ(member(record, "number"), c.asNumber);
    // The text is borrowed from the dictionary, not copied.
    if (const Value* copied = record.find("text")) {
      EXPECT_EQ(std::get<std::string_view>(*copied).data(), info.entries["key"].text.data());
    }
  }
}

TEST(ArtworkIdentityTest, IsTheIdentifierStringOrTheTextsJoinedByBars) {
  struct Case {
    const char* name;
    std::optional<InfoEntry> identifier;
    const char* title;  // Null when the record lacks the member.
    const char* artist;
    const char* album;
    std::string identity;
  };
  const Case cases[] = {
      {"identifier", text("A"), "T", "R", "B", "A"},
      {"empty identifier", text(""), "T", "R", "B", ""},
      {"long identifier", text(std::string(300, 'i')), nullptr, nullptr, nullptr, std::string(300, 'i')},
      {"no identifier", std::nullopt, "T", "R", "B", "T|R|B"},
      {"identifier not a string", integer(5), "T", nullptr, "B", "T||B"},
      {"identifier is bytes", bytes(2), nullptr, "R", nullptr, "|R|"},
      {"nothing at all", InfoEntry{}, nullptr, nullptr, nullptr, "||"},
      {"texts with bars and non-ASCII", std::nullopt, "a|b", "caf\xc3\xa9", "", "a|b|caf\xc3\xa9|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Record record;
    if (c.title) record.set("title", std::string_view(c.title));
    if (c.artist) record.set("artist", std::string_view(c.artist));
    if (c.album) record.set("album", std::string_view(c.album));
    InfoValue identifier = c.identifier ? readInfo(&holding(*c.identifier), "key", record.texts) : InfoValue{};
    EXPECT_EQ(artworkIdentity(identifier, record), c.identity);
  }
}

TEST(ArtworkQualifiesTest, TakesByteBuffersOfOneByteToFourMebibytes) {
  const std::pair<InfoEntry, bool> cases[] = {
      {bytes(0), false},         {bytes(1), true},     {bytes(4'194'304), true},
      {bytes(4'194'305), false}, {text("abc"), false}, {integer(1), false},
  };
  for (const auto& [value, qualifies] : cases) {
    SCOPED_TRACE(value.bytes.size());
    TextStore store;
    EXPECT_EQ(artworkQualifies(readInfo(&holding(value), "key", store)), qualifies);
  }
}

TEST(AddArtworkTest, SendsTheServiceBytesWithoutCopyingThem) {
  InfoDictionaryImpl info;
  const std::vector<std::uint8_t>& data =
      info.entries.emplace(infoKey::artworkData, bytes(1000)).first->second.bytes;
  Record record;
  lastArtworkID.reset();
  addArtwork(&info, record);
  const Value* art = record.find("artwork");
  ASSERT_NE(art, nullptr);
  EXPECT_EQ(std::get<Base64Text>(*art).bytes.data(), data.data());
  EXPECT_EQ(std::get<Base64Text>(*art).bytes.size(), 1000u);
}

}  // namespace
}  // namespace kel
