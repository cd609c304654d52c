// Record assembly from any info dictionary and any outcome of the player lookup.
// Each publication gives one line holding one JSON object, which the independent
// parser reads back as exactly the members the publisher's rules call for, with
// the values put in; the artwork bytes go out once per identity.

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "service/service.h"
#include "platform/linux/linux_platform.h"
#include "publisher/state_record.h"

namespace kel {
namespace {

enum Key : std::uint8_t { title, artist, album, duration, elapsed, rate, timestamp, artworkData, artworkIdentifier, artworkMIME };

// The keys the record reads, by Key, and one it does not.
constexpr std::array<std::string_view, 11> keyNames = {
    infoKey::title,        infoKey::artist,
    infoKey::album,        infoKey::duration,
    infoKey::elapsedTime,  infoKey::playbackRate,
    infoKey::timestamp,    infoKey::artworkData,
    infoKey::artworkIdentifier, infoKey::artworkMIMEType,
    "kMRMediaRemoteNowPlayingInfoGenre",
};

// Artwork sizes that inputs name by number rather than spell out.
constexpr std::array<std::size_t, 3> edgeSizes = {1, artworkLimit, artworkLimit + 1};

constexpr std::array<double, 6> specialReals = {
    std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(), -0.0, std::numeric_limits<double>::max(),
    std::numeric_limits<double>::denorm_min(),
};

// One publication's answers: the player lookup and the info dictionary.
struct Publication {
  bool registered = false;
  ObjectImpl request;  // The class MRNowPlayingRequest.
  ObjectImpl path;
  ObjectImpl client;
  std::uint8_t playing = 0;
  bool hasInfo = false;
  InfoDictionaryImpl info;
};

// Three bits of code: whether object responds to selector (4), and with what: nil,
// target, a string read from the input, or a value of another kind.
void answerFrom(fuzz::FuzzInput& input, unsigned code, ObjectImpl& object, std::string selector, Object target) {
  if ((code & 4) == 0) return;
  SelectorResult& result = object.selectors[std::move(selector)];
  result.kind = static_cast<SelectorResult::Kind>(code & 3);
  if (result.kind == SelectorResult::Kind::object) result.object = target;
  if (result.kind == SelectorResult::Kind::string) result.text = input.text();
}

std::vector<std::uint8_t> bytesFrom(fuzz::FuzzInput& input) {
  std::uint8_t form = input.byte();
  if (form >= edgeSizes.size()) return input.bytes(input.length());
  std::vector<std::uint8_t> bytes(edgeSizes[form]);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

InfoEntry entryFrom(fuzz::FuzzInput& input) {
  InfoEntry entry;
  entry.kind = static_cast<InfoKind>(input.byte() % 8);
  switch (entry.kind) {
    case InfoKind::string: entry.text = input.text(); break;
    case InfoKind::integer: entry.integer = static_cast<std::int64_t>(input.bits(8)); break;
    case InfoKind::real:
    case InfoKind::date: {
      std::uint8_t form = input.byte();
      entry.real = form < specialReals.size() ? specialReals[form] : std::bit_cast<double>(input.bits(8));
      break;
    }
    case InfoKind::boolean: entry.boolean = (input.byte() & 1) != 0; break;
    case InfoKind::bytes: entry.bytes = bytesFrom(input); break;
    default: break;
  }
  return entry;
}

// Two bytes of lookup codes (see answerFrom), the texts they call for, the playing
// byte, then the dictionary: 0 for none, else one more than its count of entries
// (below 16), each a key byte and a value.
std::unique_ptr<Publication> publicationFrom(fuzz::FuzzInput& input) {
  auto made = std::make_unique<Publication>();
  auto lookup = static_cast<unsigned>(input.bits(2));
  made->registered = (lookup & 1) != 0;
  answerFrom(input, lookup >> 1 & 7, made->request, "localNowPlayingPlayerPath", &made->path);
  answerFrom(input, lookup >> 4 & 7, made->path, "client", &made->client);
  answerFrom(input, lookup >> 7 & 7, made->client, "parentApplicationBundleIdentifier", &made->client);
  answerFrom(input, lookup >> 10 & 7, made->client, "bundleIdentifier", &made->client);
  made->playing = input.byte();
  std::uint8_t dictionary = input.byte();
  made->hasInfo = dictionary != 0;
  std::size_t entries = made->hasInfo ? (dictionary - 1u) % 16 : 0;
  for (std::size_t i = 0; i < entries; ++i) {
    std::string_view key = keyNames[input.byte() % keyNames.size()];
    made->info.entries.insert_or_assign(std::string(key), entryFrom(input));
  }
  return made;
}

// What the publisher's rules call for, worked out from the answers themselves.
struct Expectation {
  std::map<std::string, Value, std::less<>> members;
  std::string identity;  // Which the artworkID member borrows.
};

const SelectorResult* answerOf(const ObjectImpl& object, std::string_view selector) {
  auto found = object.selectors.find(selector);
  return found == object.selectors.end() ? nullptr : &found->second;
}

const ObjectImpl* objectAnswer(const ObjectImpl& object, std::string_view selector) {
  const SelectorResult* result = answerOf(object, selector);
  if (result == nullptr || result->kind != SelectorResult::Kind::object) return nullptr;
  return result->object;
}

std::optional<std::string_view> textAnswer(const ObjectImpl& object, std::string_view selector) {
  const SelectorResult* result = answerOf(object, selector);
  if (result == nullptr || result->kind != SelectorResult::Kind::string || result->text.empty()) return std::nullopt;
  return result->text;
}

// The application's bundle: its parent's for a helper, else its own.
std::optional<std::string_view> expectedBundle(const Publication& publication) {
  if (!publication.registered) return std::nullopt;
  const ObjectImpl* path = objectAnswer(publication.request, "localNowPlayingPlayerPath");
  const ObjectImpl* client = path == nullptr ? nullptr : objectAnswer(*path, "client");
  if (client == nullptr) return std::nullopt;
  if (auto parent = textAnswer(*client, "parentApplicationBundleIdentifier")) return parent;
  return textAnswer(*client, "bundleIdentifier");
}

// The members one publication calls for; lastSent is the identity of the artwork
// last sent, kept and updated as the publisher keeps its own.
void expect(const Publication& publication, std::optional<std::string>& lastSent, Expectation& expected) {
  auto& members = expected.members;
  std::optional<std::string_view> bundle = expectedBundle(publication);
  if (!bundle || !publication.hasInfo || publication.info.entries.empty()) {
    lastSent.reset();
    members["bundle"] = nullptr;
    return;
  }
  members["bundle"] = *bundle;
  members["playing"] = publication.playing != 0;
  auto entry = [&](Key key) -> const InfoEntry* {
    auto found = publication.info.entries.find(keyNames[key]);
    return found == publication.info.entries.end() ? nullptr : &found->second;
  };
  auto nonEmptyText = [&](Key key) -> std::optional<std::string_view> {
    const InfoEntry* value = entry(key);
    if (value == nullptr || value->kind != InfoKind::string || value->text.empty()) return std::nullopt;
    return value->text;
  };
  for (auto [key, name] : {std::pair{title, "title"}, {artist, "artist"}, {album, "album"}}) {
    if (auto text = nonEmptyText(key)) members[name] = *text;
  }
  for (auto [key, name] : {std::pair{duration, "duration"}, {elapsed, "elapsed"}, {rate, "rate"}}) {
    const InfoEntry* value = entry(key);
    if (value == nullptr) continue;
    if (value->kind == InfoKind::integer) members[name] = value->integer;
    if (value->kind == InfoKind::real && std::isfinite(value->real)) members[name] = value->real;
    if (value->kind == InfoKind::boolean) members[name] = value->boolean;
  }
  if (const InfoEntry* value = entry(timestamp); value && value->kind == InfoKind::date && std::isfinite(value->real)) {
    members["timestamp"] = value->real;
  }
  const InfoEntry* art = entry(artworkData);
  if (art == nullptr || art->kind != InfoKind::bytes || art->bytes.empty() || art->bytes.size() > artworkLimit) return;
  const InfoEntry* identifier = entry(artworkIdentifier);
  if (identifier != nullptr && identifier->kind == InfoKind::string) {
    expected.identity = identifier->text;
  } else {
    expected.identity = std::string(nonEmptyText(title).value_or("")) + "|" +
                        std::string(nonEmptyText(artist).value_or("")) + "|" +
                        std::string(nonEmptyText(album).value_or(""));
  }
  members["artworkID"] = std::string_view(expected.identity);
  if (lastSent == expected.identity) return;
  members["artwork"] = Base64Text{art->bytes};
  if (auto mime = nonEmptyText(artworkMIME)) members["artworkMIME"] = *mime;
  lastSent = expected.identity;
}

constexpr std::string_view requestClass = "MRNowPlayingRequest";

}  // namespace
}  // namespace kel

// Up to four publications, each a byte whose low bit repeats the one before,
// otherwise a publication of its own (see publicationFrom).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  using fuzz::check;
  fuzz::FuzzInput input{data, size};
  lastArtworkID.reset();
  std::optional<std::string> lastSent;
  std::vector<std::unique_ptr<Publication>> publications;
  for (int turn = 0; turn < 4 && (turn == 0 || !input.empty()); ++turn) {
    bool repeat = (input.byte() & 1) != 0 && !publications.empty();
    if (!repeat) publications.push_back(publicationFrom(input));
    const Publication& publication = *publications.back();
    registerClass(requestClass, publication.registered ? &publication.request : nullptr);

    Record record;
    buildStateRecord(publication.playing, publication.hasInfo ? &publication.info : nullptr, record);
    recordArtworkSent(record);  // As writeStateRecord does once the line is written whole.
    Expectation expected;
    expect(publication, lastSent, expected);

    fuzz::ParsedMembers parsed = fuzz::readBack(record);
    std::set<std::string> names;
    for (const auto& [name, value] : parsed) {
      auto found = expected.members.find(name);
      check(found != expected.members.end(), "no member that the rules do not call for");
      check(fuzz::readsBackAs(value, found->second), "each member reads back as the value put in");
      names.insert(name);
    }
    check(names.size() == parsed.size(), "no member twice");
    check(names.size() == expected.members.size(), "every member that the rules call for");
  }
  // The registry keeps what it is given; these objects go with the input.
  registerClass(requestClass, nullptr);
  return 0;
}
