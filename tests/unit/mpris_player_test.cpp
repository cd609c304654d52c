#include <gtest/gtest.h>

#include <string>

#include "mpris/players.h"

namespace kel::mpris {
namespace {

TEST(MprisPlayerTest, PlayerNames) {
  EXPECT_TRUE(isPlayerName("org.mpris.MediaPlayer2.mpv"));
  EXPECT_TRUE(isPlayerName("org.mpris.MediaPlayer2.vlc.instance1234"));
  EXPECT_TRUE(isPlayerName("org.mpris.MediaPlayer2.playerctldx"));
  EXPECT_FALSE(isPlayerName("org.mpris.MediaPlayer2.playerctld"));
  EXPECT_FALSE(isPlayerName("org.mpris.MediaPlayer2.playerctld.extra"));
  EXPECT_FALSE(isPlayerName("org.mpris.MediaPlayer2."));
  EXPECT_FALSE(isPlayerName("org.mpris.MediaPlayer2"));
  EXPECT_FALSE(isPlayerName("org.mpris.MediaPlayer3.mpv"));
  EXPECT_FALSE(isPlayerName(":1.42"));
}

TEST(MprisPlayerTest, IdentifiersFromBusNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"org.mpris.MediaPlayer2.mpv", "mpv"},
      {"org.mpris.MediaPlayer2.mpv.instance4242", "mpv"},
      {"org.mpris.MediaPlayer2.vlc.instance7", "vlc"},
      {"org.mpris.MediaPlayer2.chromium.instance10.tab3", "chromium"},
      {"org.mpris.MediaPlayer2.org.example.Player", "org.example.Player"},
      {"org.mpris.MediaPlayer2.instance", "instance"},
  };
  for (const auto& [name, identifier] : cases) EXPECT_EQ(identifierFromBusName(name), identifier) << name;
}

TEST(MprisPlayerTest, TheDesktopEntryComesFirst) {
  Player player;
  player.names = {"org.mpris.MediaPlayer2.vlc.instance3", "org.mpris.MediaPlayer2.vlc"};
  EXPECT_EQ(bundleIdentifier(player), "vlc");
  player.desktopEntry = "";
  EXPECT_EQ(bundleIdentifier(player), "vlc");
  player.desktopEntry = "org.videolan.VLC";
  EXPECT_EQ(bundleIdentifier(player), "org.videolan.VLC");
}

// Players by owner, with the chosen one's owner (or "" for none).
struct Bus {
  Players players;
  Player& add(const std::string& owner) {
    Player& player = players.byOwner[owner];
    player.owner = owner;
    return player;
  }
  void set(const std::string& owner, Status status) { setStatus(players, players.byOwner.at(owner), status); }
  std::string chosen() const {
    const Player* player = choosePlayer(players);
    return player == nullptr ? "" : player->owner;
  }
};

TEST(MprisPlayerTest, ThePlayerThatStartedPlayingLastIsChosen) {
  Bus bus;
  EXPECT_EQ(bus.chosen(), "");
  bus.add(":a");
  bus.add(":b");
  EXPECT_EQ(bus.chosen(), "");  // status not known yet
  bus.set(":a", Status::stopped);
  bus.set(":b", Status::stopped);
  EXPECT_EQ(bus.chosen(), "");  // never playing or paused
  bus.set(":a", Status::playing);
  EXPECT_EQ(bus.chosen(), ":a");
  bus.set(":b", Status::playing);
  EXPECT_EQ(bus.chosen(), ":b");
  bus.set(":a", Status::playing);  // no change: still started before :b
  EXPECT_EQ(bus.chosen(), ":b");
  bus.set(":a", Status::paused);
  bus.set(":a", Status::playing);
  EXPECT_EQ(bus.chosen(), ":a");
  bus.set(":a", Status::paused);
  EXPECT_EQ(bus.chosen(), ":b");
}

TEST(MprisPlayerTest, WithoutAPlayingPlayerTheMostRecentlyActiveIsChosen) {
  Bus bus;
  bus.add(":a");
  bus.add(":b");
  bus.add(":c");
  bus.set(":a", Status::playing);
  bus.set(":b", Status::playing);
  bus.set(":c", Status::paused);
  bus.set(":b", Status::paused);
  bus.set(":a", Status::stopped);
  // :b was playing until it paused, after :c paused; :a stopped last, but a paused
  // player is active still.
  EXPECT_EQ(bus.chosen(), ":b");
  bus.set(":b", Status::stopped);
  EXPECT_EQ(bus.chosen(), ":c");
  bus.set(":c", Status::stopped);
  EXPECT_EQ(bus.chosen(), ":c");  // the last to leave playing or paused
  bus.set(":a", Status::unknown);
  EXPECT_EQ(bus.chosen(), ":c");  // a status it cannot read is not activity
  bus.players.byOwner.erase(":c");
  EXPECT_EQ(bus.chosen(), ":b");
}

}  // namespace
}  // namespace kel::mpris
