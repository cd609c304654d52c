// The simulated service's answering rules that a host cannot see: an answer runs on
// the caller's queue, never inside the query call, and carries the state as it was
// when the query was made, whatever changed before the answer ran.

#include <atomic>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/info_value.h"
#include "sim/simulator.h"

namespace kel::sim {
namespace {

using namespace std::chrono_literals;

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
