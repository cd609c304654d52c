#pragma once
// The JSON text (RFC 8259) of a record: one compact object, members in record
// order. In strings "/" is written as "\/", the quotation mark, the reverse solidus
// and U+0000 to U+001F are escaped, and every other character is written as its
// UTF-8 bytes. Each invalid UTF-8 sequence in a string becomes U+FFFD, so the text
// is always valid UTF-8.
//
//   if (auto size = jsonTextSize(record)) formatJsonText(record, buffer);
//   if (auto room = jsonTextRoom(record)) end = formatJsonText(record, buffer);
//   std::optional<std::string> text = jsonText(record);  // For tests.

#include <cstddef>
#include <optional>
#include <string>

#include "output/record.h"

namespace kel {

// The length of record's JSON text, or nothing when the record holds a double
// that is NaN or infinite, which JSON cannot express.
std::optional<std::size_t> jsonTextSize(const Record& record);

// Room enough for record's JSON text, found without reading any Base64 bytes
// (their text counted as if each char were an escaped "/"); nothing when
// jsonTextSize is nothing.
std::optional<std::size_t> jsonTextRoom(const Record& record);

// Writes record's JSON text to out, which has room for jsonTextSize(record) chars
// (or jsonTextRoom), and returns the end of the text. Only for records that have
// a JSON text.
char* formatJsonText(const Record& record, char* out);

// The JSON text in a string of its own. Allocates; for tests and benchmarks.
std::optional<std::string> jsonText(const Record& record);

}  // namespace kel
