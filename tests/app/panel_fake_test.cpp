// The panel's behaviour through a window system without a display: each control is its text and
// enabled state, the timer ticks when the test calls Tick, and the view keeps its first rectangle
// and counts its repaints. (The window tests run the real Qt layer end to end.)
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "app/control_form.h"
#include "app/dialog_template.h"
#include "app/recorder.h"
#include "app/teach_pose.h"
#include "app/trace_buffer.h"
#include "app/velmoth_dlg.h"
#include "app/window_system.h"
#include "recursive/frames.h"
#include "robot/robot.h"
#include "simulation/control_options.h"
#include "simulation/external_forces.h"
#include "simulation/payload.h"
#include "simulation/stepper.h"
#include "simulation/text_fields.h"
#include "tests/app/panel_helpers.h"
#include "urdf/urdf_loader.h"

namespace {

using panel_test::Column;
using panel_test::kSixZeros;
using panel_test::State;
using panel_test::Vec;

// The arm's joint positions.
Vec Angles(const Robot& arm) {
  Vec q;
  for (const auto& link : arm.links) {
    q.push_back(link->q);
  }
  return q;
}

struct FakeDriver : WindowSystem {
  struct Control {
    std::string text;
    bool enabled = true;
  };
  struct View : ViewWindow {
    explicit View(const PixelRect& rect) : rect(rect) {}
    void Invalidate() override { ++repaints; }
    void SetSize(int /*width*/, int /*height*/) override {}  // resizing is the Qt tests' part
    PixelRect rect;
    int repaints = 0;
  };

  // Initialises the dialog; its end is up to the test, else the dialog's own destructor.
  explicit FakeDriver(int width = 900, int height = 650, ArmSetup arm = {})
      : clientWidth(width), clientHeight(height) {
    for (const ControlTemplate& c : kMainDialogTemplate.controls) {
      controls[c.id].text = c.caption;
    }
    dlg.SetArmSetup(std::move(arm));
    dlg.OnInitDialog();
  }

  Robot& Arm() { return *dlg.m_pRobot; }
  Vec Torque() { return Column(dlg.m_torque); }
  View& TheView() { return *static_cast<View*>(dlg.m_pView); }
  void Type(int id, const std::string& text) {
    ASSERT_TRUE(FindControl(kMainDialogTemplate, id)->kind == ControlKind::kEdit && Enabled(id));
    controls.at(id).text = text;
  }
  // A radio button checks itself, and so clears the other one of its group, before its click.
  void Click(int id) {
    if (FindControl(kMainDialogTemplate, id)->kind == ControlKind::kRadioButton) {
      checkedRadio = id;
    }
    dlg.OnCommand(id);
  }
  void Tick(int count = 1) {
    for (int i = 0; i < count; ++i) {
      for (unsigned id : timers) {
        dlg.OnTimer(id);
      }
    }
  }
  std::string Text(int id) const { return controls.at(id).text; }
  bool Enabled(int id) const { return controls.at(id).enabled; }

  // WindowSystem, for the template's identifiers only.
  void SetDlgItemText(int id, const char* text) override { controls.at(id).text = text; }
  int GetDlgItemText(int id, char* buffer, int size) const override {
    const std::string& text = controls.at(id).text;
    std::snprintf(buffer, static_cast<std::size_t>(std::max(size, 0)), "%s", text.c_str());
    return std::min(static_cast<int>(text.size()), std::max(size - 1, 0));
  }
  unsigned IsDlgButtonChecked(int id) const override { return checkedRadio == id ? kChecked : 0; }
  void CheckDlgButton(int id, unsigned check) override {
    checkedRadio = check == kChecked ? id : (checkedRadio == id ? 0 : checkedRadio);
  }
  void EnableDlgItem(int id, bool enable) override { controls.at(id).enabled = enable; }
  void SetTimer(unsigned id, unsigned /*periodMs*/) override { timers.insert(id); }
  // Delivered at once.
  void PostAppMessage(unsigned id) override { dlg.OnAppMessage(id); }
  PixelRect GetClientRect() const override { return {0, 0, clientWidth, clientHeight}; }
  ViewWindow* CreateView(Robot* /*robot*/, const PixelRect& rect) override {
    return new View(rect);
  }
  // A box is a failure unless the test expects one (the next to come).
  void MessageBox(const char* text) override {
    if (expectedBox.empty()) {
      ADD_FAILURE() << "message box: " << text;
    }
    EXPECT_EQ(text, expectedBox);
    expectedBox.clear();
  }
  IconHandle LoadIcon(int /*resourceId*/) override { return 0; }
  void SetIcon(IconHandle /*icon*/, bool /*big*/) override {}
  bool IsIconic() const override { return false; }
  int IconSize() const override { return 32; }
  void DrawIcon(IconHandle /*icon*/, int /*x*/, int /*y*/) override {}

  std::map<int, Control> controls;  // the labels share one entry
  std::set<unsigned> timers;
  int checkedRadio = 0;  // the checked radio button, 0 for none
  std::string expectedBox;
  int clientWidth;
  int clientHeight;
  CVelmothDlg dlg{*this};  // last, so that it goes first
};

// A friction coefficient no friction can have is refused in a box, in the words velmoth-sim and the
// Python module use, and the "Set" changes nothing, gravity included.
TEST(Panel, SetRefusesFrictionBelowZeroOrNotFinite) {
  for (const auto& [field, text, message] :
       {std::tuple{kIdViscousFriction, "-1", "viscous must be finite and 0 or more, not -1"},
        std::tuple{kIdCoulombFriction, "nan", "coulomb must be finite and 0 or more, not nan"},
        std::tuple{kIdCoulombFriction, "-inf", "coulomb must be finite and 0 or more, not -inf"}}) {
    FakeDriver d;
    d.Type(field, text);
    d.Type(kIdGravity, "1, 2, 3");
    d.expectedBox = std::string("Set is refused: ") + message + ".";
    d.Click(kIdSet);
    EXPECT_EQ(d.expectedBox, "") << text;
    EXPECT_EQ(d.Arm().viscousFriction, 0.1);
    EXPECT_EQ(d.Arm().coulombFriction, 0.1);
    EXPECT_EQ(Column(d.Arm().gravity), (Vec{0.0, 0.0, -9.81}));
  }
}

// The start-up texts round their values, but a "Set" reads only what the user changed: a field
// that still holds the text the panel wrote keeps the exact values behind it (gravity stays -9.81,
// not -9.8; 0.12345 shown as "0.123"), and one typed is read as typed, however close to the text.
TEST(Panel, SetKeepsTheExactValuesBehindTheFieldsNotTyped) {
  {
    FakeDriver d;
    EXPECT_EQ(d.Text(kIdJointTorque), kSixZeros);
    EXPECT_EQ(d.Text(kIdViscousFriction) + " " + d.Text(kIdCoulombFriction), "0.100 0.100");
    EXPECT_EQ(d.Text(kIdGravity), "     0,      0,   -9.8, ");
    d.Type(kIdCoulombFriction, "0.25");
    d.Click(kIdSet);
    const Robot& a = d.Arm();
    EXPECT_EQ((Vec{a.viscousFriction, a.coulombFriction}), (Vec{0.1, 0.25}));
    EXPECT_EQ(Column(a.gravity), (Vec{0.0, 0.0, -9.81}));
    d.Type(kIdGravity, "     0,      0,   -9.8,");
    d.Click(kIdSet);
    EXPECT_EQ(Column(a.gravity), (Vec{0.0, 0.0, -9.8}));
  }
  const int fields[] = {kIdViscousFriction, kIdCoulombFriction, kIdGravity};
  for (const int typed : {0, kIdViscousFriction, kIdCoulombFriction, kIdGravity}) {  // 0: none
    ArmSetup arm;
    arm.viscous = "0.12345";
    arm.coulomb = "0.06789";
    arm.gravity = "0.01234, 0, -9.81";
    FakeDriver d(900, 650, arm);
    EXPECT_EQ(d.Text(kIdViscousFriction) + " " + d.Text(kIdCoulombFriction), "0.123 0.068");
    Vec expected = {0.12345, 0.06789, 0.01234};
    for (int i = 0; i < 3; ++i) {
      if (fields[i] == typed) {
        d.Type(typed, "0.5");
        expected[i] = 0.5;
      }
    }
    d.Click(kIdSet);
    const Robot& a = d.Arm();
    EXPECT_EQ((Vec{a.viscousFriction, a.coulombFriction, a.gravity(0, 0)}), expected) << typed;
  }
}

// An arm whose first joint has friction of its own and limits: its joints take the file's friction
// until "Set" takes a friction coefficient the user typed (a gravity typed leaves it), or unless
// the start gives the panel's; a start outside the limits, and "Reset" where zero is, put the joint
// at the nearest limit, the start with a notice.
TEST(Panel, SetWithFrictionTypedMakesEveryJointTakeThePanelsAndTheStartKeepsTheLimits) {
  const auto make = [] {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(2);
    robot->links[0]->fileFriction = true;
    robot->links[0]->fileCoulomb = 0.5;
    robot->links[1]->lower = 0.2;
    robot->links[1]->upper = 1.0;
    return robot;
  };
  const struct {
    std::optional<std::string> coulomb;
    std::optional<FrictionSource> friction;
    FrictionSource starts;
  } starts[] = {{std::nullopt, std::nullopt, FrictionSource::kFile},
                {"0.2", std::nullopt, FrictionSource::kUniform},
                {"0.2", FrictionSource::kFile, FrictionSource::kFile}};
  for (const auto& start : starts) {
    ArmSetup arm;
    arm.make = make;
    arm.coulomb = start.coulomb;
    arm.friction = start.friction;
    arm.q0 = "0, 3";
    FakeDriver d(900, 650, arm);
    EXPECT_EQ(d.Arm().frictionSource, start.starts);
    EXPECT_EQ(d.Arm().links[1]->q, 1.0);
    EXPECT_EQ(d.dlg.StartNotices(),
              std::vector<std::string>{"the start is outside the joint limits: 'joint1' starts at "
                                       "1 (limits 0.2 to 1) instead of 3"});
    d.Type(kIdGravity, "0, 0, -1");
    d.Click(kIdSet);
    EXPECT_EQ(d.Arm().frictionSource, start.starts);
    d.Type(kIdCoulombFriction, "0.3");
    d.Click(kIdSet);
    EXPECT_EQ(d.Arm().frictionSource, FrictionSource::kUniform);
    EXPECT_EQ(JointCoulomb(d.Arm(), 0), 0.3);
    d.Click(kIdReset);
    EXPECT_EQ(d.Arm().links[1]->q, 0.2);
  }
}

// The window's physics controls, each changed halfway through a run, reach the arm the ticks step:
// the run is bit for bit that of a stepper whose arm was changed the same way between the same
// ticks.
TEST(Panel, PhysicsControlsReachTheArmTheTicksStep) {
  const auto make = [] {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(2);
    robot->links[0]->fileFriction = true;
    robot->links[0]->fileViscous = 1.0;
    robot->links[0]->fileCoulomb = 0.5;
    robot->links[0]->effort = 0.3;
    robot->links[1]->upper = 0.02;
    return robot;
  };
  const struct {
    const char* name;
    void (*change)(CVelmothDlg&);
    void (*same)(Robot&);
  } controls[] = {
      {"limits off", [](CVelmothDlg& d) { d.SetLimits(false); },
       [](Robot& r) { r.limits = false; }},
      {"friction uniform", [](CVelmothDlg& d) { d.SetFrictionSource(FrictionSource::kUniform); },
       [](Robot& r) { r.frictionSource = FrictionSource::kUniform; }},
      {"efforts on", [](CVelmothDlg& d) { d.SetEffortLimits(true); },
       [](Robot& r) { r.effortLimits = true; }},
  };
  for (const auto& control : controls) {
    SCOPED_TRACE(control.name);
    ArmSetup arm;
    arm.make = make;
    arm.step = DefaultStepOptions(true);
    FakeDriver d(900, 650, arm);
    d.Type(kIdJointTorque, "1, 2");
    d.Click(kIdSetTorque);
    std::unique_ptr<Robot> reference = make();
    Stepper stepper(*reference, DefaultStepOptions(true));
    const matrix<double> torque = ColumnOf({1.0, 2.0});
    for (int i = 0; i < 40; ++i) {
      if (i == 20) {
        control.change(d.dlg);
        control.same(*reference);
      }
      d.Tick();
      stepper.Forward(torque);
    }
    EXPECT_EQ(State(d.Arm()), State(*reference));
  }
}

// The run stops at the tick that diverged: no tick after it reaches the listeners or the panel
// (the plots' trace stops there); "Reset" starts them again, from the reset on.
TEST(Panel, AfterADivergenceAndResetThePlotsRunAgain) {
  TraceBuffer trace;
  FakeDriver d;
  d.dlg.AddTickListener(&trace);
  d.Type(kIdJointTorque, "1e308");
  d.Click(kIdSetTorque);
  for (int i = 0; i < 50 && !trace.Stopped(); ++i) {
    d.Tick();
  }
  ASSERT_TRUE(trace.Stopped());
  const uint32_t kept = trace.Size();
  const double diverged = trace.Now();
  const std::string readOuts = d.Text(kIdJointAngle) + d.Text(kIdJointAccel);
  d.Tick();
  EXPECT_EQ(trace.Size(), kept);
  EXPECT_EQ(trace.Now(), diverged);
  EXPECT_EQ(d.Text(kIdJointAngle) + d.Text(kIdJointAccel), readOuts);

  d.Type(kIdJointTorque, "0");
  d.Click(kIdSetTorque);
  d.Click(kIdReset);
  d.Tick(2);
  EXPECT_FALSE(trace.Stopped());
  ASSERT_EQ(trace.Size(), 2u);
  EXPECT_GT(trace.At(0).time, trace.Resets().back());
  d.dlg.RemoveTickListener(&trace);
}

// The panel starts in forward mode. Each mode enables its own input and "Set" button and leaves
// the rest enabled; choosing a mode, or clicking it again, writes its own vector as last set into
// its input, never the other's nor a text typed and not set; a "Set" of that text keeps the exact
// values behind it (1.234 shown as "1.2").
TEST(Panel, EachModeEnablesItsInputAndWritesItsOwnVectorIntoIt) {
  FakeDriver d;
  for (const int radio : {0, kIdInverse, kIdForward, kIdInverse}) {  // 0: as started
    SCOPED_TRACE(radio);
    if (radio != 0) {
      d.Click(radio);
    }
    const bool forward = radio != kIdInverse;
    const int mode = forward ? kIdForward : kIdInverse;
    EXPECT_EQ(d.checkedRadio, mode);
    for (int id : {kIdJointTorque, kIdSetTorque}) {
      EXPECT_EQ(d.Enabled(id), forward) << id;
    }
    for (int id : {kIdJointAccel, kIdSetAccel}) {
      EXPECT_EQ(d.Enabled(id), !forward) << id;
    }
    for (int id : {kIdViscousFriction, kIdCoulombFriction, kIdGravity, kIdSet, kIdReset}) {
      EXPECT_TRUE(d.Enabled(id)) << id;
    }
    const int edit = forward ? kIdJointTorque : kIdJointAccel;
    d.Type(edit, "1");
    d.Click(forward ? kIdSetTorque : kIdSetAccel);
    d.Type(edit, "9, 9");
    d.Click(mode);
    EXPECT_EQ(d.Text(edit), "     1,      0,      0,      0,      0,      0, ");
  }

  FakeDriver e;
  e.Type(kIdJointTorque, "1.234, 5.678");
  e.Click(kIdSetTorque);
  e.Click(kIdInverse);
  EXPECT_EQ(e.Text(kIdJointAccel), kSixZeros);
  e.Type(kIdJointAccel, "3, 4");
  e.Click(kIdSetAccel);
  e.Click(kIdForward);
  EXPECT_EQ(e.Text(kIdJointTorque), "   1.2,    5.7,      0,      0,      0,      0, ");
  e.Click(kIdSetTorque);
  EXPECT_EQ(e.Torque(), (Vec{1.234, 5.678, 0, 0, 0, 0}));
  e.Type(kIdJointTorque, "typed, not set");
  e.Click(kIdInverse);
  EXPECT_EQ(e.Text(kIdJointAccel), "     3,      4,      0,      0,      0,      0, ");

  // A text typed and not set stays through the switch until the first tick.
  FakeDriver f;
  f.Tick();  // the accelerations' edit now shows computed ones
  f.Type(kIdJointTorque, "1, 2, 3");
  f.Click(kIdInverse);
  EXPECT_EQ(f.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(f.Text(kIdJointAccel), kSixZeros);  // the user's accelerations
  f.Tick();
  EXPECT_NE(f.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(f.Torque(), Vec(6, 0.0));  // typed, never set
}

// Every tick repaints the view. "Reset" zeroes the joint state and leaves the torques set, the
// energies and the read-outs alone; the next tick starts from rest again.
TEST(Panel, ResetZeroesTheJointStateAndNothingElse) {
  FakeDriver d;
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdSetTorque);
  d.Tick();
  const std::string firstTick = d.Text(kIdJointAccel);
  d.Tick(4);
  EXPECT_EQ(d.TheView().repaints, 5);
  const double kinetic = d.Arm().kineticEnergy;
  const std::string readOuts = d.Text(kIdJointAngle) + d.Text(kIdTotalEnergy);

  d.Click(kIdReset);
  EXPECT_EQ(State(d.Arm()), Vec(18, 0.0));
  EXPECT_EQ(d.Arm().kineticEnergy, kinetic);
  EXPECT_EQ(d.Text(kIdJointAngle) + d.Text(kIdTotalEnergy), readOuts);
  EXPECT_EQ(d.Torque(), (Vec{1, 2, 3, 0, 0, 0}));
  d.Tick();
  EXPECT_EQ(d.Text(kIdJointAccel), firstTick);
}

TEST(Panel, WithNeitherModeTheReadOutsRefreshAndNothingMoves) {
  FakeDriver d;
  d.Tick();
  d.CheckDlgButton(kIdForward, kUnchecked);
  const Vec state = State(d.Arm());
  const std::string accel = d.Text(kIdJointAccel);
  d.Type(kIdKineticEnergy, "typed");
  d.Type(kIdJointAngle, "typed");
  d.Tick();
  EXPECT_EQ(State(d.Arm()), state);
  EXPECT_EQ(d.Text(kIdJointAccel), accel);
  EXPECT_EQ(d.Text(kIdKineticEnergy), NumberText(d.Arm().kineticEnergy));
  EXPECT_EQ(d.Text(kIdJointAngle), VectorText(d.Arm().GetJointAngles()));
}

// After N ticks the arm's state and the panel's read-outs are those of velmoth-sim, bit for bit,
// on every step, and the mode's input still holds what was typed.
TEST(Panel, TicksMatchVelmothSim) {
  struct Case {
    bool inverse;
    const char* vector;                       // torques forward, accelerations inverse
    const char *viscous, *coulomb, *gravity;  // for "Set", or null for the defaults
    int ticks;
    StepOptions step = {};  // the built-in arm's own step unless given
  };
  const StepOptions refined = DefaultStepOptions(true),
                    rk4{EngineKind::kClosedForm, IntegratorKind::kRk4, 3},
                    recursive{EngineKind::kRecursive, IntegratorKind::kRk4, 2};
  const Case cases[] = {
      {false, "1, 2, 3", nullptr, nullptr, nullptr, 40},
      {false, "0", "0.3", "0.05", "0, 0.5, -3.5", 25},
      {true, "0.5, -1, 0, 0, 0, 2", nullptr, nullptr, nullptr, 30},
      {true, "0", "0", "0.2", "0, 0, -1", 10},
      {false, "1, 2, 3", nullptr, nullptr, nullptr, 40, refined},
      {false, "0", "0", "0", "0, 0.5, -3.5", 25, rk4},
      {true, "0.5, -1, 0, 0, 0, 2", nullptr, nullptr, nullptr, 30, recursive},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vector);
    ArmSetup arm;
    arm.step = c.step;
    FakeDriver d(900, 650, arm);
    const int input = c.inverse ? kIdJointAccel : kIdJointTorque;
    const std::string ticks = std::to_string(c.ticks);
    std::string args = std::string(c.inverse ? "--mode inverse --accel '" : "--torque '") +
                       c.vector + "' --ticks " + ticks + " --every " + ticks + " --engine " +
                       EngineName(c.step.engine) + " --integrator " +
                       IntegratorName(c.step.integrator) + " --substeps " +
                       std::to_string(c.step.substeps);
    if (c.inverse) {
      d.Click(kIdInverse);
    }
    d.Type(input, c.vector);
    d.Click(c.inverse ? kIdSetAccel : kIdSetTorque);
    if (c.viscous != nullptr) {
      d.Type(kIdViscousFriction, c.viscous);
      d.Type(kIdCoulombFriction, c.coulomb);
      d.Type(kIdGravity, c.gravity);
      d.Click(kIdSet);
      args += std::string(" --viscous ") + c.viscous + " --coulomb " + c.coulomb + " --gravity '" +
              c.gravity + "'";
    }
    d.Tick(c.ticks);

    // tick, time, q0..5, qd0..5, qdd0..5, tau0..5, kinetic, potential, total
    const Vec row = panel_test::SimRow(args);
    ASSERT_EQ(row.size(), 29u) << args;
    EXPECT_EQ(State(d.Arm()), Vec(row.begin() + 2, row.begin() + 20));
    EXPECT_EQ(d.Text(kIdJointAngle), panel_test::RowText(row, 2));
    EXPECT_EQ(d.Text(c.inverse ? kIdJointTorque : kIdJointAccel),
              panel_test::RowText(row, c.inverse ? 20 : 14));
    EXPECT_EQ(d.Text(input), c.vector);
    for (int i = 0; i < 3; ++i) {  // kinetic, potential, total
      EXPECT_EQ(d.Text(kIdKineticEnergy + i), NumberText(row[26 + i]));
    }
  }
}

// The dialog's ticks recorded from the next one on into a file of the test's own and its replay;
// the files go with it.
class TestRecording {
 public:
  TestRecording(FakeDriver& d, const std::string& name)
      : d_(d),
        path_(testing::TempDir() + "panel_" + name + "_" + std::to_string(getpid()) + ".csv") {
    std::string error;
    EXPECT_TRUE(recorder_.Start(path_, d_.Arm(), d_.dlg.SimArm(), d_.dlg.RestartStep(), 0, error))
        << error;
    d_.dlg.AddTickListener(&recorder_);
  }
  TestRecording(const TestRecording&) = delete;
  TestRecording& operator=(const TestRecording&) = delete;
  ~TestRecording() {
    d_.dlg.RemoveTickListener(&recorder_);
    std::remove(path_.c_str());
    std::remove((path_ + ".replay").c_str());
  }
  // Each change, and 15 ticks after it.
  void Through(std::initializer_list<std::function<void()>> changes) {
    for (const auto& change : changes) {
      change();
      d_.Tick(15);
    }
  }
  // Stops it and expects its `lines` lines, which velmoth-sim prints byte for byte from the
  // replay; gives the replay's text.
  std::string StopAndReplay(std::ptrdiff_t lines) {
    EXPECT_TRUE(recorder_.Stop());
    d_.dlg.RemoveTickListener(&recorder_);
    std::ifstream recorded(path_, std::ios::binary), replay(path_ + ".replay");
    const std::string csv{std::istreambuf_iterator<char>(recorded), {}};
    std::string replayed;
    FILE* sim = popen((VELMOTH_SIM " run --replay " + path_ + ".replay").c_str(), "r");
    for (int c; (c = std::fgetc(sim)) != EOF;) {
      replayed += static_cast<char>(c);
    }
    EXPECT_EQ(pclose(sim), 0);
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), lines);
    EXPECT_TRUE(replayed == csv) << replayed.substr(0, 300) << "\n---\n" << csv.substr(0, 300);
    return {std::istreambuf_iterator<char>(replay), {}};
  }

 private:
  FakeDriver& d_;
  std::string path_;
  Recorder recorder_;
};

// A recording started in the middle of a run, through every input the panel and the strip change
// (torques, friction and gravity, the mode and the accelerations, "Reset", the step), is what
// velmoth-sim prints from its replay, byte for byte: the window's step starts afresh with it.
TEST(Panel, ARecordingsReplayIsTheRecordingByteForByte) {
  FakeDriver d;
  d.dlg.SetStepOptions(DefaultStepOptions(true));  // a step that carries its refinement along
  d.Type(kIdJointTorque, "0.5, -1");
  d.Click(kIdSetTorque);
  d.Tick(40);
  TestRecording recording(d, "replay");
  recording.Through({
      [&] { d.Type(kIdJointTorque, "2, 0, -1.5"), d.Click(kIdSetTorque); },
      [&] { d.Type(kIdViscousFriction, "0.3"), d.Type(kIdGravity, "0.5, 0, -9"), d.Click(kIdSet); },
      [&] { d.Click(kIdInverse), d.Type(kIdJointAccel, "1, -2"), d.Click(kIdSetAccel); },
      [&] { d.Click(kIdReset); },
      [&] {
        d.dlg.SetStepOptions({EngineKind::kClosedForm, IntegratorKind::kRk4, 3});
      },
      [&] { d.Click(kIdForward), d.dlg.SetStepOptions(StepOptions{}); },
  });
  d.Click(kIdSet);  // nothing changes: nothing to replay
  recording.StopAndReplay(91);
}

// A recording of an arm from a file through changes of its own physics (efforts, limits off, on and
// off again between two ticks, on again, "Set" with a friction typed, the file's friction again)
// and "Reset"s with the limits off and on (zero is outside the second joint's limits), before
// forward and inverse ticks, is what velmoth-sim prints from its replay.
TEST(Panel, ARecordingsReplayKeepsTheArmsLimitsFrictionAndEfforts) {
  const std::string urdf =
      testing::TempDir() + "panel_physics_" + std::to_string(getpid()) + ".urdf";
  const auto link = [](const char* name, double x) {
    return std::string("<link name='") + name + "'><inertial><origin xyz='" + std::to_string(x) +
           " 0 0'/><mass value='1'/><inertia ixx='0.01' ixy='0' ixz='0' iyy='0.02' iyz='0' "
           "izz='0.02'/></inertial></link>";
  };
  std::ofstream(urdf)
      << "<robot name='two'><link name='base'/>"
         "<joint name='j1' type='revolute'><parent link='base'/><child link='l1'/>"
         "<axis xyz='0 1 0'/><limit lower='-1' upper='1' effort='0.5' velocity='5'/>"
         "<dynamics damping='0.2' friction='0.3'/></joint>"
      << link("l1", 0.25)
      << "<joint name='j2' type='revolute'><parent link='l1'/><child link='l2'/>"
         "<origin xyz='0.5 0 0'/><axis xyz='0 1 0'/>"
         "<limit lower='0.2' upper='1' effort='10' velocity='5'/></joint>"
      << link("l2", 0.2) << "</robot>";
  ArmSetup arm;
  arm.make = [&] {
    std::string error;
    return LoadUrdfRobot(urdf, error);
  };
  arm.simArm = {{"--urdf", urdf}};
  arm.step = DefaultStepOptions(true);
  FakeDriver d(900, 650, arm);
  d.Type(kIdJointTorque, "1, 0");
  d.Click(kIdSetTorque);
  d.Tick(20);
  TestRecording recording(d, "physics");
  recording.Through({
      [&] { d.dlg.SetEffortLimits(true); },
      [&] { d.dlg.SetLimits(false); },
      [&] {
        // A joint past its limit, put at it by the limits switched on, and no tick before they are
        // off again: the replay puts it there too.
        const Robot& arm = d.Arm();
        EXPECT_TRUE(std::any_of(arm.links.begin(), arm.links.end(), [](const auto& link) {
          return link->q < link->lower || link->q > link->upper;
        }));
        d.dlg.SetLimits(true), d.dlg.SetLimits(false);
      },
      [&] { d.dlg.SetLimits(true); },
      [&] { d.Type(kIdCoulombFriction, "0.05"), d.Click(kIdSet); },
      [&] { d.dlg.SetLimits(false), d.Click(kIdReset); },
      [&] { d.dlg.SetLimits(true), d.Click(kIdReset); },
      [&] { d.Click(kIdReset), d.Click(kIdInverse); },  // inverse ticks do not clamp
      [&] {
        d.Click(kIdForward), d.dlg.SetFrictionSource(FrictionSource::kFile);
        d.dlg.SetEffortLimits(false);
      },
  });
  recording.StopAndReplay(136);
  std::remove(urdf.c_str());
}

// A recording started while a controller follows its reference, through changes of its gains (the
// reference goes on), of its target and rate (it starts afresh), a "Reset", a law in task space,
// computed torque with a model error and the typed torques alone again, is what velmoth-sim
// prints from its replay, byte for byte.
TEST(Panel, ARecordingsReplayKeepsTheControllerAndEveryChangeOfIt) {
  FakeDriver d;
  d.dlg.SetStepOptions(DefaultStepOptions(true));
  ControllerSettings pd;
  pd.kind = ControllerKind::kPd;
  pd.target = {0.5, -0.4, 0.3, 0.0, 0.2, -0.1};
  pd.duration = 1.5;
  d.dlg.SetController(pd);
  d.Tick(30);
  TestRecording recording(d, "control");
  ControllerSettings task;
  task.kind = ControllerKind::kTaskPd;
  task.target = {0.0, 1.0, 0.3};
  task.samples = 1;
  ControllerSettings ct;
  ct.kind = ControllerKind::kComputedTorque;
  ct.trajectory = TrajectoryKind::kSine;
  ct.amplitude = {0.1};
  ct.massError = 0.5;
  recording.Through({
      [&] { pd.kp = {40.0}, d.dlg.SetController(pd); },
      [&] { pd.target[0] = -0.2, pd.samples = 5, d.dlg.SetController(pd); },
      [&] { d.Click(kIdReset); },
      [&] { d.dlg.SetController(task); },
      [&] { d.dlg.SetController(ct); },
      [&] { d.dlg.SetController(ControllerSettings{}); },
  });
  const std::string lines = recording.StopAndReplay(91);
  EXPECT_NE(lines.find("0 reference 30, 0, 0, 0, 0, 0, 0\n"), std::string::npos) << lines;
}

// The teach panel and the controller form of a dialog, paused until the test runs them.
struct Lab {
  explicit Lab(FakeDriver& d) : d(d), form(d.dlg), teach(d.dlg, form, [this] { return running; }) {
    d.dlg.AddTickListener(&teach);
  }
  ~Lab() { d.dlg.RemoveTickListener(&teach); }
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;
  // Chooses the law (and what else is typed) and applies.
  void Choose(const std::vector<std::pair<ControlForm::Field, std::string>>& fields) {
    for (const auto& [field, text] : fields) {
      form.SetText(field, text);
    }
    ASSERT_TRUE(form.Apply()) << form.Problem();
  }

  FakeDriver& d;
  bool running = false;
  ControlForm form;
  TeachPose teach;
};

// Paused, a slider puts the arm in that pose at rest: the joint moved where the slider is, the
// others where they were. The angles' read-out shows it at once; the balance starts afresh there,
// and the ticks go on as a stepper's started from that pose, on a step that carries nothing from
// tick to tick and on one that does.
TEST(Panel, TheTeachPanelPosesThePausedArmAtRest) {
  for (const StepOptions& step : {StepOptions{}, DefaultStepOptions(true)}) {
    SCOPED_TRACE(IntegratorName(step.integrator));
    ArmSetup arm;
    arm.step = step;
    FakeDriver d(900, 650, arm);
    Lab lab(d);
    std::unique_ptr<Robot> reference = MakeBuiltInRobot();
    Stepper stepper(*reference, step);
    // The dialog's ticks and those of a plain stepper.
    const auto run = [&](int ticks) {
      d.Tick(ticks);
      for (int i = 0; i < ticks; ++i) {
        stepper.Forward(ColumnOf({1, 2, 3, 0, 0, 0}));
      }
    };
    d.Type(kIdJointTorque, "1, 2, 3");
    d.Click(kIdSetTorque);
    run(20);
    Vec q = Angles(d.Arm());
    ASSERT_EQ(lab.teach.Joints().size(), 6u);
    lab.teach.OnSlider(1, 300);
    q[1] = lab.teach.ValueAt(1, 300);
    EXPECT_EQ(q[1], 30.0 * M_PI / 180.0);
    Vec posed = q;
    posed.resize(18, 0.0);
    EXPECT_EQ(State(d.Arm()), posed);
    EXPECT_EQ(d.Text(kIdJointAngle), VectorText(ColumnOf(q)));
    EXPECT_EQ(lab.teach.ValueText(1), "30.0\u00b0");

    // The same change between the same ticks of a plain stepper.
    reference->ResetJointState();
    for (std::size_t i = 0; i < 6; ++i) {
      reference->links[i]->q = q[i];
    }
    run(1);
    const Robot& a = d.Arm();
    // The tick reports the energies of its start: the pose at rest, where the balance starts.
    EXPECT_EQ(a.kineticEnergy, 0.0);
    EXPECT_EQ((Vec{a.work, a.dissipated, a.startEnergy}),
              (Vec{0.0, 0.0, a.kineticEnergy + a.potentialEnergy}));
    run(9);
    EXPECT_EQ(State(a), State(*reference));
    EXPECT_EQ((Vec{a.work, a.dissipated, a.startEnergy, a.potentialEnergy}),
              (Vec{reference->work, reference->dissipated, reference->startEnergy,
                   reference->potentialEnergy}));
  }
}

// Running with a law that follows a target, a slider sets the target and leaves the arm where it
// is: the joint moved where the slider is, the others at the target the law held (the pose its
// reference started from); the target field shows it. For task-pd the target is the tool's
// position at the pose the sliders show. A law without a target, and a pause, pose the arm instead.
TEST(Panel, WhileTheArmRunsTheTeachPanelSetsTheTarget) {
  FakeDriver d;
  Lab lab(d);
  d.Tick(5);
  const Vec held = Angles(d.Arm());
  lab.Choose({{ControlForm::kController, "pd"}});
  lab.running = true;
  d.Tick(10);
  const Vec before = State(d.Arm());
  lab.teach.OnSlider(2, -450);
  Vec target = held;
  target[2] = -45.0 * M_PI / 180.0;
  EXPECT_EQ(d.dlg.GetController().target, target);
  EXPECT_EQ(State(d.Arm()), before);
  EXPECT_EQ(lab.form.Text(ControlForm::kTarget), VectorText(ColumnOf(target)));
  EXPECT_EQ(lab.teach.Position(2), -450);
  EXPECT_EQ(lab.teach.ValueText(2).rfind("-45.0\u00b0 (at ", 0), 0u) << lab.teach.ValueText(2);
  d.Tick(300);
  EXPECT_NEAR(d.Arm().links[2]->q, target[2], 0.01);

  lab.Choose({{ControlForm::kController, "task-pd"}});
  EXPECT_EQ(lab.form.Text(ControlForm::kTarget), "");  // joint positions are no tool position
  d.Tick(2);
  Vec pose = Angles(d.Arm());
  lab.teach.OnSlider(0, 200);
  pose[0] = lab.teach.ValueAt(0, 200);
  std::unique_ptr<Robot> posed = MakeBuiltInRobot();
  for (std::size_t i = 0; i < 6; ++i) {
    posed->links[i]->q = pose[i];
  }
  const std::vector<recursive::FrameModel> frames = recursive::BuildFrameModels(*posed);
  recursive::FrameTracker tool(*posed, {static_cast<int>(frames.size()) - 1});
  Vec x(3);
  tool.Track(*posed, x.data());
  EXPECT_EQ(d.dlg.GetController().target, x);

  for (const bool running : {true, false}) {
    lab.running = running;
    lab.Choose({{ControlForm::kController, running ? "gravity" : "computed-torque"}});
    const std::size_t moves = d.dlg.GetController().target.size();
    lab.teach.OnSlider(4, 100);
    EXPECT_EQ(d.Arm().links[4]->q, lab.teach.ValueAt(4, 100));
    EXPECT_EQ(d.Arm().links[4]->qd, 0.0);
    EXPECT_EQ(d.dlg.GetController().target.size(), moves);
  }
}

// The sliders' ranges: a joint's limits inside them to the step (a tenth of a degree, of a
// millimetre), +-180 degrees or +-1 m on a side without one; a joint held fixed has none. Values
// beyond the range, and one that is not a number, stand at its ends.
TEST(Panel, EachMovingJointHasASliderOverItsLimits) {
  ArmSetup arm;
  arm.make = [] {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot(5);
    robot->links[0]->lower = -1.0;
    robot->links[0]->upper = 2.0;
    robot->links[2]->jointType = Prismatic;
    robot->links[2]->lower = 0.0;
    robot->links[2]->upper = 0.3;
    robot->links[3]->jointType = Fixed;
    robot->links[4]->jointType = Prismatic;
    robot->links[4]->upper = 0.05;
    return robot;
  };
  FakeDriver d(900, 650, arm);
  ControlForm form(d.dlg);
  const TeachPose teach(d.dlg, form, [] { return false; });
  const struct {
    std::size_t index;
    bool slides;
    int minimum, maximum;
  } expected[] = {
      {0, false, -572, 1145}, {1, false, -1800, 1800}, {2, true, 0, 3000}, {4, true, -10000, 500}};
  ASSERT_EQ(teach.Joints().size(), std::size(expected));
  for (std::size_t k = 0; k < std::size(expected); ++k) {
    const TeachPose::Joint& joint = teach.Joints()[k];
    const auto& e = expected[k];
    EXPECT_EQ(std::tie(joint.index, joint.slides, joint.minimum, joint.maximum),
              std::tie(e.index, e.slides, e.minimum, e.maximum))
        << k;
    EXPECT_EQ(teach.PositionOf(k, 1e9), joint.maximum);
    EXPECT_EQ(teach.PositionOf(k, NAN), joint.minimum);
  }
  EXPECT_EQ(teach.PositionOf(2, 0.12345), 1235);
  EXPECT_EQ(teach.ValueAt(2, 1235), 0.1235);
  d.Arm().links[2]->q = 0.12345;
  EXPECT_EQ(teach.ValueText(2), "123.5 mm");
  EXPECT_EQ(teach.Joints()[1].name, "joint1");
}

// The tool's readout: the last frame's position and its roll, pitch and yaw about the base frame's
// axes; every joint of the built-in arm turns about x, so their sum is the roll.
TEST(Panel, TheTeachPanelReadsTheToolsPositionAndRollPitchYaw) {
  FakeDriver d;
  ControlForm form(d.dlg);
  TeachPose teach(d.dlg, form, [] { return false; });
  teach.OnSlider(0, 300);
  teach.OnSlider(3, 155);
  Vec x(3);
  recursive::FrameTracker(d.Arm(), {static_cast<int>(form.Frames().size()) - 1})
      .Track(d.Arm(), x.data());
  for (double& v : x) {
    v = std::round(v * 1000.0) / 1000.0 + 0.0;  // as shown, without a negative zero
  }
  char position[96];
  std::snprintf(position, sizeof position, "tool  x %.3f  y %.3f  z %.3f m\n", x[0], x[1], x[2]);
  EXPECT_EQ(teach.ToolText(),
            std::string(position) + "roll 45.5\u00b0  pitch 0.0\u00b0  yaw 0.0\u00b0");
}

// The controller's fields read as velmoth-sim reads the same options; a field the law does not take
// is left out.
TEST(Panel, TheControllersFieldsReadAsVelmothSimsOptions) {
  using F = ControlForm;
  const struct {
    std::vector<std::pair<F::Field, std::string>> typed;
    std::vector<std::string> options;  // velmoth-sim's
  } cases[] = {
      {{{F::kController, "pd"},
        {F::kTarget, "0.5, -0.2"},
        {F::kKp, "40"},
        {F::kKd, "8, 9"},
        {F::kRate, "200"},
        {F::kCompensation, "off"}},
       {"--controller", "pd", "--target", "0.5, -0.2", "--kp", "40", "--kd", "8, 9",
        "--control-rate", "200", "--compensation", "off"}},
      {{{F::kController, "computed-torque"},
        {F::kTrajectory, "sine"},
        {F::kAmplitude, "0.1"},
        {F::kPeriod, " 1.5 "},
        {F::kMassError, "0.5"},
        {F::kModelFriction, "off"},
        {F::kDuration, "3"}},
       {"--controller", "computed-torque", "--trajectory", "sine", "--amplitude", "0.1", "--period",
        "1.5", "--model-mass-error", "0.5", "--model-friction", "off"}},
      {{{F::kController, "task-pd"},
        {F::kTarget, "0.3, 0, 0.5"},
        {F::kKn, "2"},
        {F::kTool, "link4"},
        {F::kFrequency, "5"}},
       {"--controller", "task-pd", "--target", "0.3, 0, 0.5", "--kn", "2", "--tool", "link4",
        "--frequency", "5"}},
      {{{F::kController, "pd"},
        {F::kTrajectory, "trapezoid"},
        {F::kDuration, "1.5"},
        {F::kAmplitude, "0.3"}},
       {"--controller", "pd", "--trajectory", "trapezoid", "--duration", "1.5"}},
      {{{F::kController, "gravity"}, {F::kKp, "40"}, {F::kTarget, "1"}},
       {"--controller", "gravity"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options[1]);
    FakeDriver d;
    ControlForm form(d.dlg);
    for (const auto& [field, text] : c.typed) {
      form.SetText(field, text);
    }
    ASSERT_TRUE(form.Apply()) << form.Problem();
    CLI::App app;
    ControlChoice choice;
    AddControlOptions(app, choice);
    std::vector<std::string> arguments(c.options.rbegin(), c.options.rend());
    ASSERT_NO_THROW(app.parse(arguments));
    ASSERT_EQ(CheckControlChoice(app, choice), "");
    EXPECT_EQ(ControlArguments(d.dlg.GetController()), ControlArguments(ResolveControl(choice, 6)));
    EXPECT_EQ(form.Status(), ControllerText(d.dlg.GetController()));
  }
}

// A field left as the form wrote it stands for the exact values behind its rounded text; a number
// that cannot be read is said, and changes nothing.
TEST(Panel, TheControllersFieldsKeepWhatWasNotTouchedAndRefuseWhatCannotBeRead) {
  ArmSetup arm;
  arm.controller.kind = ControllerKind::kComputedTorque;
  arm.controller.target = {0.123456789, -1.5, 0.25, 0, 0, 2.0 / 3.0};
  arm.controller.kp = {123.456789};
  arm.controller.duration = 1.23456789;
  arm.controller.massError = 0.1 + 0.2;
  FakeDriver d(900, 650, arm);
  ControlForm form(d.dlg);
  EXPECT_EQ(form.Text(ControlForm::kTarget), "  0.12,   -1.5,   0.25,      0,      0,   0.67, ");
  EXPECT_EQ(form.Text(ControlForm::kKp), "123.457");
  EXPECT_EQ(form.Placeholder(ControlForm::kKd), "20, 20, 20, 20, 20, 20");
  form.SetText(ControlForm::kKd, "30");
  ASSERT_TRUE(form.Apply());
  ControllerSettings expected = arm.controller;
  expected.kd = {30.0};
  EXPECT_TRUE(d.dlg.GetController() == expected) << ControlArguments(d.dlg.GetController());

  for (const auto& [field, text] :
       std::vector<std::pair<ControlForm::Field, std::string>>{{ControlForm::kDuration, "-1"},
                                                               {ControlForm::kFrequency, "fast"},
                                                               {ControlForm::kMassError, "nan"},
                                                               {ControlForm::kDuration, "1.5 s"}}) {
    ControlForm refusing(d.dlg);
    refusing.SetText(field, text);
    EXPECT_FALSE(refusing.Apply());
    EXPECT_NE(refusing.Problem().find("'" + text + "'"), std::string::npos) << refusing.Problem();
    EXPECT_TRUE(d.dlg.GetController() == expected);
  }
  // The sine's period is the sine's: typed wrong while the law runs a quintic, it is not read.
  form.SetText(ControlForm::kPeriod, "x");
  EXPECT_TRUE(form.Apply());
}

// A recording through poses set while paused (two without a tick between them, one with a law that
// follows a reference, which starts afresh there), the controller's fields applied, targets set by
// the sliders while running, joint and task targets, is what velmoth-sim prints from its replay.
TEST(Panel, ARecordingsReplayKeepsTheTeachPanelsPosesAndTargets) {
  FakeDriver d;
  d.dlg.SetStepOptions(DefaultStepOptions(true));
  Lab lab(d);
  d.Tick(10);
  TestRecording recording(d, "teach");
  using F = ControlForm;
  recording.Through({
      [&] { lab.teach.OnSlider(0, 200), lab.teach.OnSlider(2, -150); },
      [&] {
        lab.Choose({{F::kController, "pd"}, {F::kRate, "500"}});
      },
      [&] { lab.running = true, lab.teach.OnSlider(1, 400); },
      [&] { lab.running = false, lab.teach.OnSlider(1, 0); },
      [&] { lab.running = true, lab.teach.OnSlider(3, 250), lab.teach.OnSlider(3, 300); },
      [&] {
        lab.Choose({{F::kController, "task-pd"}}), lab.teach.OnSlider(0, 100);
      },
      [&] {
        lab.Choose({{F::kController, "computed-torque"}, {F::kTrajectory, "sine"}});
      },
      [&] { lab.running = false, lab.teach.OnSlider(5, 0); },
  });
  recording.StopAndReplay(121);
}

// A recording through pulls of the mouse (one that starts, follows the cursor tick by tick, grows
// stiffer and ends, another on another link across a "Reset"), with a force held from the start on
// an arm with a payload, is what velmoth-sim prints from its replay, byte for byte.
TEST(Panel, ARecordingsReplayKeepsThePullsTheForcesAndThePayload) {
  ArmSetup arm;
  arm.make = [] {
    std::unique_ptr<Robot> robot = MakeBuiltInRobot();
    EXPECT_EQ(AddPayload(*robot, {"tool", 0.5, {0.0, 0.05, 0.0}}), "");
    return robot;
  };
  arm.simArm = {{"--links", "6"}, {"--payload", "tool:0.5@0,0.05,0"}};
  arm.step = DefaultStepOptions(true);
  arm.forces = {{"link2", {0.0, 0.0, 3.0}, {}, {0.0, 0.1, 0.0}}};
  FakeDriver d(900, 650, arm);
  d.Tick(10);
  TestRecording recording(d, "pull");
  Pull pull{4, {0.0, 0.1, 0.03}, {0.2, 1.0, 0.5}};
  PullGains(ArmMass(d.Arm()), 1.0, pull);
  for (int i = 0; i < 20; ++i) {
    pull.target[2] += i % 3 == 0 ? 0.0 : 0.01;  // still on some ticks: no cursor line
    d.dlg.SetPull(pull);
    d.Tick();
  }
  PullGains(ArmMass(d.Arm()), 2.0, pull);
  d.dlg.SetPull(pull);
  d.Tick(10);
  d.dlg.SetPull(std::nullopt);
  d.Tick(10);
  pull.link = 1;
  d.dlg.SetPull(pull);
  for (int i = 0; i < 20; ++i) {
    if (i == 10) {
      d.Click(kIdReset);
    }
    d.Tick();
  }
  const std::string lines = recording.StopAndReplay(61);
  for (const char* line : {"arm --payload tool:0.5@0,0.05,0\n",
                           "0 forces --force \"link2:0,0,3@0,0.10000000000000001,0\"\n",
                           "30 release\n", "40 pull 1, ", "60 end\n"}) {
    EXPECT_NE(lines.find(line), std::string::npos) << line << "\n" << lines;
  }
}

// After the end, with the view and the robot gone, messages that still arrive find nothing to act
// on.
TEST(Panel, MessagesAfterTheEndFindNothingToActOn) {
  FakeDriver d;
  d.dlg.OnDestroy();
  EXPECT_TRUE(d.dlg.m_pView == nullptr && d.dlg.m_pRobot == nullptr);
  EXPECT_TRUE(d.dlg.OnCommand(kIdReset));
  d.dlg.OnTimer(kTickTimerId);
  d.dlg.OnSize(kSizeRestored, 100, 400);
}

// The view takes the client area under the panel, without height when the dialog is shorter.
TEST(Panel, TheViewStartsUnderThePanelNeverWithANegativeHeight) {
  for (const int height : {650, 131, 130, 100, 0}) {
    const PixelRect r = FakeDriver(500, height).TheView().rect;
    EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
              (std::vector<int>{0, 130, 500, std::max(height, 130)}));
  }
}

// An arm setup chooses the arm, where it starts and what the panel's friction and gravity fields
// hold; the panel's vectors take the arm's number of joints, and "Reset" still means zero at rest.
TEST(Panel, AnArmSetupChoosesTheArmItsStartAndThePanelsFields) {
  ArmSetup arm;
  arm.make = [] { return MakeBuiltInRobot(3); };
  arm.q0 = "0.5, -0.25";
  arm.qd0 = "1";
  arm.viscous = "0.5";
  arm.coulomb = "";
  arm.gravity = "0, 0, -1";
  FakeDriver d(900, 650, arm);
  EXPECT_EQ(State(d.Arm()), (Vec{0.5, -0.25, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(d.Text(kIdJointTorque), "     0,      0,      0, ");
  EXPECT_EQ(d.Text(kIdViscousFriction) + d.Text(kIdCoulombFriction), "0.5000.000");
  EXPECT_EQ(d.Text(kIdGravity), "     0,      0,     -1, ");
  d.Click(kIdReset);
  EXPECT_EQ(State(d.Arm()), Vec(9, 0.0));

  // The panel's fields hand over at most 1023 characters of a vector and 63 of a coefficient; the
  // start's texts, which come from a command line, are read to their end.
  const std::string blanks(1020, ' ');
  ArmSetup longTexts;
  longTexts.make = [] { return MakeBuiltInRobot(2); };
  longTexts.q0 = blanks + " 7,8";
  longTexts.viscous = std::string(63, ' ') + "5";
  FakeDriver e(900, 650, longTexts);
  EXPECT_EQ(State(e.Arm()), (Vec{7, 8, 0, 0, 0, 0}));
  EXPECT_EQ(e.Arm().viscousFriction, 5.0);
  e.Type(kIdJointTorque, blanks + " 7,8");
  e.Click(kIdSetTorque);
  EXPECT_EQ(e.Torque(), (Vec{7, 0}));
  e.Type(kIdViscousFriction, std::string(63, ' ') + "5");
  e.Click(kIdSet);
  EXPECT_EQ(e.Arm().viscousFriction, 0.0);
}

}  // namespace
