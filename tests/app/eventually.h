// Eventually: waits until a condition holds, for the tests of threads and windows. A guard against
// a hang, not a measure of time: it gives up only after kGuardMs, as the window tests' QTRY_* do,
// so that a machine busy with other work never reaches it.
#pragma once

#include <chrono>
#include <thread>

namespace thread_test {

inline constexpr int kGuardMs = 120000;

template <typename Condition>
bool Eventually(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGuardMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace thread_test
