#pragma once
// Test doubles for the publisher's tests: info dictionaries and lookup objects of
// the Linux stand-in library, and a plain text form of records that keeps the kind
// of every value visible (int:240 and real:240 differ).

#include <cstdio>
#include <deque>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "output/record.h"
#include "platform/linux/standin.h"
#include "publisher/state_record.h"

namespace kel::test {

inline InfoEntry text(std::string value) {
  InfoEntry entry;
  entry.kind = InfoKind::string;
  entry.text = std::move(value);
  return entry;
}

inline InfoEntry integer(std::int64_t value) {
  InfoEntry entry;
  entry.kind = InfoKind::integer;
  entry.integer = value;
  return entry;
}

inline InfoEntry real(double value) {
  InfoEntry entry;
  entry.kind = InfoKind::real;
  entry.real = value;
  return entry;
}

inline InfoEntry boolean(bool value) {
  InfoEntry entry;
  entry.kind = InfoKind::boolean;
  entry.boolean = value;
  return entry;
}

inline InfoEntry date(double secondsSince1970) {
  InfoEntry entry;
  entry.kind = InfoKind::date;
  entry.real = secondsSince1970;
  return entry;
}

// size bytes, byte i being i mod 251, as the simulated service makes them.
inline InfoEntry bytes(std::size_t size) {
  InfoEntry entry;
  entry.kind = InfoKind::bytes;
  entry.bytes.resize(size);
  for (std::size_t i = 0; i < size; ++i) entry.bytes[i] = static_cast<std::uint8_t>(i % 251);
  return entry;
}

inline InfoEntry other() {
  return InfoEntry{};
}

using Entries = std::initializer_list<std::pair<const std::string, InfoEntry>>;

inline InfoDictionaryImpl dictionary(Entries entries) {
  InfoDictionaryImpl info;
  info.entries = std::map<std::string, InfoEntry, std::less<>>(entries);
  return info;
}

// Lookup objects live until the process ends, as the registry requires.
inline Object makeObject(std::initializer_list<std::pair<const std::string, SelectorResult>> selectors) {
  static std::deque<ObjectImpl> objects;
  objects.emplace_back();
  objects.back().selectors = std::map<std::string, SelectorResult, std::less<>>(selectors);
  return &objects.back();
}

inline SelectorResult returnsObject(Object object) {
  return {SelectorResult::Kind::object, object, {}};
}

inline SelectorResult returnsString(std::string value) {
  return {SelectorResult::Kind::string, nullptr, std::move(value)};
}

inline SelectorResult returnsNil() {
  return {SelectorResult::Kind::nil, nullptr, {}};
}

inline SelectorResult returnsOther() {
  return {SelectorResult::Kind::other, nullptr, {}};
}

// The class "MRNowPlayingRequest" for a player whose client answers as given.
inline Object requestForClient(Object client) {
  Object path = makeObject({{"client", returnsObject(client)}});
  return makeObject({{"localNowPlayingPlayerPath", returnsObject(path)}});
}

// Makes bundle the owner of the local player; an empty bundle removes the player.
inline void setPlayer(const std::string& bundle) {
  if (bundle.empty()) {
    registerClass("MRNowPlayingRequest", nullptr);
    return;
  }
  registerClass("MRNowPlayingRequest", requestForClient(makeObject({{"bundleIdentifier", returnsString(bundle)}})));
}

inline std::string render(const Value& value) {
  struct Visitor {
    std::string operator()(std::nullptr_t) const { return "null"; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(std::int64_t i) const { return "int:" + std::to_string(i); }
    std::string operator()(double d) const {
      char text[40];
      std::snprintf(text, sizeof text, "real:%.17g", d);
      return text;
    }
    std::string operator()(std::string_view s) const { return "\"" + std::string(s) + "\""; }
    std::string operator()(const Base64Text& b) const { return "base64:" + std::to_string(b.bytes.size()); }
  };
  return std::visit(Visitor{}, value);
}

// The members in order, as name=value separated by spaces.
inline std::string render(const Record& record) {
  std::string out;
  for (const Member& member : record.view()) {
    if (!out.empty()) out += ' ';
    out += std::string(member.name) + '=' + render(member.value);
  }
  return out;
}

// Builds the record of one publication and renders it.
inline std::string publish(std::uint8_t playing, InfoDictionary info) {
  Record record;
  std::string storage;
  buildStateRecord(playing, info, record, storage);
  return render(record);
}

}  // namespace kel::test
