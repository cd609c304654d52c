#pragma once
// What the unit tests share: reference encoders written from the RFCs, not from our
// code, the bytes the tests feed, and waiting for a queue.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/queue.h"

namespace kel::test {

// The UTF-8 bit layout of RFC 3629, for any number up to 0x1FFFFF (surrogates too).
std::string utf8(char32_t c);

// Base64 text of RFC 4648, section 4: six bits at a time off a bit queue, "=" to a
// multiple of four.
std::string base64(std::span<const std::uint8_t> bytes);

// Bytes whose pattern repeats every 251 bytes, which no power-of-two stride lines up with.
std::vector<std::uint8_t> pattern(std::size_t size);

// Bytes from a fixed seed, so that a failure repeats.
std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed);

// Returns once every task submitted to queue before the call has run.
void drain(Queue queue);

}  // namespace kel::test
