// The pacer on its own thread: it asks for ticks as they fall due, none while its clock is paused
// (a pause under its guard is never followed by a tick of the burst it interrupted), exactly one
// for a step, none once stopped; a stall of its own is made up within the cap and the rest slips;
// a simulation that is not ready has the periods deferred. Nothing here measures time: the waits
// only give a wrong request the chance to show.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "app/tick_pacer.h"
#include "tests/app/eventually.h"

namespace {

constexpr int64_t kPeriodNs = 10'000'000;

using thread_test::Eventually;

void Wait(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

TEST(TickPacer, AsksForTicksAsTheyFallDueNoneWhilePausedOneForAStepNoneOnceStopped) {
  TickPacer pacer(kPeriodNs);
  std::atomic<int> asked{0};
  pacer.Start([] { return true; }, [&] { ++asked; });
  ASSERT_TRUE(Eventually([&] { return asked >= 5; }));

  // With the guard held, the count is exact: the pacer asks only while it holds it.
  const auto control = [&](const auto& change) {
    const std::lock_guard<std::mutex> lock(pacer.Guard());
    change(pacer.Clock());
    return asked.load();
  };
  const int paused = control([](TickClock& c) { c.Pause(TickPacer::Now()); });
  pacer.Wake();
  Wait(50);
  EXPECT_EQ(asked, paused);

  control([](TickClock& c) { c.RequestStep(); });
  pacer.Wake();
  ASSERT_TRUE(Eventually([&] { return asked == paused + 1; }));
  Wait(50);
  EXPECT_EQ(asked, paused + 1);

  control([](TickClock& c) { c.Resume(TickPacer::Now()); });
  pacer.Wake();
  ASSERT_TRUE(Eventually([&] { return asked >= paused + 5; }));
  pacer.Stop();
  const int stopped = asked;
  Wait(50);
  EXPECT_EQ(asked, stopped);
}

// A pacer held up for half a second delivers at most the cap in its next burst, and the rest
// slips; a simulation that takes no ticks has every period deferred, none slipped.
TEST(TickPacer, AStallOfItsOwnSlipsBeyondTheCapABusySimulationDefers) {
  for (const bool ready : {true, false}) {
    SCOPED_TRACE(ready ? "stalled" : "not ready");
    TickPacer pacer(kPeriodNs);
    std::atomic<int> asked{0};
    pacer.Start([ready] { return ready; }, [&] { ++asked; });
    if (ready) {
      ASSERT_TRUE(Eventually([&] { return asked >= 2; }));
      pacer.Stall(500'000'000);
    }
    const auto counts = [&] {
      const std::lock_guard<std::mutex> lock(pacer.Guard());
      return std::pair{pacer.Clock().SlippedTicks(), pacer.Clock().DeferredTicks()};
    };
    ASSERT_TRUE(Eventually([&] {
      return ready ? counts().first >= 50 - TickClock::kMaxBurstTicks : counts().second >= 20;
    }));
    EXPECT_EQ(counts().second == 0, ready);
    if (!ready) {
      EXPECT_EQ(asked, 0);
      EXPECT_EQ(counts().first, 0u);
    }
  }
}

}  // namespace
