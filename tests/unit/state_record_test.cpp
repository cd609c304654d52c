#include "publisher/state_record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "publisher_fixtures.h"

namespace kel {
namespace {

using namespace test;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

class PublisherStateTest : public ::testing::Test {
 protected:
  void TearDown() override {
    registerClass("MRNowPlayingRequest", nullptr);
    lastArtworkID.reset();
  }
};

using PlayerLookupTest = PublisherStateTest;

TEST_F(PlayerLookupTest, FollowsTheChainAndFallsBackToTheBundleIdentifier) {
  Object child = makeObject({{"bundleIdentifier", returnsString("com.child")}});
  struct Case {
    const char* name;
    Object request;  // The class "MRNowPlayingRequest", or null for none.
    std::optional<std::string> bundle;
  };
  auto client = [](std::initializer_list<std::pair<const std::string, SelectorResult>> selectors) {
    return requestForClient(makeObject(selectors));
  };
  const std::vector<Case> cases = {
      {"no class", nullptr, std::nullopt},
      {"class without the path selector", makeObject({{"other", returnsNil()}}), std::nullopt},
      {"nil path", makeObject({{"localNowPlayingPlayerPath", returnsNil()}}), std::nullopt},
      {"path that is not an object", makeObject({{"localNowPlayingPlayerPath", returnsString("p")}}),
       std::nullopt},
      {"path without the client selector",
       makeObject({{"localNowPlayingPlayerPath", returnsObject(makeObject({}))}}), std::nullopt},
      {"nil client",
       makeObject({{"localNowPlayingPlayerPath", returnsObject(makeObject({{"client", returnsNil()}}))}}),
       std::nullopt},
      {"parent first",
       client({{"parentApplicationBundleIdentifier", returnsString("com.parent")},
               {"bundleIdentifier", returnsString("com.child")}}),
       "com.parent"},
      {"empty parent",
       client({{"parentApplicationBundleIdentifier", returnsString("")},
               {"bundleIdentifier", returnsString("com.child")}}),
       "com.child"},
      {"parent not a string",
       client({{"parentApplicationBundleIdentifier", returnsOther()},
               {"bundleIdentifier", returnsString("com.child")}}),
       "com.child"},
      {"nil parent",
       client({{"parentApplicationBundleIdentifier", returnsNil()},
               {"bundleIdentifier", returnsString("com.child")}}),
       "com.child"},
      {"no parent selector", requestForClient(child), "com.child"},
      {"both empty",
       client({{"parentApplicationBundleIdentifier", returnsString("")},
               {"bundleIdentifier", returnsString("")}}),
       std::nullopt},
      {"bundle identifier not a string", client({{"bundleIdentifier", returnsOther()}}), std::nullopt},
      {"client answers neither", client({{"description", returnsString("x")}}), std::nullopt},
      {"non-ASCII identifier", client({{"bundleIdentifier", returnsString("com.caf\xc3\xa9")}}),
       "com.caf\xc3\xa9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registerClass("MRNowPlayingRequest", c.request);
    std::optional<std::string_view> found = findPlayerBundle();
    ASSERT_EQ(found.has_value(), c.bundle.has_value());
    if (found) {
      EXPECT_EQ(*found, *c.bundle);
    }
  }
}

TEST(CopyStringTest, CopiesOnlyStringsOfAtLeastOneCharacter) {
  struct Case {
    const char* name;
    InfoEntry value;
    std::string expected;  // The rendered record; "" when it stays empty.
  };
  const std::vector<Case> cases = {
      {"string", text("Blue"), "title=\"Blue\""},
      {"one character", text("x"), "title=\"x\""},
      {"empty string", text(""), ""},
      {"non-ASCII and controls kept as they are", text("caf\xc3\xa9 \"/\n"),
       "title=\"caf\xc3\xa9 \"/\n\""},
      {"integer", integer(7), ""},
      {"real", real(7.5), ""},
      {"boolean", boolean(true), ""},
      {"date", date(1.0), ""},
      {"bytes", bytes(3), ""},
      {"other", other(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InfoDictionaryImpl info = dictionary({{"key", c.value}});
    Record record;
    copyString(&info, "key", record, "title");
    copyString(&info, "missing", record, "artist");
    EXPECT_EQ(render(record), c.expected);
  }
}

TEST(CopyStringTest, BorrowsTheDictionaryText) {
  InfoDictionaryImpl info = dictionary({{"key", text("a title long enough to live on the heap")}});
  Record record;
  copyString(&info, "key", record, "title");
  ASSERT_NE(record.find("title"), nullptr);
  EXPECT_EQ(std::get<std::string_view>(*record.find("title")).data(), info.entries["key"].text.data());
}

TEST(CopyNumberTest, KeepsTheKindAndLeavesOutNonFiniteValues) {
  struct Case {
    const char* name;
    InfoEntry value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"integer stays an integer", integer(240), "duration=int:240"},
      {"zero", integer(0), "duration=int:0"},
      {"negative integer", integer(-3), "duration=int:-3"},
      {"largest integer", integer(std::numeric_limits<std::int64_t>::max()),
       "duration=int:9223372036854775807"},
      {"real keeps its fraction", real(12.25), "duration=real:12.25"},
      {"real that holds an integer stays a real", real(240.0), "duration=real:240"},
      {"negative real", real(-0.5), "duration=real:-0.5"},
      {"boolean stays a boolean", boolean(true), "duration=true"},
      {"false stays a boolean", boolean(false), "duration=false"},
      {"NaN", real(nan), ""},
      {"infinity", real(inf), ""},
      {"negative infinity", real(-inf), ""},
      {"string", text("240"), ""},
      {"date", date(5.0), ""},
      {"bytes", bytes(4), ""},
      {"other", other(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InfoDictionaryImpl info = dictionary({{"key", c.value}});
    Record record;
    copyNumber(&info, "key", record, "duration");
    copyNumber(&info, "missing", record, "rate");
    EXPECT_EQ(render(record), c.expected);
  }
}

using StateRecordTest = PublisherStateTest;

TEST_F(StateRecordTest, FillsTheMembersInOrderWithTheirKinds) {
  struct Case {
    const char* name;
    std::uint8_t playing;
    InfoDictionaryImpl info;
    std::string expected;
  };
  const std::string bundle = "bundle=\"com.example\"";
  const std::vector<Case> cases = {
      {"every member", 1,
       dictionary({{"kMRMediaRemoteNowPlayingInfoTimestamp", date(1700000000.25)},
                   {"kMRMediaRemoteNowPlayingInfoPlaybackRate", integer(1)},
                   {"kMRMediaRemoteNowPlayingInfoElapsedTime", real(12.5)},
                   {"kMRMediaRemoteNowPlayingInfoDuration", integer(240)},
                   {"kMRMediaRemoteNowPlayingInfoAlbum", text("Album")},
                   {"kMRMediaRemoteNowPlayingInfoArtist", text("Artist")},
                   {"kMRMediaRemoteNowPlayingInfoTitle", text("Title")}}),
       bundle + " playing=true title=\"Title\" artist=\"Artist\" album=\"Album\" duration=int:240"
                " elapsed=real:12.5 rate=int:1 timestamp=real:1700000000.25"},
      {"playing byte 0", 0, dictionary({{"kMRMediaRemoteNowPlayingInfoTitle", text("T")}}),
       bundle + " playing=false title=\"T\""},
      {"playing byte 2", 2, dictionary({{"kMRMediaRemoteNowPlayingInfoTitle", text("T")}}),
       bundle + " playing=true title=\"T\""},
      {"playing byte 255", 255, dictionary({{"kMRMediaRemoteNowPlayingInfoTitle", text("T")}}),
       bundle + " playing=true title=\"T\""},
      {"only keys we do not read", 1, dictionary({{"kMRMediaRemoteNowPlayingInfoGenre", text("Jazz")}}),
       bundle + " playing=true"},
      {"empty and mistyped texts left out", 0,
       dictionary({{"kMRMediaRemoteNowPlayingInfoTitle", text("")},
                   {"kMRMediaRemoteNowPlayingInfoArtist", integer(3)},
                   {"kMRMediaRemoteNowPlayingInfoAlbum", other()}}),
       bundle + " playing=false"},
      {"non-finite numbers left out, booleans kept", 0,
       dictionary({{"kMRMediaRemoteNowPlayingInfoDuration", real(nan)},
                   {"kMRMediaRemoteNowPlayingInfoElapsedTime", real(-inf)},
                   {"kMRMediaRemoteNowPlayingInfoPlaybackRate", boolean(false)}}),
       bundle + " playing=false rate=false"},
      {"timestamp keeps its fraction", 0, dictionary({{"kMRMediaRemoteNowPlayingInfoTimestamp", date(-0.125)}}),
       bundle + " playing=false timestamp=real:-0.125"},
      {"NaN timestamp left out, the rest written", 0,
       dictionary({{"kMRMediaRemoteNowPlayingInfoTimestamp", date(nan)},
                   {"kMRMediaRemoteNowPlayingInfoTitle", text("T")}}),
       bundle + " playing=false title=\"T\""},
      {"infinite timestamp left out", 0,
       dictionary({{"kMRMediaRemoteNowPlayingInfoTimestamp", date(inf)},
                   {"kMRMediaRemoteNowPlayingInfoDuration", integer(9)}}),
       bundle + " playing=false duration=int:9"},
      {"timestamp that is not a date left out", 0,
       dictionary({{"kMRMediaRemoteNowPlayingInfoTimestamp", real(1700000000.5)}}), bundle + " playing=false"},
  };
  setPlayer("com.example");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(publish(c.playing, &c.info), c.expected);
  }
}

TEST_F(StateRecordTest, WritesTheNoPlayerRecordAndForgetsTheArtwork) {
  struct Case {
    const char* name;
    std::string player;  // "" for none.
    bool nullInfo;
  };
  const std::vector<Case> cases = {
      {"no player", "", false},
      {"null info", "com.example", true},
      {"empty info", "com.example", false},
      {"neither", "", true},
  };
  InfoDictionaryImpl withTitle = dictionary({{"kMRMediaRemoteNowPlayingInfoTitle", text("T")}});
  InfoDictionaryImpl empty;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lastArtworkID = "A";
    setPlayer(c.player);
    const InfoDictionaryImpl* info = c.nullInfo ? nullptr : c.player.empty() ? &withTitle : &empty;
    EXPECT_EQ(publish(1, info), "bundle=null");
    EXPECT_FALSE(lastArtworkID.has_value());
  }
}

}  // namespace
}  // namespace kel
