// Waiting, in tests, for something that another thread or process brings
// about: polls `condition` until it holds or `limit` of real time passed.
#pragma once

#include <chrono>
#include <thread>

namespace sqv64::testing_support {

template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace sqv64::testing_support
