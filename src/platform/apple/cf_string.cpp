#include "platform/apple/cf_string.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kel {

std::string_view keepString(CFStringRef string, TextStore& store) {
  CFIndex length = CFStringGetLength(string);
  auto size = static_cast<std::size_t>(length);
  // Many strings hold their code units in one piece; the others copy them out.
  if (const UniChar* units = CFStringGetCharactersPtr(string)) {
    return store.keepUtf16(std::span<const std::uint16_t>(units, size));
  }
  std::vector<UniChar> units(size);
  CFStringGetCharacters(string, CFRange{0, length}, units.data());
  return store.keepUtf16(units);
}

CFStringRef createString(std::string_view text) {
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                 static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

}  // namespace kel
