// The control panel's behaviour, written once against a driver and run through two window
// systems: the fake layer (panel_fake_test) and the real Qt dialog (panel_qt_test). A driver
// offers what a user does and sees:
//   CVelmothDlg& Dlg();                     the dialog's logic, for its vectors and robot
//   void Type(int id, const std::string&);  replaces an enabled edit's text as typed
//   void Click(int id);                     a mouse click on a button
//   std::string Text(int id);               a control's text on screen
//   bool Enabled(int id), Checked(int id);
//   void Uncheck(int id);                   clears a radio button without a click
//   void Tick();                            one timer tick, as the tick timer delivers it
#pragma once

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialog_template.h"
#include "app/text_fields.h"
#include "app/velmoth_dlg.h"
#include "dynamics/dynamics.h"
#include "robot/robot.h"

namespace panel_test {

inline const std::string kSixZeros = "     0,      0,      0,      0,      0,      0, ";

inline std::vector<double> Column(const matrix<double>& m) {
  std::vector<double> v;
  for (uint32_t i = 0; i < m.RowCount(); ++i) {
    v.push_back(m(i, 0));
  }
  return v;
}

// One CSV row of velmoth-sim, the last one it prints.
inline std::vector<double> SimLastRow(const std::string& arguments) {
  const std::string command = std::string(VELMOTH_SIM) + " run " + arguments;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return {};
  }
  std::string out;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    out.append(buffer, got);
  }
  const int status = pclose(pipe);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return {};
  }
  std::istringstream lines(out);
  std::string line;
  std::string last;
  while (std::getline(lines, line)) {
    last = line;
  }
  std::vector<double> row;
  std::istringstream fields(last);
  std::string field;
  while (std::getline(fields, field, ',')) {
    row.push_back(std::strtod(field.c_str(), nullptr));
  }
  return row;
}

template <typename Driver>
class PanelTest : public ::testing::Test {
 protected:
  Driver d;

  Robot& Arm() { return *d.Dlg().m_pRobot; }
  std::vector<double> Angles() { return Column(Arm().GetJointAngles()); }
};

TYPED_TEST_SUITE_P(PanelTest);

TYPED_TEST_P(PanelTest, StartUpShowsForwardModeAndTheArmsSettings) {
  auto& d = this->d;
  EXPECT_TRUE(d.Checked(kIdForward));
  EXPECT_FALSE(d.Checked(kIdInverse));
  EXPECT_EQ(d.Text(kIdJointTorque), kSixZeros);
  EXPECT_EQ(d.Text(kIdViscousFriction), "0.100");
  EXPECT_EQ(d.Text(kIdCoulombFriction), "0.100");
  EXPECT_EQ(d.Text(kIdGravity), "     0,      0,   -9.8, ");
  // The read-outs and the computed accelerations wait for the first tick.
  for (int id :
       {kIdKineticEnergy, kIdPotentialEnergy, kIdTotalEnergy, kIdJointAngle, kIdJointAccel}) {
    EXPECT_EQ(d.Text(id), "") << id;
  }
  EXPECT_EQ(d.Dlg().m_torque.RowCount(), 6u);
  EXPECT_EQ(Column(d.Dlg().m_accel), std::vector<double>(6, 0.0));
}

TYPED_TEST_P(PanelTest, EachModeEnablesItsInputAndDisablesItsReadOut) {
  auto& d = this->d;
  struct Case {
    int radio;
    bool torqueInput;
  };
  for (const Case c : {Case{kIdInverse, false}, Case{kIdForward, true}, Case{kIdInverse, false}}) {
    d.Click(c.radio);
    SCOPED_TRACE(c.radio);
    EXPECT_EQ(d.Enabled(kIdJointTorque), c.torqueInput);
    EXPECT_EQ(d.Enabled(kIdSetTorque), c.torqueInput);
    EXPECT_EQ(d.Enabled(kIdJointAccel), !c.torqueInput);
    EXPECT_EQ(d.Enabled(kIdSetAccel), !c.torqueInput);
    EXPECT_EQ(d.Checked(kIdForward), c.torqueInput);
    EXPECT_EQ(d.Checked(kIdInverse), !c.torqueInput);
    for (int id : {kIdViscousFriction, kIdCoulombFriction, kIdGravity, kIdSet, kIdReset}) {
      EXPECT_TRUE(d.Enabled(id)) << id;
    }
  }
}

TYPED_TEST_P(PanelTest, ClickingTheSelectedModeAgainRewritesItsInput) {
  auto& d = this->d;
  d.Type(kIdJointTorque, "7, 7");
  d.Click(kIdForward);
  EXPECT_EQ(d.Text(kIdJointTorque), kSixZeros);

  d.Click(kIdInverse);
  d.Type(kIdJointAccel, "1");
  d.Click(kIdSetAccel);
  d.Type(kIdJointAccel, "9, 9");
  d.Click(kIdInverse);
  EXPECT_EQ(d.Text(kIdJointAccel), "     1,      0,      0,      0,      0,      0, ");
}

TYPED_TEST_P(PanelTest, UnsetTextSurvivesAModeSwitchUntilTheFirstTick) {
  auto& d = this->d;
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdInverse);
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_FALSE(d.Enabled(kIdJointTorque));
  EXPECT_EQ(d.Text(kIdJointAccel), kSixZeros);  // the user's accelerations, never computed ones
  EXPECT_EQ(Column(d.Dlg().m_torque), std::vector<double>(6, 0.0));

  d.Tick();
  EXPECT_NE(d.Text(kIdJointTorque), "1, 2, 3");
  EXPECT_EQ(Column(d.Dlg().m_torque), std::vector<double>(6, 0.0));
}

TYPED_TEST_P(PanelTest, SetWithoutEditsRoundsGravityAndKeepsFriction) {
  auto& d = this->d;
  d.Click(kIdSet);
  EXPECT_EQ(this->Arm().viscousFriction, 0.1);
  EXPECT_EQ(this->Arm().coulombFriction, 0.1);
  EXPECT_EQ(Column(this->Arm().gravity), (std::vector<double>{0.0, 0.0, -9.8}));

  d.Type(kIdViscousFriction, "0,5");
  d.Type(kIdCoulombFriction, "-2.5e-1x");
  d.Type(kIdGravity, "1;2");
  d.Click(kIdSet);
  EXPECT_EQ(this->Arm().viscousFriction, 0.0);
  EXPECT_EQ(this->Arm().coulombFriction, -0.25);
  EXPECT_EQ(Column(this->Arm().gravity), (std::vector<double>{1.0, 2.0, 0.0}));
  EXPECT_EQ(d.Text(kIdViscousFriction), "0,5");  // no text is rewritten
}

TYPED_TEST_P(PanelTest, SetTorqueReadsTheTextAndKeepsItAsTyped) {
  auto& d = this->d;
  d.Type(kIdJointTorque, "1, 2, 3");
  d.Click(kIdSetTorque);
  EXPECT_EQ(Column(d.Dlg().m_torque), (std::vector<double>{1, 2, 3, 0, 0, 0}));
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");
  d.Tick();
  EXPECT_EQ(d.Text(kIdJointTorque), "1, 2, 3");  // the tick never writes the mode's input
  EXPECT_EQ(Column(d.Dlg().m_torque), (std::vector<double>{1, 2, 3, 0, 0, 0}));
}

TYPED_TEST_P(PanelTest, ResetZeroesTheJointStateAndNothingElse) {
  auto& d = this->d;
  d.Type(kIdJointTorque, "3, 1");
  d.Click(kIdSetTorque);
  d.Tick();
  const std::string firstTick = d.Text(kIdJointAccel);
  for (int i = 0; i < 4; ++i) {
    d.Tick();
  }
  const double kinetic = this->Arm().kineticEnergy;
  const std::string angles = d.Text(kIdJointAngle);
  const std::string energy = d.Text(kIdTotalEnergy);

  d.Click(kIdReset);
  for (const auto& link : this->Arm().links) {
    EXPECT_EQ(link->q, 0.0);
    EXPECT_EQ(link->qd, 0.0);
    EXPECT_EQ(link->qdd, 0.0);
  }
  EXPECT_EQ(this->Arm().kineticEnergy, kinetic);
  EXPECT_EQ(d.Text(kIdJointAngle), angles);
  EXPECT_EQ(d.Text(kIdTotalEnergy), energy);
  EXPECT_EQ(Column(d.Dlg().m_torque), (std::vector<double>{3, 1, 0, 0, 0, 0}));

  // The arm starts over from rest under the same torques.
  d.Tick();
  EXPECT_EQ(d.Text(kIdJointAccel), firstTick);
}

TYPED_TEST_P(PanelTest, InverseModeFromRestShowsTheHoldingTorquesEveryTick) {
  auto& d = this->d;
  d.Click(kIdInverse);
  std::string holding;
  for (int i = 0; i < 5; ++i) {
    d.Tick();
    EXPECT_EQ(this->Angles(), std::vector<double>(6, 0.0));
    if (i == 0) {
      holding = d.Text(kIdJointTorque);
    }
    EXPECT_EQ(d.Text(kIdJointTorque), holding);
  }
  // Holding the straight arm up against gravity takes the largest torque at the base.
  const std::unique_ptr<Robot> rest = MakeBuiltInRobot();
  EXPECT_EQ(holding, VectorText(InverseDynamics(*rest)));
  EXPECT_EQ(holding.substr(0, 8), "    53, ");  // 9.81 x (0.15 + 0.45 + ... + 1.65)
}

TYPED_TEST_P(PanelTest, WithNeitherModeTheReadOutsRefreshAndNothingMoves) {
  auto& d = this->d;
  d.Tick();
  d.Tick();
  d.Uncheck(kIdForward);
  const std::vector<double> angles = this->Angles();
  const std::string accel = d.Text(kIdJointAccel);
  d.Type(kIdKineticEnergy, "typed");
  d.Type(kIdJointAngle, "typed");
  d.Tick();
  EXPECT_EQ(this->Angles(), angles);
  EXPECT_EQ(d.Text(kIdJointAccel), accel);
  EXPECT_EQ(d.Text(kIdKineticEnergy), NumberText(this->Arm().kineticEnergy));
  EXPECT_EQ(d.Text(kIdJointAngle), VectorText(this->Arm().GetJointAngles()));
}

// The panel's read-outs and the arm's state after N ticks are those of velmoth-sim, bit for bit.
TYPED_TEST_P(PanelTest, TicksMatchVelmothSim) {
  struct Case {
    bool inverse;
    const char* vector;  // torques in forward mode, accelerations in inverse mode
    const char* viscous;
    const char* coulomb;
    const char* gravity;
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
    const int readOut = c.inverse ? kIdJointTorque : kIdJointAccel;
    std::string args = std::string("--mode ") + (c.inverse ? "inverse" : "forward") + " --ticks " +
                       std::to_string(c.ticks) + " --every " + std::to_string(c.ticks) +
                       (c.inverse ? " --accel '" : " --torque '") + c.vector + "'";
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
    const std::vector<double> row = SimLastRow(args);
    ASSERT_EQ(row.size(), 29u) << args;
    matrix<double> q(6), computed(6);
    for (uint32_t i = 0; i < 6; ++i) {
      const Link& link = *d.Dlg().m_pRobot->links[i];
      EXPECT_EQ(link.q, row[2 + i]);
      EXPECT_EQ(link.qd, row[8 + i]);
      EXPECT_EQ(link.qdd, row[14 + i]);
      q(i, 0) = row[2 + i];
      computed(i, 0) = c.inverse ? row[20 + i] : row[14 + i];
    }
    EXPECT_EQ(d.Text(kIdKineticEnergy), NumberText(row[26]));
    EXPECT_EQ(d.Text(kIdPotentialEnergy), NumberText(row[27]));
    EXPECT_EQ(d.Text(kIdTotalEnergy), NumberText(row[28]));
    EXPECT_EQ(d.Text(kIdJointAngle), VectorText(q));
    EXPECT_EQ(d.Text(readOut), VectorText(computed));
    EXPECT_EQ(d.Text(input), c.vector);
  }
}

REGISTER_TYPED_TEST_SUITE_P(PanelTest, StartUpShowsForwardModeAndTheArmsSettings,
                            EachModeEnablesItsInputAndDisablesItsReadOut,
                            ClickingTheSelectedModeAgainRewritesItsInput,
                            UnsetTextSurvivesAModeSwitchUntilTheFirstTick,
                            SetWithoutEditsRoundsGravityAndKeepsFriction,
                            SetTorqueReadsTheTextAndKeepsItAsTyped,
                            ResetZeroesTheJointStateAndNothingElse,
                            InverseModeFromRestShowsTheHoldingTorquesEveryTick,
                            WithNeitherModeTheReadOutsRefreshAndNothingMoves, TicksMatchVelmothSim);

}  // namespace panel_test
