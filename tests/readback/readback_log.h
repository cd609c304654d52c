#pragma once
// Logs the JSON lines the unit tests produce for readback.py, each after the members
// it must hold in a form that owes nothing to our writer: name:kind:payload, with names,
// strings and Base64 sources as hex, doubles as their bits. Lines over 256 KiB are left
// out to keep the files small.

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "output/record.h"

namespace kel::readback {

template <typename Bytes>
std::string hex(const Bytes& bytes) {
  std::string out;
  for (unsigned char byte : bytes) out += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  return out;
}

// From one thread at a time. Kinds: n (null), t, f, i (an integer), d (a double's bits),
// s (a string's bytes) and b (the bytes the string is the Base64 text of).
inline void log(const char* program, const Record& record, std::string_view line) {
  static std::FILE* file = [program]() -> std::FILE* {
    const char* folder = std::getenv("KEL_TEST_OUTPUT");
    if (folder == nullptr || *folder == '\0') return nullptr;
    std::filesystem::create_directories(folder);
    return std::fopen((std::string(folder) + '/' + program + ".readback").c_str(), "w");
  }();
  if (file == nullptr || line.size() > (256 << 10)) return;
  std::string entry;
  for (const auto& [name, value] : record.view()) {
    entry += hex(name) + (std::holds_alternative<std::nullptr_t>(value) ? ":n:" : ":");
    if (auto boolean = std::get_if<bool>(&value)) entry += *boolean ? "t:" : "f:";
    if (auto integer = std::get_if<std::int64_t>(&value)) entry += "i:" + std::to_string(*integer);
    if (auto real = std::get_if<double>(&value)) entry += "d:" + std::to_string(std::bit_cast<std::uint64_t>(*real));
    if (auto text = std::get_if<std::string_view>(&value)) entry += "s:" + hex(*text);
    if (auto art = std::get_if<Base64Text>(&value)) entry += "b:" + hex(art->bytes);
    entry += ' ';
  }
  entry += '\t' + std::string(line) + '\n';
  std::fwrite(entry.data(), 1, entry.size(), file);
}

}  // namespace kel::readback
