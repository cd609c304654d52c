#pragma once
// Lets the unit tests hand every JSON line they produce to the independent
// read-back check (readback.py), together with the values the line must hold.
// The values are written in a form that owes nothing to our JSON writer: hex of
// the raw bytes for names, strings and Base64 sources, hex of the bits for doubles.
//
// Each test program writes $KEL_TEST_OUTPUT/readback/<program>.txt afresh; without
// KEL_TEST_OUTPUT (a test program run by hand) nothing is written.

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>

#include "output/record.h"

namespace kel::readback {

inline void appendHex(std::string& out, std::span<const unsigned char> bytes) {
  constexpr char digits[] = "0123456789abcdef";
  for (unsigned char byte : bytes) {
    out += digits[byte >> 4];
    out += digits[byte & 15];
  }
}

inline void appendHex(std::string& out, std::string_view text) {
  appendHex(out, {reinterpret_cast<const unsigned char*>(text.data()), text.size()});
}

// One member as "name:kind:payload", the kinds being n (null), t and f (booleans),
// i (an int64 in decimal), d (a double's bits in hex), s (a string's bytes in hex)
// and b (the bytes, in hex, whose Base64 text the string must be).
inline std::string expectation(const Record& record) {
  std::string out;
  for (const Member& member : record.view()) {
    if (!out.empty()) out += ' ';
    appendHex(out, member.name);
    const Value& value = member.value;
    char number[32];
    if (std::holds_alternative<std::nullptr_t>(value)) {
      out += ":n:";
    } else if (auto boolean = std::get_if<bool>(&value)) {
      out += *boolean ? ":t:" : ":f:";
    } else if (auto integer = std::get_if<std::int64_t>(&value)) {
      std::snprintf(number, sizeof number, ":i:%" PRId64, *integer);
      out += number;
    } else if (auto real = std::get_if<double>(&value)) {
      std::snprintf(number, sizeof number, ":d:%016" PRIx64, std::bit_cast<std::uint64_t>(*real));
      out += number;
    } else if (auto text = std::get_if<std::string_view>(&value)) {
      out += ":s:";
      appendHex(out, *text);
    } else {
      out += ":b:";
      appendHex(out, std::get<Base64Text>(value).bytes);
    }
  }
  return out;
}

// Records that line (without its line feed) was produced from record.
inline void log(std::string_view program, const Record& record, std::string_view line) {
  static std::mutex mutex;
  static std::FILE* file = [program]() -> std::FILE* {
    const char* folder = std::getenv("KEL_TEST_OUTPUT");
    if (folder == nullptr || *folder == '\0') return nullptr;
    std::filesystem::path path = std::filesystem::path(folder) / "readback";
    std::filesystem::create_directories(path);
    path /= std::string(program) + ".txt";
    return std::fopen(path.c_str(), "w");
  }();
  if (file == nullptr) return;
  std::string entry = "E " + expectation(record) + "\nL ";
  entry += line;
  entry += '\n';
  std::lock_guard lock(mutex);
  std::fwrite(entry.data(), 1, entry.size(), file);
  std::fflush(file);
}

}  // namespace kel::readback
