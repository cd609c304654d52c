// The MPRIS service's reading of cover art URLs, and its choice of player.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "mpris/players.h"
#include "mpris/queries.h"
#include "support.h"

namespace kel::mpris {
namespace {

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(MprisArtworkTest, DecodesPercentEscapesBase64AndTheImageSignature) {
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
  using namespace std::string_literals;
  const std::pair<std::string, std::string_view> signatures[] = {
      {"\x89PNG\r\n\x1a\n rest", "image/png"}, {"\x89PNG\r\n\x1a", ""}, {"\xff\xd8\xff", "image/jpeg"}, {"\xff\xd8", ""},
      {"GIF87a", "image/gif"}, {"GIF89a...", "image/gif"}, {"GIF88a", ""}, {"RIFF\x04\0\0\0WEBP"s, "image/webp"},
      {"RIFF\x04\0\0\0WAVE"s, ""}, {"RIFF", ""}, {"", ""}, {"<svg/>", ""}};
  for (const auto& [bytes, mime] : signatures) EXPECT_EQ(artworkMIME(bytesOf(bytes)), mime) << bytes;
}

TEST(MprisArtworkTest, ReadsDataUrlsAndLocalRegularFilesUpToTheLimit) {
  const std::pair<std::string, std::optional<Bytes>> data[] = {
      {"data:image/png;base64," + test::base64(bytesOf("\x89PNG\r\n\x1a\n")), bytesOf("\x89PNG\r\n\x1a\n")},
      {"DATA:;BASE64,QUJD", bytesOf("ABC")}, {"data:;base64,QU%4aD", bytesOf("ABC")},  // Percent-decoded first.
      {"data:,a%20b%ff", bytesOf("a b\xff")}, {"data:text/plain;charset=utf-8,caf%C3%A9", bytesOf("caf\xC3\xA9")},
      {"data:image/png;base64,@@", std::nullopt}, {"data:no comma", std::nullopt}, {"data:,", Bytes{}}};
  for (const auto& [url, bytes] : data) EXPECT_EQ(fetchArtwork(url), bytes) << url;
  EXPECT_EQ(fetchArtwork("data:,abcdef", 4), bytesOf("abcd"));

  std::string folder = (std::filesystem::temp_directory_path() / "mpris-artwork-XXXXXX").string();
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  auto write = [&](const std::string& name, const Bytes& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return folder + "/" + name;
  };
  Bytes cover = bytesOf("\x89PNG\r\n\x1a\n and the rest");
  write("a b \xC3\xA9 100%.png", cover);
  const std::string encoded = folder + "/a%20b%20%C3%A9%20100%25.png", fifo = folder + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::pair<std::string, std::optional<Bytes>> files[] = {
      {"file://" + encoded, cover}, {"FILE://localhost" + encoded, cover}, {"file://" + encoded + "?size=big#top", cover},
      {"file://elsewhere" + encoded, std::nullopt}, {"file:" + encoded, std::nullopt}, {"file://" + folder, std::nullopt},
      {"file://" + folder + "/missing.png", std::nullopt}, {"file:///dev/zero", std::nullopt},
      {"file://" + folder + "/a%00b", std::nullopt}, {"file://" + fifo, std::nullopt},
      {"http://127.0.0.1/cover.png", std::nullopt}, {"ftp://x/y", std::nullopt}, {"/plain/path", std::nullopt},
      {"", std::nullopt}};
  for (const auto& [url, bytes] : files) EXPECT_EQ(fetchArtwork(url), bytes) << url;
  EXPECT_EQ(fetchArtwork("file://" + encoded, 5), Bytes(cover.begin(), cover.begin() + 5));
  // A file larger than the limit is read up to it, no further; a regular file sized 0 is read.
  EXPECT_EQ(fetchArtwork("file://" + write("big", Bytes(artworkReadLimit + 10, 7)))->size(), artworkReadLimit);
  EXPECT_TRUE(fetchArtwork("file:///proc/self/stat").has_value());
  std::filesystem::remove_all(folder);
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
