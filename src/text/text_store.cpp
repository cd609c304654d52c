#include "text/text_store.h"

#include <utility>

#include "text/utf8.h"

namespace kel {

std::string_view TextStore::keep(std::string text) {
  return texts.emplace_front(std::move(text));
}

std::string_view TextStore::keepUtf16(std::span<const std::uint16_t> units) {
  return keep(utf8FromUtf16(units));
}

}  // namespace kel
