#include "metar/timer_clock.h"

namespace sqv64 {

Milliseconds SteadyTimerClock::Now() {
  return std::chrono::duration_cast<Milliseconds>(std::chrono::steady_clock::now() - origin_);
}

void SteadyTimerClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                                 std::optional<Milliseconds> due) {
  if (due)
    wake.wait_until(lock, origin_ + *due);
  else
    wake.wait(lock);
}

Milliseconds ManualTimerClock::Now() {
  std::lock_guard<std::mutex> guard(mutex_);
  return now_;
}

void ManualTimerClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                                 std::optional<Milliseconds> due) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (due && now_ >= *due)
      return;
    waiter_mutex_ = lock.mutex();
    waiter_ = &wake;
  }
  // A move between the check above and this wait cannot be missed: the
  // mover takes `lock`'s mutex before notifying, and gets it only once this
  // thread waits.
  wake.wait(lock);
  std::lock_guard<std::mutex> guard(mutex_);
  waiter_mutex_ = nullptr;
  waiter_ = nullptr;
}

void ManualTimerClock::Set(Milliseconds now) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ = now;
  }
  WakeWaiter();
}

void ManualTimerClock::Advance(Milliseconds by) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    now_ += by;
  }
  WakeWaiter();
}

void ManualTimerClock::WakeWaiter() {
  std::mutex* waiter_mutex = nullptr;
  std::condition_variable* waiter = nullptr;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    waiter_mutex = waiter_mutex_;
    waiter = waiter_;
  }
  if (waiter != nullptr) {
    std::lock_guard<std::mutex> guard(*waiter_mutex);
    waiter->notify_all();
  }
}

}  // namespace sqv64
