#pragma once
// The Linux platform (libkelplatform.so) as a now-playing service sees it: what
// it offers beyond the seam, so that the MPRIS and the simulated service can
// play the part of MediaRemote, Foundation and the Objective-C runtime, and the
// entry points' signatures. The bridge itself never includes this header.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/class_lookup.h"
#include "platform/info_value.h"
#include "platform/queue.h"

namespace kel {

// Any thread. Calls every observer of name, synchronously, on this thread.
void postNotification(std::string_view name);

// One value of an info dictionary; the member that belongs to kind holds it. It
// owns what an InfoValue only borrows.
struct InfoEntry {
  InfoKind kind = InfoKind::other;
  std::int64_t integer = 0;
  double real = 0;
  bool boolean = false;
  std::string text;
  std::vector<std::uint8_t> bytes;
  // When set, the bytes instead, shared with whoever else holds them.
  std::shared_ptr<const std::vector<std::uint8_t>> sharedBytes;
};

// The Linux counterpart of a CFDictionary: immutable once handed to the bridge.
struct InfoDictionaryImpl {
  std::map<std::string, InfoEntry, std::less<>> entries;
};

// What a selector returns.
struct SelectorResult {
  enum class Kind : std::uint8_t { nil, object, string, other };
  Kind kind = Kind::nil;
  Object object = nullptr;
  std::string text;
};

// The entries and results that the services build most.
inline InfoEntry textEntry(std::string text) {
  InfoEntry entry;
  entry.kind = InfoKind::string;
  entry.text = std::move(text);
  return entry;
}

// A number of kind real, or a date in seconds since 1970.
inline InfoEntry realEntry(double value, InfoKind kind = InfoKind::real) {
  InfoEntry entry;
  entry.kind = kind;
  entry.real = value;
  return entry;
}

inline SelectorResult objectResult(Object object) {
  SelectorResult result;
  result.kind = SelectorResult::Kind::object;
  result.object = object;
  return result;
}

// A class or an instance: the selectors it responds to and what each returns.
// Note: like a class of the Objective-C runtime, an object handed to the registry
// (directly or through another object) must stay alive until the process ends.
struct ObjectImpl {
  std::map<std::string, SelectorResult, std::less<>> selectors;
};

// Any thread. Makes lookupClass(name) answer cls from now on; null removes it.
void registerClass(std::string_view name, Object cls);

// What both services build alike (service_support.cpp).

// The objects the bridge's player lookup walks through: the class
// "MRNowPlayingRequest", whose "localNowPlayingPlayerPath" gives path, whose
// "client" gives client. Note: each refers to the next by address, so a lookup
// stays where it was made.
struct PlayerLookupObjects {
  ObjectImpl request;
  ObjectImpl path;
  ObjectImpl client;
};

inline SelectorResult textResult(std::string text) {
  SelectorResult result;
  result.kind = SelectorResult::Kind::string;
  result.text = std::move(text);
  return result;
}

// Any thread. A whole lookup whose client answers "bundleIdentifier" and
// "parentApplicationBundleIdentifier" with what is given, and does not respond to
// a selector given nothing.
std::unique_ptr<PlayerLookupObjects> makePlayerLookup(
    std::optional<SelectorResult> bundleIdentifier,
    std::optional<SelectorResult> parentApplicationBundleIdentifier = std::nullopt);

// Any thread. Makes the lookup find lookup's class from now on; null: no class.
void registerPlayerLookup(const PlayerLookupObjects* lookup);

// strict: the standard alphabet with "=" padding (RFC 4648, section 4), and a
// missing or misplaced pad, a non-zero bit under one, or whitespace rejected.
// lenient: the standard or the URL-safe alphabet, padding optional, whitespace
// ignored.
enum class Base64Form : std::uint8_t { strict, lenient };

// Any thread. The bytes that text encodes, or nothing when it is not Base64 of form.
std::optional<std::vector<std::uint8_t>> decodeBase64(std::string_view text, Base64Form form);

// The entry points of a now-playing service on Linux, as the bridge calls them.
// Each callback runs once, on the queue it was given; a query that is never
// answered never calls it.
namespace service_abi {
using IsPlayingCallback = void (*)(void* context, std::uint8_t playing);
using InfoCallback = void (*)(void* context, InfoDictionary info);
using RegisterEntry = void(Queue queue);
using GetIsPlayingEntry = void(Queue queue, IsPlayingCallback callback, void* context);
using GetNowPlayingInfoEntry = void(Queue queue, InfoCallback callback, void* context);
using SendCommandEntry = bool(std::int32_t code, const void* options);
using SetElapsedTimeEntry = void(double seconds);
}  // namespace service_abi

// The entry points as bindService resolved them, written once during start-up and
// only read afterwards; tests put their own in place.
struct ServiceEntries {
  service_abi::RegisterEntry* registerForNotifications = nullptr;
  service_abi::GetNowPlayingInfoEntry* getNowPlayingInfo = nullptr;
  service_abi::GetIsPlayingEntry* getIsPlaying = nullptr;
  service_abi::SendCommandEntry* sendCommand = nullptr;
  service_abi::SetElapsedTimeEntry* setElapsedTime = nullptr;
};
extern ServiceEntries serviceEntries;

}  // namespace kel
