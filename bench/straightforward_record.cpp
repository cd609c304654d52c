#include "straightforward_record.h"
#include "service/service.h"

#include <cmath>
#include <string_view>

#include "text/text_store.h"
#include "publisher/state_record.h"

namespace kel::bench {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void copyText(InfoDictionary info, std::string_view key, TextStore& store, nlohmann::json& record,
              const char* member) {
  InfoValue value = readInfo(info, key, store);
  if (value.kind == InfoKind::string && !value.text.empty()) record[member] = value.text;
}

void copyReal(InfoDictionary info, std::string_view key, TextStore& store, nlohmann::json& record,
              const char* member, InfoKind kind = InfoKind::real) {
  InfoValue value = readInfo(info, key, store);
  if (value.kind == kind && std::isfinite(value.real)) record[member] = value.real;
}

}  // namespace

std::string straightforwardBase64(std::span<const std::uint8_t> bytes) {
  std::string text;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t bits = std::uint32_t{bytes[i]} << 16 | std::uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
    text += alphabet[bits >> 18];
    text += alphabet[bits >> 12 & 63];
    text += alphabet[bits >> 6 & 63];
    text += alphabet[bits & 63];
  }
  if (std::size_t rest = bytes.size() - i; rest > 0) {
    std::uint32_t bits = std::uint32_t{bytes[i]} << 16 | (rest == 2 ? std::uint32_t{bytes[i + 1]} << 8 : 0);
    text += alphabet[bits >> 18];
    text += alphabet[bits >> 12 & 63];
    text += rest == 2 ? alphabet[bits >> 6 & 63] : '=';
    text += '=';
  }
  return text;
}

nlohmann::json straightforwardRecord(std::uint8_t playing, InfoDictionary info) {
  TextStore store;
  nlohmann::json record = nlohmann::json::object();
  if (auto bundle = findPlayerBundle(store)) record["bundle"] = *bundle;
  record["playing"] = playing != 0;
  copyText(info, infoKey::title, store, record, "title");
  copyText(info, infoKey::artist, store, record, "artist");
  copyText(info, infoKey::album, store, record, "album");
  copyReal(info, infoKey::duration, store, record, "duration");
  copyReal(info, infoKey::elapsedTime, store, record, "elapsed");
  copyReal(info, infoKey::playbackRate, store, record, "rate");
  copyReal(info, infoKey::timestamp, store, record, "timestamp", InfoKind::date);
  InfoValue data = readInfo(info, infoKey::artworkData, store);
  if (artworkQualifies(data)) {
    copyText(info, infoKey::artworkIdentifier, store, record, "artworkID");
    record["artwork"] = straightforwardBase64(data.bytes);
    copyText(info, infoKey::artworkMIMEType, store, record, "artworkMIME");
  }
  return record;
}

}  // namespace kel::bench
