#include "platform/info_value.h"
#include "platform/linux/linux_platform.h"

#include <span>

namespace kel {

bool infoIsEmpty(InfoDictionary info) {
  return info == nullptr || info->entries.empty();
}

// The Linux dictionary holds its texts as UTF-8 already, so the store is not needed.
InfoValue readInfo(InfoDictionary info, std::string_view key, TextStore&) {
  InfoValue value;
  if (info == nullptr) return value;
  auto found = info->entries.find(key);
  if (found == info->entries.end()) return value;
  const InfoEntry& entry = found->second;
  value.kind = entry.kind;
  value.text = entry.text;
  value.integer = entry.integer;
  value.real = entry.real;
  value.boolean = entry.boolean;
  value.bytes = entry.sharedBytes != nullptr ? std::span(*entry.sharedBytes) : std::span(entry.bytes);
  return value;
}

}  // namespace kel
