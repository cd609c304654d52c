#include "mpris/player_lookup.h"

#include <memory>

#include "platform/linux/linux_platform.h"

namespace kel::mpris {
namespace {

// The three objects the lookup walks through for one identifier.
struct LookupObjects {
  std::string identifier;
  ObjectImpl client;
  ObjectImpl path;
  ObjectImpl request;
};

// The set registered now; the bridge's queue only. A set replaced is freed: the
// lookup that could still walk it runs on this same queue, after presentPlayer.
std::unique_ptr<LookupObjects>& presented() {
  static auto* objects = new std::unique_ptr<LookupObjects>;
  return *objects;
}

}  // namespace

void presentPlayer(const std::optional<std::string>& bundleIdentifier) {
  std::unique_ptr<LookupObjects>& current = presented();
  if (!bundleIdentifier) {
    registerClass("MRNowPlayingRequest", nullptr);
    current.reset();
    return;
  }
  if (current != nullptr && current->identifier == *bundleIdentifier) return;
  auto made = std::make_unique<LookupObjects>();
  made->identifier = *bundleIdentifier;
  made->client.selectors["bundleIdentifier"] = {SelectorResult::Kind::string, nullptr, *bundleIdentifier};
  made->path.selectors["client"] = objectResult(&made->client);
  made->request.selectors["localNowPlayingPlayerPath"] = objectResult(&made->path);
  registerClass("MRNowPlayingRequest", &made->request);
  current = std::move(made);
}

}  // namespace kel::mpris
