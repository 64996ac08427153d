// Eventually: waits until a condition holds, for the tests of threads. A guard against a hang, not
// a measure of time: it gives up only after a minute.
#pragma once

#include <chrono>
#include <thread>

namespace thread_test {

template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace thread_test
