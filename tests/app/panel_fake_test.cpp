// The panel's behaviour through a window system without a display: each control is its text and
// enabled state, the timer ticks when the test calls Tick, and the view keeps its first rectangle
// and counts its repaints. (The window tests run the real Qt layer end to end.)
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialog_template.h"
#include "app/text_fields.h"
#include "app/velmoth_dlg.h"
#include "app/window_system.h"
#include "robot/robot.h"
#include "tests/app/panel_helpers.h"

struct FakeDriver : WindowSystem {
  struct Control {
    std::string text;
    bool enabled = true;
  };

  // Like the real view, this one reads its robot until it is gone: a robot deleted first is a use
  // after free, which the sanitizer build reports right here.
  struct View : ViewWindow {
    View(FakeDriver& owner, Robot* robot, const PixelRect& rect)
        : owner(owner), robot(robot), rect(rect) {}
    ~View() override { owner.linksSeenByTheDeletedView = robot->links.size(); }
    void Invalidate() override { ++repaints; }
    void SetSize(int /*width*/, int /*height*/) override {}  // resizing is the Qt tests' part

    FakeDriver& owner;
    Robot* robot;
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

  CVelmothDlg& Dlg() { return dlg; }
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
  void Tick() {
    for (unsigned id : timers) {
      dlg.OnTimer(id);
    }
  }
  std::string Text(int id) const { return controls.at(id).text; }
  bool Enabled(int id) const { return controls.at(id).enabled; }
  bool Checked(int id) const { return checkedRadio == id; }
  void Uncheck(int id) { CheckDlgButton(id, kUnchecked); }

  // WindowSystem, for the template's identifiers only.
  void SetDlgItemText(int id, const char* text) override { controls.at(id).text = text; }
  int GetDlgItemText(int id, char* buffer, int size) const override {
    const std::string& text = controls.at(id).text;
    std::snprintf(buffer, static_cast<std::size_t>(std::max(size, 0)), "%s", text.c_str());
    return std::min(static_cast<int>(text.size()), std::max(size - 1, 0));
  }
  unsigned IsDlgButtonChecked(int id) const override { return Checked(id) ? kChecked : 0; }
  void CheckDlgButton(int id, unsigned check) override {
    checkedRadio = check == kChecked ? id : (checkedRadio == id ? 0 : checkedRadio);
  }
  void EnableDlgItem(int id, bool enable) override { controls.at(id).enabled = enable; }
  void SetTimer(unsigned id, unsigned /*periodMs*/) override { timers.insert(id); }
  PixelRect GetClientRect() const override { return {0, 0, clientWidth, clientHeight}; }
  ViewWindow* CreateView(Robot* robot, const PixelRect& rect) override {
    return new View(*this, robot, rect);
  }
  void MessageBox(const char* text) override { ADD_FAILURE() << "message box: " << text; }
  IconHandle LoadIcon(int /*resourceId*/) override { return 0; }
  void SetIcon(IconHandle /*icon*/, bool /*big*/) override {}
  bool IsIconic() const override { return false; }
  int IconSize() const override { return 32; }
  void DrawIcon(IconHandle /*icon*/, int /*x*/, int /*y*/) override {}

  std::size_t linksSeenByTheDeletedView = 0;
  std::map<int, Control> controls;  // the labels share one entry
  std::set<unsigned> timers;
  int checkedRadio = 0;  // the checked radio button, 0 for none
  int clientWidth;
  int clientHeight;
  CVelmothDlg dlg{*this};  // last, so that it goes first
};

namespace panel_test {

class Panel : public ::testing::Test {
 protected:
  FakeDriver d;

  Robot& Arm() { return *d.Dlg().m_pRobot; }
  Vec Torque() { return Column(d.Dlg().m_torque); }
};

// The texts round their values, but a "Set" reads only what the user changed: a field that still
// holds the text the panel wrote keeps the values behind it (gravity stays -9.81, not -9.8; the
// torques 1.234 shown as "1.2" after a mode switch stay 1.234).
TEST_F(Panel, StartUpTextsAndSetsThatKeepWhatWasNotTouched) {
  EXPECT_EQ(d.Text(kIdJointTorque), kSixZeros);
  EXPECT_EQ(d.Text(kIdViscousFriction), "0.100");
  EXPECT_EQ(d.Text(kIdCoulombFriction), "0.100");
  EXPECT_EQ(d.Text(kIdGravity), "     0,      0,   -9.8, ");
  d.Type(kIdCoulombFriction, "0.25");
  d.Click(kIdSet);
  EXPECT_EQ(Arm().viscousFriction, 0.1);
  EXPECT_EQ(Arm().coulombFriction, 0.25);
  EXPECT_EQ(Column(Arm().gravity), (Vec{0.0, 0.0, -9.81}));
  d.Type(kIdGravity, "     0,      0,   -9.8,");  // edited: read as typed
  d.Click(kIdSet);
  EXPECT_EQ(Column(Arm().gravity), (Vec{0.0, 0.0, -9.8}));

  d.Type(kIdJointTorque, "1.234, 5.678");
  d.Click(kIdSetTorque);
  d.Click(kIdInverse);
  d.Click(kIdForward);
  EXPECT_EQ(d.Text(kIdJointTorque), "   1.2,    5.7,      0,      0,      0,      0, ");
  d.Click(kIdSetTorque);
  EXPECT_EQ(Torque(), (Vec{1.234, 5.678, 0, 0, 0, 0}));
}

TEST_F(Panel, StartsInForwardModeAndEachModeEnablesItsInput) {
  for (const int radio : {0, kIdInverse, kIdForward, kIdInverse}) {  // 0: as started
    SCOPED_TRACE(radio);
    if (radio != 0) {
      d.Click(radio);
    }
    const bool forward = radio != kIdInverse;
    EXPECT_EQ(d.Checked(kIdForward), forward);
    EXPECT_EQ(d.Checked(kIdInverse), !forward);
    for (int id : {kIdJointTorque, kIdSetTorque}) {
      EXPECT_EQ(d.Enabled(id), forward) << id;
    }
    for (int id : {kIdJointAccel, kIdSetAccel}) {
      EXPECT_EQ(d.Enabled(id), !forward) << id;
    }
    for (int id : {kIdViscousFriction, kIdCoulombFriction, kIdGravity, kIdSet, kIdReset}) {
      EXPECT_TRUE(d.Enabled(id)) << id;
    }
  }
}

TEST_F(Panel, ClickingTheSelectedModeAgainRewritesItsInputWithTheSetVector) {
  struct Case {
    int radio, edit, set;
  };
  for (const Case c : {Case{kIdForward, kIdJointTorque, kIdSetTorque},
                       Case{kIdInverse, kIdJointAccel, kIdSetAccel}}) {
    d.Click(c.radio);
    d.Type(c.edit, "1");
    d.Click(c.set);
    d.Type(c.edit, "9, 9");
    d.Click(c.radio);
    EXPECT_EQ(d.Text(c.edit), "     1,      0,      0,      0,      0,      0, ") << c.radio;
  }
}

TEST_F(Panel, UnsetTextSurvivesAModeSwitchUntilTheFirstTick) {
  d.Tick();  // the accelerations' edit now shows computed ones
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdInverse);
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(d.Text(kIdJointAccel), kSixZeros);  // the user's accelerations
  d.Tick();
  EXPECT_NE(d.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(Torque(), Vec(6, 0.0));  // typed, never set
}

TEST_F(Panel, SetTorqueThenResetZeroesTheJointStateAndNothingElse) {
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdSetTorque);
  EXPECT_EQ(Torque(), (Vec{1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");  // kept as typed
  d.Tick();
  const std::string firstTick = d.Text(kIdJointAccel);
  for (int i = 0; i < 4; ++i) {
    d.Tick();
  }
  const double kinetic = Arm().kineticEnergy;
  const std::string readOuts = d.Text(kIdJointAngle) + d.Text(kIdTotalEnergy);

  d.Click(kIdReset);
  EXPECT_EQ(State(Arm()), Vec(18, 0.0));
  EXPECT_EQ(Arm().kineticEnergy, kinetic);
  EXPECT_EQ(d.Text(kIdJointAngle) + d.Text(kIdTotalEnergy), readOuts);
  EXPECT_EQ(Torque(), (Vec{1, 2, 3, 0, 0, 0}));
  d.Tick();
  EXPECT_EQ(d.Text(kIdJointAccel), firstTick);  // from rest again, under the same torques
}

TEST_F(Panel, InverseModeFromRestShowsTheHoldingTorquesEveryTick) {
  d.Click(kIdInverse);
  d.Tick();
  const std::string holding = d.Text(kIdJointTorque);
  EXPECT_EQ(holding.substr(0, 8), "    53, ");  // 9.81 x (0.15 + 0.45 + ... + 1.65) at the base
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(State(Arm()), Vec(18, 0.0));  // the arm stays put
    d.Tick();
    EXPECT_EQ(d.Text(kIdJointTorque), holding);
  }
}

TEST_F(Panel, WithNeitherModeTheReadOutsRefreshAndNothingMoves) {
  d.Tick();
  d.Uncheck(kIdForward);
  const Vec state = State(Arm());
  const std::string accel = d.Text(kIdJointAccel);
  d.Type(kIdKineticEnergy, "typed");
  d.Type(kIdJointAngle, "typed");
  d.Tick();
  EXPECT_EQ(State(Arm()), state);
  EXPECT_EQ(d.Text(kIdJointAccel), accel);
  EXPECT_EQ(d.Text(kIdKineticEnergy), NumberText(Arm().kineticEnergy));
  EXPECT_EQ(d.Text(kIdJointAngle), VectorText(Arm().GetJointAngles()));
}

// After N ticks the arm's state and the panel's read-outs are those of velmoth-sim, bit for bit.
TEST_F(Panel, TicksMatchVelmothSim) {
  struct Case {
    bool inverse;
    const char* vector;                       // torques forward, accelerations inverse
    const char *viscous, *coulomb, *gravity;  // for "Set", or null for the defaults
    int ticks;
  };
  const Case cases[] = {
      {false, "1, 2, 3", nullptr, nullptr, nullptr, 40},
      {false, "0", "0.3", "0.05", "0, 0.5, -3.5", 25},
      {true, "0.5, -1, 0, 0, 0, 2", nullptr, nullptr, nullptr, 30},
      {true, "0", "0", "0.2", "0, 0, -1", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.vector);
    FakeDriver d;
    const int input = c.inverse ? kIdJointAccel : kIdJointTorque;
    std::string args = std::string(c.inverse ? "--mode inverse --accel '" : "--torque '") +
                       c.vector + "' --ticks " + std::to_string(c.ticks) + " --every " +
                       std::to_string(c.ticks);
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
    for (int i = 0; i < c.ticks; ++i) {
      d.Tick();
    }

    // tick, time, q0..5, qd0..5, qdd0..5, tau0..5, kinetic, potential, total
    const Vec row = SimRow(args);
    ASSERT_EQ(row.size(), 29u) << args;
    EXPECT_EQ(State(*d.Dlg().m_pRobot), Vec(row.begin() + 2, row.begin() + 20));
    const auto vectorText = [&row](int first) {
      matrix<double> v(6);
      for (uint32_t i = 0; i < 6; ++i) {
        v(i, 0) = row[first + i];
      }
      return VectorText(v);
    };
    EXPECT_EQ(d.Text(kIdJointAngle), vectorText(2));
    EXPECT_EQ(d.Text(c.inverse ? kIdJointTorque : kIdJointAccel), vectorText(c.inverse ? 20 : 14));
    EXPECT_EQ(d.Text(input), c.vector);  // the tick never writes the mode's input
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(d.Text(kIdKineticEnergy + i),
                NumberText(row[26 + i]));  // kinetic, potential, total
    }
  }
}

}  // namespace panel_test

namespace {

// Every tick repaints the view; the end deletes the view before the robot, and messages that still
// arrive afterwards find nothing to act on.
TEST(FakePanel, TicksRepaintTheViewAndTheEndDeletesItBeforeTheRobot) {
  FakeDriver d;
  d.Tick();
  d.Tick();
  EXPECT_EQ(d.TheView().repaints, 2);
  d.dlg.OnDestroy();
  EXPECT_EQ(d.linksSeenByTheDeletedView, 6u);
  EXPECT_EQ(d.dlg.m_pView, nullptr);
  EXPECT_EQ(d.dlg.m_pRobot, nullptr);
  EXPECT_TRUE(d.dlg.OnCommand(kIdReset));
  d.dlg.OnTimer(kTickTimerId);
  d.dlg.OnSize(kSizeRestored, 100, 400);
}

// The view takes the client area under the panel, without height when the dialog is shorter.
TEST(FakePanel, TheViewStartsUnderThePanelNeverWithANegativeHeight) {
  for (const int height : {650, 131, 130, 100, 0}) {
    const PixelRect r = FakeDriver(500, height).TheView().rect;
    EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
              (std::vector<int>{0, 130, 500, std::max(height, 130)}));
  }
}

// An arm setup chooses the arm, where it starts and what the panel's friction and gravity fields
// hold; the panel's vectors take the arm's number of joints, and "Reset" still means zero at rest.
TEST(FakePanel, AnArmSetupChoosesTheArmItsStartAndThePanelsFields) {
  ArmSetup arm{[] { return MakeBuiltInRobot(3); }, "0.5, -0.25", "1", "0.5", "", "0, 0, -1"};
  FakeDriver d(900, 650, arm);
  using panel_test::Vec;
  EXPECT_EQ(panel_test::State(*d.dlg.m_pRobot), (Vec{0.5, -0.25, 0, 1, 0, 0, 0, 0, 0}));
  EXPECT_EQ(d.Text(kIdJointTorque), "     0,      0,      0, ");
  EXPECT_EQ(d.Text(kIdViscousFriction) + d.Text(kIdCoulombFriction), "0.5000.000");
  EXPECT_EQ(d.Text(kIdGravity), "     0,      0,     -1, ");
  d.Click(kIdReset);
  EXPECT_EQ(panel_test::State(*d.dlg.m_pRobot), Vec(9, 0.0));
}

}  // namespace
