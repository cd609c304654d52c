// The player lookup: the class "MRNowPlayingRequest", its player path and the
// path's client, built as objects of the stand-in class registry.

#include <memory>
#include <utility>

#include "sim/simulator.h"

namespace kel::sim {
namespace {

constexpr std::string_view lookupClassName = "MRNowPlayingRequest";

// Note: the bridge may hold an object of an earlier lookup while a scenario
// replaces it, as it may hold an Objective-C object, so no object is ever freed.
// The list itself is never destroyed either.
ObjectImpl* keep(std::unique_ptr<ObjectImpl> object) {
  static std::mutex& mutex = *new std::mutex;
  static auto& kept = *new std::vector<std::unique_ptr<ObjectImpl>>;
  std::lock_guard lock(mutex);
  kept.push_back(std::move(object));
  return kept.back().get();
}

SelectorResult objectResult(Object object) {
  SelectorResult result;
  result.kind = SelectorResult::Kind::object;
  result.object = object;
  return result;
}

}  // namespace

void installPlayerLookup(const PlayerLookup& lookup) {
  if (lookup.stage == LookupStage::noClass) {
    registerClass(lookupClassName, nullptr);
    return;
  }
  // Built from the inside out, so that each object is complete before anything
  // refers to it.
  auto client = std::make_unique<ObjectImpl>();
  if (lookup.parentApplicationBundleIdentifier) {
    client->selectors.emplace("parentApplicationBundleIdentifier", *lookup.parentApplicationBundleIdentifier);
  }
  if (lookup.bundleIdentifier) client->selectors.emplace("bundleIdentifier", *lookup.bundleIdentifier);

  auto path = std::make_unique<ObjectImpl>();
  if (lookup.stage == LookupStage::nilClient) path->selectors.emplace("client", SelectorResult{});
  if (lookup.stage == LookupStage::client) path->selectors.emplace("client", objectResult(keep(std::move(client))));

  auto cls = std::make_unique<ObjectImpl>();
  if (lookup.stage == LookupStage::nilPath) cls->selectors.emplace("localNowPlayingPlayerPath", SelectorResult{});
  if (lookup.stage >= LookupStage::noClientSelector) {
    cls->selectors.emplace("localNowPlayingPlayerPath", objectResult(keep(std::move(path))));
  }
  registerClass(lookupClassName, keep(std::move(cls)));
}

}  // namespace kel::sim
