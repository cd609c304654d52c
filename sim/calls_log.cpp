// The calls log: one JSON line for every call the bridge makes into the service and
// for every notification the simulator posts, so that tests can check what the
// bridge did and when.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

#include "sim/simulator.h"

namespace kel::sim {
namespace {

struct CallsLog {
  std::mutex mutex;
  std::FILE* file = nullptr;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

// Note: never destroyed, like the simulator's state: calls may come in while the
// process exits.
CallsLog& callsLog() {
  static CallsLog& log = *new CallsLog;
  return log;
}

// Adds "t" and writes the line, all under the lock, so that lines never interleave
// and their times rise from one line to the next.
void writeLine(nlohmann::json line) {
  CallsLog& log = callsLog();
  std::lock_guard lock(log.mutex);
  if (log.file == nullptr) return;
  std::chrono::duration<double> since = std::chrono::steady_clock::now() - log.start;
  line["t"] = since.count();
  std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), log.file);
  std::fflush(log.file);
}

}  // namespace

void startClock() {
  CallsLog& log = callsLog();
  std::lock_guard lock(log.mutex);
  log.start = std::chrono::steady_clock::now();
}

double secondsSinceStart() {
  CallsLog& log = callsLog();
  std::lock_guard lock(log.mutex);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - log.start).count();
}

std::string openCallsLog(std::string_view path) {
  CallsLog& log = callsLog();
  std::lock_guard lock(log.mutex);
  if (log.file != nullptr) std::fclose(std::exchange(log.file, nullptr));
  if (path.empty()) return {};
  std::string name(path);
  log.file = std::fopen(name.c_str(), "w");
  if (log.file == nullptr) return "cannot create the calls log " + name + ": " + std::strerror(errno);
  return {};
}

void logCall(std::string_view call) {
  writeLine({{"call", call}});
}

void logCommand(std::int32_t code) {
  writeLine({{"call", "command"}, {"code", code}});
}

void logSeek(double seconds) {
  writeLine({{"call", "seek"}, {"seconds", seconds}});
}

void postLogged(std::string_view name) {
  writeLine({{"post", name}});
  postNotification(name);
}

}  // namespace kel::sim
