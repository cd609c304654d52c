// Record assembly from any info dictionary, with a player or none, over up to four
// publications (the unit tests table the player lookup's answers). Each gives one line holding one JSON object; the artwork
// goes out as the dictionary's bytes, of 1 byte to 4 MiB, once per identity, and again
// after a no-player record.

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <bit>
#include <memory>
#include <set>

#include "platform/linux/linux_platform.h"
#include "publisher/state_record.h"
#include "read_back.h"

namespace kel {
namespace {

// The keys the record reads, and one it does not.
constexpr std::array<std::string_view, 11> keys = {infoKey::title, infoKey::artist, infoKey::album, infoKey::duration,
    infoKey::elapsedTime, infoKey::playbackRate, infoKey::timestamp, infoKey::artworkData, infoKey::artworkIdentifier,
    infoKey::artworkMIMEType, "kMRMediaRemoteNowPlayingInfoGenre"};

// One publication's answers: a player or none, and the dictionary or none.
struct Publication {
  std::unique_ptr<PlayerLookupObjects> player;
  std::uint8_t playing = 0;
  bool hasInfo = false;
  InfoDictionaryImpl info;
};

// Mostly of the kind each key holds, so that the rules about them come into play;
// identities from a few, so that they repeat; artwork sizes at the limit by name.
InfoEntry entryFrom(FuzzedDataProvider& input, std::string_view key) {
  InfoEntry entry;
  entry.kind = key == infoKey::artworkData ? InfoKind::bytes : key == infoKey::timestamp ? InfoKind::date : InfoKind::string;
  if (key == infoKey::duration || key == infoKey::elapsedTime || key == infoKey::playbackRate) entry.kind = InfoKind::real;
  if (input.ConsumeIntegralInRange(0, 3) == 0) entry.kind = static_cast<InfoKind>(input.ConsumeIntegralInRange(0, 7));
  constexpr std::size_t sizes[] = {1, artworkLimit, artworkLimit + 1};
  switch (entry.kind) {
    case InfoKind::string:
      entry.text = key == infoKey::artworkIdentifier ? input.PickValueInArray({"a", "b", ""}) : input.ConsumeRandomLengthString(40);
      break;
    case InfoKind::integer: entry.integer = input.ConsumeIntegral<std::int64_t>(); break;
    case InfoKind::real:
    case InfoKind::date: entry.real = std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>()); break;
    case InfoKind::boolean: entry.boolean = input.ConsumeBool(); break;
    case InfoKind::bytes: {
      std::size_t size = input.ConsumeIntegralInRange<std::size_t>(0, 3);
      if (size < 3) entry.bytes.assign(sizes[size], std::uint8_t(size));
      else entry.bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange(0, 300));
      break;
    }
    default: break;
  }
  return entry;
}

std::unique_ptr<Publication> publicationFrom(FuzzedDataProvider& input) {
  auto made = std::make_unique<Publication>();
  if (input.ConsumeIntegralInRange(0, 3) != 0) made->player = makePlayerLookup(textResult("com.example.player"));
  made->playing = input.ConsumeIntegral<std::uint8_t>();
  made->hasInfo = input.ConsumeIntegralInRange(0, 7) != 0;
  for (int i = input.ConsumeIntegralInRange(0, 12); i > 0; --i) {
    std::string_view key = input.PickValueInArray(keys);
    made->info.entries.insert_or_assign(std::string(key), entryFrom(input, key));
  }
  return made;
}

std::string_view text(const Record& record, std::string_view name) {
  const Value* value = record.find(name);
  return value == nullptr ? "" : std::get<std::string_view>(*value);
}

}  // namespace
}  // namespace kel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kel;
  using fuzz::check;
  FuzzedDataProvider input(data, size);
  lastArtworkID.reset();
  std::optional<std::string> lastSent;  // The identity of the artwork last sent.
  std::vector<std::unique_ptr<Publication>> publications;
  for (int turn = 0; turn < 4 && (turn == 0 || input.remaining_bytes() > 0); ++turn) {
    if (publications.empty() || !input.ConsumeBool()) publications.push_back(publicationFrom(input));
    const Publication& publication = *publications.back();
    registerPlayerLookup(publication.player.get());
    Record record;
    buildStateRecord(publication.playing, publication.hasInfo ? &publication.info : nullptr, record);
    recordArtworkSent(record);  // As writeStateRecord does once the line is written whole.
    auto parsed = fuzz::readBack(record);
    auto art = publication.info.entries.find(infoKey::artworkData);
    bool qualifies = publication.hasInfo && art != publication.info.entries.end() && art->second.kind == InfoKind::bytes &&
                     !art->second.bytes.empty() && art->second.bytes.size() <= artworkLimit;
    std::set<std::string> names;
    for (const auto& [name, value] : parsed) {
      names.insert(name);
      if (name == "artwork") check(qualifies && decodeBase64(value.get<std::string>(), Base64Form::strict) == art->second.bytes, "the bytes read back");
    }
    check(names.size() == parsed.size(), "no member twice");
    check(!parsed.empty() && parsed[0].first == "bundle", "the bundle first");
    if (parsed[0].second.is_null()) {
      check(parsed.size() == 1, "a no-player record holds the bundle alone");
      lastSent.reset();
      continue;
    }
    check(qualifies == names.contains("artworkID"), "an identity exactly with artwork of 1 byte to 4 MiB");
    const Value* sent = record.find("artwork");
    if (qualifies) check((sent != nullptr) == (lastSent != text(record, "artworkID")), "artwork once per identity");
    if (sent == nullptr) continue;
    check(std::get<Base64Text>(*sent).bytes.data() == art->second.bytes.data(), "the dictionary's own bytes");
    lastSent = text(record, "artworkID");
  }
  registerPlayerLookup(nullptr);  // The registry keeps what it is given; these objects go with the input.
  return 0;
}
