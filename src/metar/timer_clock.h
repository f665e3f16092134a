// The clock the event loop's timers run on: the steady clock of the machine
// in the service, a clock that a test moves by hand otherwise, so that hours
// of schedule pass in milliseconds.
//
// Thread safety: every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace sqv64 {

using Milliseconds = std::chrono::milliseconds;

class TimerClock {
 public:
  virtual ~TimerClock() = default;
  // Time since the clock's own origin.
  virtual Milliseconds Now() = 0;
  // Called with `lock` held: waits on `wake` until Now() reaches `due` (or
  // without end when there is none) or until `wake` is notified; it may
  // return early.
  virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                         std::optional<Milliseconds> due) = 0;
};

class SteadyTimerClock final : public TimerClock {
 public:
  Milliseconds Now() override;
  void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                 std::optional<Milliseconds> due) override;

 private:
  const std::chrono::steady_clock::time_point origin_ = std::chrono::steady_clock::now();
};

// Moves only when told to. A loop waiting on it wakes up when it moves.
class ManualTimerClock final : public TimerClock {
 public:
  Milliseconds Now() override;
  void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                 std::optional<Milliseconds> due) override;

  void Set(Milliseconds now);
  void Advance(Milliseconds by);

 private:
  void WakeWaiter();

  std::mutex mutex_;
  Milliseconds now_{0};
  std::mutex* waiter_mutex_ = nullptr;
  std::condition_variable* waiter_ = nullptr;
};

}  // namespace sqv64
