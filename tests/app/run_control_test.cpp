// The pacing rule of the tick timer with a test's clock, and the run control on top of it: pause,
// step, speeds, divergence and the status line; the recorder's failure halfway through a file.
// (That rows reach the file while the window runs, and what they hold, the window's tests show.)
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "app/recorder.h"
#include "app/run_control.h"
#include "app/tick_clock.h"
#include "app/trace_buffer.h"
#include "robot/robot.h"

namespace {

constexpr int64_t kMs = 1'000'000;

// One step of a script for the clock: at `atMs`, do `op`, and (for a burst) expect `due` ticks and
// the total slip after it. Ops: 'b' burst delivering all, 'd' burst delivering only `arg` (its
// budget ran out), 'p' pause, 'r' resume, 's' step request (`arg` of them, at least one), 'v'
// slowdown `arg`.
struct Step {
  double atMs;
  char op;
  int arg;
  int due;
  uint64_t slip;
};

struct ClockCase {
  const char* name;
  std::vector<Step> steps;
};

TEST(TickClock, PeriodsDueDeliveredCappedSlippedPausedAndSlowed) {
  const ClockCase cases[] = {
      {"on time, one period per event",
       {{9.9, 'b', 0, 0, 0}, {10, 'b', 0, 1, 0}, {20.5, 'b', 0, 1, 0}, {29.9, 'b', 0, 0, 0}}},
      {"a 95 ms stall is made up by nine ticks", {{95, 'b', 0, 9, 0}, {100, 'b', 0, 1, 0}}},
      {"a 500 ms stall gives the cap, the rest slips",
       {{500, 'b', 0, 10, 40}, {510, 'b', 0, 1, 40}}},
      {"the budget ends a burst, the rest slips", {{50, 'd', 2, 5, 3}, {60, 'b', 0, 1, 3}}},
      {"paused: nothing due, a step gives one tick, resuming starts afresh",
       {{5, 'p', 0, 0, 0},
        {100, 'b', 0, 0, 0},
        {101, 's', 0, 0, 0},
        {101, 'b', 0, 1, 0},
        {102, 'b', 0, 0, 0},
        {200, 'r', 0, 0, 0},
        {209, 'b', 0, 0, 0},
        {210, 'b', 0, 1, 0}}},
      {"a step while running is ignored", {{3, 's', 0, 0, 0}, {5, 'b', 0, 0, 0}}},
      {"two steps asked before the next event are two ticks, one an event",
       {{5, 'p', 0, 0, 0},
        {6, 's', 0, 0, 0},
        {7, 's', 0, 0, 0},
        {8, 'b', 0, 1, 0},
        {9, 'b', 0, 1, 0},
        {10, 'b', 0, 0, 0}}},
      {"a pause drops the steps waiting",
       {{5, 'p', 0, 0, 0},
        {6, 's', 3, 0, 0},
        {7, 'b', 0, 1, 0},
        {8, 'p', 0, 0, 0},
        {9, 'b', 0, 0, 0}}},
      {"1/2", {{0, 'v', 2, 0, 0}, {19, 'b', 0, 0, 0}, {20, 'b', 0, 1, 0}, {100, 'b', 0, 4, 0}}},
      {"1/4", {{0, 'v', 4, 0, 0}, {1000, 'b', 0, 10, 15}}},
      {"1/8", {{0, 'v', 8, 0, 0}, {79, 'b', 0, 0, 0}, {160, 'b', 0, 2, 0}}},
      {"1/16 from mid-run, without owing the time before",
       {{35, 'v', 16, 0, 0}, {194, 'b', 0, 0, 0}, {195, 'b', 0, 1, 0}}},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(c.name);
    TickClock clock(10 * kMs);
    clock.Start(0);
    for (const Step& s : c.steps) {
      const auto at = static_cast<int64_t>(s.atMs * kMs);
      switch (s.op) {
        case 'p':
          clock.Pause(at);
          break;
        case 'r':
          clock.Resume(at);
          break;
        case 's':
          for (int i = 0; i < std::max(s.arg, 1); ++i) {
            clock.RequestStep();
          }
          break;
        case 'v':
          clock.SetSlowdown(s.arg, at);
          break;
        default: {
          const int due = clock.BeginBurst(at);
          EXPECT_EQ(due, s.due) << "at " << s.atMs;
          const int deliver = s.op == 'd' ? s.arg : due;
          for (int i = 0; i < deliver; ++i) {
            clock.Delivered();
          }
          clock.EndBurst();
          EXPECT_EQ(clock.SlippedTicks(), s.slip) << "at " << s.atMs;
        }
      }
    }
  }
}

TEST(TickClock, NextDueFollowsTheDeliveredPeriodsAndThePause) {
  TickClock clock(10 * kMs);
  clock.Start(7 * kMs);
  EXPECT_EQ(clock.NextDue(), 17 * kMs);
  clock.BeginBurst(43 * kMs);  // three due
  for (int i = 0; i < 3; ++i) {
    clock.Delivered();
  }
  clock.EndBurst();
  EXPECT_EQ(clock.NextDue(), 47 * kMs);
  clock.Pause(50 * kMs);
  EXPECT_EQ(clock.NextDue(), std::numeric_limits<int64_t>::max());
  clock.RequestStep();
  EXPECT_LT(clock.NextDue(), 50 * kMs);  // at once
  for (int i = 0; i < TickClock::kMaxPendingSteps + 3; ++i) {
    clock.RequestStep();
  }
  EXPECT_EQ(clock.StepsPending(), TickClock::kMaxPendingSteps);
}

// A burst run at 50 ms (five periods due) where each tick takes `tickMs` of wall time: the ticks
// delivered, and the periods slipped and deferred after it. The simulation is ready for `ready`
// more asks (-1: always), a tick may pause the clock or end the dialog.
TEST(TickClock, ABurstDeliversWhatIsDueWhileTheSimulationIsReady) {
  struct Case {
    const char* name;
    int ready;      // asks answered yes before the simulation is busy, -1 for all
    int tickMs;     // wall time each tick takes
    int pauseAt;    // the tick that pauses the clock, 0 for none
    int endAt;      // the tick that finds the dialog ended, 0 for none
    int delivered;  // ticks delivered
    uint64_t slip;  // periods slipped
    uint64_t deferred;
  };
  const Case cases[] = {
      {"all five", -1, 1, 0, 0, 5, 0, 0},
      {"busy before the burst: deferred, nothing slips", 0, 1, 0, 0, 0, 0, 5},
      {"busy after two: the rest slips", 2, 1, 0, 0, 2, 3, 0},
      {"the budget ends it", -1, 15, 0, 0, 3, 2, 0},
      {"a tick pauses the clock: nothing more, nothing slips", -1, 1, 2, 0, 2, 0, 0},
      {"the dialog ended at the fourth", -1, 1, 0, 4, 3, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TickClock clock(10 * kMs);
    clock.Start(0);
    int64_t now = 50 * kMs;
    int asks = 0;
    int delivered = 0;
    clock.RunBurst([&] { return now; }, [&] { return c.ready < 0 || asks++ < c.ready; },
                   [&] {
                     if (delivered + 1 == c.endAt) {
                       return false;
                     }
                     ++delivered;
                     now += c.tickMs * kMs;
                     if (delivered == c.pauseAt) {
                       clock.Pause(now);
                     }
                     return true;
                   });
    EXPECT_EQ(delivered, c.delivered);
    EXPECT_EQ(clock.DeliveredTicks(), static_cast<uint64_t>(c.delivered));
    EXPECT_EQ(clock.SlippedTicks(), c.slip);
    EXPECT_EQ(clock.DeferredTicks(), c.deferred);
  }
}

// A run control on a clock the test moves by hand.
struct Harness {
  std::unique_ptr<Robot> robot = MakeBuiltInRobot();
  TickClock clock{10 * kMs};
  int64_t now = 0;
  RunControl run{clock, [this] { return now; }, [] {}};
  matrix<double> torque{6, 1};

  Harness() {
    clock.Start(0);
    torque.SetZero();
  }
  void Tick() { run.OnTick(TickResult{*robot, kIdForward, torque, torque}); }
  // Starts a recording of the arm at rest, without torques.
  bool Record(Recorder& recorder, const std::string& path, std::string& error) {
    return recorder.Start(path, *robot, {{"--links", "6"}}, 0, 0, error);
  }
};

// A tick that leaves the state not finite pauses the clock and marks the run diverged at that
// tick's time; resuming is refused until "Reset", after which the run waits for the user.
TEST(RunControl, DivergencePausesUntilResetAndTheStripSaysSo) {
  Harness r;
  for (int i = 0; i < 152; ++i) {
    r.Tick();
  }
  EXPECT_EQ(r.run.State(), RunState::kRunning);
  const struct {
    double Link::*field;
    double value;
  } faults[] = {{&Link::q, NAN}, {&Link::qd, INFINITY}, {&Link::qdd, -INFINITY}};
  for (const auto& fault : faults) {
    Harness f;
    f.robot->links[3].get()->*fault.field = fault.value;
    f.Tick();
    EXPECT_EQ(f.run.State(), RunState::kDiverged);
  }
  r.robot->kineticEnergy = NAN;
  r.Tick();
  EXPECT_EQ(r.run.State(), RunState::kDiverged);
  EXPECT_TRUE(r.clock.Paused());
  EXPECT_EQ(r.run.StatusText(1.0, 60.0, true), "Diverged at t = 1.53 s: press Reset");
  r.run.TogglePause();
  r.run.Step();
  EXPECT_EQ(r.run.State(), RunState::kDiverged);
  EXPECT_TRUE(r.clock.Paused() && !r.clock.StepPending());

  r.robot->kineticEnergy = 0.0;
  r.run.OnResetJointState(*r.robot);
  EXPECT_EQ(r.run.State(), RunState::kPaused);
  r.run.Step();  // one tick, still paused
  EXPECT_TRUE(r.clock.Paused() && r.clock.StepPending());
  r.run.TogglePause();
  EXPECT_EQ(r.run.State(), RunState::kRunning);
}

// The speeds run from 1 down to 1/16 and back, and stop there; the status line says what runs how.
TEST(RunControl, SpeedsStatusLineAndRates) {
  Harness r;
  std::string speeds;
  for (int i = 0; i < 12; ++i) {
    i < 6 ? r.run.Slower() : r.run.Faster();
    speeds += r.run.SpeedText() + " ";
  }
  EXPECT_EQ(speeds, "1/2 1/4 1/8 1/16 1/16 1/16 1/8 1/4 1/2 1 1 1 ");
  for (int i = 0; i < 250; ++i) {
    r.Tick();
  }
  r.run.Slower();
  r.run.Slower();
  EXPECT_EQ(r.run.StatusText(0.998, 61.4, true),
            "t = 2.50 s    real time 1.00    61 frames per second    speed 1/4    running");
  r.clock.BeginBurst(r.clock.NextDue() + 500 * 40 * kMs);  // a long stall, no tick delivered
  r.clock.EndBurst();
  r.run.TogglePause();
  EXPECT_EQ(r.run.StatusText(0.25, 0.0, false),
            "t = 2.50 s    real time 0.25    no view    speed 1/4    paused    slip 5.01 s");

  RateMeter meter;
  EXPECT_EQ(meter.PerSecond(), 0.0);
  for (int i = 0; i <= 12; ++i) {  // 100 per second for 2 s, then 50 per second
    meter.Sample(i * 250 * kMs, static_cast<uint64_t>(i <= 8 ? 25 * i : 200 + 12.5 * (i - 8)));
  }
  EXPECT_DOUBLE_EQ(meter.PerSecond(), 50.0);
}

// F6 pauses a running arm before its one tick, so that the tick is the only one; paused, it just
// delivers one.
TEST(RunControl, AStepPausesFirstAndDeliversExactlyOneTick) {
  for (const bool running : {true, false}) {
    Harness r;
    if (!running) {
      r.run.TogglePause();
    }
    r.run.Step();
    const int first = r.clock.BeginBurst(35 * kMs);  // three periods due
    r.clock.Delivered();
    r.clock.EndBurst();
    EXPECT_TRUE(r.run.State() == RunState::kPaused && first == 1 &&
                r.clock.BeginBurst(500 * kMs) == 0)
        << running;
  }
}

// The strip's real-time factor is simulated seconds per wall second over the last second, from the
// ticks: at a quarter of the speed it is 0.25, at any frame rate of the view.
TEST(RunControl, TheRealTimeFactorIsSimulatedTimeOverWallTime) {
  // Milliseconds per tick, frames per second, the factor.
  for (const auto& [perTick, fps, factor] :
       {std::tuple{10, 60, 1.0}, {10, 13, 1.0}, {40, 60, 0.25}, {20, 100, 0.5}}) {
    Harness r;
    for (int ms = 1; ms <= 2000; ++ms) {  // the strip samples every 250 ms
      r.now = ms * kMs;
      if (ms % perTick == 0) {
        r.Tick();
      }
      if (ms * fps / 1000 > (ms - 1) * fps / 1000) {
        r.run.CountFrame();
      }
      if (ms % 250 == 0) {
        r.run.SampleRates();
      }
    }
    EXPECT_NEAR(r.run.RealTimeFactor(), factor, 1e-12) << perTick << " ms, " << fps;
    EXPECT_NEAR(r.run.FramesPerSecond(), fps, 1e-9) << perTick << " ms, " << fps;
  }
}

// A non-finite kinetic, potential or total energy (two huge finite energies can add up to an
// infinite total) is a divergence for the run control and ends the plots' trace; huge energies
// whose total is finite are not.
TEST(RunControl, AnyEnergyThatIsNotFiniteIsADivergence) {
  // Kinetic, potential, whether that is finite.
  for (const auto& [kinetic, potential, finite] : {std::tuple{std::nan(""), 1.0, false},
                                                   {2.0, -INFINITY, false},
                                                   {1e308, 1e308, false},
                                                   {1e308, -1e308, true}}) {
    Harness r;
    TraceBuffer trace;
    r.robot->kineticEnergy = kinetic;
    r.robot->potentialEnergy = potential;
    r.Tick();
    trace.OnTick(TickResult{*r.robot, kIdForward, r.torque, r.torque});
    EXPECT_EQ(r.run.State(), finite ? RunState::kRunning : RunState::kDiverged) << potential;
    EXPECT_EQ(trace.Size(), finite ? 1u : 0u) << potential;
  }
}

// After more than 10 s the trace holds the last 10 s and one tick, oldest first, one step apart. A
// tick that is not finite, in any of the values a sample holds, leaves every sample as it was, the
// oldest included, and the trace stops at the last finite one; after "Reset" it runs again from
// the reset on.
TEST(TraceBuffer, KeepsTheLastTenSecondsInOrderAndStopsAtTheLastFinitePoint) {
  for (const int fault : {0, 1, 2}) {  // a joint angle, the output, the kinetic energy
    SCOPED_TRACE(fault);
    Harness r;
    matrix<double> output(6, 1);
    TraceBuffer trace;
    r.robot->startEnergy = 3.0;
    const auto tick = [&](double x) {
      r.robot->links[2]->q = x;
      r.robot->work = x;
      r.robot->dissipated = 0.5 * x;
      output(5, 0) = -x;
      trace.OnTick(TickResult{*r.robot, kIdForward, output, r.torque});
    };
    const auto expectTheLastTenSeconds = [&] {
      ASSERT_EQ(trace.Size(), TraceBuffer::kCapacity);
      for (uint32_t i = 0; i < trace.Size(); ++i) {
        const TraceBuffer::Sample s = trace.At(i);
        ASSERT_TRUE(s.angles[2] == 500.0 + i && s.output[5] == -500.0 - i) << i;
        // The balance's residual E - E0 - W + D.
        ASSERT_TRUE(s.work == 500.0 + i && s.dissipated == 0.5 * s.work &&
                    s.residual == s.total - 3.0 - 0.5 * s.work)
            << i;
        ASSERT_NEAR(s.time, 5.0 + 0.01 * i, 1e-9) << i;  // 5 s to 15 s
      }
    };
    for (int i = 1; i <= 1500; ++i) {
      tick(i);
    }
    expectTheLastTenSeconds();
    double& value = fault == 0   ? r.robot->links[4]->q
                    : fault == 1 ? output(1, 0)
                                 : r.robot->kineticEnergy;
    value = NAN;
    tick(0.5);
    EXPECT_TRUE(trace.Stopped());
    value = 0.0;
    tick(0.5);  // finite again, still stopped
    expectTheLastTenSeconds();

    trace.OnResetJointState(*r.robot);
    EXPECT_NEAR(trace.Resets().back(), 15.02, 1e-9);
    tick(1.0);
    tick(2.0);
    ASSERT_EQ(trace.Size(), 2u);
    EXPECT_TRUE(trace.At(0).angles[2] == 1.0 && trace.At(1).angles[2] == 2.0);
    EXPECT_NEAR(trace.At(0).time, 15.03, 1e-9);
  }
}

// A second recording in one session counts its ticks, and their times, from 1 again.
TEST(Recorder, ASecondRecordingCountsItsTicksFromOne) {
  Harness t;
  Recorder recorder;
  std::string error;
  const std::string path =
      testing::TempDir() + "recorder_second_" + std::to_string(getpid()) + ".csv";
  for (const int ticks : {3, 2}) {
    ASSERT_TRUE(t.Record(recorder, path, error)) << error;
    for (int i = 0; i < ticks; ++i) {
      recorder.OnTick(TickResult{*t.robot, kIdForward, t.torque, t.torque});
    }
    ASSERT_TRUE(recorder.Stop());
  }
  std::ifstream file(path);
  std::string line;
  std::vector<std::string> starts;  // each row's tick and time
  std::getline(file, line);         // the header
  while (std::getline(file, line)) {
    starts.push_back(line.substr(0, line.find(',', line.find(',') + 1)));
  }
  EXPECT_EQ(starts, (std::vector<std::string>{"1,0.01", "2,0.02"}));
}

// Whether text is whole rows of the given number of fields, each ended by a line end.
bool WholeRows(const std::string& text, std::size_t fields) {
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    if (std::count(text.begin() + static_cast<std::ptrdiff_t>(start),
                   text.begin() + static_cast<std::ptrdiff_t>(end), ',') +
            1 !=
        static_cast<std::ptrdiff_t>(fields)) {
      return false;
    }
  }
  return start == text.size();
}

// In a child process: records past a limit on file sizes, which makes a write fail halfway. 0 when
// each recording started, then stopped at the limit, said so once, did not call its stop a success
// and left a file of whole rows; and when a file that cannot take even its header is not left.
int RecordPastAFileSizeLimit() {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{4096, 4096};
  setrlimit(RLIMIT_FSIZE, &limit);
  const std::string path =
      testing::TempDir() + "recorder_limit_" + std::to_string(getpid()) + ".csv";
  // The rows go out at the flush a second later, or only when the recording stops.
  for (const bool flush : {true, false}) {
    std::vector<std::string> messages;
    Recorder recorder;
    recorder.SetErrorHandler([&](const std::string& m) { messages.push_back(m); });
    std::string error;
    Harness t;
    const bool started = t.Record(recorder, path, error);
    for (int i = 0; i < 100; ++i) {
      t.robot->links[0]->q += 0.25;
      recorder.OnTick(TickResult{*t.robot, kIdForward, t.torque, t.torque});
    }
    if (flush) {
      recorder.MaybeFlush(1000 * kMs);
    }
    const bool stopped = recorder.Stop();  // never a success: the window would say "Recorded"
    const bool once =
        messages.size() == 1 && messages[0] == "Recording to " + path + " stopped: File too large.";
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    if (!started || !once || stopped || recorder.Recording() || !WholeRows(text, 29) ||
        text.find("tick,time,q0") != 0) {
      return 1;
    }
  }
  const rlimit tiny{16, 16};
  setrlimit(RLIMIT_FSIZE, &tiny);
  Recorder recorder;
  std::string error;
  struct stat left {};
  Harness t;
  if (t.Record(recorder, path, error) || recorder.Recording() ||
      error != "Cannot record to " + path + ": File too large" || stat(path.c_str(), &left) == 0) {
    return 2;
  }
  return 0;
}

TEST(Recorder, AWriteThatFailsHalfwayStopsTheRecordingWithOneMessage) {
  EXPECT_EXIT(std::exit(RecordPastAFileSizeLimit()), testing::ExitedWithCode(0), "");
}

// Only a regular file is recorded to: a FIFO that nobody reads (opening it would wait for a reader)
// and a directory are refused at once with the reason.
TEST(Recorder, AnythingButARegularFileIsRefused) {
  const std::string fifo = testing::TempDir() + "recorder_fifo_" + std::to_string(getpid());
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, testing::TempDir()}) {
    Recorder recorder;
    std::string error;
    Harness t;
    EXPECT_FALSE(t.Record(recorder, path, error));
    EXPECT_EQ(error, "Cannot record to " + path + ": not a regular file");
  }
  std::remove(fifo.c_str());
}

// A file deleted, moved away or replaced while it is being recorded is a loss, said once with the
// file and what happened, never a success: noticed at the next flush or at the stop, for the rows'
// file and for the replay beside it.
TEST(Recorder, AFileThatGoesWhileRecordingIsALossNotASuccess) {
  const std::string path =
                        testing::TempDir() + "recorder_gone_" + std::to_string(getpid()) + ".csv",
                    replay = path + ".replay";
  const struct {
    std::string name;
    std::function<void()> action;
    std::string message;  // after "Recording to PATH stopped: "
  } cases[] = {
      {"deleted", [&] { std::remove(path.c_str()); },
       "the file was deleted while it was being recorded; its 3 ticks are lost."},
      {"moved", [&] { std::rename(path.c_str(), (path + ".moved").c_str()); },
       "the file was moved away while it was being recorded; its 3 ticks are lost."},
      {"replaced", [&] { std::remove(path.c_str()), std::ofstream(path) << "other\n"; },
       "the file was replaced while it was being recorded; its 3 ticks are lost."},
      {"replay deleted", [&] { std::remove(replay.c_str()); },
       "its replay file " + replay + " was deleted while it was being recorded."},
  };
  for (const auto& c : cases) {
    for (const bool flush : {true, false}) {
      SCOPED_TRACE(c.name + (flush ? " before a flush" : " before the stop"));
      Harness t;
      Recorder recorder;
      std::vector<std::string> messages;
      recorder.SetErrorHandler([&](const std::string& m) { messages.push_back(m); });
      std::string error;
      ASSERT_TRUE(t.Record(recorder, path, error)) << error;
      for (int i = 0; i < 3; ++i) {
        recorder.OnTick(TickResult{*t.robot, kIdForward, t.torque, t.torque});
      }
      c.action();
      if (flush) {
        recorder.MaybeFlush(1000 * kMs);
        EXPECT_FALSE(recorder.Recording());
      }
      EXPECT_FALSE(recorder.Stop());
      EXPECT_EQ(messages,
                std::vector<std::string>{"Recording to " + path + " stopped: " + c.message});
      std::remove((path + ".moved").c_str());
    }
  }
  std::remove(path.c_str());
  std::remove(replay.c_str());
}

}  // namespace
