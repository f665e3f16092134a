#include "metar/event_loop.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace sqv64 {
namespace {

using std::chrono::milliseconds;

class EventLoopTest : public ::testing::Test {
 protected:
  EventLoop::TimerId Recorded(const std::string& name, milliseconds period, bool enabled) {
    return loop_.AddTimer([this, name] { ticks_.push_back(name + "@" + Now()); }, period, enabled);
  }
  std::string Now() { return std::to_string(clock_.Now().count()); }

  ManualTimerClock clock_;
  std::vector<std::string> errors_;
  EventLoop loop_{clock_, [this](const std::string& message) { errors_.push_back(message); }};
  std::vector<std::string> ticks_;
};

TEST_F(EventLoopTest, TimersTickByTheirPeriodsInTimeOrder) {
  Recorded("a", milliseconds(300), true);
  Recorded("b", milliseconds(500), true);
  Recorded("c", milliseconds(100), false);
  loop_.RunUntil(clock_, milliseconds(1000));
  EXPECT_EQ(ticks_, (std::vector<std::string>{"a@300", "b@500", "a@600", "a@900", "b@1000"}));
  EXPECT_EQ(clock_.Now(), milliseconds(1000));
}

TEST_F(EventLoopTest, OnlyARealChangeRestartsATimersCount) {
  auto timer = Recorded("a", milliseconds(1000), true);
  loop_.RunUntil(clock_, milliseconds(400));
  loop_.SetPeriod(timer, milliseconds(1000));  // the same period: no change
  loop_.SetEnabled(timer, true);               // already enabled: no change
  loop_.RunUntil(clock_, milliseconds(1000));
  EXPECT_EQ(ticks_, (std::vector<std::string>{"a@1000"}));
  loop_.RunUntil(clock_, milliseconds(1500));
  loop_.SetPeriod(timer, milliseconds(2000));  // counted afresh from 1500
  loop_.RunUntil(clock_, milliseconds(3600));
  loop_.SetEnabled(timer, false);
  loop_.RunUntil(clock_, milliseconds(4000));
  loop_.SetEnabled(timer, true);  // counted afresh from 4000
  loop_.RunUntil(clock_, milliseconds(6000));
  EXPECT_EQ(ticks_, (std::vector<std::string>{"a@1000", "a@3500", "a@6000"}));
}

TEST_F(EventLoopTest, AHandlerThatBlocksDelaysTasksAndCollapsesOverdueTicks) {
  auto slow = loop_.AddTimer(
      [this] {
        ticks_.push_back("slow@" + Now());
        loop_.Post([this] { ticks_.push_back("posted@" + Now()); });
        clock_.Advance(milliseconds(3500));  // the handler blocks for 3.5 s
      },
      milliseconds(5000), true);
  Recorded("watch", milliseconds(1000), true);
  loop_.RunUntil(clock_, milliseconds(10000));
  loop_.SetEnabled(slow, false);
  EXPECT_EQ(ticks_, (std::vector<std::string>{
                        "watch@1000", "watch@2000", "watch@3000", "watch@4000", "slow@5000",
                        "posted@8500", "watch@8500", "watch@9500", "slow@10000", "posted@13500"}));
}

TEST_F(EventLoopTest, AnErrorEscapingAHandlerIsReportedAndTheLoopGoesOn) {
  int calls = 0;
  loop_.AddTimer(
      [&] {
        if (++calls == 1)
          throw std::runtime_error("I/O error 28");
      },
      milliseconds(100), true);
  loop_.Post([] { throw 42; });
  loop_.RunUntil(clock_, milliseconds(300));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(errors_, (std::vector<std::string>{"unknown error", "I/O error 28"}));
}

TEST_F(EventLoopTest, AStoppedLoopRunsNothingMore) {
  Recorded("a", milliseconds(100), true);
  loop_.Stop();
  loop_.RunUntil(clock_, milliseconds(1000));
  loop_.Run();
  EXPECT_TRUE(ticks_.empty());
}

}  // namespace
}  // namespace sqv64
