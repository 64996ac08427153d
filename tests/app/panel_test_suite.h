// The control panel's behaviour, written once and run through two window systems: the fake layer
// (panel_fake_test) and the real Qt dialog (panel_qt_test). A driver offers what a user does and
// sees: Dlg() (the dialog's logic), Type(id, text) into an enabled edit, Click(id), Text(id),
// Enabled(id), Checked(id), Uncheck(id) (clears a radio button without a click) and Tick() (one
// tick of the timer).
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "app/dialog_template.h"
#include "app/text_fields.h"
#include "app/velmoth_dlg.h"
#include "robot/robot.h"
#include "tests/app/panel_helpers.h"

namespace panel_test {

template <typename Driver>
class PanelTest : public ::testing::Test {
 protected:
  Driver d;

  Robot& Arm() { return *d.Dlg().m_pRobot; }
  Vec Torque() { return Column(d.Dlg().m_torque); }
};

TYPED_TEST_SUITE_P(PanelTest);

// The texts round their values, but a "Set" reads only what the user changed: a field that still
// holds the text the panel wrote keeps the values behind it (gravity stays -9.81, not -9.8; the
// torques 1.234 shown as "1.2" after a mode switch stay 1.234).
TYPED_TEST_P(PanelTest, StartUpTextsAndSetsThatKeepWhatWasNotTouched) {
  auto& d = this->d;
  EXPECT_EQ(d.Text(kIdJointTorque), kSixZeros);
  EXPECT_EQ(d.Text(kIdViscousFriction), "0.100");
  EXPECT_EQ(d.Text(kIdCoulombFriction), "0.100");
  EXPECT_EQ(d.Text(kIdGravity), "     0,      0,   -9.8, ");
  d.Type(kIdCoulombFriction, "0.25");
  d.Click(kIdSet);
  EXPECT_EQ(this->Arm().viscousFriction, 0.1);
  EXPECT_EQ(this->Arm().coulombFriction, 0.25);
  EXPECT_EQ(Column(this->Arm().gravity), (Vec{0.0, 0.0, -9.81}));
  d.Type(kIdGravity, "     0,      0,   -9.8,");  // edited: read as typed
  d.Click(kIdSet);
  EXPECT_EQ(Column(this->Arm().gravity), (Vec{0.0, 0.0, -9.8}));

  d.Type(kIdJointTorque, "1.234, 5.678");
  d.Click(kIdSetTorque);
  d.Click(kIdInverse);
  d.Click(kIdForward);
  EXPECT_EQ(d.Text(kIdJointTorque), "   1.2,    5.7,      0,      0,      0,      0, ");
  d.Click(kIdSetTorque);
  EXPECT_EQ(this->Torque(), (Vec{1.234, 5.678, 0, 0, 0, 0}));
}

TYPED_TEST_P(PanelTest, StartsInForwardModeAndEachModeEnablesItsInput) {
  auto& d = this->d;
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

TYPED_TEST_P(PanelTest, ClickingTheSelectedModeAgainRewritesItsInputWithTheSetVector) {
  struct Case {
    int radio, edit, set;
  };
  for (const Case c : {Case{kIdForward, kIdJointTorque, kIdSetTorque},
                       Case{kIdInverse, kIdJointAccel, kIdSetAccel}}) {
    this->d.Click(c.radio);
    this->d.Type(c.edit, "1");
    this->d.Click(c.set);
    this->d.Type(c.edit, "9, 9");
    this->d.Click(c.radio);
    EXPECT_EQ(this->d.Text(c.edit), "     1,      0,      0,      0,      0,      0, ") << c.radio;
  }
}

TYPED_TEST_P(PanelTest, UnsetTextSurvivesAModeSwitchUntilTheFirstTick) {
  auto& d = this->d;
  d.Tick();  // the accelerations' edit now shows computed ones
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdInverse);
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(d.Text(kIdJointAccel), kSixZeros);  // the user's accelerations
  d.Tick();
  EXPECT_NE(d.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(this->Torque(), Vec(6, 0.0));  // typed, never set
}

TYPED_TEST_P(PanelTest, SetTorqueThenResetZeroesTheJointStateAndNothingElse) {
  auto& d = this->d;
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdSetTorque);
  EXPECT_EQ(this->Torque(), (Vec{1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");  // kept as typed
  d.Tick();
  const std::string firstTick = d.Text(kIdJointAccel);
  for (int i = 0; i < 4; ++i) {
    d.Tick();
  }
  const double kinetic = this->Arm().kineticEnergy;
  const std::string readOuts = d.Text(kIdJointAngle) + d.Text(kIdTotalEnergy);

  d.Click(kIdReset);
  EXPECT_EQ(State(this->Arm()), Vec(18, 0.0));
  EXPECT_EQ(this->Arm().kineticEnergy, kinetic);
  EXPECT_EQ(d.Text(kIdJointAngle) + d.Text(kIdTotalEnergy), readOuts);
  EXPECT_EQ(this->Torque(), (Vec{1, 2, 3, 0, 0, 0}));
  d.Tick();
  EXPECT_EQ(d.Text(kIdJointAccel), firstTick);  // from rest again, under the same torques
}

TYPED_TEST_P(PanelTest, InverseModeFromRestShowsTheHoldingTorquesEveryTick) {
  this->d.Click(kIdInverse);
  this->d.Tick();
  const std::string holding = this->d.Text(kIdJointTorque);
  EXPECT_EQ(holding.substr(0, 8), "    53, ");  // 9.81 x (0.15 + 0.45 + ... + 1.65) at the base
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(State(this->Arm()), Vec(18, 0.0));  // the arm stays put
    this->d.Tick();
    EXPECT_EQ(this->d.Text(kIdJointTorque), holding);
  }
}

TYPED_TEST_P(PanelTest, WithNeitherModeTheReadOutsRefreshAndNothingMoves) {
  auto& d = this->d;
  d.Tick();
  d.Uncheck(kIdForward);
  const Vec state = State(this->Arm());
  const std::string accel = d.Text(kIdJointAccel);
  d.Type(kIdKineticEnergy, "typed");
  d.Type(kIdJointAngle, "typed");
  d.Tick();
  EXPECT_EQ(State(this->Arm()), state);
  EXPECT_EQ(d.Text(kIdJointAccel), accel);
  EXPECT_EQ(d.Text(kIdKineticEnergy), NumberText(this->Arm().kineticEnergy));
  EXPECT_EQ(d.Text(kIdJointAngle), VectorText(this->Arm().GetJointAngles()));
}

// After N ticks the arm's state and the panel's read-outs are those of velmoth-sim, bit for bit.
TYPED_TEST_P(PanelTest, TicksMatchVelmothSim) {
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
    TypeParam d;
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

REGISTER_TYPED_TEST_SUITE_P(PanelTest, StartUpTextsAndSetsThatKeepWhatWasNotTouched,
                            StartsInForwardModeAndEachModeEnablesItsInput,
                            ClickingTheSelectedModeAgainRewritesItsInputWithTheSetVector,
                            UnsetTextSurvivesAModeSwitchUntilTheFirstTick,
                            SetTorqueThenResetZeroesTheJointStateAndNothingElse,
                            InverseModeFromRestShowsTheHoldingTorquesEveryTick,
                            WithNeitherModeTheReadOutsRefreshAndNothingMoves, TicksMatchVelmothSim);

}  // namespace panel_test
