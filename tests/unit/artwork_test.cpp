#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "publisher/state_record.h"
#include "publisher_fixtures.h"

namespace kel {
namespace {

using namespace test;

constexpr std::string_view dataKey = "kMRMediaRemoteNowPlayingInfoArtworkData";
constexpr std::string_view identifierKey = "kMRMediaRemoteNowPlayingInfoArtworkIdentifier";
constexpr std::string_view mimeKey = "kMRMediaRemoteNowPlayingInfoArtworkMIMEType";

// The value as the dictionary hands it out; the dictionary lives on, as the
// value borrows from it.
InfoValue valueOf(const InfoEntry& entry) {
  static std::deque<InfoDictionaryImpl> dictionaries;
  dictionaries.push_back(dictionary({{"key", entry}}));
  return readInfo(&dictionaries.back(), "key");
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
  const std::vector<Case> cases = {
      {"identifier", text("A"), "T", "R", "B", "A"},
      {"empty identifier", text(""), "T", "R", "B", ""},
      {"identifier with bars", text("x|y"), nullptr, nullptr, nullptr, "x|y"},
      {"long identifier", text(std::string(300, 'i')), nullptr, nullptr, nullptr, std::string(300, 'i')},
      {"no identifier", std::nullopt, "T", "R", "B", "T|R|B"},
      {"identifier not a string", integer(5), "T", nullptr, "B", "T||B"},
      {"identifier is bytes", bytes(2), nullptr, "R", nullptr, "|R|"},
      {"nothing at all", other(), nullptr, nullptr, nullptr, "||"},
      {"texts with bars and non-ASCII", std::nullopt, "a|b", "caf\xc3\xa9", "", "a|b|caf\xc3\xa9|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Record record;
    record.set("bundle", std::string_view("com.example"));
    if (c.title) record.set("title", std::string_view(c.title));
    if (c.artist) record.set("artist", std::string_view(c.artist));
    if (c.album) record.set("album", std::string_view(c.album));
    InfoValue identifier = c.identifier ? valueOf(*c.identifier) : InfoValue{};
    std::string storage = "left over from an earlier record";
    EXPECT_EQ(artworkIdentity(identifier, record, storage), c.identity);
  }
}

TEST(ArtworkQualifiesTest, TakesByteBuffersOfOneByteToFourMebibytes) {
  struct Case {
    InfoEntry value;
    bool qualifies;
  };
  const std::vector<Case> cases = {
      {bytes(0), false},      {bytes(1), true},      {bytes(4'194'303), true},
      {bytes(4'194'304), true}, {bytes(4'194'305), false}, {text("abc"), false},
      {integer(1), false},    {other(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value.bytes.size());
    EXPECT_EQ(artworkQualifies(valueOf(c.value)), c.qualifies);
  }
}

class ArtworkTest : public ::testing::Test {
 protected:
  void SetUp() override { setPlayer("com.example"); }
  void TearDown() override {
    setPlayer("");
    lastArtworkID.reset();
  }
};

// The artwork members of one record: identifier (none when absent), byte count
// (none when absent), MIME type (none when absent), and other entries.
InfoDictionaryImpl artwork(std::optional<InfoEntry> identifier, std::optional<std::size_t> size,
                           std::optional<InfoEntry> mime = std::nullopt, Entries others = {}) {
  InfoDictionaryImpl info = dictionary(others);
  if (identifier) info.entries[std::string(identifierKey)] = *identifier;
  if (size) info.entries[std::string(dataKey)] = bytes(*size);
  if (mime) info.entries[std::string(mimeKey)] = *mime;
  // A dictionary with nothing but a missing artwork still has an entry, so that the
  // record is a state record.
  info.entries["kMRMediaRemoteNowPlayingInfoGenre"] = text("Jazz");
  return info;
}

TEST_F(ArtworkTest, SendsTheBytesOncePerIdentity) {
  struct Step {
    const char* name;
    std::optional<InfoDictionaryImpl> info;  // None for a null dictionary.
    std::string members;                     // The record after "playing".
  };
  const std::string title = "kMRMediaRemoteNowPlayingInfoTitle";
  const std::string artist = "kMRMediaRemoteNowPlayingInfoArtist";
  const std::string album = "kMRMediaRemoteNowPlayingInfoAlbum";
  const std::vector<Step> steps = {
      {"first artwork", artwork(text("A"), 3, text("image/png")),
       " artworkID=\"A\" artwork=base64:3 artworkMIME=\"image/png\""},
      {"same identity", artwork(text("A"), 3, text("image/png")), " artworkID=\"A\""},
      {"artwork gone", artwork(text("A"), std::nullopt), ""},
      {"no bytes", artwork(text("A"), 0), ""},
      {"back under the same identity", artwork(text("A"), 5), " artworkID=\"A\""},
      {"one byte too many", artwork(text("B"), 4'194'305), ""},
      {"largest artwork, empty MIME type", artwork(text("B"), 4'194'304, text("")),
       " artworkID=\"B\" artwork=base64:4194304"},
      {"no player", std::nullopt, ""},
      {"sent again after the no-player record", artwork(text("B"), 2, text("image/jpeg")),
       " artworkID=\"B\" artwork=base64:2 artworkMIME=\"image/jpeg\""},
      {"empty identifier", artwork(text(""), 2), " artworkID=\"\" artwork=base64:2"},
      {"empty identifier again", artwork(text(""), 2), " artworkID=\"\""},
      {"identity from the texts", artwork(integer(5), 1, std::nullopt, {{title, text("T")}, {album, text("B")}}),
       " title=\"T\" album=\"B\" artworkID=\"T||B\" artwork=base64:1"},
      {"empty title counts as none",
       artwork(std::nullopt, 1, std::nullopt, {{title, text("")}, {artist, text("X")}}),
       " artist=\"X\" artworkID=\"|X|\" artwork=base64:1"},
      {"no texts", artwork(std::nullopt, 1), " artworkID=\"||\" artwork=base64:1"},
      {"no texts again", artwork(std::nullopt, 1), " artworkID=\"||\""},
      {"bytes that are not a buffer", artwork(text("C"), std::nullopt, std::nullopt, {{std::string(dataKey), text("abc")}}),
       ""},
      {"MIME type that is not a string", artwork(text("C"), 1, integer(1)), " artworkID=\"C\" artwork=base64:1"},
      {"MIME type without artwork", artwork(text("C"), 1, text("image/png")), " artworkID=\"C\""},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    const InfoDictionaryImpl* info = step.info ? &*step.info : nullptr;
    std::string expected = info ? "bundle=\"com.example\" playing=true" + step.members : "bundle=null";
    EXPECT_EQ(publish(1, info), expected);
  }
}

TEST_F(ArtworkTest, BorrowsTheServiceBytesAndKeepsItsOwnIdentity) {
  InfoDictionaryImpl info = artwork(std::nullopt, 1000, std::nullopt,
                                    {{"kMRMediaRemoteNowPlayingInfoTitle", text("a title that needs the heap")}});
  Record record;
  std::string storage;
  buildStateRecord(1, &info, record, storage);
  const Value* art = record.find("artwork");
  ASSERT_NE(art, nullptr);
  std::span<const std::uint8_t> sent = std::get<Base64Text>(*art).bytes;
  EXPECT_EQ(sent.data(), info.entries[std::string(dataKey)].bytes.data());
  EXPECT_EQ(sent.size(), 1000u);
  // The remembered identity must not borrow from this record's storage.
  storage.assign(storage.size(), '#');
  EXPECT_EQ(lastArtworkID, "a title that needs the heap||");
}

}  // namespace
}  // namespace kel
