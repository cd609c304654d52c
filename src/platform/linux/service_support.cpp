// What both now-playing services on Linux build alike: the player lookup's objects
// and the Base64 decoder. They live in the platform library that both link, so
// that each is written once.

#include <utility>

#include "platform/linux/linux_platform.h"

namespace kel {
namespace {

constexpr std::string_view playerLookupClass = "MRNowPlayingRequest";

int base64Digit(char c, Base64Form form) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || (form == Base64Form::lenient && c == '-')) return 62;
  if (c == '/' || (form == Base64Form::lenient && c == '_')) return 63;
  return -1;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

}  // namespace

std::unique_ptr<PlayerLookupObjects> makePlayerLookup(std::optional<SelectorResult> bundleIdentifier,
                                                      std::optional<SelectorResult> parentApplicationBundleIdentifier) {
  auto made = std::make_unique<PlayerLookupObjects>();
  if (parentApplicationBundleIdentifier) {
    made->client.selectors.emplace("parentApplicationBundleIdentifier", std::move(*parentApplicationBundleIdentifier));
  }
  if (bundleIdentifier) made->client.selectors.emplace("bundleIdentifier", std::move(*bundleIdentifier));
  made->path.selectors.emplace("client", objectResult(&made->client));
  made->request.selectors.emplace("localNowPlayingPlayerPath", objectResult(&made->path));
  return made;
}

void registerPlayerLookup(const PlayerLookupObjects* lookup) {
  registerClass(playerLookupClass, lookup == nullptr ? nullptr : &lookup->request);
}

std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text, Base64Form form) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0;
  int pads = 0;
  for (char c : text) {
    if (form == Base64Form::lenient && isSpace(c)) continue;
    if (c == '=') {
      ++pads;
      continue;
    }
    int digit = base64Digit(c, form);
    if (digit < 0 || pads > 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(digit);
    if (++count == 4) {
      bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
      bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
      bytes.push_back(static_cast<std::uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (form == Base64Form::strict) {
    // Exactly the pads that complete the last group, and zero in the bits they
    // hide, so that each text decodes one way only.
    int wanted = count == 0 ? 0 : 4 - count;
    std::uint32_t hidden = count == 2 ? 0xF : count == 3 ? 0x3 : 0;
    if (pads != wanted || (bits & hidden) != 0) return std::nullopt;
  }
  if (count == 2) bytes.push_back(static_cast<std::uint8_t>(bits >> 4));
  if (count == 3) {
    bytes.push_back(static_cast<std::uint8_t>(bits >> 10));
    bytes.push_back(static_cast<std::uint8_t>(bits >> 2));
  }
  return bytes;
}

}  // namespace kel
