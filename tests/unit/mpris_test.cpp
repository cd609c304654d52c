// The MPRIS service's reading of cover art URLs, and its choice of player.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "mpris/players.h"
#include "mpris/queries.h"
#include "support.h"

namespace kel::mpris {
namespace {

TEST(MprisArtworkTest, DecodesPercentEscapesAndBase64InEveryFormDataUrlsUse) {
  const std::pair<std::string, std::string> escapes[] = {
      {"a%20b", "a b"}, {"%C3%a9", "\xC3\xA9"}, {"100%", "100%"}, {"%4", "%4"}, {"%zz%41", "%zzA"},
      {"%%41", "%A"},   {"%00", std::string(1, '\0')}, {"%2F%2f", "//"}, {"", ""}};
  for (const auto& [text, decoded] : escapes) EXPECT_EQ(decodePercent(text), decoded) << text;
  // Padded or not, wrapped, and in the URL-safe alphabet as well; nothing else.
  for (std::size_t size = 0; size < 300; ++size) {
    Bytes bytes = test::randomBytes(size, unsigned(size));
    std::string text = test::base64(bytes), wrapped, urlSafe = text;
    for (std::size_t i = 0; i < text.size(); ++i) wrapped += (i % 76 == 75 ? "\r\n" : "") + std::string(1, text[i]);
    for (char& c : urlSafe) c = c == '+' ? '-' : c == '/' ? '_' : c;
    for (const std::string& form : {text, text.substr(0, text.find('=')), wrapped, urlSafe})
      ASSERT_EQ(decodeBase64(form, Base64Form::lenient), bytes) << form;
  }
  for (const char* text : {"@@@@", "QUJD*", "QQ==QQ==", "Q", "QUJDR", "QUJD=A"})
    EXPECT_EQ(decodeBase64(text, Base64Form::lenient), std::nullopt) << text;
}

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

TEST(MprisArtworkTest, ReadsDataUrlsAndLocalRegularFilesUpToTheLimit) {
  char folder[] = "/tmp/kel-artwork-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string path = std::string(folder) + "/a b 100%.png";
  Bytes cover = bytesOf("\x89PNG\r\n\x1a\n and the rest");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::fwrite(cover.data(), 1, cover.size(), file);
  std::fclose(file);
  std::string url = std::string("file://") + folder + "/a%20b%20100%25.png";
  const std::pair<std::string, std::optional<Bytes>> cases[] = {
      {url, cover}, {"FILE://localhost" + url.substr(7), cover}, {url + "?size=big#top", cover},
      {"file://elsewhere" + url.substr(7), std::nullopt}, {"file:" + url.substr(7), std::nullopt},
      {std::string("file://") + folder, std::nullopt}, {"file:///dev/zero", std::nullopt},
      {"data:;base64,QU%4aD", bytesOf("ABC")}, {"data:,a%20b%ff", bytesOf("a b\xff")}, {"data:,", Bytes{}},
      {"data:image/png;base64,@@", std::nullopt}, {"data:no comma", std::nullopt},
      {"http://127.0.0.1/cover.png", std::nullopt}, {"cover.png", std::nullopt}};
  for (const auto& [text, bytes] : cases) EXPECT_EQ(fetchArtwork(text), bytes) << text;
  EXPECT_EQ(fetchArtwork(url, 5), Bytes(cover.begin(), cover.begin() + 5));
  EXPECT_EQ(artworkMIME(cover), "image/png");
  for (const char* bytes : {"\xff\xd8\xff", "GIF89a", "RIFF\x04\x01\x01\x01WEBP"})
    EXPECT_NE(artworkMIME(bytesOf(bytes)), "") << bytes;
  for (const char* bytes : {"\x89PNG\r\n\x1a", "\xff\xd8", "GIF88a", "RIFF\x04\x01\x01\x01WAVE", "<svg/>"})
    EXPECT_EQ(artworkMIME(bytesOf(bytes)), "") << bytes;
  std::remove(path.c_str());
  rmdir(folder);
}

TEST(MprisPlayerTest, NamesItsPlayersFromTheBusNamesOrTheDesktopEntry) {
  for (const char* name : {"org.mpris.MediaPlayer2.mpv", "org.mpris.MediaPlayer2.vlc.instance1234",
                           "org.mpris.MediaPlayer2.playerctldx"})
    EXPECT_TRUE(isPlayerName(name)) << name;
  for (const char* name : {"org.mpris.MediaPlayer2.playerctld", "org.mpris.MediaPlayer2.playerctld.extra",
                           "org.mpris.MediaPlayer2.", "org.mpris.MediaPlayer2", "org.mpris.MediaPlayer3.mpv", ":1.42"})
    EXPECT_FALSE(isPlayerName(name)) << name;
  const std::pair<std::string, std::string> identifiers[] = {
      {"org.mpris.MediaPlayer2.mpv", "mpv"}, {"org.mpris.MediaPlayer2.mpv.instance4242", "mpv"},
      {"org.mpris.MediaPlayer2.chromium.instance10.tab3", "chromium"},
      {"org.mpris.MediaPlayer2.org.example.Player", "org.example.Player"}, {"org.mpris.MediaPlayer2.instance", "instance"}};
  for (const auto& [name, identifier] : identifiers) EXPECT_EQ(identifierFromBusName(name), identifier) << name;
  Player player;
  player.names = {"org.mpris.MediaPlayer2.vlc.instance3", "org.mpris.MediaPlayer2.vlc"};
  EXPECT_EQ(bundleIdentifier(player), "vlc");
  player.desktopEntry = "";
  EXPECT_EQ(bundleIdentifier(player), "vlc");
  player.desktopEntry = "org.videolan.VLC";
  EXPECT_EQ(bundleIdentifier(player), "org.videolan.VLC");
}

TEST(MprisPlayerTest, ChoosesThePlayerThatStartedPlayingLastElseTheMostRecentlyActive) {
  Players players;
  auto set = [&](std::string owner, Status status) {
    players.byOwner[owner].owner = owner;
    setStatus(players, players.byOwner.at(owner), status);
  };
  auto chosen = [&] {
    const Player* player = choosePlayer(players);
    return player == nullptr ? std::string("none") : player->owner;
  };
  EXPECT_EQ(chosen(), "none");
  players.byOwner[":a"].owner = ":a";
  EXPECT_EQ(chosen(), "none");  // Status not known yet.
  // Each step, and the player chosen after it.
  const std::tuple<const char*, Status, const char*> steps[] = {
      {":a", Status::stopped, "none"},  // Never playing or paused.
      {":b", Status::stopped, "none"}, {":a", Status::playing, ":a"}, {":b", Status::playing, ":b"},
      {":a", Status::playing, ":b"},  // No change: still started before :b.
      {":a", Status::paused, ":b"}, {":a", Status::playing, ":a"}, {":a", Status::paused, ":b"},
      {":c", Status::paused, ":b"}, {":b", Status::paused, ":b"},  // :b was playing until it paused, after :c.
      {":a", Status::stopped, ":b"},  // :a stopped last, but a paused player is active still.
      {":b", Status::stopped, ":c"}, {":c", Status::stopped, ":c"},  // The last to leave playing or paused.
      {":a", Status::unknown, ":c"},  // A status it cannot read is not activity.
  };
  for (const auto& [owner, status, expected] : steps) {
    set(owner, status);
    EXPECT_EQ(chosen(), expected) << owner << " " << int(status);
  }
  players.byOwner.erase(":c");
  EXPECT_EQ(chosen(), ":b");
}

}  // namespace
}  // namespace kel::mpris
