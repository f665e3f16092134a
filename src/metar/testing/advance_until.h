// For the weather tests: moves a manual timer clock on by `step` at a time,
// giving the event thread a moment after each step, until `condition`
// holds; false after 15 seconds of real time.
#pragma once

#include <chrono>

#include "metar/timer_clock.h"
#include "support/eventually.h"

namespace sqv64::testing_support {

template <typename Condition>
bool AdvanceUntil(ManualTimerClock& clock, std::chrono::milliseconds step, Condition condition) {
  return Eventually([&] {
    if (condition())
      return true;
    clock.Advance(step);
    return false;
  });
}

}  // namespace sqv64::testing_support
