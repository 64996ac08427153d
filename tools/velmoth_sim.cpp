// velmoth-sim: the simulation without the window. "run" advances the built-in arm, or the serial
// arm of a URDF file, tick by tick exactly as the window's tick does and writes one CSV row per
// printed tick; "terms" evaluates the equation of motion for one state. Vector and coefficient
// texts follow the panel's forgiving rules; only the options themselves, the values every front end
// refuses (a friction coefficient below 0 or not finite, a start that is not finite), or a URDF
// file that cannot be loaded, can be wrong, which gives one line on standard error, exit
// status 2 and nothing on standard output. An output that cannot be written and running out of
// memory give one line on standard error and exit status 1.
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "control/controller.h"
#include "dynamics/dynamics.h"
#include "dynamics/kinematics.h"
#include "recursive/frames.h"
#include "robot/input_checks.h"
#include "robot/robot.h"
#include "simulation/command_line.h"
#include "simulation/control_options.h"
#include "simulation/external_forces.h"
#include "simulation/force_options.h"
#include "simulation/frame_columns.h"
#include "simulation/joint_limits.h"
#include "simulation/replay.h"
#include "simulation/run_csv.h"
#include "simulation/step_report.h"
#include "simulation/stepper.h"
#include "simulation/text_fields.h"
#include "tools/frame_text.h"
#include "urdf/urdf_loader.h"
#include "urdf/urdf_text.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kOutputFailureStatus = 1;
constexpr int kOutOfMemoryStatus = 1;
constexpr uint64_t kLinkLimit = 100;
// A run that takes longer than this shows its progress on a terminal.
constexpr std::chrono::milliseconds kQuietTime{2000};
constexpr std::chrono::milliseconds kProgressInterval{250};

struct Settings {
  std::string mode = "forward";
  std::string torque;
  std::string accel;
  std::string viscous;
  std::string coulomb;
  std::string gravity;
  std::string q;
  std::string qd;
  std::string q0;
  std::string qd0;
  std::string urdf;
  std::string tip;
  uint64_t ticks = 100;
  uint64_t every = 1;
  uint64_t links = kBuiltInLinkCount;
  std::vector<std::string> frames;  // the frames run follows, or kinematics prints
  StepChoice step;
  PhysicsChoice physics;
  std::string replay;    // the file
  bool cut = false;      // it may be a cut recording's, without its end
  Replay events;         // what it holds
  bool balance = false;  // the columns work,dissipated
  ControlChoice control;
  bool reference = false;  // the columns of the controller's reference and error
  ForceChoice push;        // --force, --payload
  std::vector<ExternalForce> forces;
  // Whether the panel's "Set" values were given; otherwise the built-in arm keeps its own.
  bool viscousGiven = false;
  bool coulombGiven = false;
  bool gravityGiven = false;
};

CLI::Validator Mode() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return text == "forward" || text == "inverse"
                   ? std::string()
                   : "expects forward or inverse, not '" + Echo(text) + "'";
      },
      "{forward,inverse}", "Mode");
}

// The options that choose the arm.
void AddArmChoice(CLI::App& command, Settings& s) {
  command.add_option("--links", s.links, "Number of built-in links, 0 to 100 (default: 6)")
      ->type_name("N")
      ->check(WholeNumber(0, kLinkLimit));
  command
      .add_option("--urdf", s.urdf, "Simulate an arm of this URDF file instead of the built-in arm")
      ->type_name("FILE")
      ->check(FileName());
  command
      .add_option("--tip", s.tip,
                  "With --urdf: the link the arm's chain ends at (default: where the chain parts)")
      ->type_name("LINK");
}

// Options that both subcommands share: the panel's inputs and the arm.
void AddArmOptions(CLI::App& command, Settings& s) {
  command.add_option("--torque", s.torque, "Joint torques, one element per link (default: all 0)")
      ->type_name("TEXT");
  command
      .add_option("--accel", s.accel, "Joint accelerations, one element per link (default: all 0)")
      ->type_name("TEXT");
  command.add_option("--viscous", s.viscous, "Viscous friction coefficient (default: 0.1)")
      ->type_name("X");
  command.add_option("--coulomb", s.coulomb, "Coulomb friction coefficient (default: 0.1)")
      ->type_name("X");
  command.add_option("--gravity", s.gravity, "Gravity, 3 elements (default: 0, 0, -9.81)")
      ->type_name("TEXT");
  AddArmChoice(command, s);
}

// The parts of --help that do not fit an option's line.
static_assert(Stepper::kMaxInternalSteps == 200 && Stepper::kMaxRefinement == 6,
              "the help names the tick's caps");
const char* const kRunDetails =
    "run prints the header tick,time,q0..,qd0..,qdd0..,tau0..,kinetic,potential,total and a row\n"
    "after every K-th tick, each number written with %.17g so that it reads back exactly. A\n"
    "forward tick computes the accelerations of --torque and then integrates them; an inverse\n"
    "tick integrates --accel and then computes the torques. kinetic and potential are the\n"
    "energies the panel shows: of the state at the start of a forward tick, at the end of an\n"
    "inverse tick; qdd is the tick's change of velocity over 0.01 s. --balance adds the columns\n"
    "work,dissipated: the work of the torques and the energy friction took since the first\n"
    "tick, at the instant of the energies, so that total - work + dissipated stays at the\n"
    "first tick's total (inverse ticks keep no balance: both are 0).\n"
    "Every tick advances 0.01 s in --substeps substeps of the integrator. euler: semi-implicit\n"
    "Euler (on the closed form solved with its damped pseudo-inverse and friction as it comes,\n"
    "as the built-in arm always was). implicit: friction at the end of each substep, viscous\n"
    "friction implicit and Coulomb friction that holds a joint at rest while the other torques\n"
    "on it stay below its level; it adds substeps where the arm would gain energy it was not\n"
    "given. rk4: classical Runge-Kutta. dopri5: Dormand-Prince 5(4) with error control, as\n"
    "many steps per tick as --tolerance needs (at least --substeps), the step size carried\n"
    "from tick to tick. On every step but the closed form's Euler, Coulomb friction stops a\n"
    "sliding joint where its velocity reaches 0 (euler, rk4 and dopri5 find the instant inside\n"
    "the step) and holds it while the torque that holds it stays within the friction level.\n"
    "Where viscous friction is stiff (a light joint damped faster than dopri5's step is\n"
    "stable), dopri5's steps are taken by an L-stable additive Runge-Kutta pair\n"
    "(ARK3(2)4L[2]SA, viscous friction implicit) under the same error control.\n"
    "A tick's work is capped: dopri5 tries at most 400 steps per tick at its tolerance, then\n"
    "loosens it; euler and rk4 locate at most 200 friction events per tick, implicit halves a\n"
    "substep at most 6 times. A tick that reaches the cap ends at the accuracy the cap\n"
    "allows; the first is reported on standard error.\n"
    "When a state stops being finite, or a step that locates events makes energy without\n"
    "work (more than a tenth of the largest kinetic or potential energy), the first such tick\n"
    "is reported on standard error as a divergence, with its cause and remedy. Short of that,\n"
    "the first tick that leaves the energy balance off, either way, by more than 1e-3 of the\n"
    "motion's energy (its largest kinetic energy, or its potential energy's swing) is\n"
    "reported as inaccurate, with the remedy (all but the closed form's Euler).\n"
    "--q0 and --qd0 set the joint positions and velocities before the first tick; a joint\n"
    "outside its limits starts at the nearest, said in one line on standard error.\n"
    "Limits: on every step but the closed form's Euler (which ignores them), a joint that\n"
    "reaches a limit of its URDF file stops there, an inelastic impact located inside the\n"
    "step whose impulse changes the other joints' velocities as the arm's inertia says (its\n"
    "energy is dissipated), and rests there while pushed into it, as friction holds a joint.\n"
    "--limits off lets the joints pass them. --effort-limits saturates each torque at its\n"
    "joint's effort; the tau columns are the torques applied, and the first tick whose torques\n"
    "saturate is reported on standard error. Inverse ticks know neither.\n"
    "--replay FILE repeats a recording of the window byte for byte from the FILE.replay the\n"
    "window wrote beside it: the arm (unless --links or --urdf is given), the state the\n"
    "recording started from, and every input, friction, gravity, the arm's limits, friction\n"
    "source and efforts, Reset and step at the tick it changed; --ticks is the recording's\n"
    "length unless given. A file without its arm line is no replay, and one without its end\n"
    "line (a recording killed or crashed) is refused, unless --cut is given, which repeats it\n"
    "up to the last complete row of the recording beside it. The step's and the inputs'\n"
    "options cannot be given with --replay, which sets them.\n"
    "--frame NAME (repeatable) adds the columns NAME.x,NAME.y,NAME.z after the others: where\n"
    "the frame's origin is after each printed tick, in the base frame (names as kinematics\n"
    "prints).\n"
    "--controller adds a controller's torques to --torque in forward ticks (inverse ticks\n"
    "know none): gravity tau = g(q); pd tau = Kp e + Kd e' + g(q) (--compensation off leaves\n"
    "g out); computed-torque tau = M(q) (qdd* + Kd e' + Kp e) + C qd + g(q) + F(qd); task-pd\n"
    "tau = J^T (Kx (x* - x) + Dx (xd* - xd)) - Kn qd + g(q) on the position x of --tool. e =\n"
    "q* - q, q* the reference: from the start to --target along --trajectory in --duration\n"
    "(step: at once), or a sine of --amplitude and --period about it. The default gains make\n"
    "each joint (axis) critically damped at --frequency, from the mass matrix's diagonal at\n"
    "the target (computed-torque: Kp = W^2, Kd = 2 W). --control-rate holds the torque\n"
    "between samples, which end the step's internal steps; continuous evaluates the law at\n"
    "every state the step evaluates. The controller computes with its own model of the arm,\n"
    "exact unless --model-mass-error or --model-friction off say otherwise. --effort-limits\n"
    "saturate the typed torques plus the controller's; the tau columns are the torques\n"
    "applied at the start of each tick. --reference adds the columns qref0..,e0.. (task-pd:\n"
    "xref,yref,zref,ex,ey,ez): the reference and the error at the end of each tick, before\n"
    "any --frame columns.\n"
    "--force FRAME:fx,fy,fz[@px,py,pz] (repeatable) holds a force in world axes (N) on the\n"
    "frame at the point given in its coordinates (default: its origin): forward ticks take\n"
    "the joint torques J_p(q)^T F at every state the step evaluates, and work counts their\n"
    "work. --payload FRAME:mass[@px,py,pz] (repeatable) fixes a point mass (kg) to the frame,\n"
    "its mass, centre of mass and inertia made part of the link's. A replay repeats the\n"
    "forces, payloads and mouse pulls of the recording.\n";
const char* const kTermsDetails =
    "terms prints one line per quantity, NAME ROWS COLS v00 v01 ... (row-major, %.17g): M, C,\n"
    "G, F, kinetic, potential, qdd (not the accelerations of --torque: the closed form's damped\n"
    "pseudo-inverse, what its Euler tick integrates) and tau (the torques of --accel, stored as\n"
    "the links' accelerations), in closed form; then qdd_engine, the exact accelerations of\n"
    "--torque, and tau_engine, the torques of --accel, by --engine. F, qdd_engine and\n"
    "tau_engine take the friction coefficients each joint takes (--friction).\n";
const char* const kKinematicsDetails =
    "kinematics prints, for each --frame (default: every frame of the arm), in the terms\n"
    "format: pose:FRAME 4 4 (its pose in the base frame), jacobian:FRAME 6 N and\n"
    "jdot_qd:FRAME 6 1 in the base frame's axes, jacobian_frame:FRAME and jdot_qd_frame:FRAME\n"
    "in the frame's own; rows 0-2 are linear (the velocity, or at qdd = 0 the acceleration,\n"
    "of the frame's origin), rows 3-5 angular. The frames are every link of the URDF file\n"
    "(tool, flange and sensor frames fixed to the moving links included), or for the built-in\n"
    "arm base, link0, link1, ... and tool (the end of the last link).\n";
const char* const kTextRules =
    "TEXT is vector text, read as the panel reads it: numbers (strtod syntax), each followed by\n"
    "exactly one separator character of any kind, e.g. \"1, -2.5, 3e-1\". A character that\n"
    "starts no number counts as one element 0; missing numbers are 0; numbers beyond the\n"
    "vector are ignored. X is the number at the start of its text (atof), 0 if there is none.\n"
    "Neither is an error, but --viscous and --coulomb must be finite and 0 or more, and\n"
    "--q0 and --qd0 finite, as everywhere. Give a text that starts with '-' as --torque=-1,2.\n\n"
    "--urdf FILE, instead of --links, simulates the arm of a URDF file: revolute and continuous\n"
    "joints turn, prismatic joints slide, fixed joints join their links into one body; every\n"
    "vector then has one element per moving joint. The arm is one chain of the file's tree,\n"
    "from the root to where it parts into several chains of moving joints, or to --tip LINK;\n"
    "the joints off it are held at 0 and join the body they hang from. Which joints are held,\n"
    "and links whose inertia no rigid body can have, are said on standard error, a line each.\n"
    "A joint with <dynamics damping friction> takes them as its viscous and Coulomb\n"
    "coefficients and the others --viscous and --coulomb (--friction file); with --friction\n"
    "uniform, or --viscous or --coulomb given without --friction, every joint takes those.\n"
    "A file that cannot be loaded gives exit status 2 and the line\n"
    "\"velmoth-sim: FILE: problem\" on standard error.\n\n"
    "Exit status: 0 on success; 2 for a bad option or a URDF file that cannot be loaded, with\n"
    "one line on standard error; 1 when standard output cannot be written or memory runs out.";

// An n x 1 vector read from vector text; empty text gives zeros.
matrix<double> JointVector(const std::string& text, uint32_t n) {
  matrix<double> v(n, 1);
  ReadVectorText(text, v);
  return v;
}

// The values of an n x 1 vector.
std::vector<double> Values(const matrix<double>& v) {
  std::vector<double> values(v.RowCount());
  for (uint32_t i = 0; i < v.RowCount(); ++i) {
    values[i] = v(i, 0);
  }
  return values;
}

// The built-in arm, or the arm of the URDF file, with the panel's "Set" applied for what was
// given: viscous, coulomb, gravity. Null when the file cannot be loaded, with error set.
std::unique_ptr<Robot> MakeArm(const Settings& s, std::string& error) {
  std::vector<std::string> notices;
  std::unique_ptr<Robot> robot = s.urdf.empty()
                                     ? MakeBuiltInRobot(static_cast<int>(s.links))
                                     : LoadUrdfRobot(s.urdf, error, UrdfOptions{s.tip}, &notices);
  if (!robot) {
    return nullptr;
  }
  for (const std::string& notice : notices) {
    std::fprintf(stderr, "velmoth-sim: %s\n", notice.c_str());
  }
  if (s.viscousGiven) {
    robot->viscousFriction = ReadCoefficientText(s.viscous);
  }
  if (s.coulombGiven) {
    robot->coulombFriction = ReadCoefficientText(s.coulomb);
  }
  // Refused before any tick, as the panel, the window and the Python module refuse them.
  const auto n = static_cast<uint32_t>(robot->links.size());
  const std::vector<double> q0 = Values(JointVector(s.q0, n)), qd0 = Values(JointVector(s.qd0, n));
  for (const std::string& problem :
       {s.viscousGiven ? FrictionProblem("--viscous", robot->viscousFriction) : std::string(),
        s.coulombGiven ? FrictionProblem("--coulomb", robot->coulombFriction) : std::string(),
        StartProblem("--q0", q0.data(), n), StartProblem("--qd0", qd0.data(), n)}) {
    if (!problem.empty()) {
      error = problem;
      return nullptr;
    }
  }
  if (s.gravityGiven) {
    ReadVectorText(s.gravity, robot->gravity);
  }
  ApplyPhysicsChoice(s.physics, s.viscousGiven || s.coulombGiven, *robot);
  return robot;
}

// The payloads added to the arm and the forces read for it: "" or the problem.
std::string PushArm(Settings& s, Robot& robot) {
  return ResolveForces(s.push, robot, s.forces);
}

// The error of the first write to standard output that failed, 0 while all succeed.
int writeError = 0;

// Writes text to standard output; false once a write has failed.
bool Write(const std::string& text) {
  if (writeError == 0 && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    writeError = errno != 0 ? errno : EIO;
  }
  return writeError == 0;
}

bool AllFinite(const Robot& robot, const matrix<double>& torque) {
  for (uint32_t i = 0; i < torque.RowCount(); ++i) {
    if (!std::isfinite(torque(i, 0))) {
      return false;
    }
  }
  return StateIsFinite(robot);
}

// Progress on standard error for long runs, only when standard error is a terminal.
class Progress {
 public:
  explicit Progress(uint64_t total)
      : total_(total), enabled_(isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

  void Update(uint64_t tick) {
    if (!enabled_ || (tick & 63u) != 0) {
      return;
    }
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietTime || now - last_ < kProgressInterval) {
      return;
    }
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\rvelmoth-sim: tick %llu of %llu (%.0f%%)",
                 static_cast<unsigned long long>(tick), static_cast<unsigned long long>(total_),
                 100.0 * static_cast<double>(tick) / static_cast<double>(total_));
  }

  // Clears the progress line, so that it leaves nothing behind.
  void Finish() {
    if (shown_) {
      std::fputs("\r\033[K", stderr);
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  uint64_t total_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point last_{};
};

void RunTicks(const Settings& s, std::unique_ptr<Robot> robot) {
  const auto n = static_cast<uint32_t>(robot->links.size());
  Stepper stepper(*robot, ResolveStepOptions(s.step, !s.urdf.empty()));
  // The controller of the command line, or the one a replay's lines set.
  const auto controller = std::make_shared<Controller>(*robot, ResolveControl(s.control, n));
  stepper.SetController(controller);
  // The state the first tick starts from.
  const matrix<double> q0 = JointVector(s.q0, n);
  const matrix<double> qd0 = JointVector(s.qd0, n);
  for (uint32_t i = 0; i < n; ++i) {
    robot->links[i]->q = q0(i, 0);
    robot->links[i]->qd = qd0(i, 0);
  }
  // A replay's own start comes with its first events.
  if (const std::string notice = ClampStartToLimits(*robot); !notice.empty() && s.replay.empty()) {
    std::fprintf(stderr, "velmoth-sim: %s: %s\n", s.urdf.c_str(), notice.c_str());
  }
  // The user's vectors, as "Set Torque" and "Set Accel." would store them, and what a replay
  // changes of them, of the arm and of the step before each tick.
  matrix<double> userTorque = JointVector(s.torque, n);
  matrix<double> userAccel = JointVector(s.accel, n);
  TickInputs inputs = InputsOf(*robot, s.mode == "inverse", userTorque, userAccel,
                               stepper.Options(), controller->Settings());
  inputs.forces.forces = s.forces;
  // The forces held and the replay's pulls, through the joints' torques.
  ForceSource forces(*robot);
  auto event = s.events.events.begin();

  std::string frameError;
  recursive::FrameTracker tracker(*robot, FindFrames(*robot, s.frames, frameError));
  std::vector<double> positions(3 * static_cast<std::size_t>(tracker.Count()));
  std::string line = RunCsvHeader(n, s.balance);
  // The reference's columns, of the controller the run starts with (or the replay's first).
  const auto firstController =
      std::find_if(s.events.events.begin(), s.events.events.end(),
                   [](const ReplayEvent& e) { return e.what == "controller"; });
  const ControllerSettings columns = firstController != s.events.events.end()
                                         ? ResolveControl(firstController->control, n)
                                         : controller->Settings();
  const uint32_t referenceSize = !s.reference                              ? 0
                                 : columns.kind == ControllerKind::kTaskPd ? 3
                                 : Tracks(columns.kind)                    ? n
                                                                           : 0;
  std::vector<double> reference(referenceSize), error(referenceSize);
  if (referenceSize > 0) {
    AppendReferenceHeader(line, referenceSize, columns.kind == ControllerKind::kTaskPd);
  }
  AppendFrameHeader(line, s.frames);
  if (!Write(line)) {
    return;
  }

  Progress progress(s.ticks);
  bool finite = true;
  bool capped = false;
  bool saturated = false;
  for (uint64_t tick = 1; tick <= s.ticks; ++tick) {
    if (event != s.events.events.end() && event->tick < tick) {
      for (; event != s.events.events.end() && event->tick < tick; ++event) {
        ApplyReplayEvent(*event, *robot, inputs, controller.get());
      }
      userTorque = MatrixFromRowMajor(n, 1, inputs.torque.data());
      userAccel = MatrixFromRowMajor(n, 1, inputs.accel.data());
      stepper.SetOptions(inputs.step);
    }
    if (!(forces.Forces() == inputs.forces)) {
      forces.Set(inputs.forces);  // checked with the arm before the first tick
    }
    forces.ApplyTo(stepper);
    // One tick of the window, on its local copies of the user's vectors.
    matrix<double> accel = userAccel;
    matrix<double> torque = userTorque;
    if (inputs.inverse) {
      torque = stepper.Inverse(accel);
    } else {
      accel = stepper.Forward(torque);
      torque = stepper.LastTorque();
    }

    // A divergence (a state that is not finite, or energy the step made without work), a tick that
    // reached its cap and one that found the energy balance off, each reported once with its cause
    // and remedy (the balance once per balance).
    const StepReport& report = stepper.LastReport();
    if (finite && (!AllFinite(*robot, torque) || report.Diverged())) {
      finite = false;
      progress.Finish();
      std::fprintf(stderr, "velmoth-sim: warning: %s; the run goes on\n",
                   DivergenceMessage(report, tick).c_str());
    }

    if (!capped && !inputs.inverse && stepper.LastCapped()) {
      capped = true;
      progress.Finish();
      std::fprintf(stderr, "velmoth-sim: warning: %s; later ticks that reach it are not reported\n",
                   CapMessage(report, tick).c_str());
    }

    if (finite && !inputs.inverse && report.offBalance) {
      progress.Finish();
      std::fprintf(stderr, "velmoth-sim: warning: %s; the run goes on\n",
                   BalanceMessage(report, tick).c_str());
    }

    if (!saturated && !inputs.inverse && robot->effortLimits) {
      std::string names;
      for (uint32_t i = 0; i < n; ++i) {
        if (stepper.Saturated()[i] != 0) {
          names += (names.empty() ? "'" : ", '") + JointName(*robot, i) + "'";
        }
      }
      if (!names.empty()) {
        saturated = true;
        progress.Finish();
        std::fprintf(stderr,
                     "velmoth-sim: tick %llu (t = %.2f s): the torques of %s saturate at their "
                     "efforts; later ticks are not reported\n",
                     static_cast<unsigned long long>(tick), static_cast<double>(tick) * kTimeStep,
                     names.c_str());
      }
    }

    if (tick % s.every == 0) {
      line.clear();
      AppendRunCsvRow(line, tick, *robot, torque, s.balance);
      if (referenceSize > 0) {
        // The reference and the error at the tick's end, of the controller's reference as it is
        // (zeros while no reference of that size runs).
        std::fill(reference.begin(), reference.end(), 0.0);
        std::fill(error.begin(), error.end(), 0.0);
        if (static_cast<uint32_t>(controller->ReferenceSize()) == referenceSize) {
          std::vector<double> q(n);
          for (uint32_t i = 0; i < n; ++i) {
            q[i] = robot->links[i]->q;
          }
          controller->Tracking(0.0, q.data(), reference.data(), error.data());
        }
        AppendReferenceColumns(line, reference.data(), error.data(), referenceSize);
      }
      if (tracker.Count() > 0) {
        tracker.Track(*robot, positions.data());
        AppendFramePositions(line, positions.data(), s.frames.size());
      }
      if (!Write(line)) {
        break;  // nobody reads the rest
      }
    }
    progress.Update(tick);
  }
  progress.Finish();
}

void WriteQuantity(const char* name, const matrix<double>& m) {
  std::string line = name;
  line += ' ' + std::to_string(m.RowCount()) + ' ' + std::to_string(m.ColCount());
  for (uint32_t r = 0; r < m.RowCount(); ++r) {
    for (uint32_t c = 0; c < m.ColCount(); ++c) {
      AppendCsvNumber(line, m(r, c), ' ');
    }
  }
  line += '\n';
  Write(line);
}

void WriteScalar(const char* name, double value) {
  std::string line = name;
  line += " 1 1";
  AppendCsvNumber(line, value, ' ');
  line += '\n';
  Write(line);
}

void EvaluateTerms(const Settings& s, std::unique_ptr<Robot> robot) {
  const auto n = static_cast<uint32_t>(robot->links.size());
  const matrix<double> q = JointVector(s.q, n);
  const matrix<double> qd = JointVector(s.qd, n);
  const matrix<double> torque = JointVector(s.torque, n);
  const matrix<double> accel = JointVector(s.accel, n);
  for (uint32_t i = 0; i < n; ++i) {
    robot->links[i]->q = q(i, 0);
    robot->links[i]->qd = qd(i, 0);
  }

  const EquationTerms terms = EvaluateEquationTerms(*robot);
  const double kinetic = robot->kineticEnergy;
  const double potential = robot->potentialEnergy;
  const matrix<double> qdd = ForwardDynamics(*robot, torque);
  for (uint32_t i = 0; i < n; ++i) {
    robot->links[i]->qdd = accel(i, 0);
  }
  // As a run reports a state that diverged (the damped solve has no answer once M is too large).
  for (uint32_t i = 0; i < n; ++i) {
    if (!std::isfinite(qdd(i, 0))) {
      std::fputs(
          "velmoth-sim: warning: the closed form's accelerations qdd are not finite in this "
          "state\n",
          stderr);
      break;
    }
  }
  const matrix<double> tau = InverseDynamics(*robot);

  // The same state by the chosen engine: its exact accelerations and its torques.
  std::vector<double> qv(n), qdv(n), qddEngine(n), tauEngine(n), accelv(n);
  for (uint32_t i = 0; i < n; ++i) {
    qv[i] = q(i, 0);
    qdv[i] = qd(i, 0);
    accelv[i] = accel(i, 0);
    tauEngine[i] = torque(i, 0) - FrictionTorque(*robot, i, qdv[i]);
  }
  const std::unique_ptr<Equation> engine =
      MakeEquation(ResolveStepOptions(s.step, !s.urdf.empty()).engine, *robot);
  engine->Evaluate(*robot, qv.data(), qdv.data());
  engine->Solve(nullptr, tauEngine.data(), nullptr, qddEngine.data());
  engine->Inverse(accelv.data(), tauEngine.data());
  matrix<double> tauOut(n, 1);
  for (uint32_t i = 0; i < n; ++i) {
    tauOut(i, 0) = tauEngine[i] + FrictionTorque(*robot, i, qdv[i]);
  }

  WriteQuantity("M", terms.M);
  WriteQuantity("C", terms.C);
  WriteQuantity("G", terms.G);
  WriteQuantity("F", terms.F);
  WriteScalar("kinetic", kinetic);
  WriteScalar("potential", potential);
  WriteQuantity("qdd", qdd);
  WriteQuantity("tau", tau);
  WriteQuantity("qdd_engine", MatrixFromRowMajor(n, 1, qddEngine.data()));
  WriteQuantity("tau_engine", tauOut);
}

// Reads the replay of --replay into s: its arm (unless the command line gives one), its events and
// its length (unless --ticks is given). "" or the problem; the options that the replay sets may not
// be given besides it.
std::string LoadReplay(const CLI::App& run, Settings& s) {
  for (const char* option :
       {"--mode", "--torque", "--accel", "--viscous", "--coulomb", "--gravity", "--q0", "--qd0",
        "--engine", "--integrator", "--substeps", "--tolerance"}) {
    if (run.count(option) > 0) {
      return std::string(option) + " cannot be given with --replay, which sets it";
    }
  }
  std::string text;
  if (std::string problem = ReadUrdfFile(s.replay, text); !problem.empty()) {
    return s.replay + ": " + problem;
  }
  if (std::string problem = ParseReplay(text, s.events, s.cut); !problem.empty()) {
    return s.replay + ": " + problem;
  }
  // A cut recording ends at its last complete row, which the recording beside the replay holds.
  if (!s.events.ticks && run.count("--ticks") == 0) {
    const std::string recording =
        s.replay.size() > 7 && s.replay.compare(s.replay.size() - 7, 7, ".replay") == 0
            ? s.replay.substr(0, s.replay.size() - 7)
            : std::string();
    struct stat file {};
    std::ifstream rows;
    if (!recording.empty() && stat(recording.c_str(), &file) == 0 && S_ISREG(file.st_mode)) {
      rows.open(recording, std::ios::binary);
    }
    if (!rows.is_open()) {
      return s.replay + ": no end line, and no recording beside it (" +
             (recording.empty() ? s.replay + " without .replay" : recording) +
             ") to tell its length: give --ticks";
    }
    uint64_t lines = 0;
    char buffer[1 << 16];
    while (rows.read(buffer, sizeof buffer) || rows.gcount() > 0) {
      lines += static_cast<uint64_t>(std::count(buffer, buffer + rows.gcount(), '\n'));
    }
    s.events.ticks = lines > 0 ? lines - 1 : 0;  // the header is no tick
  }
  // The arm's physics, where the replay sets it (a recording made before it did leaves it to the
  // command line).
  for (const auto& [option, what] : {std::pair<const char*, const char*>{"--limits", "limits"},
                                     {"--friction", "friction"},
                                     {"--effort-limits", "efforts"}}) {
    const bool sets = std::any_of(s.events.events.begin(), s.events.events.end(),
                                  [&](const ReplayEvent& event) { return event.what == what; });
    if (sets && run.count(option) > 0) {
      return std::string(option) + " cannot be given with --replay, which sets it";
    }
  }
  // The controller, where the replay sets it.
  const bool controls =
      std::any_of(s.events.events.begin(), s.events.events.end(),
                  [](const ReplayEvent& event) { return event.what == "controller"; });
  for (const char* option :
       {"--controller", "--target", "--trajectory", "--duration", "--amplitude", "--period",
        "--control-rate", "--frequency", "--kp", "--kd", "--kn", "--compensation", "--tool",
        "--model-mass-error", "--model-friction"}) {
    if (controls && run.count(option) > 0) {
      return std::string(option) + " cannot be given with --replay, which sets it";
    }
  }
  // The forces, where the replay sets them; the payloads, where its arm has them.
  const bool pushes = std::any_of(s.events.events.begin(), s.events.events.end(),
                                  [](const ReplayEvent& event) { return event.what == "forces"; });
  if (pushes && run.count("--force") > 0) {
    return "--force cannot be given with --replay, which sets it";
  }
  const bool loaded = std::any_of(s.events.arm.begin(), s.events.arm.end(),
                                  [](const auto& option) { return option.first == "--payload"; });
  if (loaded && run.count("--payload") > 0) {
    return "--payload cannot be given with --replay, whose arm has its payloads";
  }
  // The command line's arm takes the place of the file's.
  if (run.count("--links") == 0 && run.count("--urdf") == 0 && run.count("--tip") == 0) {
    for (const auto& [option, value] : s.events.arm) {
      if (option == "--urdf") {
        s.urdf = value;
      } else if (option == "--payload") {
        s.push.payloads.push_back(value);
      } else if (option == "--tip") {
        s.tip = value;
      } else {
        uint64_t links = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), links);
        if (error != std::errc() || end != value.data() + value.size() || links > kLinkLimit) {
          return s.replay + ": --links expects a whole number from 0 to 100, not '" + Echo(value) +
                 "'";
        }
        s.links = links;
      }
    }
  }
  if (run.count("--ticks") == 0 && s.events.ticks) {
    s.ticks = *s.events.ticks;
  }
  return "";
}

void PrintKinematics(const Settings& s, const Robot& robot, const std::vector<int>& frames) {
  const auto n = static_cast<uint32_t>(robot.links.size());
  const matrix<double> q = JointVector(s.q, n);
  const matrix<double> qd = JointVector(s.qd, n);
  std::vector<double> qv(n), qdv(n);
  for (uint32_t i = 0; i < n; ++i) {
    qv[i] = q(i, 0);
    qdv[i] = qd(i, 0);
  }
  Write(KinematicsText(robot, qv, qdv, frames));
}

// The other command that takes the option called name, if any.
CLI::App* OwnerOf(const std::string& name, const CLI::App* chosen,
                  std::initializer_list<CLI::App*> commands) {
  if (name.size() <= 2 || name.compare(0, 2, "--") != 0) {
    return nullptr;
  }
  for (CLI::App* command : commands) {
    if (command != chosen && command->get_option_no_throw(name) != nullptr) {
      return command;
    }
  }
  return nullptr;
}

// The whole program; main adds the answer to running out of memory.
int Main(int argc, char** argv) {
  Settings s;
  CLI::App app(
      "The Velmoth arm simulation without the window. The arm is a chain of identical 1 kg,\n"
      "0.3 m links turning about x, or an arm of a URDF file (--urdf); every tick advances\n"
      "it by 0.01 s.",
      "velmoth-sim");
  app.footer(std::string(kRunDetails) + "\n" + kTermsDetails + "\n" + kKinematicsDetails + "\n" +
             kTextRules);
  app.require_subcommand(0, 1);
  app.set_version_flag("--version", std::string("velmoth-sim ") + kVelmothVersion,
                       "Print the version and exit");

  CLI::App* run =
      app.add_subcommand("run", "Run ticks as the window does and print CSV (the default command)");
  run->footer(std::string(kRunDetails) + "\n" + kTextRules);
  run->add_option("--mode", s.mode,
                  "forward (torques in) or inverse (accelerations in) (default: forward)")
      ->type_name("MODE")
      ->check(Mode());
  AddArmOptions(*run, s);
  AddStepOptions(*run, s.step);
  AddPhysicsOptions(*run, s.physics);
  run->add_option("--q0", s.q0, "Joint positions at the start (default: all 0)")->type_name("TEXT");
  run->add_option("--qd0", s.qd0, "Joint velocities at the start (default: all 0)")
      ->type_name("TEXT");
  run->add_option("--ticks", s.ticks, "Number of ticks (default: 100)")
      ->type_name("N")
      ->check(WholeNumber(0, UINT64_MAX));
  run->add_option("--every", s.every, "Print every K-th tick (default: 1)")
      ->type_name("K")
      ->check(WholeNumber(1, UINT64_MAX));
  run->add_option("--replay", s.replay,
                  "Repeat a recording of the window: its FILE.replay gives the arm, the start, "
                  "and every input and step as it changed (--ticks: the recording's)")
      ->type_name("FILE")
      ->check(FileName());
  run->add_flag("--cut", s.cut,
                "With --replay: the replay of a recording cut before its end (killed, crashed), "
                "repeated up to its last complete row");
  run->add_flag("--balance", s.balance,
                "Add the columns work,dissipated: the energy balance of the forward ticks");
  run->add_option("--frame", s.frames,
                  "Add the position of this frame after each printed tick (repeatable)")
      ->type_name("NAME");
  AddControlOptions(*run, s.control);
  AddForceOptions(*run, s.push);
  run->add_flag("--reference", s.reference,
                "Add the columns of the controller's reference and error after each tick");

  CLI::App* terms =
      app.add_subcommand("terms", "Evaluate one state without stepping and print its terms");
  terms->footer(std::string(kTermsDetails) + "\n" + kTextRules);
  terms->add_option("--q", s.q, "Joint positions (default: all 0)")->type_name("TEXT");
  terms->add_option("--qd", s.qd, "Joint velocities (default: all 0)")->type_name("TEXT");
  AddArmOptions(*terms, s);
  AddStepOptions(*terms, s.step, true);
  AddPhysicsOptions(*terms, s.physics, true);

  CLI::App* kinematics = app.add_subcommand(
      "kinematics", "Print the poses, Jacobians and J-dot qd of the arm's frames for one state");
  kinematics->footer(std::string(kKinematicsDetails) + "\n" + kTextRules);
  kinematics->add_option("--q", s.q, "Joint positions (default: all 0)")->type_name("TEXT");
  kinematics->add_option("--qd", s.qd, "Joint velocities (default: all 0)")->type_name("TEXT");
  kinematics->add_option("--frame", s.frames, "Print this frame only (repeatable; default: all)")
      ->type_name("NAME");
  AddArmChoice(*kinematics, s);

  // "run" is the default command: options without a command name belong to it.
  std::vector<const char*> args(argv, argv + argc);
  if (argc < 2 || (std::strcmp(argv[1], "run") != 0 && std::strcmp(argv[1], "terms") != 0 &&
                   std::strcmp(argv[1], "kinematics") != 0 && std::strcmp(argv[1], "--help") != 0 &&
                   std::strcmp(argv[1], "-h") != 0 && std::strcmp(argv[1], "--version") != 0)) {
    args.insert(args.begin() + 1, "run");
  }
  // "--name=" gives the option an empty value, as "--name ''" does (CLI11 would take the next
  // argument as its value instead).
  std::deque<std::string> names;
  GiveEmptyValues(args, names);

  // Arguments that no option takes are left over and named below, one message for the first.
  run->allow_extras();
  terms->allow_extras();
  kinematics->allow_extras();
  bool help = false;
  static char outputBuffer[1 << 16];
  std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
  try {
    app.parse(static_cast<int>(args.size()), args.data());
  } catch (const CLI::CallForVersion& e) {
    Write(std::string(e.what()) + "\n");
    help = true;
  } catch (const CLI::CallForHelp&) {
    // The top level documents every command and option; a command's help only its own.
    const bool topLevel = app.get_subcommands().empty();
    Write(topLevel ? app.help("", CLI::AppFormatMode::All) : app.help());
    help = true;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "velmoth-sim: %s\n", ParseErrorLine(e).c_str());
    return kUsageStatus;
  }
  CLI::App* const chosen = terms->parsed() ? terms : kinematics->parsed() ? kinematics : run;
  if (!help && !chosen->remaining().empty()) {
    const std::string extra = chosen->remaining().front();
    const std::string name = extra.substr(0, extra.find('='));
    if (extra.empty()) {
      std::fprintf(stderr, "velmoth-sim: %s takes no empty argument ('')\n",
                   chosen->get_name().c_str());
    } else if (CLI::App* const other = OwnerOf(name, chosen, {run, terms, kinematics})) {
      std::fprintf(stderr, "velmoth-sim: %s belongs to %s, not to %s\n", name.c_str(),
                   other->get_name().c_str(), chosen->get_name().c_str());
    } else {
      std::fprintf(stderr, "velmoth-sim: %s does not take '%s'\n", chosen->get_name().c_str(),
                   Echo(extra).c_str());
    }
    return kUsageStatus;
  }

  // Whether the command takes the option and it was given.
  const auto given = [](const CLI::App* command, const char* name) {
    const CLI::Option* option = command->get_option_no_throw(name);
    return option != nullptr && option->count() > 0;
  };
  for (CLI::App* command : {run, terms, kinematics}) {
    if (command->count("--links") > 0 && command->count("--urdf") > 0) {
      std::fputs("velmoth-sim: --links and --urdf cannot be given together\n", stderr);
      return kUsageStatus;
    }
    if (command->count("--tip") > 0 && command->count("--urdf") == 0) {
      std::fputs("velmoth-sim: --tip chooses the end of a URDF file's chain and needs --urdf\n",
                 stderr);
      return kUsageStatus;
    }
    s.viscousGiven = s.viscousGiven || given(command, "--viscous");
    s.coulombGiven = s.coulombGiven || given(command, "--coulomb");
    s.gravityGiven = s.gravityGiven || given(command, "--gravity");
  }

  if (!help && run->parsed()) {
    std::string problem = CheckControlChoice(*run, s.control);
    const ControllerKind kind =
        ControllerNamed(s.control.controller).value_or(ControllerKind::kTorque);
    if (problem.empty() && s.reference && !Tracks(kind) && run->count("--replay") == 0) {
      problem = "--reference needs --controller pd, computed-torque or task-pd";
    }
    if (!problem.empty()) {
      std::fprintf(stderr, "velmoth-sim: %s\n", problem.c_str());
      return kUsageStatus;
    }
  }
  if (run->count("--cut") > 0 && run->count("--replay") == 0) {
    std::fputs("velmoth-sim: --cut repeats a cut recording and needs --replay\n", stderr);
    return kUsageStatus;
  }
  if (!help && run->count("--replay") > 0) {
    if (const std::string problem = LoadReplay(*run, s); !problem.empty()) {
      std::fprintf(stderr, "velmoth-sim: %s\n", problem.c_str());
      return kUsageStatus;
    }
  }

  std::string armError;
  std::unique_ptr<Robot> arm = help ? nullptr : MakeArm(s, armError);
  if (!help && arm == nullptr) {
    std::fprintf(stderr, "velmoth-sim: %s\n", armError.c_str());
    return kUsageStatus;
  }
  if (!help && run->parsed()) {
    if (const std::string problem = PushArm(s, *arm); !problem.empty()) {
      std::fprintf(stderr, "velmoth-sim: %s\n", problem.c_str());
      return kUsageStatus;
    }
  }
  if (!help && !s.replay.empty()) {
    const auto n = static_cast<uint32_t>(arm->links.size());
    std::string problem = CheckReplay(s.events, n);
    problem = problem.empty() ? CheckReplayForces(s.events, *arm) : problem;
    if (!problem.empty()) {
      std::fprintf(stderr, "velmoth-sim: %s: %s\n", s.replay.c_str(), problem.c_str());
      return kUsageStatus;
    }
  }
  const std::vector<int> frames = help ? std::vector<int>() : FindFrames(*arm, s.frames, armError);
  if (frames.size() != s.frames.size()) {
    std::fprintf(stderr, "velmoth-sim: %s\n", armError.c_str());
    return kUsageStatus;
  }
  if (!help && !s.control.tool.empty() &&
      FindFrames(*arm, {s.control.tool}, armError).size() != 1) {
    std::fprintf(stderr, "velmoth-sim: --tool: %s\n", armError.c_str());
    return kUsageStatus;
  }
  if (help) {
    // The help text is the whole output.
  } else if (terms->parsed()) {
    EvaluateTerms(s, std::move(arm));
  } else if (kinematics->parsed()) {
    PrintKinematics(s, *arm, frames);
  } else {
    RunTicks(s, std::move(arm));
  }
  if (std::fflush(stdout) != 0 && writeError == 0) {
    writeError = errno != 0 ? errno : EIO;
  }
  if (writeError != 0) {
    std::fprintf(stderr, "velmoth-sim: cannot write standard output: %s\n",
                 std::strerror(writeError));
    return kOutputFailureStatus;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs(
        "velmoth-sim: out of memory (the memory a tick needs grows with the cube of --links)\n",
        stderr);
    return kOutOfMemoryStatus;
  }
}
