// The event thread's loop: periodic timers and tasks posted from other
// threads, all run one after another on the one thread that runs the loop.
// A handler that blocks (a download run) simply delays everything else:
// ticks and tasks that come due meanwhile run after it returns, a timer's
// overdue ticks collapsing into one.
//
// Timers behave like window timers: a timer ticks every period counted from
// its last tick; changing its period or enabling it while disabled starts
// the count afresh from that moment; setting the period it already has, or
// enabling it while enabled, changes nothing.
//
// An exception escaping a handler or task ends only that handler: its
// message goes to the error sink and the loop goes on.
//
// Thread safety: AddTimer before the loop runs; every other member may be
// called from any thread. Run and RunUntil are for one thread at a time.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "metar/timer_clock.h"

namespace sqv64 {

class EventLoop {
 public:
  using Handler = std::function<void()>;
  using ErrorSink = std::function<void(const std::string& message)>;
  using TimerId = std::size_t;

  // `clock` must outlive the loop.
  EventLoop(TimerClock& clock, ErrorSink errors);

  TimerId AddTimer(Handler handler, Milliseconds period, bool enabled);
  void SetEnabled(TimerId timer, bool enabled);
  void SetPeriod(TimerId timer, Milliseconds period);
  bool Enabled(TimerId timer);
  Milliseconds Period(TimerId timer);
  // When the timer ticks next, on the loop's clock; nullopt while disabled.
  std::optional<Milliseconds> DueOf(TimerId timer);

  // Runs `task` on the loop's thread, after the handler running now.
  void Post(Handler task);

  // Runs the loop on the calling thread, waiting by the clock, until Stop.
  void Run();
  // Ends Run after the handler running now; later calls of Run return at
  // once.
  void Stop();

  // For tests on a ManualTimerClock (the loop's own clock): runs, on the
  // calling thread, every task and every tick due up to `until`, setting
  // the clock to each tick's due time before running it, and leaves the
  // clock at `until` (or later, when a handler moved it further; ticks due
  // after `until` are left for the next call).
  void RunUntil(ManualTimerClock& clock, Milliseconds until);

 private:
  struct Timer {
    Handler handler;
    Milliseconds period;
    bool enabled = false;
    Milliseconds due{0};
  };

  // Runs one posted task, or one tick due by `limit`, the next tick then
  // counted from `now`; false when there was none.
  bool RunOneReady(Milliseconds now, Milliseconds limit);
  std::optional<Milliseconds> EarliestDueLocked() const;
  void RunGuarded(const Handler& handler);

  TimerClock& clock_;
  ErrorSink errors_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Timer> timers_;
  std::deque<Handler> tasks_;
  bool stopped_ = false;
};

}  // namespace sqv64
