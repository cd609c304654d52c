#pragma once
// Reading the now-playing info dictionary one key at a time. Bytes are borrowed
// and stay valid for the task that read them; a text is borrowed when the platform
// holds it as UTF-8, and otherwise converted into the caller's store.

#include <cstdint>
#include <span>
#include <string_view>

#include "text/text_store.h"

namespace kel {

struct InfoDictionaryImpl;
// The service's info dictionary; may be null. CFDictionaryRef on macOS.
using InfoDictionary = const InfoDictionaryImpl*;

enum class InfoKind : std::uint8_t { absent, string, integer, real, boolean, date, bytes, other };

// One value of the dictionary. Only the member that belongs to kind is meaningful:
// text (string), integer, real (real; date: seconds since 1970-01-01 00:00:00 UTC),
// boolean, bytes.
struct InfoValue {
  InfoKind kind = InfoKind::absent;
  std::string_view text;
  std::int64_t integer = 0;
  double real = 0;
  bool boolean = false;
  std::span<const std::uint8_t> bytes;
};

// True when the dictionary is null or has no entries.
bool infoIsEmpty(InfoDictionary info);

// The value under key, or a value of kind absent when there is none (or info is
// null). A text valid as long as both the task and store.
InfoValue readInfo(InfoDictionary info, std::string_view key, TextStore& store);

}  // namespace kel
