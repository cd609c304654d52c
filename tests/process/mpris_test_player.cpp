// A test double for an MPRIS player: a process on the session bus that owns
// org.mpris.MediaPlayer2.NAME and says whatever the test tells it to, of any D-Bus
// type, including what no well-behaved player says. mpris_test.py drives it.
//
//   mpris-test-player NAME
//
// Standard input takes one JSON object per line:
//   {"set": {"interface": I, "properties": {NAME: [SIG, VALUE], ...}}}
//       sets properties of I, as Get and GetAll answer them.
//   {"emit": {"interface": I, "member": M, "args": [[SIG, VALUE], ...]}}
//       sends the signal I.M from /org/mpris/MediaPlayer2 with those arguments.
//   {"silent": ["Get", "GetAll", ...]}
//       from now on, never answers those methods (of any interface), and says
//       {"call":"Get"} when one comes.
// A value of signature "v" is written [SIG, VALUE]; "a{sv}" is an object of those.
// Standard output gets {"ready":true} once the name is owned, then a line for each
// Player method called: {"call":"Play"}, {"call":"SetPosition","track":"/t","position":N}.
// The program ends with its standard input.

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

using nlohmann::json;

namespace {

constexpr const char* objectPath = "/org/mpris/MediaPlayer2";
constexpr const char* playerInterface = "org.mpris.MediaPlayer2.Player";

sd_bus* bus = nullptr;
sd_event* event = nullptr;
std::map<std::string, std::map<std::string, json>> properties;  // interface -> name -> [SIG, VALUE]
std::set<std::string> silent;
std::string input;

void say(const json& line) {
  std::string text = line.dump() + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Writes value, of signature sig (one complete type), into message.
int append(sd_bus_message* m, const std::string& sig, const json& value);

template <typename Number>
int appendNumber(sd_bus_message* m, char type, Number number) {
  return sd_bus_message_append_basic(m, type, &number);
}

int appendBasic(sd_bus_message* m, char type, const json& value) {
  switch (type) {
    case 's':
    case 'o':
    case 'g':
      return sd_bus_message_append_basic(m, type, value.get<std::string>().c_str());
    case 'b': return appendNumber<int>(m, type, value.get<bool>() ? 1 : 0);
    case 'y': return appendNumber(m, type, value.get<std::uint8_t>());
    case 'n': return appendNumber(m, type, value.get<std::int16_t>());
    case 'q': return appendNumber(m, type, value.get<std::uint16_t>());
    case 'i': return appendNumber(m, type, value.get<std::int32_t>());
    case 'u': return appendNumber(m, type, value.get<std::uint32_t>());
    case 'x': return appendNumber(m, type, value.get<std::int64_t>());
    case 't': return appendNumber(m, type, value.get<std::uint64_t>());
    case 'd': return appendNumber(m, type, value.get<double>());
    default: return -EINVAL;
  }
}

int append(sd_bus_message* m, const std::string& sig, const json& value) {
  int r = 0;
  if (sig == "v") {
    std::string inner = value.at(0).get<std::string>();
    if ((r = sd_bus_message_open_container(m, 'v', inner.c_str())) < 0) return r;
    if ((r = append(m, inner, value.at(1))) < 0) return r;
    return sd_bus_message_close_container(m);
  }
  if (sig.size() > 1 && sig[0] == 'a') {
    std::string element = sig.substr(1);
    if ((r = sd_bus_message_open_container(m, 'a', element.c_str())) < 0) return r;
    if (element[0] == '{') {
      std::string entry = element.substr(1, element.size() - 2);
      std::string valueSig = entry.substr(1);
      for (const auto& [key, item] : value.items()) {
        if ((r = sd_bus_message_open_container(m, 'e', entry.c_str())) < 0) return r;
        if ((r = appendBasic(m, entry[0], key)) < 0) return r;
        if ((r = append(m, valueSig, item)) < 0) return r;
        if ((r = sd_bus_message_close_container(m)) < 0) return r;
      }
    } else {
      for (const json& item : value) {
        if ((r = append(m, element, item)) < 0) return r;
      }
    }
    return sd_bus_message_close_container(m);
  }
  if (sig.size() != 1) return -EINVAL;
  return appendBasic(m, sig[0], value);
}

int answerProperties(sd_bus_message* m, const char* member) {
  const char* interface = nullptr;
  if (sd_bus_message_read_basic(m, 's', &interface) < 0) return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_INVALID_ARGS, "no interface");
  auto& table = properties[interface];
  sd_bus_message* reply = nullptr;
  if (std::strcmp(member, "GetAll") == 0) {
    sd_bus_message_new_method_return(m, &reply);
    sd_bus_message_open_container(reply, 'a', "{sv}");
    for (const auto& [name, typed] : table) {
      sd_bus_message_open_container(reply, 'e', "sv");
      sd_bus_message_append_basic(reply, 's', name.c_str());
      append(reply, "v", typed);
      sd_bus_message_close_container(reply);
    }
    sd_bus_message_close_container(reply);
  } else {
    const char* name = nullptr;
    if (sd_bus_message_read_basic(m, 's', &name) < 0) return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_INVALID_ARGS, "no name");
    auto found = table.find(name);
    if (found == table.end()) return sd_bus_reply_method_errorf(m, SD_BUS_ERROR_UNKNOWN_PROPERTY, "no %s", name);
    sd_bus_message_new_method_return(m, &reply);
    append(reply, "v", found->second);
  }
  int r = sd_bus_send(nullptr, reply, nullptr);
  sd_bus_message_unref(reply);
  return r < 0 ? r : 1;
}

// Every method call on the object comes here.
int onCall(sd_bus_message* m, void*, sd_bus_error*) {
  const char* member = sd_bus_message_get_member(m);
  const char* interface = sd_bus_message_get_interface(m);
  if (member == nullptr || interface == nullptr) return 0;
  // A player that hangs: the call is taken and never answered.
  if (silent.count(member) != 0) {
    say({{"call", member}});
    return 1;
  }
  if (std::strcmp(interface, "org.freedesktop.DBus.Properties") == 0 &&
      (std::strcmp(member, "Get") == 0 || std::strcmp(member, "GetAll") == 0)) {
    return answerProperties(m, member);
  }
  if (std::strcmp(interface, playerInterface) == 0) {
    json line = {{"call", member}};
    if (std::strcmp(member, "SetPosition") == 0) {
      const char* track = nullptr;
      std::int64_t position = 0;
      if (sd_bus_message_read(m, "ox", &track, &position) >= 0) {
        line["track"] = track;
        line["position"] = position;
      }
    }
    say(line);
    if (sd_bus_message_get_expect_reply(m) > 0) return sd_bus_reply_method_return(m, nullptr);
    return 1;
  }
  return 0;
}

void emit(const json& what) {
  std::string interface = what.at("interface").get<std::string>();
  std::string member = what.at("member").get<std::string>();
  sd_bus_message* signal = nullptr;
  if (sd_bus_message_new_signal(bus, &signal, objectPath, interface.c_str(), member.c_str()) < 0) return;
  for (const json& arg : what.value("args", json::array())) append(signal, arg.at(0).get<std::string>(), arg.at(1));
  sd_bus_send(bus, signal, nullptr);
  sd_bus_message_unref(signal);
}

void handleLine(const std::string& line) {
  json command = json::parse(line);
  if (command.contains("set")) {
    auto& table = properties[command["set"].at("interface").get<std::string>()];
    for (const auto& [name, typed] : command["set"].at("properties").items()) table[name] = typed;
  }
  if (command.contains("emit")) emit(command["emit"]);
  if (command.contains("silent")) silent = command["silent"].get<std::set<std::string>>();
  say({{"done", true}});
}

int onInput(sd_event_source*, int fd, std::uint32_t, void*) {
  char buffer[65536];
  ssize_t got = read(fd, buffer, sizeof buffer);
  if (got <= 0) {
    sd_event_exit(event, 0);
    return 0;
  }
  input.append(buffer, static_cast<std::size_t>(got));
  for (auto end = input.find('\n'); end != std::string::npos; end = input.find('\n')) {
    std::string line = input.substr(0, end);
    input.erase(0, end + 1);
    if (!line.empty()) handleLine(line);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mpris-test-player NAME\n");
    return 64;
  }
  std::string name = std::string("org.mpris.MediaPlayer2.") + argv[1];
  if (sd_event_default(&event) < 0 || sd_bus_open_user(&bus) < 0 || sd_bus_attach_event(bus, event, 0) < 0 ||
      sd_bus_add_object(bus, nullptr, objectPath, onCall, nullptr) < 0 || sd_bus_request_name(bus, name.c_str(), 0) < 0) {
    std::fprintf(stderr, "mpris-test-player: cannot own %s on the session bus\n", name.c_str());
    return 1;
  }
  say({{"ready", true}});
  sd_event_add_io(event, nullptr, STDIN_FILENO, EPOLLIN, onInput, nullptr);
  return sd_event_loop(event) < 0 ? 1 : 0;
}
