#include "service/service.h"

#include "platform/io.h"

namespace kel {

std::optional<std::array<void*, entryPointNames.size()>> resolveEntryPoints(const char* path) {
  // The handle is never closed: the entry points are used until the process ends.
  void* library = openLibrary(path);
  if (library == nullptr) return std::nullopt;
  std::array<void*, entryPointNames.size()> entries{};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i] = findSymbol(library, entryPointNames[i]);
    if (entries[i] == nullptr) return std::nullopt;
  }
  return entries;
}

}  // namespace kel
