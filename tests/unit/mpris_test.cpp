// The MPRIS service's artwork reading and its choice of player.

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

std::string encodeBase64(const Bytes& bytes) { return test::base64(bytes); }

Bytes bytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// A folder of its own, removed with its files at the end of the test.
struct ScratchFolder {
  std::string path;
  ScratchFolder() {
    const char* root = std::getenv("KEL_TEST_OUTPUT");
    std::filesystem::path parent = root != nullptr ? root : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(parent);
    std::string pattern = (parent / "mpris-artwork-XXXXXX").string();
    path = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  std::string write(const std::string& name, const Bytes& bytes) const {
    std::string file = path + "/" + name;
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return file;
  }
};

TEST(MprisArtworkTest, PercentDecodingTakesOnlyWholeEscapes) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a%20b", "a b"},
      {"%C3%a9", "\xC3\xA9"},
      {"100%", "100%"},
      {"%4", "%4"},
      {"%zz%41", "%zzA"},
      {"%%41", "%A"},
      {"%00", std::string(1, '\0')},
      {"%2F%2f", "//"},
  };
  for (const auto& [text, decoded] : cases) EXPECT_EQ(decodePercent(text), decoded) << text;
}

TEST(MprisArtworkTest, Base64DecodesWhatAnEncoderWrites) {
  for (std::size_t size = 0; size < 300; ++size) {
    Bytes bytes = test::randomBytes(size, unsigned(size));
    std::string text = encodeBase64(bytes);
    ASSERT_EQ(decodeBase64(text, Base64Form::lenient), bytes) << size;
    // Without padding, with line breaks, and in the URL-safe alphabet as well.
    std::string unpadded = text.substr(0, text.find('='));
    ASSERT_EQ(decodeBase64(unpadded, Base64Form::lenient), bytes) << size;
    std::string wrapped;
    for (std::size_t i = 0; i < text.size(); ++i) wrapped += (i % 76 == 75 ? "\r\n" : "") + std::string(1, text[i]);
    ASSERT_EQ(decodeBase64(wrapped, Base64Form::lenient), bytes) << size;
    std::string urlSafe = text;
    for (char& c : urlSafe) c = c == '+' ? '-' : c == '/' ? '_' : c;
    ASSERT_EQ(decodeBase64(urlSafe, Base64Form::lenient), bytes) << size;
  }
}

TEST(MprisArtworkTest, Base64RejectsWhatIsNotBase64) {
  for (const char* text : {"@@@@", "QUJD*", "QQ==QQ==", "Q", "QUJDR", "QUJD=A"}) {
    EXPECT_EQ(decodeBase64(text, Base64Form::lenient), std::nullopt) << text;
  }
}

TEST(MprisArtworkTest, TheSignatureDecidesTheType) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string_view> cases[] = {
      {"\x89PNG\r\n\x1a\n rest", "image/png"},
      {"\x89PNG\r\n\x1a", ""},
      {"\xff\xd8\xff", "image/jpeg"},
      {"\xff\xd8", ""},
      {"GIF87a", "image/gif"},
      {"GIF89a...", "image/gif"},
      {"GIF88a", ""},
      {"RIFF\x04\0\0\0WEBP"s, "image/webp"},
      {"RIFF\x04\0\0\0WAVE"s, ""},
      {"RIFF", ""},
      {"", ""},
      {"<svg/>", ""},
  };
  for (const auto& [bytes, mime] : cases) EXPECT_EQ(artworkMIME(bytesOf(bytes)), mime) << bytes;
}

TEST(MprisArtworkTest, DataUrls) {
  const std::pair<std::string, std::optional<Bytes>> cases[] = {
      {"data:image/png;base64," + encodeBase64(bytesOf("\x89PNG\r\n\x1a\n")), bytesOf("\x89PNG\r\n\x1a\n")},
      {"DATA:;BASE64,QUJD", bytesOf("ABC")},
      {"data:;base64,QU%4aD", bytesOf("ABC")},  // percent-decoded first
      {"data:,a%20b%ff", bytesOf("a b\xff")},
      {"data:text/plain;charset=utf-8,caf%C3%A9", bytesOf("caf\xC3\xA9")},
      {"data:image/png;base64,@@", std::nullopt},
      {"data:no comma", std::nullopt},
      {"data:,", Bytes{}},
  };
  for (const auto& [url, bytes] : cases) EXPECT_EQ(fetchArtwork(url), bytes) << url;
  EXPECT_EQ(fetchArtwork("data:,abcdef", 4), bytesOf("abcd"));
}

TEST(MprisArtworkTest, FileUrlsNameLocalRegularFiles) {
  ScratchFolder folder;
  ASSERT_FALSE(folder.path.empty());
  Bytes cover = bytesOf("\x89PNG\r\n\x1a\n and the rest");
  folder.write("a b \xC3\xA9 100%.png", cover);
  std::string encoded = folder.path + "/a%20b%20%C3%A9%20100%25.png";
  EXPECT_EQ(fetchArtwork("file://" + encoded), cover);
  EXPECT_EQ(fetchArtwork("FILE://localhost" + encoded), cover);
  EXPECT_EQ(fetchArtwork("file://" + encoded + "?size=big#top"), cover);
  EXPECT_EQ(fetchArtwork("file://" + encoded, 5), Bytes(cover.begin(), cover.begin() + 5));
  EXPECT_EQ(fetchArtwork("file://elsewhere" + encoded), std::nullopt);
  EXPECT_EQ(fetchArtwork("file:" + encoded), std::nullopt);
  EXPECT_EQ(fetchArtwork("file://" + folder.path), std::nullopt);  // a folder
  EXPECT_EQ(fetchArtwork("file://" + folder.path + "/missing.png"), std::nullopt);
  EXPECT_EQ(fetchArtwork("file:///dev/zero"), std::nullopt);
  EXPECT_EQ(fetchArtwork("file://" + folder.path + "/a%00b"), std::nullopt);
  std::string fifo = folder.path + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(fetchArtwork("file://" + fifo), std::nullopt);
  // A file the size of the limit and one byte more: read up to the limit, no further.
  Bytes big(artworkReadLimit + 10, 7);
  std::string bigFile = folder.write("big", big);
  EXPECT_EQ(fetchArtwork("file://" + bigFile)->size(), artworkReadLimit);
  EXPECT_EQ(fetchArtwork("file:///proc/self/stat").has_value(), true);  // regular, yet sized 0
  for (const char* url : {"http://127.0.0.1/cover.png", "https://example.invalid/a.png", "ftp://x/y", "/plain/path",
                          "", "cover.png"}) {
    EXPECT_EQ(fetchArtwork(url), std::nullopt) << url;
  }
}

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
