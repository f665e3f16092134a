#include "metar/event_loop.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace sqv64 {

EventLoop::EventLoop(TimerClock& clock, ErrorSink errors)
    : clock_(clock), errors_(std::move(errors)) {}

EventLoop::TimerId EventLoop::AddTimer(Handler handler, Milliseconds period, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  timers_.push_back({std::move(handler), period, enabled, clock_.Now() + period});
  return timers_.size() - 1;
}

void EventLoop::SetEnabled(TimerId timer, bool enabled) {
  std::lock_guard<std::mutex> lock(mutex_);
  Timer& entry = timers_.at(timer);
  if (enabled && !entry.enabled)
    entry.due = clock_.Now() + entry.period;
  entry.enabled = enabled;
  wake_.notify_all();
}

void EventLoop::SetPeriod(TimerId timer, Milliseconds period) {
  std::lock_guard<std::mutex> lock(mutex_);
  Timer& entry = timers_.at(timer);
  if (period == entry.period)
    return;
  entry.period = period;
  entry.due = clock_.Now() + period;
  wake_.notify_all();
}

bool EventLoop::Enabled(TimerId timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.at(timer).enabled;
}

Milliseconds EventLoop::Period(TimerId timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  return timers_.at(timer).period;
}

std::optional<Milliseconds> EventLoop::DueOf(TimerId timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Timer& entry = timers_.at(timer);
  if (!entry.enabled)
    return std::nullopt;
  return entry.due;
}

void EventLoop::Post(Handler task) {
  std::lock_guard<std::mutex> lock(mutex_);
  tasks_.push_back(std::move(task));
  wake_.notify_all();
}

void EventLoop::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  wake_.notify_all();
}

std::optional<Milliseconds> EventLoop::EarliestDueLocked() const {
  std::optional<Milliseconds> earliest;
  for (const Timer& timer : timers_) {
    if (timer.enabled && (!earliest || timer.due < *earliest))
      earliest = timer.due;
  }
  return earliest;
}

void EventLoop::RunGuarded(const Handler& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    errors_(error.what());
  } catch (...) {
    errors_("unknown error");
  }
}

bool EventLoop::RunOneReady(Milliseconds now, Milliseconds limit) {
  Handler handler;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_)
      return false;
    if (!tasks_.empty()) {
      handler = std::move(tasks_.front());
      tasks_.pop_front();
    } else {
      Timer* next = nullptr;
      for (Timer& timer : timers_) {
        if (timer.enabled && timer.due <= limit && (next == nullptr || timer.due < next->due))
          next = &timer;
      }
      if (next == nullptr)
        return false;
      // The next tick is counted from this one; a handler that changes the
      // timer overrides it.
      next->due = now + next->period;
      handler = next->handler;
    }
  }
  RunGuarded(handler);
  return true;
}

void EventLoop::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopped_) {
    lock.unlock();
    Milliseconds now = clock_.Now();
    bool ran = RunOneReady(now, now);
    lock.lock();
    if (ran || stopped_ || !tasks_.empty())
      continue;
    std::optional<Milliseconds> due = EarliestDueLocked();
    if (due && *due <= clock_.Now())
      continue;
    clock_.WaitUntil(lock, wake_, due);
  }
}

void EventLoop::RunUntil(ManualTimerClock& clock, Milliseconds until) {
  if (&clock != &clock_)
    throw std::logic_error("RunUntil needs the loop's own clock");
  for (;;) {
    if (RunOneReady(clock.Now(), std::min(clock.Now(), until)))
      continue;
    std::optional<Milliseconds> due;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopped_)
        return;
      due = EarliestDueLocked();
    }
    if (due && *due <= until) {
      if (*due > clock.Now())
        clock.Set(*due);
      continue;
    }
    if (clock.Now() < until) {
      clock.Set(until);
      continue;
    }
    return;
  }
}

}  // namespace sqv64
