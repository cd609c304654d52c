// Record assembly from any answers to the player lookup and any info dictionary, over
// up to four publications. Each gives one line holding one JSON object; the artwork
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

// One publication's answers.
struct Publication {
  bool registered = false, hasInfo = false;
  ObjectImpl request, path, client;
  std::uint8_t playing = 0;
  InfoDictionaryImpl info;
};

// Whether object responds to selector, and with what: nil, target, a string or another kind.
void answer(FuzzedDataProvider& input, ObjectImpl& object, const char* selector, Object target) {
  if (!input.ConsumeBool()) return;
  SelectorResult& result = object.selectors[selector];
  result.kind = static_cast<SelectorResult::Kind>(input.ConsumeIntegralInRange(0, 3));
  if (result.kind == SelectorResult::Kind::object) result.object = target;
  if (result.kind == SelectorResult::Kind::string) result.text = input.ConsumeRandomLengthString();
}

InfoEntry entryFrom(FuzzedDataProvider& input) {
  InfoEntry entry;
  entry.kind = static_cast<InfoKind>(input.ConsumeIntegralInRange(0, 7));
  entry.text = input.ConsumeRandomLengthString();
  entry.integer = input.ConsumeIntegral<std::int64_t>();
  entry.real = std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>());
  entry.boolean = input.ConsumeBool();
  // Artwork sizes at the limit are named rather than spelt out.
  constexpr std::size_t sizes[] = {0, 1, artworkLimit, artworkLimit + 1};
  std::size_t size = input.ConsumeIntegralInRange<std::size_t>(0, 4);
  if (size < 4) entry.bytes.assign(sizes[size], std::uint8_t(size));
  else entry.bytes = input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegral<std::uint16_t>());
  return entry;
}

std::unique_ptr<Publication> publicationFrom(FuzzedDataProvider& input) {
  auto made = std::make_unique<Publication>();
  made->registered = input.ConsumeBool();
  answer(input, made->request, "localNowPlayingPlayerPath", &made->path);
  answer(input, made->path, "client", &made->client);
  answer(input, made->client, "parentApplicationBundleIdentifier", &made->client);
  answer(input, made->client, "bundleIdentifier", &made->client);
  made->playing = input.ConsumeIntegral<std::uint8_t>();
  made->hasInfo = input.ConsumeBool();
  for (int i = input.ConsumeIntegralInRange(0, 15); i > 0; --i)
    made->info.entries.insert_or_assign(std::string(input.PickValueInArray(keys)), entryFrom(input));
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
    registerClass("MRNowPlayingRequest", publication.registered ? &publication.request : nullptr);
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
  // The registry keeps what it is given; these objects go with the input.
  registerClass("MRNowPlayingRequest", nullptr);
  return 0;
}
