#include "mpris/player_lookup.h"

#include <map>
#include <memory>

#include "platform/linux/standin.h"

namespace kel::mpris {
namespace {

// The three objects the lookup walks through for one identifier. Immutable once
// registered.
struct LookupObjects {
  ObjectImpl client;
  ObjectImpl path;
  ObjectImpl request;
};

// Registered objects must live until the process ends, and the registry holds
// fixed results; one set per identifier, reused when the player comes back,
// keeps that from growing with every change. Bus thread only.
std::map<std::string, std::unique_ptr<LookupObjects>, std::less<>>& lookupObjects() {
  static auto* objects = new std::map<std::string, std::unique_ptr<LookupObjects>, std::less<>>;
  return *objects;
}

const LookupObjects& objectsFor(const std::string& identifier) {
  auto& objects = lookupObjects();
  auto found = objects.find(identifier);
  if (found != objects.end()) return *found->second;
  auto made = std::make_unique<LookupObjects>();
  made->client.selectors["bundleIdentifier"] = {SelectorResult::Kind::string, nullptr, identifier};
  made->path.selectors["client"] = {SelectorResult::Kind::object, &made->client, {}};
  made->request.selectors["localNowPlayingPlayerPath"] = {SelectorResult::Kind::object, &made->path, {}};
  return *objects.emplace(identifier, std::move(made)).first->second;
}

}  // namespace

void presentPlayer(const std::optional<std::string>& bundleIdentifier) {
  registerClass("MRNowPlayingRequest", bundleIdentifier ? &objectsFor(*bundleIdentifier).request : nullptr);
}

}  // namespace kel::mpris
