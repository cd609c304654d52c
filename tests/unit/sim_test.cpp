// The simulated service: the scenario reader's typed values and the errors that
// name the line, and the answering rules a host cannot see: an answer runs on the
// caller's queue, never inside the query call, with the state as it was at the query.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <charconv>
#include <future>
#include <thread>

#include "platform/info_value.h"
#include "sim/scenario.h"
#include "sim/simulator.h"
#include "support.h"

namespace kel::sim {
namespace {

using namespace std::chrono_literals;

// A state step that sets the info key "k" to value, and a typed value of Base64 text.
std::string infoLine(const std::string& value) { return R"({"state": {"info": {"k": )" + value + "}}}"; }
std::string base64(const std::string& text) { return R"({"base64": ")" + text + "\"}"; }

// The entry that a state step setting "k" to value gives, as its kind and its value.
std::string readValue(const std::string& value) {
  Scenario scenario = readScenario(infoLine(value), "v.jsonl");
  EXPECT_EQ(scenario.error, "") << value;
  const InfoEntry& entry = scenario.steps.at(0).state.info->entries.at("k");
  std::array<char, 40> real{};
  std::to_chars(real.data(), real.data() + real.size(), entry.real);
  const char* kinds[] = {"absent", "string", "integer", "real", "boolean", "date", "bytes", "other"};
  std::string shown = entry.kind == InfoKind::integer ? std::to_string(entry.integer)
                      : entry.kind == InfoKind::bytes ? std::string(entry.bytes.begin(), entry.bytes.end()) : real.data();
  return kinds[int(entry.kind)] + (entry.kind == InfoKind::other ? "" : " " + shown);
}

TEST(ScenarioReaderTest, ReadsTypedValues) {
  const std::vector<std::uint8_t> bytes = test::pattern(1000);  // What {"bytes": 1000} stands for.
  const std::string generated(bytes.begin(), bytes.end());
  // An integer literal within 64 bits is an integer; any other number is a real.
  const std::pair<std::string, std::string> cases[] = {
      {"-42", "integer -42"}, {"9223372036854775807", "integer 9223372036854775807"},
      {"-9223372036854775808", "integer -9223372036854775808"}, {"9223372036854775808", "real 9223372036854775808"},
      {"3.0", "real 3"}, {"1E-2", "real 0.01"}, {R"({"real": 3})", "real 3"}, {R"({"real": "-inf"})", "real -inf"},
      {R"({"real": "nan"})", "real nan"}, {R"({"date": 1700000000.25})", "date 1700000000.25"},
      {R"({"date": "inf"})", "date inf"}, {R"({"date": "nan"})", "date nan"}, {R"({"other": true})", "other"},
      {R"({"bytes": 0})", "bytes "}, {R"({"bytes": 1000})", "bytes " + generated},
      // The test vectors of RFC 4648, and the two digits beyond letters and numbers.
      {base64(""), "bytes "}, {base64("Zg=="), "bytes f"}, {base64("Zm8="), "bytes fo"}, {base64("Zm9v"), "bytes foo"},
      {base64("Zm9vYg=="), "bytes foob"}, {base64("Zm9vYmE="), "bytes fooba"}, {base64("Zm9vYmFy"), "bytes foobar"},
      {base64("+/+/"), "bytes \xfb\xff\xbf"},
  };
  for (const auto& [json, expected] : cases) EXPECT_EQ(readValue(json), expected) << json;
}

TEST(ScenarioReaderTest, RejectsMalformedLinesNamingTheLine) {
  auto player = [](const std::string& lookup) { return R"({"state": {"player": )" + lookup + "}}"; };
  // A line, and a part of the message it must give: one case for each kind of mistake.
  std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"sleep": 10)", "not a JSON value"}, {"{\"post\": \"\xff\"}", "not a JSON value"},
      {infoLine("1e999"), "not a JSON value"}, {R"({"sleep": 1, "post": "x"})", "exactly one member"},
      {R"({"sleep": 1, "sleep": 2})", "\"sleep\" is repeated"}, {R"({"Sleep": 1})", "unknown step \"Sleep\""},
      {R"({"sleep": 10.0})", "\"sleep\" takes whole milliseconds"}, {R"({"answers": "Now"})", "\"answers\" takes"},
      {R"({"post": ""})", "\"post\" takes the name"}, {R"({"state": {"volume": 3}})", "no part \"volume\""},
      {R"({"state": {"playing": 256}})", "\"playing\" takes"}, {player(R"({"path": "x"})"), "\"path\" takes"},
      {player(R"({"client": {"name": "a"}})"), "selector \"name\""}, {infoLine("null"), "info \"k\": null is not a value"},
      {infoLine(R"({"real": 1, "date": 2})"), "a typed value is an object of one member"},
      {infoLine(R"({"integer": 1})"), "unknown typed value \"integer\""},
      {infoLine(R"({"bytes": 67108865})"), "\"bytes\" takes a count"},
      {infoLine(R"({"file": "/nonexistent/cover.jpg"})"), "\"file\" takes the path of a readable file"},
  };
  // Base64 with a pad missing, misplaced or hiding set bits, whitespace, or the URL-safe digits.
  for (const char* text : {"abc", "ab=c", "a b=", "TR==", "TWF=", "TQ==TQ==", "TW-A", "TW_A"})
    cases.push_back({infoLine(base64(text)), "\"base64\" takes"});
  for (const auto& [line, problem] : cases) {
    // Two good lines and a blank one first, so that the number counts every line.
    Scenario scenario = readScenario("{\"sleep\": 1}\n\n" + line + "\n{\"sleep\": 2}\n", "bad.jsonl");
    const std::string& error = scenario.error;
    EXPECT_TRUE(scenario.steps.empty() && error.rfind("bad.jsonl:3: ", 0) == 0 &&
                error.find(problem) != std::string::npos && error.find('\n') == std::string::npos)
        << line << "\n  gave: " << error;
  }
}

// Set once the query calls have returned and the caller's queue is let go.
std::atomic<bool> released{false};

// Where and when an answer ran, and what it carried.
struct Answer { std::thread::id thread; bool afterRelease = false; int playing = -1; std::string title; };

void reply(void* context, int playing, std::string_view title) {
  Answer answer{std::this_thread::get_id(), released, playing, std::string(title)};
  static_cast<std::promise<Answer>*>(context)->set_value(answer);
}

// The answer once it has come, checked to have run on thread after the queue was let go.
Answer awaitAnswer(std::promise<Answer>& promise, std::thread::id thread) {
  auto future = promise.get_future();
  Answer answer = future.wait_for(10s) == std::future_status::ready ? future.get() : Answer{};
  EXPECT_EQ(answer.thread, thread) << "an answer that never came has no thread";
  EXPECT_TRUE(answer.afterRelease);
  return answer;
}

void run(const char* line) { runStep(readScenario(line, "step.jsonl").steps.at(0)); }

TEST(ServiceAnswersTest, AnswersComeOnTheQueueAfterTheCallWithTheStateAsAtTheQuery) {
  // Until configure runs, the simulator serves an empty scenario, which these steps change.
  for (const char* rule : {R"({"answers": "now"})", R"({"answers": 200})"}) {
    SCOPED_TRACE(rule);
    run(rule);
    run(R"({"state": {"playing": 3, "info": {"title": "A"}}})");
    // The queue is held until the query calls have returned and the state has changed.
    Queue queue = createQueue("test.answers");
    std::promise<std::thread::id> queueThread;
    std::promise<void> release;
    released = false;
    submit(queue, [&queueThread, held = release.get_future().share()] {
      queueThread.set_value(std::this_thread::get_id());
      held.wait_for(10s);
    });
    std::promise<Answer> isPlaying, info;
    getNowPlayingApplicationIsPlaying(queue, [](void* c, std::uint8_t playing) { reply(c, playing, ""); }, &isPlaying);
    auto replyTitle = [](void* c, InfoDictionary d) {
      TextStore store;
      reply(c, -1, readInfo(d, "title", store).text);
    };
    getNowPlayingInfo(queue, replyTitle, &info);
    run(R"({"state": {"playing": 0, "info": {"title": "B"}}})");
    released = true;
    release.set_value();

    std::thread::id thread = queueThread.get_future().get();
    EXPECT_EQ(awaitAnswer(isPlaying, thread).playing, 3);
    EXPECT_EQ(awaitAnswer(info, thread).title, "A");
  }
}

}  // namespace
}  // namespace kel::sim
