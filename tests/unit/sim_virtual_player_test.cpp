// The virtual player: its cover images are valid PNG files, and it obeys the
// transport commands, keeps time, moves on at the end of a track and posts the
// service's notifications on every change.

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/class_lookup.h"
#include "platform/info_value.h"
#include "platform/notification_center.h"
#include "sim/cover_image.h"
#include "sim/sim.h"
#include "sim/simulator.h"

namespace kel::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Checksums written the slow, obvious way, to check the library's own.
std::uint32_t slowCrc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0xEDB88320u : 0);
  }
  return ~crc;
}

std::uint32_t slowAdler32(const Bytes& data) {
  std::uint64_t a = 1;
  std::uint64_t b = 0;
  for (std::uint8_t byte : data) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  return std::uint32_t(b << 16 | a);
}

std::uint32_t bigEndian(const Bytes& bytes, std::size_t at) {
  return std::uint32_t(bytes.at(at)) << 24 | std::uint32_t(bytes.at(at + 1)) << 16 |
         std::uint32_t(bytes.at(at + 2)) << 8 | bytes.at(at + 3);
}

// Checks a PNG file of stored deflate blocks from end to end: chunks and their
// CRCs, the header, the zlib stream and its Adler-32, and the size of the pixels.
void expectValidPng(const Bytes& png, std::uint32_t size) {
  ASSERT_GE(png.size(), 8u);
  ASSERT_EQ(Bytes(png.begin(), png.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
  std::vector<std::string> types;
  Bytes zlib;
  std::size_t at = 8;
  while (at < png.size()) {
    std::uint32_t length = bigEndian(png, at);
    ASSERT_LE(at + 12 + length, png.size());
    std::string type(png.begin() + long(at) + 4, png.begin() + long(at) + 8);
    Bytes data(png.begin() + long(at) + 8, png.begin() + long(at + 8 + length));
    EXPECT_EQ(bigEndian(png, at + 8 + length), slowCrc32(png.data() + at + 4, length + 4)) << type;
    if (type == "IHDR") {
      ASSERT_EQ(data.size(), 13u);
      EXPECT_EQ(bigEndian(data, 0), size);
      EXPECT_EQ(bigEndian(data, 4), size);
      EXPECT_EQ(Bytes(data.begin() + 8, data.end()), (Bytes{8, 2, 0, 0, 0}));
    }
    if (type == "IDAT") zlib.insert(zlib.end(), data.begin(), data.end());
    types.push_back(type);
    at += 12 + length;
  }
  EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

  ASSERT_GE(zlib.size(), 2u + 5 + 4);
  EXPECT_EQ(zlib[0] & 0x0F, 8);  // Deflate.
  EXPECT_EQ((zlib[0] * 256 + zlib[1]) % 31, 0);
  EXPECT_EQ(zlib[1] & 0x20, 0);  // No preset dictionary.
  Bytes raw;
  std::size_t pos = 2;
  bool final = false;
  while (!final) {
    ASSERT_LE(pos + 5, zlib.size());
    final = (zlib[pos] & 1) != 0;
    ASSERT_EQ(zlib[pos] & 6, 0) << "only stored blocks are expected";
    std::uint32_t len = zlib[pos + 1] | std::uint32_t(zlib[pos + 2]) << 8;
    std::uint32_t nlen = zlib[pos + 3] | std::uint32_t(zlib[pos + 4]) << 8;
    ASSERT_EQ(len ^ 0xFFFFu, nlen);
    ASSERT_LE(pos + 5 + len, zlib.size());
    raw.insert(raw.end(), zlib.begin() + long(pos) + 5, zlib.begin() + long(pos + 5 + len));
    pos += 5 + len;
  }
  ASSERT_EQ(pos + 4, zlib.size());
  EXPECT_EQ(bigEndian(zlib, pos), slowAdler32(raw));
  ASSERT_EQ(raw.size(), std::size_t(size) * (1 + 3 * size));
  for (std::size_t row = 0; row < size; ++row) EXPECT_EQ(raw[row * (1 + 3 * size)], 0) << "filter of row " << row;
}

TEST(CoverImageTest, ChecksumsMatchTheirStandardCheckValues) {
  std::string digits = "123456789";
  std::string wiki = "Wikipedia";
  auto bytesOf = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
  EXPECT_EQ(crc32(bytesOf(digits)), 0xCBF43926u);
  EXPECT_EQ(crc32(Bytes{}), 0u);
  EXPECT_EQ(adler32(bytesOf(wiki)), 0x11E60398u);
  EXPECT_EQ(adler32(Bytes{}), 1u);
  // Long enough for the sums to wrap around their modulus many times.
  Bytes ones(100000, 0xFF);
  EXPECT_EQ(adler32(ones), slowAdler32(ones));
  EXPECT_EQ(crc32(ones), slowCrc32(ones.data(), ones.size()));
}

TEST(CoverImageTest, MakesValidPngFilesOfEverySize) {
  CoverColours colours{{200, 40, 40}, {40, 0, 0}, {240, 220, 200}};
  for (int size : {1, 2, 7, 48, 128}) {
    SCOPED_TRACE(size);
    expectValidPng(coverImage(size, colours), std::uint32_t(size));
  }
  EXPECT_NE(coverImage(16, colours), coverImage(16, {{0, 0, 200}, {0, 0, 40}, {255, 255, 0}}));
}

// What the bridge would see of the player at one moment.
struct Seen {
  std::uint8_t playing = 0;
  std::string title;
  double duration = 0;
  double elapsed = 0;
  double rate = 0;
  InfoValue timestamp;
  std::string artworkID;
  std::string mime;
  Bytes artwork;
};

Seen look(Queue queue) {
  std::promise<std::uint8_t> playing;
  getNowPlayingApplicationIsPlaying(
      queue, [](void* c, std::uint8_t p) { static_cast<std::promise<std::uint8_t>*>(c)->set_value(p); }, &playing);
  std::promise<Seen> seen;
  getNowPlayingInfo(
      queue,
      [](void* c, InfoDictionary info) {
        Seen s;
        s.title = std::string(readInfo(info, "kMRMediaRemoteNowPlayingInfoTitle").text);
        s.duration = readInfo(info, "kMRMediaRemoteNowPlayingInfoDuration").real;
        s.elapsed = readInfo(info, "kMRMediaRemoteNowPlayingInfoElapsedTime").real;
        s.rate = readInfo(info, "kMRMediaRemoteNowPlayingInfoPlaybackRate").real;
        s.timestamp = readInfo(info, "kMRMediaRemoteNowPlayingInfoTimestamp");
        s.artworkID = std::string(readInfo(info, "kMRMediaRemoteNowPlayingInfoArtworkIdentifier").text);
        s.mime = std::string(readInfo(info, "kMRMediaRemoteNowPlayingInfoArtworkMIMEType").text);
        auto bytes = readInfo(info, "kMRMediaRemoteNowPlayingInfoArtworkData").bytes;
        s.artwork.assign(bytes.begin(), bytes.end());
        static_cast<std::promise<Seen>*>(c)->set_value(std::move(s));
      },
      &seen);
  Seen s = seen.get_future().get();
  s.playing = playing.get_future().get();
  return s;
}

// Counts the service's notifications, with one observer per name for the program.
struct Posts {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::string> names;
};

Posts& posts() {
  static Posts& p = *new Posts;
  static bool observing = [] {
    for (std::string_view name : {"kMRMediaRemoteNowPlayingInfoDidChangeNotification",
                                  "kMRMediaRemoteNowPlayingApplicationIsPlayingDidChangeNotification",
                                  "kMRMediaRemoteNowPlayingApplicationDidChangeNotification",
                                  "kMRMediaRemoteNowPlayingPlaybackQueueChangedNotification"}) {
      addObserver(name, [name] {
        std::lock_guard lock(posts().mutex);
        posts().names.emplace_back(name);
        posts().arrived.notify_all();
      });
    }
    return true;
  }();
  (void)observing;
  return p;
}

// Waits until name has been posted at least count times in all.
bool waitForPost(std::string_view name, std::size_t count) {
  std::unique_lock lock(posts().mutex);
  return posts().arrived.wait_for(lock, 10s, [&] {
    return std::size_t(std::count(posts().names.begin(), posts().names.end(), name)) >= count;
  });
}

std::size_t postCount(std::string_view name) {
  std::lock_guard lock(posts().mutex);
  return std::size_t(std::count(posts().names.begin(), posts().names.end(), name));
}

constexpr std::string_view infoChanged = "kMRMediaRemoteNowPlayingInfoDidChangeNotification";
constexpr std::string_view playingChanged = "kMRMediaRemoteNowPlayingApplicationIsPlayingDidChangeNotification";
constexpr std::string_view appChanged = "kMRMediaRemoteNowPlayingApplicationDidChangeNotification";
constexpr std::string_view queueChanged = "kMRMediaRemoteNowPlayingPlaybackQueueChangedNotification";

// Starts the player and waits for the notifications of its start, the last of
// which is the queue's, so that they cannot be taken for those of a later change.
Queue startPlayer() {
  posts();
  std::size_t queues = postCount(queueChanged);
  EXPECT_EQ(configure("", ""), "");
  Queue queue = createQueue("test.player");
  registerForNowPlayingNotifications(queue);
  EXPECT_TRUE(waitForPost(queueChanged, queues + 1));
  return queue;
}

TEST(VirtualPlayerTest, StartsPlayingTheFirstTrackAsAPlayerApplication) {
  std::size_t apps = postCount(appChanged);
  Queue queue = startPlayer();
  EXPECT_EQ(postCount(appChanged), apps + 1);

  Object cls = lookupClass("MRNowPlayingRequest");
  ASSERT_NE(cls, nullptr);
  Object client = callForObject(callForObject(cls, "localNowPlayingPlayerPath"), "client");
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(callForString(client, "bundleIdentifier"), std::optional<std::string_view>("com.kel.VirtualPlayer"));

  Seen s = look(queue);
  EXPECT_EQ(s.playing, 1);
  EXPECT_FALSE(s.title.empty());
  EXPECT_GT(s.duration, 10.0);
  EXPECT_GE(s.elapsed, 0.0);
  EXPECT_LT(s.elapsed, 5.0);
  EXPECT_EQ(s.rate, 1.0);
  EXPECT_EQ(s.timestamp.kind, InfoKind::date);
  double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  EXPECT_NEAR(s.timestamp.real, now, 60.0);
  EXPECT_EQ(s.mime, "image/png");
  EXPECT_FALSE(s.artworkID.empty());
  expectValidPng(s.artwork, 48);
  EXPECT_LT(s.artwork.size(), 16384u);
}

TEST(VirtualPlayerTest, ObeysTransportCommandsAndPostsOnEveryChange) {
  Queue queue = startPlayer();
  Seen first = look(queue);
  ASSERT_TRUE(sendCommand(4, nullptr));
  Seen second = look(queue);
  ASSERT_TRUE(sendCommand(4, nullptr));
  Seen third = look(queue);
  ASSERT_TRUE(sendCommand(4, nullptr));
  ASSERT_TRUE(sendCommand(4, nullptr));
  EXPECT_EQ(look(queue).title, first.title) << "the playlist wraps around";
  EXPECT_NE(first.title, second.title);
  EXPECT_NE(second.title, third.title);
  EXPECT_NE(first.artworkID, second.artworkID);
  EXPECT_NE(first.artwork, second.artwork);

  // Each row: a command (a code, or -1 for a seek to seconds), then what is seen.
  const struct {
    std::int32_t code;
    double seconds;
    std::uint8_t playing;
    const std::string* title;
    double elapsed;  // Exact while paused; negative: not checked.
    std::string_view posted;
  } rows[] = {
      {1, 0, 0, &first.title, -1, playingChanged},   // pause
      {-1, 10, 0, &first.title, 10, infoChanged},    // seek
      {0, 0, 1, &first.title, -1, playingChanged},   // play
      {2, 0, 0, &first.title, -1, playingChanged},   // toggle: pause
      {4, 0, 0, &second.title, 0, queueChanged},     // next keeps the pause
      {5, 0, 0, &first.title, 0, queueChanged},      // previous at the start: the track before
      {-1, 20, 0, &first.title, 20, infoChanged},    // seek
      {5, 0, 0, &first.title, 0, infoChanged},       // previous after 3 s: from the start
      {5, 0, 0, nullptr, 0, queueChanged},           // previous from the first: the last track
      {4, 0, 0, &first.title, 0, queueChanged},      // next from the last: the first
      {2, 0, 1, &first.title, -1, playingChanged},   // toggle: play
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "code " << row.code << " seconds " << row.seconds);
    std::size_t before = postCount(row.posted);
    if (row.code < 0) {
      setElapsedTime(row.seconds);
    } else {
      EXPECT_TRUE(sendCommand(row.code, nullptr));
    }
    EXPECT_TRUE(waitForPost(row.posted, before + 1));
    Seen s = look(queue);
    EXPECT_EQ(s.playing, row.playing);
    EXPECT_EQ(s.rate, row.playing != 0 ? 1.0 : 0.0);
    if (row.title != nullptr) {
      EXPECT_EQ(s.title, *row.title);
    } else {
      EXPECT_NE(s.title, first.title);
    }
    if (row.elapsed >= 0) {
      EXPECT_EQ(s.elapsed, row.elapsed);
    }
  }

  // Unknown codes are refused and change nothing.
  Seen before = look(queue);
  EXPECT_FALSE(sendCommand(3, nullptr));
  EXPECT_FALSE(sendCommand(99, nullptr));
  Seen after = look(queue);
  EXPECT_EQ(after.title, before.title);
  EXPECT_EQ(after.elapsed, before.elapsed);
  EXPECT_EQ(after.timestamp.real, before.timestamp.real);
}

TEST(VirtualPlayerTest, KeepsTimeAndMovesOnWhenATrackEnds) {
  Queue queue = startPlayer();
  sendCommand(1, nullptr);
  Seen first = look(queue);
  setElapsedTime(first.duration + 100);
  Seen atEnd = look(queue);
  EXPECT_EQ(atEnd.elapsed, first.duration) << "a seek stops at the end of the track";
  setElapsedTime(first.duration - 0.3);
  Seen paused = look(queue);
  EXPECT_EQ(paused.elapsed, first.duration - 0.3);

  std::size_t queues = postCount(queueChanged);
  sendCommand(0, nullptr);
  Seen playing = look(queue);
  // The position is kept as the elapsed time at the timestamp, plus the rate.
  EXPECT_NEAR(playing.elapsed, first.duration - 0.3, 0.25);
  EXPECT_EQ(playing.rate, 1.0);
  EXPECT_TRUE(waitForPost(queueChanged, queues + 1));
  Seen next = look(queue);
  EXPECT_NE(next.title, first.title);
  EXPECT_EQ(next.playing, 1);
  EXPECT_EQ(next.elapsed, 0.0);
  EXPECT_GE(next.timestamp.real, playing.timestamp.real + 0.2);
}

}  // namespace
}  // namespace kel::sim
