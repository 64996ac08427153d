// The physics thread: the ticks and commands it is handed come back as a plain stepper computes
// them in the same order; a tick that does not end (held by the test, as a tick of unbounded cost
// would be) holds up neither a drop, nor a Reset, nor the end.
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialog_template.h"
#include "app/physics_thread.h"
#include "control/controller.h"
#include "robot/robot.h"
#include "simulation/stepper.h"
#include "tests/app/eventually.h"

namespace {

std::vector<double> Joints(double first, double step) {
  std::vector<double> v;
  for (int i = 0; i < 6; ++i) {
    v.push_back(first + step * i);
  }
  return v;
}

using thread_test::Eventually;

// Ticks of both modes and of neither, interleaved with "Set", a change of step and of the arm's
// physics (efforts on, the panel's friction for a joint with its own, a joint's start past the
// limits switched on), on a thread and without one: each tick's arm and vectors are bit for bit
// those of a plain stepper given the same sequence. A Reset then puts that joint's zero at its
// limit.
TEST(PhysicsThread, TicksAndCommandsComeBackAsAPlainStepperComputesThem) {
  for (const bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "threaded" : "in the caller's thread");
    std::unique_ptr<Robot> arm = MakeBuiltInRobot();
    arm->links[0]->effort = 0.5;
    arm->links[1]->lower = 0.05;
    arm->links[1]->upper = 0.1;
    arm->limits = false;
    arm->links[1]->q = 0.3;
    arm->links[2]->fileFriction = true;
    arm->links[2]->fileViscous = 2.0;
    arm->links[2]->fileCoulomb = 0.4;
    PhysicsThread physics(*arm, StepOptions{}, threaded, [] {});
    std::unique_ptr<Robot> reference = CloneRobot(*arm);
    Stepper stepper(*reference, StepOptions{});

    std::vector<TickDone> expected;
    const auto ticks = [&](int mode, int count, double value) {
      for (int i = 0; i < count; ++i) {
        TickRequest tick{mode, Joints(value, 0.5), Joints(-value, 1.0)};
        TickDone done;
        done.mode = mode;
        done.accel = tick.accel;
        done.torque = tick.torque;
        if (mode == kIdForward) {
          done.accel = ValuesOf(stepper.Forward(ColumnOf(tick.torque)));
          done.torque = ValuesOf(stepper.LastTorque());
          done.saturated = stepper.Saturated();
        } else if (mode == kIdInverse) {
          done.torque = ValuesOf(stepper.Inverse(ColumnOf(tick.accel)));
        }
        done.state = ArmState::Of(*reference);
        // What a recording's replay needs: the inputs the tick was computed with.
        done.inputs = InputsOf(*reference, mode == kIdInverse, ColumnOf(tick.torque),
                               ColumnOf(tick.accel), stepper.Options());
        done.serial = expected.size() + 1;
        expected.push_back(done);
        physics.Submit(tick);
      }
    };
    ticks(kIdForward, 5, 1.0);
    physics.SetParameters(0.3, 0.05, {0.0, 0.5, -3.5});
    reference->viscousFriction = 0.3;
    reference->coulombFriction = 0.05;
    reference->gravity(1, 0) = 0.5;
    reference->gravity(2, 0) = -3.5;
    ticks(kIdInverse, 3, 2.0);
    ticks(0, 2, 0.0);
    const StepOptions step{EngineKind::kRecursive, IntegratorKind::kImplicit, 3};
    physics.SetOptions(step);
    stepper.SetOptions(step);
    ticks(kIdForward, 4, -1.0);
    physics.SetPhysics(true, FrictionSource::kUniform, true);
    reference->limits = reference->effortLimits = true;
    reference->frictionSource = FrictionSource::kUniform;
    reference->links[1]->q = 0.1;
    ticks(kIdForward, 4, -1.0);
    ASSERT_TRUE(physics.WaitIdle(60'000'000'000));
    EXPECT_EQ(physics.Outstanding(), expected.size());
    for (const TickDone& want : expected) {
      const std::optional<TickDone> got = physics.Take();
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(got->mode, want.mode);
      EXPECT_EQ(got->state.q, want.state.q);
      EXPECT_EQ(got->state.qd, want.state.qd);
      EXPECT_EQ(got->state.qdd, want.state.qdd);
      EXPECT_EQ(got->state.kinetic, want.state.kinetic);
      EXPECT_EQ(got->state.potential, want.state.potential);
      EXPECT_EQ(got->accel, want.accel);
      EXPECT_EQ(got->torque, want.torque);
      EXPECT_EQ(got->saturated, want.saturated);
      EXPECT_EQ(got->serial, want.serial);
      EXPECT_EQ(ReplayChanges(1, &want.inputs, got->inputs), "");
    }
    EXPECT_FALSE(physics.Take().has_value());

    physics.Reset();
    physics.Submit(TickRequest{0, Joints(0, 0), Joints(0, 0)});
    ASSERT_TRUE(physics.WaitIdle(60'000'000'000));
    const std::optional<TickDone> reset = physics.Take();
    ASSERT_TRUE(reset.has_value());
    EXPECT_EQ(reset->state.q, (std::vector<double>{0.0, 0.05, 0.0, 0.0, 0.0, 0.0}));
  }
}

// A controller's settings, changed between ticks (a new law, new gains, a new target), a new step
// (RestartStep) and a Reset, on a thread and without one: each tick is bit for bit that of a plain
// stepper with a controller given the same sequence, and hands back the reference as the tick
// began it (going on over the new step, started afresh by the Reset and the new target) and the
// reference and error at its end.
TEST(PhysicsThread, AControllersChangesAreCarriedBetweenTicksAndItsReferenceGoesOnOverANewStep) {
  for (const bool threaded : {true, false}) {
    SCOPED_TRACE(threaded ? "threaded" : "in the caller's thread");
    std::unique_ptr<Robot> arm = MakeBuiltInRobot(3);
    const StepOptions step = DefaultStepOptions(true);
    PhysicsThread physics(*arm, step, threaded, [] {});
    std::unique_ptr<Robot> reference = CloneRobot(*arm);
    auto stepper = std::make_unique<Stepper>(*reference, step);
    auto controller = std::make_shared<Controller>(*reference, ControllerSettings{});
    stepper->SetController(controller);

    struct Expected {
      std::vector<double> q, qd, torque, tracking;
      std::optional<ReferenceStart> start;
    };
    std::vector<Expected> expected;
    const auto ticks = [&](int count) {
      for (int i = 0; i < count; ++i) {
        Expected e;
        e.start = controller->Start();
        e.torque = ValuesOf(stepper->Forward(ColumnOf({0.1, 0.0, 0.0})));
        e.torque = ValuesOf(stepper->LastTorque());
        e.q = ArmState::Of(*reference).q;
        e.qd = ArmState::Of(*reference).qd;
        std::vector<double> ref(3), error(3);
        controller->Tracking(0.0, e.q.data(), ref.data(), error.data());
        e.tracking = error;
        expected.push_back(e);
        physics.Submit(TickRequest{kIdForward, {0, 0, 0}, {0.1, 0.0, 0.0}});
      }
    };
    const auto set = [&](const ControllerSettings& settings) {
      physics.SetController(settings);
      controller->SetSettings(settings);
    };
    // The ticks handed back since the last look, against those expected (a Reset drops the ticks
    // that are not taken).
    std::size_t taken = 0;
    const auto look = [&] {
      ASSERT_TRUE(physics.WaitIdle(60'000'000'000));
      for (; taken < expected.size(); ++taken) {
        SCOPED_TRACE(taken);
        const Expected& want = expected[taken];
        const std::optional<TickDone> got = physics.Take();
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->state.q, want.q);
        EXPECT_EQ(got->state.qd, want.qd);
        EXPECT_EQ(got->torque, want.torque);
        EXPECT_EQ(got->error, want.tracking);
        EXPECT_EQ(got->inputs.controller.kind, ControllerKind::kPd);
        ASSERT_EQ(got->referenceStart.has_value(), want.start.has_value());
        if (got->referenceStart) {
          EXPECT_EQ(got->referenceStart->ticks, want.start->ticks);
          EXPECT_EQ(got->referenceStart->from, want.start->from);
        }
      }
      EXPECT_FALSE(physics.Take().has_value());
    };
    ControllerSettings pd;
    pd.kind = ControllerKind::kPd;
    pd.target = {0.4, -0.2, 0.3};
    pd.duration = 0.5;
    set(pd);
    ticks(10);
    pd.kp = {50.0};  // new gains: the reference goes on
    set(pd);
    ticks(5);
    physics.RestartStep();  // a new step: the reference goes on
    stepper = std::make_unique<Stepper>(*reference, step);
    stepper->SetController(controller);
    ticks(5);
    look();
    physics.Reset();  // the reference starts afresh at the next tick, from zero
    reference->ResetJointState();
    controller->RestartReference();
    ticks(5);
    pd.target = {-0.1, 0.1, 0.0};  // a new target: afresh, from where the arm is
    pd.samples = 10;
    set(pd);
    ticks(5);
    look();

    // The first tick starts the reference; it goes on over the new gains and step, 19 ticks after
    // its start; the Reset's, and the new target's, start afresh.
    EXPECT_FALSE(expected[0].start.has_value());
    EXPECT_EQ(expected[19].start->ticks, 19u);
    EXPECT_FALSE(expected[20].start.has_value());
    EXPECT_EQ(expected[21].start->from, std::vector<double>(3, 0.0));
    EXPECT_FALSE(expected[25].start.has_value());
    EXPECT_EQ(expected[26].start->from, expected[24].q);
  }
}

// Ticks asked for with the standing request take it as it was when asked for. The window is told
// once for the ticks it finds waiting, and again for the first one after it took them; once it
// leaves kMaxUntakenTicks untaken, no more are queued until it takes one.
TEST(PhysicsThread, TheWindowIsToldOnceForTheTicksWaitingAndNeverFallsFarBehind) {
  std::unique_ptr<Robot> arm = MakeBuiltInRobot();
  std::atomic<int> told{0};
  PhysicsThread physics(*arm, StepOptions{}, true, [&] { ++told; });
  for (const double torque : {1.0, 2.0}) {
    physics.SetStanding(TickRequest{kIdForward, Joints(0, 0), Joints(torque, 0)});
    physics.SubmitStanding();
  }
  physics.SetStanding(TickRequest{kIdForward, Joints(0, 0), Joints(3, 0)});
  ASSERT_TRUE(physics.WaitIdle(60'000'000'000));
  EXPECT_EQ(told, 1);
  for (const double torque : {1.0, 2.0}) {
    const std::optional<TickDone> done = physics.Take();
    ASSERT_TRUE(done.has_value());
    EXPECT_EQ(done->torque, Joints(torque, 0));
  }
  for (std::size_t i = 0; i < PhysicsThread::kMaxUntakenTicks; ++i) {
    ASSERT_TRUE(physics.CanQueue());
    physics.SubmitStanding();
    ASSERT_TRUE(physics.WaitIdle(60'000'000'000));
  }
  EXPECT_EQ(told, 2);
  EXPECT_FALSE(physics.CanQueue());
  EXPECT_EQ(physics.Take()->torque, Joints(3, 0));
  EXPECT_TRUE(physics.CanQueue());
}

// While a tick is held, the thread still takes every request: a Reset gives the held tick up (no
// tick requested before it comes back), and the end gives it up and joins. The work it holds counts
// against queueing more.
TEST(PhysicsThread, AHeldTickHoldsUpNeitherResetNorTheEnd) {
  std::unique_ptr<Robot> arm = MakeBuiltInRobot();
  for (const bool reset : {true, false}) {
    SCOPED_TRACE(reset ? "Reset" : "the end");
    auto physics = std::make_unique<PhysicsThread>(*arm, StepOptions{}, true, [] {});
    physics->Hold(true);
    for (int i = 0; i < 3; ++i) {
      physics->Submit(TickRequest{kIdForward, Joints(0, 0), Joints(1, 0)});
    }
    ASSERT_TRUE(Eventually([&] { return physics->WorkNs() >= PhysicsThread::kQueueBudgetNs; }));
    EXPECT_FALSE(physics->CanQueue());
    EXPECT_EQ(physics->Outstanding(), 3u);
    if (reset) {
      physics->Reset();
      ASSERT_TRUE(physics->WaitIdle(60'000'000'000));  // still held
      EXPECT_EQ(physics->Outstanding(), 0u);
      physics->Hold(false);
      physics->Submit(TickRequest{0, Joints(0, 0), Joints(0, 0)});
      ASSERT_TRUE(physics->WaitIdle(60'000'000'000));
      const std::optional<TickDone> next = physics->Take();
      ASSERT_TRUE(next.has_value());
      EXPECT_EQ(next->state.q, std::vector<double>(6, 0.0));
      EXPECT_FALSE(physics->Take().has_value());
    }
    physics.reset();  // joins, also while held
  }
}

// A Reset is one step among the ticks that another thread keeps asking for (as the pacer does):
// no tick asked for while it is under way is computed from the state before it and shown after it.
TEST(PhysicsThread, NoTickFromBeforeAResetComesAfterIt) {
  std::unique_ptr<Robot> arm = MakeBuiltInRobot();
  const TickRequest request{kIdForward, Joints(0, 0), Joints(1, 0.5)};
  std::unique_ptr<Robot> reference = CloneRobot(*arm);
  Stepper(*reference, StepOptions{}).Forward(ColumnOf(request.torque));
  const std::vector<double> firstTick = ArmState::Of(*reference).q;

  PhysicsThread physics(*arm, StepOptions{}, true, [] {});
  physics.SetStanding(request);
  std::atomic<bool> stop{false};
  std::thread pacer([&] {
    while (!stop) {
      if (physics.CanQueue()) {
        physics.SubmitStanding();
      }
    }
  });
  for (int i = 0; i < 500; ++i) {
    ASSERT_TRUE(Eventually([&] { return physics.Outstanding() > 2; }));
    physics.Reset();
    std::optional<TickDone> first;
    ASSERT_TRUE(Eventually([&] { return (first = physics.Take()).has_value(); }));
    ASSERT_EQ(first->state.q, firstTick) << "after Reset " << i + 1;
  }
  stop = true;
  pacer.join();
}

}  // namespace
