#pragma once
// The simulated now-playing service, as the host kel-mediaremote-sim sets it up
// before it loads the bridge. The service's entry points live in
// libkelsimservice.so (and in its variants that each lack one entry point).
//
//   std::string problem = kel::sim::configure("steps.jsonl", "calls.jsonl");
//   if (!problem.empty()) { std::fprintf(stderr, "%s\n", problem.c_str()); std::exit(64); }

#include <string>
#include <string_view>

namespace kel::sim {

// Starts the simulator's clock; reads and checks the scenario (scenarioPath empty: the virtual
// player runs instead) and creates or truncates the calls log (callsPath empty: no log).
// Returns an empty string on success, otherwise a one-line message for standard error (the host then exits 64).
// Call it once, before the bridge is loaded.
std::string configure(std::string_view scenarioPath, std::string_view callsPath);

}  // namespace kel::sim
